// The parts of the extension that its two sources share: the objects that
// Python holds, and the rule for the GIL.
//
// Every Python object of the package holds the File it came from (Owner),
// so a group or an array view keeps its file open, and the file is closed
// when the last of them goes (or by File.close()).
//
// GIL and lock: the C++ layer serialises its calls with one library-wide
// lock. A call into the layer is made with the GIL released (released()),
// so a thread waiting for the lock never holds the GIL, and no Python code
// runs while the lock is held (the layer's walk calls back without it).
#ifndef VELFILE_PYTHON_BINDING_H
#define VELFILE_PYTHON_BINDING_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <memory>
#include <string>
#include <velfile/velfile.hpp>

namespace velfile_python {

namespace py = pybind11;

// The layer's File, closed when the last Python object that uses it goes.
struct Owner {
  velfile::File file;
  explicit Owner(velfile::File f) : file(std::move(f)) {}
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  ~Owner();
};
using OwnerPtr = std::shared_ptr<Owner>;

struct PyFile {
  OwnerPtr owner;
};
struct PyGroup {
  OwnerPtr owner;
  velfile::Group group;
};
struct PyItem {
  OwnerPtr owner;
  velfile::Group group;
  velfile::Item item;
};
struct PyData {
  OwnerPtr owner;
  velfile::DataGroup data;
};
struct PyDataWriter {
  OwnerPtr owner;
  velfile::DataWriter writer;
};

// Runs f with the GIL released; f must not touch Python objects.
template <class F>
auto released(F&& f) -> decltype(f()) {
  py::gil_scoped_release unlock;
  return f();
}

// The numpy dtype of an item type's elements (uint32 for the words of types
// 8 and 9, uint8 for raw bytes and unknown types); none for the others.
py::dtype dtypeOf(uint16_t type);
// The item type of a numpy dtype; -1 for a dtype no item type stores.
int typeOfDtype(const py::dtype& dtype);

// An array of numbers converted element by element by the layer's rule
// (velfile::convert_value); WrongType naming the first value refused.
py::array convertArray(const py::array& values, uint16_t to);

// Where a value lies, for a memory map: (offset, bytes, host order).
py::tuple extentTuple(const velfile::Extent& extent);

void bindData(py::module_& m);
// Sources of files that lie elsewhere (source.cpp).
void bindSource(py::module_& m);
// A File whose last owner went inside a source's read, where the library
// refuses calls: it is closed by the next closeDeferred(), outside.
void closeLater(velfile::File file);
void closeDeferred();
// Group::write_data from a numpy array of shape (second, first, samples).
PyData writeData(PyGroup& g, int32_t dataClass, const py::array& samples, int sampleType,
                 const py::object& marks, std::array<float, 6> axes);
// Group::data_writer for lines of shape (first, samples) of a numpy dtype's items.
PyDataWriter dataWriter(PyGroup& g, int32_t dataClass, std::array<uint32_t, 3> shape, size_t itemSize,
                        int sampleType, std::array<float, 6> axes);

}  // namespace velfile_python

#endif
