// The C++ layer: data groups, read by range and written from dense arrays.
#include <algorithm>
#include <cstring>

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

namespace {

// The descriptor a data write stores, from the host's: the class checked,
// the entry size and sample size set, the group's name when it has none.
CGDataTypeFDD dataDescriptor(const Group& g, const CGDataTypeFDD& descr, const char* op, const Where& where) {
  if (g.has_item(10400))
    fail(Reason::Invalid, op, where,
         "holds data already: a group takes one write_data (write its other fields with write_descriptor)");
  CGDataTypeFDD cur = descr;
  const int32_t c = cur.dataClass;
  if (c != 1 && !isBlockClass(c))
    fail(Reason::Unsupported, op, where,
         "cannot take data of class " + std::to_string(c) +
             ": only class 1 and the block classes are written");
  if (cur.GetDataType() < 0 || VelFile::file_SizeOf(static_cast<uint16_t>(cur.GetDataType())) == 0)
    fail(Reason::Invalid, op, where,
         "cannot take a descriptor without a sample type (its data type is " +
             std::to_string(cur.GetDataType()) + "): set one with SetDataType()");
  const uint64_t n = uint64_t(uint32_t(cur.firstPointCount)) * uint32_t(cur.secondPointCount);
  const uint64_t s = uint64_t(VelFile::file_SizeOf(static_cast<uint16_t>(cur.GetDataType())));
  const uint64_t record = s * cur.GetSampleQty();
  cur.sampleSize = static_cast<int32_t>(s);  // the writer sizes records from it
  if (c == 1 && cur.pointEntrySize < 4) cur.pointEntrySize = 4;
  if (c != 1 && cur.pointEntrySize == -1) cur.pointEntrySize = static_cast<int32_t>(record);
  const uint64_t table = n * uint32_t(cur.pointEntrySize);
  if (n > UINT32_MAX || table > UINT32_MAX || (c == 1 && record > UINT32_MAX))
    fail(Reason::Invalid, op, where,
         "cannot take " + std::to_string(n) + " points of " + std::to_string(c == 1 ? record : table / n) +
             " bytes: the counts pass 32 bits");
  if (cur.groupName[0] == 0) {
    const std::u16string name = toUtf16(g.name(), op, where);
    checkGroupName(name, op, where);
    std::copy(name.begin(), name.end(), cur.groupName);
    cur.groupName[name.size()] = 0;
  } else {
    checkGroupName(fromVel(cur.groupName), op, where);
  }
  return cur;
}

// Refuses lines whose samples or markers do not match the group's shape.
void checkLines(const DataLines& l, uint64_t count, size_t bytes, const void* samples, const uint8_t* markers,
                size_t markerCount, const char* op, const Where& where) {
  const uint64_t points = count * l.pointsPerLine();
  const bool records = l.layout() == DataLayout::Records;
  if (bytes != points * l.pointBytes())
    fail(Reason::Invalid, op, where,
         "needs " + std::to_string(points) + (records ? " points of " : " entries of ") +
             std::to_string(l.pointBytes()) + " bytes; got " + std::to_string(bytes) + " bytes");
  if (!records && markers)
    fail(Reason::Invalid, op, where, "takes no markers for a block class: every point has data");
  if (markers && markerCount != points)
    fail(Reason::Invalid, op, where,
         "needs one marker per point (" + std::to_string(points) + "); got " + std::to_string(markerCount));
  if (bytes && !samples) fail(Reason::Invalid, op, where, "got no samples");
}

// Writes the next count lines, checked, a bounded number of points at a
// time: the table entries (markers or record addresses) of a record class
// are built for one batch only.
void writeLines(DataLines& l, uint32_t count, const void* samples, const uint8_t* markers,
                const Where& where) {
  const char* base = static_cast<const char*>(samples);
  const uint64_t perLine = l.pointsPerLine(), pointBytes = l.pointBytes();
  const uint32_t batch =
      static_cast<uint32_t>(std::max<uint64_t>(1, (1u << 20) / std::max<uint64_t>(1, perLine)));
  std::vector<uint64_t> table;
  int rc = VelFile::kOk;
  for (uint32_t done = 0; done < count && rc == VelFile::kOk;) {
    const uint32_t k = std::min(batch, count - done);
    const uint64_t first = done * perLine, points = k * perLine;
    if (l.layout() == DataLayout::Block) {
      rc = l.write(base + first * pointBytes, k);
    } else {
      table.resize(size_t(points));
      for (size_t i = 0; i < table.size(); ++i) {
        const uint64_t p = first + i;
        table[i] =
            markers && markers[p] < 3 ? markers[p] : reinterpret_cast<uintptr_t>(base + p * pointBytes);
      }
      rc = l.write(table.data(), k);
    }
    done += k;
  }
  if (rc != VelFile::kOk) failCode("gdata_WriteDataClassData", rc, where);
}

}  // namespace

DataWriter Group::data_writer(const CGDataTypeFDD& descr) {
  const char* op = "Group::data_writer";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const Where where = whereOf(*this);
  CGDataTypeFDD cur = dataDescriptor(*this, descr, op, where);
  auto stream = std::make_shared<DataStream>();
  const int rc = reserveDataLines(f.handle, cur, &stream->lines);
  if (rc != VelFile::kOk) failCode("gdata_WriteGroupInfo", rc, where);
  stream->ended = stream->lines.lineCount() == 0;
  stream->group = Access::node(*this);
  const uint16_t t = static_cast<uint16_t>(cur.GetDataType());
  const bool whole =
      cur.dataClass == 1 || (t < 14 && uint32_t(cur.pointEntrySize) % VelFile::file_SizeOf(t) == 0);
  stream->sampleType = cur.GetDataType() < 0 || !whole ? uint16_t(VelFile::kTypeRaw) : t;
  auto& open = file_->streams;
  open.erase(std::remove_if(open.begin(), open.end(), [](const auto& s) { return s->ended; }), open.end());
  open.push_back(stream);
  return Access::dataWriter(*this, std::move(stream));
}

DataGroup Group::write_data(const CGDataTypeFDD& descr, const void* samples, size_t bytes,
                            const uint8_t* markers, size_t markerCount) {
  const char* op = "Group::write_data";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const Where where = whereOf(*this);
  CGDataTypeFDD cur = dataDescriptor(*this, descr, op, where);
  DataLines lines;
  if (lines.prepare(cur) != VelFile::kOk)
    fail(Reason::Invalid, op, where, "has counts or sizes that pass 32 bits");
  // Everything is checked before anything is written.
  checkLines(lines, lines.lineCount(), bytes, samples, markers, markerCount, op, where);
  const int rc = reserveDataLines(f.handle, cur, &lines);
  if (rc != VelFile::kOk) failCode("gdata_WriteGroupInfo", rc, where);
  writeLines(lines, lines.lineCount(), samples, markers, where);
  return data();
}

void Group::check_sample_type(const CGDataTypeFDD& descr, uint16_t type) const {
  if (descr.GetDataType() == type) return;
  const int32_t t = descr.GetDataType();
  fail(Reason::WrongType, "Group::write_data", whereOf(*this),
       "cannot take samples of type " + type_name(type) + " for a descriptor of sample type " +
           (t < 0 ? "none (set one with SetDataType())" : type_name(static_cast<uint16_t>(t))) +
           ": give them in a range of the sample type, or as bytes");
}

DataGroup Group::write_data(const CGDataTypeFDD& descr, const Samples& samples,
                            const std::vector<uint8_t>& markers) {
  return std::visit([&](const auto& v) { return write_data(descr, v, markers); }, samples);
}

// Every function of a DataGroup throws once its File was closed.
const Group& DataGroup::group() const {
  groupFacts(group_, "DataGroup::group");
  return group_;
}

const CGDataTypeFDD& DataGroup::descriptor() const {
  Lock lock(library_mutex());
  checkOpen(group_.file_state().get(), Access::node(group_).get(), "DataGroup::descriptor");
  return *descr_;
}

namespace {

// The writer's stream, checked to be usable (lock held).
DataStream& streamOf(const std::shared_ptr<DataStream>& s, const Group& g, const char* op) {
  if (!s) fail(Reason::Closed, op, Where(), "refers to no data group: it was not made by Group::data_writer");
  groupFacts(g, op);  // the file still open
  return *s;
}

std::string lineList(uint32_t from, uint32_t to) {
  return to - from == 1 ? "line " + std::to_string(from)
                        : "lines " + std::to_string(from) + " to " + std::to_string(to - 1);
}

}  // namespace

uint32_t DataWriter::lines() const {
  Lock lock(library_mutex());
  return streamOf(stream_, group_, "DataWriter::lines").lines.lineCount();
}

uint32_t DataWriter::next_line() const {
  Lock lock(library_mutex());
  return streamOf(stream_, group_, "DataWriter::next_line").lines.written();
}

bool DataWriter::complete() const {
  Lock lock(library_mutex());
  return streamOf(stream_, group_, "DataWriter::complete").ended;
}

void DataWriter::check_element(uint16_t type) const {
  const char* op = "DataWriter::write_line";
  Lock lock(library_mutex());
  const uint16_t t = streamOf(stream_, group_, op).sampleType;
  if (type != t && !(t == VelFile::kTypeRaw && type == VelFile::kTypeUInt8))
    fail(Reason::WrongType, op, whereOf(group_),
         "holds elements of type " + type_name(t) + "; write its lines from a vector of that type, not " +
             type_name(type));
}

void DataWriter::write_lines(uint32_t line, uint32_t count, const void* samples, size_t bytes,
                             const uint8_t* markers, size_t markerCount) {
  const char* op = "DataWriter::write_line";
  Lock lock(library_mutex());
  DataStream& s = streamOf(stream_, group_, op);
  DataLines& l = s.lines;
  const Where where = whereOf(group_);
  const uint32_t next = l.written(), total = l.lineCount();
  if (s.ended)
    fail(Reason::Invalid, op, where,
         "is whole: its " + std::to_string(total) + " lines were written or ended by finish(); " +
             lineList(line, line + std::max(count, 1u)) + " cannot be written again");
  if (line != next)
    fail(Reason::Invalid, op, where,
         "takes its lines in order, each once: " + lineList(line, line + std::max(count, 1u)) +
             (line < next ? " was written already" : " cannot come yet") + "; the next is line " +
             std::to_string(next));
  if (count > total - next)
    fail(Reason::Invalid, op, where,
         "has " + std::to_string(total) + " lines (0 to " + std::to_string(total - 1) + "); " +
             lineList(line, line + count) + " pass the last");
  checkLines(l, count, bytes, samples, markers, markerCount, op, where);
  writeLines(l, count, samples, markers, where);
  s.ended = l.written() == total;
}

uint32_t DataWriter::finish() {
  const char* op = "DataWriter::finish";
  Lock lock(library_mutex());
  DataStream& s = streamOf(stream_, group_, op);
  if (s.ended) return 0;
  const uint32_t missing = s.lines.lineCount() - s.lines.written();
  const int rc = s.lines.fill();
  s.ended = true;
  if (rc != VelFile::kOk) failCode("gdata_WriteDataClassData", rc, whereOf(group_));
  return missing;
}

DataGroup DataWriter::data() const {
  const char* op = "DataWriter::data";
  Lock lock(library_mutex());
  const DataStream& s = streamOf(stream_, group_, op);
  if (!s.ended)
    fail(Reason::Invalid, op, whereOf(group_),
         "is not whole yet: " + lineList(s.lines.written(), s.lines.lineCount()) + " not written");
  return group_.data();
}

std::string endStreams(FileState& file, int* rc) {
  std::string report;
  *rc = VelFile::kOk;
  for (const std::shared_ptr<DataStream>& s : file.streams) {
    if (s->ended) continue;
    const uint32_t from = s->lines.written(), to = s->lines.lineCount();
    *rc |= s->lines.fill();
    s->ended = true;
    report += (report.empty() ? "has " : "; ") + ("group '" + joinPath(s->group.get()) + "' with ") +
              lineList(from, to) + " of " + std::to_string(to) + " not written";
  }
  file.streams.clear();
  if (!report.empty())
    report +=
        ": those lines are stored as points without data (the file is closed and whole; "
        "DataWriter::finish() ends a scan early without this error)";
  return report;
}

int32_t DataGroup::data_class() const {
  return descriptor().dataClass;
}

uint16_t DataGroup::sample_type() const {
  descriptor();
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
  descriptor();
  const uint32_t second = uint32_t(descr_->secondPointCount), first = uint32_t(descr_->firstPointCount);
  const int32_t c = descr_->dataClass;
  const uint32_t per = c == 1    ? descr_->GetSampleQty()
                       : c == 10 ? 0
                                 : uint32_t(descr_->pointEntrySize) / uint32_t(element_size());
  return {second, first, per};
}

std::array<Axis, 3> DataGroup::axes() const {
  const CGDataTypeFDD& d = descriptor();
  const std::array<uint32_t, 3> s = shape();
  return {Axis{s[0], d.secondAxisFactor, d.secondAxisOffset},
          Axis{s[1], d.firstAxisFactor, d.firstAxisOffset},
          Axis{s[2], d.sampleAxisFactor, d.sampleAxisOffset}};
}

size_t DataGroup::points(Range second, Range first) const {
  const std::array<uint32_t, 3> s = shape();
  return size_t(uint64_t(clamp(s[0], second)) * clamp(s[1], first));
}

void DataGroup::check_element(uint16_t type) const {
  const uint16_t t = sample_type();
  if (type == t || (t == VelFile::kTypeRaw && type == VelFile::kTypeUInt8)) return;
  fail(Reason::WrongType, "DataGroup::read", whereOf(group_),
       "holds elements of type " + type_name(t) + ", not " + type_name(type) + "; read them as " +
           (t == VelFile::kTypeRaw ? std::string("uint8_t") : type_name(t)) +
           ", or convert them with read_as<T>()");
}

namespace {

// Refuses a range that reaches outside its axis, naming both.
void checkRange(const DataGroup& dg, const char* axis, uint32_t total, const Range& r) {
  const bool toEnd = r.count == UINT32_MAX;
  if (r.start <= total && (toEnd || uint64_t(r.start) + r.count <= total)) return;
  fail(Reason::OutOfRange, "DataGroup::read", whereOf(dg.group()),
       "has no " + std::string(axis) + " indices " + std::to_string(r.start) +
           (toEnd ? " onwards" : " to " + std::to_string(uint64_t(r.start) + r.count - 1)) + ": its " + axis +
           " axis runs from 0 to " +
           (total ? std::to_string(total - 1) : std::string("nothing (it is empty)")));
}

// gdata_ReadDataClassData under the lock, its result turned into an error.
void readRange(const DataGroup& dg, CGDataTypeFDD* d, const Range& second, const Range& first,
               const Range& samples, void* buffer, uint64_t capacity, uint8_t* markers, uint64_t* starts,
               uint64_t* used) {
  const Group& g = dg.group();
  groupFacts(g, "DataGroup::read");
  const std::array<uint32_t, 3> shape = dg.shape();
  checkRange(dg, "second", shape[0], second);
  checkRange(dg, "first", shape[1], first);
  if (d->dataClass != 10) checkRange(dg, "sample", shape[2], samples);
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
