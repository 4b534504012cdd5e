// The C++ layer: data groups, read by range and written from dense arrays.
#include <algorithm>
#include <cstring>

#include "gdatalayout.h"
#include "layer.h"

namespace velfile {

namespace {

Where whereOf(const Group& g) {
  return Where{g.file_state().get(), Access::node(g).get(), -1};
}

uint32_t clamp(uint64_t total, const Range& r) {
  if (r.start > total) return 0;
  return r.count == UINT32_MAX ? static_cast<uint32_t>(std::min<uint64_t>(total - r.start, UINT32_MAX - 1))
                               : r.count;
}

}  // namespace

DataGroup Group::data() const {
  const char* op = "Group::data";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  auto d = std::make_shared<CGDataTypeFDD>();
  const int rc = gdata_ReadGroupInfo(f.handle, d.get());
  if (rc != VelFile::kOk) failCode("gdata_ReadGroupInfo", rc, whereOf(*this));
  const int32_t c = d->dataClass;
  if (c != 1 && c != 10 && !isBlockClass(c))
    fail(Reason::Unsupported, op, whereOf(*this),
         "is not a data group with bulk data: its data class (item 10400) is " + std::to_string(c) +
             ", which has no layout");
  DataGroup out = Access::dataGroup(*this, std::move(d));
  // The point table and every record checked once, so that no read hands a
  // point its neighbours' samples from a damaged file.
  if (c == 1) out.bytes_needed();
  return out;
}

DataGroup Group::write_data(const CGDataTypeFDD& descr, const void* samples, size_t bytes,
                            const uint8_t* markers, size_t markerCount) {
  const char* op = "Group::write_data";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const Where where = whereOf(*this);
  if (has_item(10400))
    fail(Reason::Invalid, op, where,
         "holds data already: a group takes one write_data (write its other fields with write_descriptor)");
  CGDataTypeFDD cur = descr;
  const int32_t c = cur.dataClass;
  if (c != 1 && !isBlockClass(c))
    fail(Reason::Unsupported, op, where,
         "cannot take data of class " + std::to_string(c) +
             ": only class 1 and the block classes are written");
  const uint64_t n = uint64_t(uint32_t(cur.firstPointCount)) * uint32_t(cur.secondPointCount);
  const uint64_t s = uint64_t(VelFile::file_SizeOf(static_cast<uint16_t>(cur.GetDataType())));
  const uint64_t record = s * cur.GetSampleQty();
  cur.sampleSize = static_cast<int32_t>(s);  // the writer sizes records from it
  std::vector<uint64_t> table;
  if (c == 1) {
    if (cur.pointEntrySize < 4) cur.pointEntrySize = 4;
    if (n > UINT32_MAX || n * uint32_t(cur.pointEntrySize) > UINT32_MAX || bytes != n * record)
      fail(Reason::Invalid, op, where,
           "needs " + std::to_string(n) + " points of " + std::to_string(record) + " bytes; got " +
               std::to_string(bytes) + " bytes");
    if (markers && markerCount != n)
      fail(Reason::Invalid, op, where,
           "needs one marker per point (" + std::to_string(n) + "); got " + std::to_string(markerCount));
    table.resize(size_t(n));
    const char* base = static_cast<const char*>(samples);
    for (size_t i = 0; i < table.size(); ++i)
      table[i] = markers && markers[i] < 3 ? markers[i] : reinterpret_cast<uintptr_t>(base + i * record);
    cur.dataReference = reinterpret_cast<uintptr_t>(table.data());
  } else {
    if (cur.pointEntrySize == -1) cur.pointEntrySize = static_cast<int32_t>(record);
    if (markers) fail(Reason::Invalid, op, where, "takes no markers for a block class: every point has data");
    if (n * uint32_t(cur.pointEntrySize) > UINT32_MAX || bytes != n * uint32_t(cur.pointEntrySize))
      fail(Reason::Invalid, op, where,
           "needs " + std::to_string(n) + " entries of " + std::to_string(uint32_t(cur.pointEntrySize)) +
               " bytes; got " + std::to_string(bytes) + " bytes");
    cur.dataReference = reinterpret_cast<uintptr_t>(samples);
  }
  if (bytes && !samples) fail(Reason::Invalid, op, where, "got no samples");
  if (cur.groupName[0] == 0) {
    const std::u16string name = toUtf16(this->name(), op, where).substr(0, 259);
    std::copy(name.begin(), name.end(), cur.groupName);
    cur.groupName[name.size()] = 0;
  }
  cur.SetGroupHandle(f.handle);
  cur.SetDataGroupHandle(f.handle);
  const int rc = gdata_WriteGroupInfo(f.handle, nullptr, &cur, 0);
  if (rc != VelFile::kOk) failCode("gdata_WriteGroupInfo", rc, where);
  return data();
}

int32_t DataGroup::data_class() const {
  return descr_->dataClass;
}

uint16_t DataGroup::sample_type() const {
  const int32_t c = descr_->dataClass;
  const int32_t t = descr_->GetDataType();
  if (c == 10) return VelFile::kTypeUInt16;
  if (t < 0) return VelFile::kTypeRaw;
  const uint32_t e = static_cast<uint32_t>(descr_->pointEntrySize);
  if (c != 1 && e % uint32_t(VelFile::file_SizeOf(static_cast<uint16_t>(t))) != 0) return VelFile::kTypeRaw;
  return static_cast<uint16_t>(t);
}

size_t DataGroup::element_size() const {
  return size_t(VelFile::file_SizeOf(sample_type()));
}

std::array<uint32_t, 3> DataGroup::shape() const {
  const uint32_t second = uint32_t(descr_->secondPointCount), first = uint32_t(descr_->firstPointCount);
  const int32_t c = descr_->dataClass;
  const uint32_t per = c == 1    ? descr_->GetSampleQty()
                       : c == 10 ? 0
                                 : uint32_t(descr_->pointEntrySize) / uint32_t(element_size());
  return {second, first, per};
}

std::array<Axis, 3> DataGroup::axes() const {
  const CGDataTypeFDD& d = *descr_;
  const std::array<uint32_t, 3> s = shape();
  return {Axis{s[0], d.secondAxisFactor, d.secondAxisOffset},
          Axis{s[1], d.firstAxisFactor, d.firstAxisOffset},
          Axis{s[2], d.sampleAxisFactor, d.sampleAxisOffset}};
}

size_t DataGroup::points(Range second, Range first) const {
  const std::array<uint32_t, 3> s = shape();
  return size_t(uint64_t(clamp(s[0], second)) * clamp(s[1], first));
}

void DataGroup::check_element(bool floating, size_t size) const {
  const uint16_t t = sample_type();
  const bool isFloat = t == VelFile::kTypeFloat || t == VelFile::kTypeDouble;
  if (size != element_size() || (floating != isFloat && t != VelFile::kTypeRaw))
    fail(Reason::WrongType, "DataGroup::read", whereOf(group_),
         "holds elements of type " + type_name(t) + "; read them into a vector of that type");
}

namespace {

// gdata_ReadDataClassData under the lock, its result turned into an error.
void readRange(const DataGroup& dg, CGDataTypeFDD* d, const Range& second, const Range& first,
               const Range& samples, void* buffer, uint64_t capacity, uint8_t* markers, uint64_t* starts,
               uint64_t* used) {
  const Group& g = dg.group();
  groupFacts(g, "DataGroup::read");
  const int rc =
      gdata_ReadDataClassData(d, second.start, second.count, first.start, first.count, samples.start,
                              samples.count, buffer, capacity, markers, starts, used);
  if (rc != VelFile::kOk) failCode("gdata_ReadDataClassData", rc, whereOf(g));
}

}  // namespace

uint64_t DataGroup::bytes_needed(Range second, Range first, Range samples) const {
  Lock lock(library_mutex());
  uint64_t used = 0;
  readRange(*this, descr_.get(), second, first, samples, nullptr, 0, nullptr, nullptr, &used);
  return used;
}

void DataGroup::read(void* buffer, size_t capacity, uint8_t* markers, Range second, Range first,
                     Range samples) const {
  if (descr_->dataClass == 10)
    fail(Reason::WrongType, "DataGroup::read", whereOf(group_),
         "holds variable records; read them with read_records()");
  Lock lock(library_mutex());
  // One pass: the reader checks the table and records, then measures, and
  // reads nothing into a buffer too small for the range.
  uint64_t used = 0;
  char none = 0;  // a null buffer would only measure
  try {
    readRange(*this, descr_.get(), second, first, samples, buffer ? buffer : &none, capacity, markers,
              nullptr, &used);
  } catch (const Error&) {
    if (used <= capacity) throw;
    fail(Reason::Invalid, "DataGroup::read", whereOf(group_),
         "needs " + std::to_string(used) + " bytes for that range; the buffer has " +
             std::to_string(capacity));
  }
}

Extent DataGroup::block() const {
  const char* op = "DataGroup::block";
  if (!isBlockClass(descr_->dataClass))
    fail(Reason::Unsupported, op, whereOf(group_),
         "has its points scattered in records (class " + std::to_string(descr_->dataClass) +
             "); only the block classes lie in one block");
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(group_, op);
  // The reader checks the block against the section; an empty range of
  // samples reads nothing.
  uint64_t used = 0;
  readRange(*this, descr_.get(), Range(), Range(), Range{0, 0}, nullptr, 0, nullptr, nullptr, &used);
  const uint64_t n = uint64_t(uint32_t(descr_->firstPointCount)) * uint32_t(descr_->secondPointCount);
  return Extent{uint64_t(f.section.start) + uint32_t(descr_->dataReference),
                n * uint32_t(descr_->pointEntrySize), !f.section.swap || element_size() == 1};
}

std::vector<uint64_t> DataGroup::record_offsets() const {
  const char* op = "DataGroup::record_offsets";
  if (descr_->dataClass != 1)
    fail(Reason::Unsupported, op, whereOf(group_),
         "is of class " + std::to_string(descr_->dataClass) + "; only class 1 keeps each point in a record");
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(group_, op);
  std::vector<uint32_t> entries;
  const int rc = recordEntries(descr_.get(), &entries);
  if (rc != VelFile::kOk) failCode("gdata_ReadDataClassData", rc, whereOf(group_));
  std::vector<uint64_t> out(entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    out[i] = entries[i] < 3 ? entries[i] : uint64_t(f.section.start) + entries[i];
  return out;
}

Records DataGroup::read_records(Range second, Range first) const {
  if (descr_->dataClass != 10)
    fail(Reason::WrongType, "DataGroup::read_records", whereOf(group_),
         "holds fixed samples, not variable records; read them with read()");
  Records out;
  Lock lock(library_mutex());
  uint64_t used = 0;
  readRange(*this, descr_.get(), second, first, Range(), nullptr, 0, nullptr, nullptr, &used);
  const size_t n = points(second, first);
  out.units.resize(size_t(used / 2));
  out.starts.resize(n + 1);
  out.markers.resize(n);
  uint16_t none = 0;  // a null buffer would only measure
  readRange(*this, descr_.get(), second, first, Range(), out.units.empty() ? &none : out.units.data(), used,
            out.markers.data(), out.starts.data(), &used);
  for (uint64_t& s : out.starts) s /= 2;
  return out;
}

}  // namespace velfile
