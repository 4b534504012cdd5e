// The parts of the extension for files that do not lie on the local disk:
// the check of a section header's first bytes (for xarray's engine, which
// recognises a container by them).
#include <cstring>

#include "binding.h"

namespace velfile_python {

void bindSource(py::module_& m) {
  m.def(
      "_is_section_header",
      [](const py::bytes& raw) {
        const std::string bytes = raw;
        if (bytes.size() < velfile::kSectionHeaderSize) return false;
        velfile::SectionHeaderFields fields;
        return velfile::decode_section_header(reinterpret_cast<const unsigned char*>(bytes.data()), &fields);
      },
      "Whether bytes start with a section header, as the library takes one.");
}

}  // namespace velfile_python
