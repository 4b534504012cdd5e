// The data group's bulk data, read back: a range of points and samples.
//
// Everything comes through the container's exported reads; the section's
// extent comes from the records it already loaded (sectionFacts), and every
// count, offset and size from the file is checked against it before a read.
#include <velfile/gdata.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gdatalayout.h"
#include "groupmodule.h"

using D = CGDataTypeFDD;
using VelFile::kOk;

namespace {

const int kDamaged = VelFile::kErrIo;       // the file's numbers do not hold
const int kCaller = VelFile::kErrNotFound;  // range, buffer or descriptor
const int kNoLayout = VelFile::kErrCannotCreate;
const uint16_t kWordType = VelFile::kTypeUInt16;

using velfile::isBlockClass;

// a * b, false when it does not fit 64 bits.
bool mul(uint64_t a, uint64_t b, uint64_t* out) {
  if (a != 0 && b > UINT64_MAX / a) return false;
  *out = a * b;
  return true;
}

uint32_t load32(const unsigned char* p, bool swap) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return swap ? (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24) : v;
}

struct Reader {
  D& d;
  void* group;
  velfile::SectionFacts section;
  uint64_t firstTotal, secondTotal;  // point counts
  uint32_t secondStart, secondCount, firstStart, firstCount;

  uint64_t points() const { return uint64_t(secondCount) * firstCount; }
  uint64_t pointIndex(uint64_t s, uint64_t f) const {
    return (secondStart + s) * firstTotal + firstStart + f;
  }
  // Whether [offset, offset + size) lies inside the section, past its header,
  // and inside the file (which may have been cut short).
  bool inside(uint64_t offset, uint64_t size) const {
    return offset >= 36 && offset <= section.inFile && size <= section.inFile - offset;
  }
  // Whether n entries of entrySize bytes at offset lie inside the section.
  bool tableInside(uint64_t offset, uint64_t entrySize) const {
    uint64_t n = 0, bytes = 0;
    return mul(firstTotal, secondTotal, &n) && mul(n, entrySize, &bytes) && inside(offset, bytes);
  }

  // The 32-bit point table entries of the range, second-major.
  int tableEntries(uint64_t entrySize, std::vector<uint32_t>* out) const {
    const uint64_t table = uint32_t(d.dataReference);
    if (!tableInside(table, entrySize)) return kDamaged;
    out->resize(size_t(points()));
    std::vector<unsigned char> row(size_t(firstCount * entrySize));
    for (uint64_t s = 0; s < secondCount; ++s) {
      const uint64_t at = table + pointIndex(s, 0) * entrySize;
      if (!row.empty() && VelFile::file_ReadBlock(group, uint32_t(at), uint32_t(row.size()),
                                                  reinterpret_cast<char*>(row.data())) != kOk)
        return kDamaged;
      for (uint64_t f = 0; f < firstCount; ++f)
        (*out)[size_t(s * firstCount + f)] = load32(&row[size_t(f * entrySize)], section.swap);
    }
    return kOk;
  }

  // count elements of type at offset into dst, swapped to host order.
  int elements(uint64_t offset, uint64_t count, uint16_t type, void* dst) const {
    if (count == 0) return kOk;
    const int rc =
        VelFile::file_Read(group, uint32_t(offset), uint32_t(count), type, static_cast<char*>(dst), nullptr);
    return rc == kOk ? kOk : kDamaged;
  }
};

// The point table of the range with every record checked to lie inside the
// section: entries below 3 are markers.
int checkedTable(const Reader& r, uint64_t recordSize, std::vector<uint32_t>* entries) {
  const uint64_t entrySize = static_cast<uint32_t>(r.d.pointEntrySize);
  if (entrySize < 4 || entrySize > 0xFFFF) return kDamaged;
  const int rc = r.tableEntries(entrySize, entries);
  if (rc != kOk) return rc;
  for (uint32_t e : *entries)
    if (e >= 3 && !r.inside(e, recordSize)) return kDamaged;
  return kOk;
}

// Fixed records: sampleCount samples of every point, zeros where none.
int readRecords(const Reader& r, const std::vector<uint32_t>& entries, uint16_t type, uint64_t sampleSize,
                uint64_t q, uint32_t sampleStart, uint32_t sampleCount, char* buffer, uint8_t* markers) {
  const uint64_t recordSize = q * sampleSize;
  const uint64_t stride = uint64_t(sampleCount) * sampleSize;
  // Runs of records that lie back to back, read whole, are one read each.
  const bool whole = sampleStart == 0 && sampleCount == q;
  for (size_t p = 0; p < entries.size();) {
    const uint32_t e = entries[p];
    if (markers) markers[p] = static_cast<uint8_t>(e < 3 ? e : 3);
    if (e < 3) {
      std::memset(buffer + p * stride, 0, size_t(stride));
      ++p;
      continue;
    }
    size_t run = 1;
    while (whole && p + run < entries.size() && entries[p + run] >= 3 &&
           uint64_t(entries[p + run]) == e + run * recordSize) {
      if (markers) markers[p + run] = 3;
      ++run;
    }
    const int rc =
        r.elements(e + uint64_t(sampleStart) * sampleSize, run * sampleCount, type, buffer + p * stride);
    if (rc != kOk) return rc;
    p += run;
  }
  return kOk;
}

// Variable records: a 16-bit count m, then 2m more 16-bit units.
int readVariable(const Reader& r, char* buffer, uint64_t capacity, uint8_t* markers, uint64_t* starts,
                 uint64_t* used) {
  std::vector<uint32_t> entries;
  int rc = checkedTable(r, 2, &entries);
  if (rc != kOk) return rc;
  std::vector<uint64_t> sizes(entries.size(), 0);
  uint64_t total = 0;
  for (size_t p = 0; p < entries.size(); ++p) {
    if (entries[p] < 3) continue;
    uint16_t m = 0;
    if (!r.inside(entries[p], 2) || r.elements(entries[p], 1, kWordType, &m) != kOk) return kDamaged;
    sizes[p] = (2 * uint64_t(m) + 1) * 2;
    if (!r.inside(entries[p], sizes[p])) return kDamaged;
    total += sizes[p];
  }
  if (used) *used = total;
  if (!buffer) return kOk;
  if (capacity < total || !starts) return kCaller;
  uint64_t at = 0;
  for (size_t p = 0; p < entries.size(); ++p) {
    if (markers) markers[p] = static_cast<uint8_t>(entries[p] < 3 ? entries[p] : 3);
    starts[p] = at;
    rc = r.elements(entries[p], sizes[p] / 2, kWordType, buffer + at);
    if (rc != kOk) return rc;
    at += sizes[p];
  }
  starts[entries.size()] = at;
  return kOk;
}

// A block of n entries of E bytes: E / s samples a point when E is a whole
// number of samples, else E bytes.
int readBlock(const Reader& r, uint16_t type, uint64_t size, uint64_t perPoint, uint32_t sampleStart,
              uint32_t sampleCount, char* buffer, uint8_t* markers) {
  const uint64_t entrySize = static_cast<uint32_t>(r.d.pointEntrySize);
  const uint64_t block = uint32_t(r.d.dataReference);
  const uint64_t stride = uint64_t(sampleCount) * size;
  if (markers) std::memset(markers, 3, size_t(r.points()));
  const bool whole = sampleStart == 0 && sampleCount == perPoint;
  for (uint64_t s = 0; s < r.secondCount; ++s) {
    char* row = buffer + s * r.firstCount * stride;
    const uint64_t at = block + r.pointIndex(s, 0) * entrySize + sampleStart * size;
    if (whole) {
      const int rc = r.elements(at, uint64_t(r.firstCount) * perPoint, type, row);
      if (rc != kOk) return rc;
      continue;
    }
    for (uint64_t f = 0; f < r.firstCount; ++f) {
      const int rc = r.elements(at + f * entrySize, sampleCount, type, row + f * stride);
      if (rc != kOk) return rc;
    }
  }
  return kOk;
}

// A range [start, start + count) inside [0, total); count UINT32_MAX means
// "to the end".
bool clampRange(uint64_t total, uint32_t start, uint32_t* count) {
  if (start > total) return false;
  if (*count == UINT32_MAX) *count = static_cast<uint32_t>(std::min<uint64_t>(total - start, UINT32_MAX - 1));
  return uint64_t(start) + *count <= total;
}

}  // namespace

int gdata_ReadDataClassData(CGDataTypeFDD* descr, uint32_t secondStart, uint32_t secondCount,
                            uint32_t firstStart, uint32_t firstCount, uint32_t sampleStart,
                            uint32_t sampleCount, void* buffer, uint64_t bufferSize, uint8_t* markers,
                            uint64_t* recordStarts, uint64_t* bytesUsed) {
  if (bytesUsed) *bytesUsed = 0;
  if (!descr) return kCaller;
  D& d = *descr;
  Reader r{d,
           d.GetGroupHandle(),
           velfile::SectionFacts(),
           static_cast<uint32_t>(d.firstPointCount),
           static_cast<uint32_t>(d.secondPointCount),
           secondStart,
           secondCount,
           firstStart,
           firstCount};
  if (!velfile::sectionFacts(r.group, &r.section)) return kCaller;
  const int32_t c = d.dataClass;
  if (c != 1 && c != 10 && !isBlockClass(c)) return kNoLayout;
  if (!clampRange(r.secondTotal, secondStart, &r.secondCount) ||
      !clampRange(r.firstTotal, firstStart, &r.firstCount))
    return kCaller;
  // The sample type, its size, and the samples a point holds.
  uint16_t type = static_cast<uint16_t>(d.GetDataType());
  if (d.GetDataType() < 0) type = VelFile::kTypeRaw;
  uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(type));
  uint64_t perPoint = d.GetSampleQty();
  if (isBlockClass(c)) {
    const uint64_t entrySize = static_cast<uint32_t>(d.pointEntrySize);
    if (entrySize % size != 0) type = VelFile::kTypeRaw, size = 1;
    perPoint = entrySize / size;
  }
  try {
    if (c == 10)
      return readVariable(r, static_cast<char*>(buffer), bufferSize, markers, recordStarts, bytesUsed);
    if (!clampRange(perPoint, sampleStart, &sampleCount)) return kCaller;
    // The table and records, or the block, are checked before anything is
    // measured, so that no caller sizes a buffer from numbers that do not hold.
    std::vector<uint32_t> entries;
    if (c == 1) {
      const int rc = checkedTable(r, perPoint * size, &entries);
      if (rc != kOk) return rc;
    } else if (d.pointEntrySize == 0 ||  // no entries: counts no file bounds
               !r.tableInside(uint32_t(d.dataReference), static_cast<uint32_t>(d.pointEntrySize))) {
      return kDamaged;
    }
    uint64_t need = 0;
    if (!mul(r.points(), uint64_t(sampleCount) * size, &need)) return kCaller;  // no buffer is that large
    if (bytesUsed) *bytesUsed = need;
    if (!buffer) return kOk;
    if (bufferSize < need) return kCaller;
    char* out = static_cast<char*>(buffer);
    return c == 1 ? readRecords(r, entries, type, size, perPoint, sampleStart, sampleCount, out, markers)
                  : readBlock(r, type, size, perPoint, sampleStart, sampleCount, out, markers);
  } catch (const std::bad_alloc&) {
    return VelFile::kErrMemory;
  }
}
