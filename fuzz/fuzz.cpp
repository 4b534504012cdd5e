// The fuzzers, one built per definition (see CMakeLists.txt), each given a
// container file of any bytes:
//   VFZ_WALK    walked whole, every group also read by every group module
//   VFZ_APPEND  given a new section (see append.h)
//   VFZ_LAYER   the C++ layer's walk of every section, every item's value,
//               every group as a data group and as every module's descriptor;
//               only velfile::Error may come out of the layer
#include <velfile/velfile.hpp>

#include "append.h"
#include "modules.h"

namespace {

template <class F>
void refused(F&& f) {
  try {
    f();
  } catch (const velfile::Error&) {
  }
}

[[maybe_unused]] void exercise(const velfile::Group& g) {
  for (const velfile::Item& it : g.items()) {
    refused([&] { it.bytes(); });
    refused([&] { it.text(); });
    refused([&] { it.as<std::vector<double>>(); });
  }
  refused([&] {
    const velfile::DataGroup d = g.data();
    if (d.data_class() == 10) {
      d.read_records();
    } else if (d.bytes_needed() < (1u << 24)) {
      d.read_samples();
    }
  });
  for (const velfile::ModuleSchema& m : velfile::modules()) refused([&] { g.read_descriptor(m.name); });
  g.guess_module();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if defined(VFZ_WALK)
  const std::string path = vfz::scratchPath(".bin");
  if (!vfz::writeBytes(path, data, size)) return 0;
  vfz::Walker walker(size);
  walker.onGroup = vfz::readWithEveryModule;
  walker.walkPath(vfz::widen(path));
#elif defined(VFZ_APPEND)
  vfz::appendAndCheck(data, size, vfz::scratchPath(".A01"));
#elif defined(VFZ_LAYER)
  const std::string path = vfz::scratchPath(".bin");
  if (!vfz::writeBytes(path, data, size)) return 0;
  velfile::WalkLimits limits;
  limits.max_groups = 2000;
  limits.max_items = 100000;
  refused([&] {
    velfile::File f = velfile::File::open(path);
    for (const velfile::Section& s : f.sections())
      velfile::walk(
          f.section_group(s.index()),
          [](const velfile::WalkNode& n) {
            if (n.state == velfile::NodeState::Open) exercise(n.group);
            return true;
          },
          velfile::WalkLeave(), limits);
  });
#endif
  return 0;
}
