// The parts of the extension for files that do not lie on the local disk: a
// velfile::Source whose size and reads call a Python object (the package's
// reader of a file object or an fsspec URL, velfile/_remote.py), the check
// of a section header's first bytes (for xarray's engine) and the record
// offsets of a class 1 group (for the zarr references).
//
// GIL and lock: the open and every later read are calls into the layer made
// with the GIL released (released()); the library calls the source with its
// lock held, and the source takes the GIL to call Python. A velfile call that
// Python makes from there (or a finaliser run there by the garbage
// collector) is refused by the layer with InUseError, never waited for; a
// File whose last Python owner goes there is closed later, outside.
#include <cstring>
#include <mutex>
#include <vector>

#include "binding.h"

namespace velfile_python {

namespace {

// A Python exception as the words of an error message: its type and text.
std::string words(py::error_already_set& e) {
  return py::str(e.type().attr("__name__")).cast<std::string>() + ": " +
         py::str(e.value()).cast<std::string>();
}

class PySource : public velfile::Source {
 public:
  explicit PySource(py::object reader) : reader_(std::move(reader)) {}
  ~PySource() override {
    py::gil_scoped_acquire gil;
    reader_ = py::object();
  }

  bool size(uint64_t* size, std::string* error) override {
    py::gil_scoped_acquire gil;
    try {
      *size = reader_.attr("size")().cast<uint64_t>();
      return true;
    } catch (py::error_already_set& e) {
      *error = words(e);
    } catch (const std::exception& e) {
      *error = e.what();
    }
    return false;
  }

  bool read(uint64_t offset, void* buffer, size_t n, std::string* error) override {
    py::gil_scoped_acquire gil;
    try {
      const py::bytes got = reader_.attr("read")(offset, n);
      char* data = nullptr;
      Py_ssize_t size = 0;
      if (PyBytes_AsStringAndSize(got.ptr(), &data, &size) != 0) throw py::error_already_set();
      if (size_t(size) != n) {
        *error = "asked for " + std::to_string(n) + " bytes at " + std::to_string(offset) + ", got " +
                 std::to_string(size);
        return false;
      }
      std::memcpy(buffer, data, n);
      return true;
    } catch (py::error_already_set& e) {
      *error = words(e);
    } catch (const std::exception& e) {
      *error = e.what();
    }
    return false;
  }

 private:
  py::object reader_;
};

std::mutex& deferredMutex() {
  static std::mutex m;
  return m;
}
std::vector<velfile::File>& deferred() {
  static std::vector<velfile::File> files;
  return files;
}

}  // namespace

void closeLater(velfile::File file) {
  std::lock_guard<std::mutex> lock(deferredMutex());
  deferred().push_back(std::move(file));
}

void closeDeferred() {
  std::vector<velfile::File> files;
  {
    std::lock_guard<std::mutex> lock(deferredMutex());
    if (deferred().empty()) return;
    files.swap(deferred());
  }
  if (PyGILState_Check()) {
    py::gil_scoped_release unlock;
    files.clear();  // each closes, errors ignored as a finaliser's are
  }
  files.clear();
}

void bindSource(py::module_& m) {
  m.def(
      "_open_source",
      [](py::object reader, const std::string& name, size_t block) {
        closeDeferred();
        auto source = std::make_shared<PySource>(std::move(reader));
        return PyFile{
            released([&] { return std::make_shared<Owner>(velfile::File::open(source, name, block)); })};
      },
      py::arg("reader"), py::arg("name"), py::arg("block") = 0,
      "Opens a file for reading through reader.size() and reader.read(offset, n) -> bytes.");
  m.def("_serve_sources_on_this_thread", &velfile::serve_sources_on_this_thread,
        "Refuses every later velfile call from this thread (a thread that fetches for a source).");
  m.def(
      "_record_offsets",
      [](const PyData& d) {
        const std::vector<uint64_t> offsets = released([&] { return d.data.record_offsets(); });
        return py::array_t<uint64_t>(offsets.size(), offsets.data());
      },
      "Class 1: each point's record offset in the file (or its marker 0, 1, 2), second-major.");
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
