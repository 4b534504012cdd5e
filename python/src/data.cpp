// The extension's data groups: ranged reads into numpy arrays, the records
// of class 10, the extent of a block, and writing from numpy arrays.
#include <pybind11/stl.h>

#include <array>

#include "binding.h"

namespace velfile_python {

namespace {

using velfile::Range;

py::tuple readRange(const PyData& d, uint32_t s0, uint32_t sc, uint32_t f0, uint32_t fc, uint32_t k0,
                    uint32_t kc) {
  const velfile::DataGroup& dg = d.data;
  // Counts from a damaged file must not size an allocation: a range larger
  // than its section is first checked by the layer (table, records, block).
  size_t elementSize = 0;
  uint16_t sampleType = 0;
  released([&] { elementSize = dg.element_size(), sampleType = dg.sample_type(); });
  const uint64_t want = uint64_t(sc) * fc * kc * elementSize;
  released([&] {
    if (want > dg.group().section().size()) dg.bytes_needed(Range{s0, sc}, Range{f0, fc}, Range{k0, kc});
  });
  py::array samples(dtypeOf(sampleType), std::vector<py::ssize_t>{sc, fc, kc});
  py::array_t<uint8_t> markers(std::vector<py::ssize_t>{sc, fc});
  void* out = samples.mutable_data();
  uint8_t* marks = markers.mutable_data();
  const size_t capacity = size_t(samples.nbytes());
  released([&] { dg.read(out, capacity, marks, Range{s0, sc}, Range{f0, fc}, Range{k0, kc}); });
  return py::make_tuple(std::move(samples), std::move(markers));
}

py::tuple readRecords(const PyData& d, uint32_t s0, uint32_t sc, uint32_t f0, uint32_t fc) {
  velfile::Records r = released([&] { return d.data.read_records(Range{s0, sc}, Range{f0, fc}); });
  py::array_t<uint16_t> units(py::ssize_t(r.units.size()), r.units.data());
  py::array_t<uint64_t> starts(py::ssize_t(r.starts.size()), r.starts.data());
  py::array_t<uint8_t> markers(std::vector<py::ssize_t>{sc, fc}, r.markers.data());
  return py::make_tuple(std::move(units), std::move(starts), std::move(markers));
}

// The descriptor of samples of shape (second, first, samples), items of itemSize bytes.
CGDataTypeFDD descriptorOf(int32_t dataClass, std::array<py::ssize_t, 3> shape, size_t itemSize,
                           int sampleType, const std::array<float, 6>& axes) {
  CGDataTypeFDD d;
  d.dataClass = dataClass;
  d.secondPointCount = int32_t(shape[0]);
  d.firstPointCount = int32_t(shape[1]);
  d.SetDataType(static_cast<zor_enumDataType>(sampleType));
  d.SetSampleQty(uint32_t(shape[2]));
  if (dataClass != 1) d.pointEntrySize = int32_t(size_t(shape[2]) * itemSize);
  d.secondAxisFactor = axes[0];
  d.secondAxisOffset = axes[1];
  d.firstAxisFactor = axes[2];
  d.firstAxisOffset = axes[3];
  d.sampleAxisFactor = axes[4];
  d.sampleAxisOffset = axes[5];
  return d;
}

using Markers = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>;

// Markers of points points (none: every point has data), kept alive in held.
const uint8_t* markersOf(const py::object& marks, py::ssize_t points, Markers* held, const char* op,
                         const std::string& group, const char* shape) {
  if (marks.is_none()) return nullptr;
  *held = Markers::ensure(marks);
  if (!*held || held->size() != points)
    throw velfile::Error(velfile::Reason::Invalid, 0, op, "", group, -1,
                         std::string("takes one marker per point, of shape ") + shape);
  return held->data();
}

void checkDense(const py::array& samples, py::ssize_t ndim, const char* op, const std::string& group,
                const char* shape) {
  if (samples.ndim() != ndim || !(samples.flags() & py::array::c_style))
    throw velfile::Error(velfile::Reason::Invalid, 0, op, "", group, -1,
                         std::string("takes the samples as a C-contiguous array of shape ") + shape);
}

}  // namespace

PyData writeData(PyGroup& g, int32_t dataClass, const py::array& samples, int sampleType,
                 const py::object& marks, std::array<float, 6> axes) {
  const char* op = "Group.write_data";
  const std::string group = released([&] { return g.group.path(); });
  checkDense(samples, 3, op, group, "(second, first, samples)");
  const CGDataTypeFDD d = descriptorOf(dataClass, {samples.shape(0), samples.shape(1), samples.shape(2)},
                                       size_t(samples.itemsize()), sampleType, axes);
  Markers held;
  const uint8_t* markers =
      markersOf(marks, samples.shape(0) * samples.shape(1), &held, op, group, "(second, first)");
  const size_t markerCount = markers ? size_t(held.size()) : 0;
  const void* data = samples.data();
  const size_t bytes = size_t(samples.nbytes());
  return PyData{g.owner, released([&] { return g.group.write_data(d, data, bytes, markers, markerCount); })};
}

PyDataWriter dataWriter(PyGroup& g, int32_t dataClass, std::array<uint32_t, 3> shape, size_t itemSize,
                        int sampleType, std::array<float, 6> axes) {
  const CGDataTypeFDD d = descriptorOf(dataClass, {shape[0], shape[1], shape[2]}, itemSize, sampleType, axes);
  return PyDataWriter{g.owner, released([&] { return g.group.data_writer(d); })};
}

namespace {

void writeLine(PyDataWriter& w, uint32_t line, const py::array& samples, const py::object& marks) {
  const char* op = "DataWriter.write_line";
  const std::string group = released([&] { return w.writer.group().path(); });
  checkDense(samples, 2, op, group, "(first, samples)");
  Markers held;
  const uint8_t* markers = markersOf(marks, samples.shape(0), &held, op, group, "(first,)");
  const size_t markerCount = markers ? size_t(held.size()) : 0;
  const void* data = samples.data();
  const size_t bytes = size_t(samples.nbytes());
  released([&] { w.writer.write_line(line, data, bytes, markers, markerCount); });
}

}  // namespace

void bindData(py::module_& m) {
  py::class_<PyData>(m, "DataGroup", "velfile::DataGroup")
      .def("group",
           [](const PyData& d) {
             return PyGroup{d.owner, released([&] { return d.data.group(); })};
           })
      .def("data_class", [](const PyData& d) { return released([&] { return d.data.data_class(); }); })
      .def("shape",
           [](const PyData& d) {
             const auto s = released([&] { return d.data.shape(); });
             return py::make_tuple(s[0], s[1], s[2]);
           })
      .def("sample_type", [](const PyData& d) { return released([&] { return d.data.sample_type(); }); })
      .def("element_size", [](const PyData& d) { return released([&] { return d.data.element_size(); }); })
      .def("axes",
           [](const PyData& d) {
             py::list out;
             for (const velfile::Axis& a : released([&] { return d.data.axes(); }))
               out.append(py::make_tuple(a.count, a.factor, a.offset));
             return out;
           })
      .def("bytes_needed", [](const PyData& d) { return released([&] { return d.data.bytes_needed(); }); })
      .def("read", &readRange)
      .def("read_records", &readRecords)
      .def("block", [](const PyData& d) { return extentTuple(released([&] { return d.data.block(); })); });
  py::class_<PyDataWriter>(m, "DataWriter", "velfile::DataWriter")
      .def("lines", [](const PyDataWriter& w) { return released([&] { return w.writer.lines(); }); })
      .def("next_line", [](const PyDataWriter& w) { return released([&] { return w.writer.next_line(); }); })
      .def("complete", [](const PyDataWriter& w) { return released([&] { return w.writer.complete(); }); })
      .def("write_line", &writeLine)
      .def("finish", [](PyDataWriter& w) { return released([&] { return w.writer.finish(); }); })
      .def("data", [](const PyDataWriter& w) {
        return PyData{w.owner, released([&] { return w.writer.data(); })};
      });
}

}  // namespace velfile_python
