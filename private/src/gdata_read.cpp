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

  // count elements of type at offset into dst, swapped to host order.
  int elements(uint64_t offset, uint64_t count, uint16_t type, void* dst) const {
    if (count == 0) return kOk;
    const int rc =
        VelFile::file_Read(group, uint32_t(offset), uint32_t(count), type, static_cast<char*>(dst), nullptr);
    return rc == kOk ? kOk : kDamaged;
  }
};

// Walks the range's point table, second-major, handing visit(p, entries, n)
// the host-order 32-bit entries of the range's points p to p + n - 1; stops
// at the first result that is not kOk. The table is read a few rows at a time
// (whole rows of the table lie back to back), so no copy of it is kept.
template <class Visit>
int eachChunk(const Reader& r, Visit&& visit) {
  const uint64_t entrySize = static_cast<uint32_t>(r.d.pointEntrySize);
  const uint64_t table = uint32_t(r.d.dataReference);
  if (entrySize < 4 || entrySize > 0xFFFF || !r.tableInside(table, entrySize)) return kDamaged;
  const uint64_t rowBytes = r.firstCount * entrySize;
  if (rowBytes == 0) return kOk;
  const bool wholeRows = r.firstCount == r.firstTotal;
  const uint64_t rowsPerRead = wholeRows ? std::max<uint64_t>(1, (uint64_t(1) << 16) / rowBytes) : 1;
  const uint64_t most = std::min<uint64_t>(rowsPerRead, r.secondCount);
  std::vector<unsigned char> raw(size_t(most * rowBytes));
  std::vector<uint32_t> entries(size_t(most * r.firstCount));
  for (uint64_t s = 0; s < r.secondCount; s += rowsPerRead) {
    const uint64_t rows = std::min<uint64_t>(rowsPerRead, r.secondCount - s);
    const uint64_t at = table + r.pointIndex(s, 0) * entrySize;
    if (VelFile::file_ReadBlock(r.group, uint32_t(at), uint32_t(rows * rowBytes),
                                reinterpret_cast<char*>(raw.data())) != kOk)
      return kDamaged;
    const size_t n = size_t(rows * r.firstCount);
    const unsigned char* e = raw.data();
    // The usual entry sizes get loops of a fixed stride, which the compiler
    // turns into vector code.
    if (r.section.swap) {
      for (size_t i = 0; i < n; ++i, e += entrySize) entries[i] = load32(e, true);
    } else if (entrySize == 8) {
      for (size_t i = 0; i < n; ++i) std::memcpy(&entries[i], e + 8 * i, 4);
    } else if (entrySize == 4) {
      std::memcpy(entries.data(), e, n * 4);
    } else {
      for (size_t i = 0; i < n; ++i, e += entrySize) std::memcpy(&entries[i], e, 4);
    }
    const int rc = visit(s * r.firstCount, entries.data(), n);
    if (rc != kOk) return rc;
  }
  return kOk;
}

// Whether n table entries are records of recordSize bytes inside the section
// or markers (entries below 3).
int checkedEntries(const Reader& r, const uint32_t* e, size_t n, uint64_t recordSize) {
  for (size_t i = 0; i < n; ++i)
    if (e[i] >= 3 && !r.inside(e[i], recordSize)) return kDamaged;
  return kOk;
}

// Whether records of recordSize bytes starting at starts (entries of the
// range's points that are not markers) overlap one another or the point
// table: then each point would read its neighbours' samples. Sorts starts.
bool overlapping(const Reader& r, std::vector<uint32_t>& starts, uint64_t recordSize) {
  if (recordSize == 0 || starts.empty()) return false;
  // Writers lay records out in point order: the sort is for other files.
  if (!std::is_sorted(starts.begin(), starts.end())) std::sort(starts.begin(), starts.end());
  for (size_t i = 1; i < starts.size(); ++i)
    if (uint64_t(starts[i]) - starts[i - 1] < recordSize) return true;
  // The table: one entry per point of the whole group.
  const uint64_t table = uint32_t(r.d.dataReference);
  const uint64_t tableEnd = table + r.firstTotal * r.secondTotal * static_cast<uint32_t>(r.d.pointEntrySize);
  const auto after =
      std::lower_bound(starts.begin(), starts.end(), uint32_t(std::min<uint64_t>(tableEnd, UINT32_MAX)));
  return after != starts.begin() && uint64_t(*(after - 1)) + recordSize > table;
}

// Whether every record of the range lies inside the section, clear of the
// others and of the point table; entries, when given, receives the range's
// table entries (record offsets, or markers below 3).
int checkRecords(const Reader& r, uint64_t recordSize, std::vector<uint32_t>* entries) {
  std::vector<uint32_t> starts;
  const int rc = eachChunk(r, [&](uint64_t, const uint32_t* e, size_t n) -> int {
    for (size_t i = 0; i < n; ++i)
      if (e[i] >= 3) starts.push_back(e[i]);
    if (entries) entries->insert(entries->end(), e, e + n);
    return checkedEntries(r, e, n, recordSize);
  });
  if (rc != kOk) return rc;
  return overlapping(r, starts, recordSize) ? kDamaged : kOk;
}

// Fixed records: sampleCount samples of every point, zeros where none. Each
// entry is checked just before its record is read; records that lie back to
// back, read whole, are read in one go.
int readRecords(const Reader& r, uint16_t type, uint64_t sampleSize, uint64_t q, uint32_t sampleStart,
                uint32_t sampleCount, char* buffer, uint8_t* markers) {
  const uint64_t recordSize = q * sampleSize;
  const uint64_t stride = uint64_t(sampleCount) * sampleSize;
  const bool whole = sampleStart == 0 && sampleCount == q;
  const uint64_t maxRun = std::max<uint64_t>(1, (uint64_t(1) << 30) / std::max<uint64_t>(stride, 1));
  uint64_t runPoint = 0, runPoints = 0, runFirst = 0;  // the pending run of records
  auto flush = [&]() -> int {
    const int rc = runPoints ? r.elements(runFirst + uint64_t(sampleStart) * sampleSize,
                                          runPoints * sampleCount, type, buffer + runPoint * stride)
                             : kOk;
    runPoints = 0;
    return rc;
  };
  const int rc = eachChunk(r, [&](uint64_t base, const uint32_t* e, size_t n) -> int {
    for (size_t i = 0; i < n;) {
      const uint64_t p = base + i;
      if (e[i] < 3) {
        if (markers) markers[p] = static_cast<uint8_t>(e[i]);
        std::memset(buffer + p * stride, 0, size_t(stride));
        ++i;
        continue;
      }
      // The records from e[i] on that follow one another; the first and the
      // last inside the section put all of them inside.
      size_t j = i + 1;
      if (whole) {
        // Blocks of 64 entries that go on with the run, checked without a
        // branch an entry: each step is recordSize modulo 2^32, and the
        // block's whole span in 64 bits rules out a wrap.
        const uint32_t step = uint32_t(recordSize);
        while (recordSize >> 32 == 0 && j + 64 <= n && runPoints + (j + 64 - i) < maxRun) {
          uint32_t off = 0;
          for (size_t k = j; k < j + 64; ++k) off |= (e[k] - e[k - 1]) ^ step;
          if (off != 0 || e[j + 63] != uint64_t(e[j - 1]) + 64 * recordSize) break;
          j += 64;
        }
        while (j < n && e[j] == uint64_t(e[j - 1]) + recordSize && runPoints + (j - i) < maxRun) ++j;
      }
      if (!r.inside(e[i], recordSize) || !r.inside(e[j - 1], recordSize)) return kDamaged;
      if (markers) std::memset(markers + p, 3, j - i);
      const bool extends = whole && runPoints && runPoint + runPoints == p &&
                           runFirst + runPoints * recordSize == e[i] && runPoints + (j - i) <= maxRun;
      if (!extends) {
        const int flushed = flush();
        if (flushed != kOk) return flushed;
        runPoint = p, runFirst = e[i];
      }
      runPoints += j - i;
      i = j;
    }
    return kOk;
  });
  return rc == kOk ? flush() : rc;
}

// Variable records: a 16-bit count m, then 2m more 16-bit units.
int readVariable(const Reader& r, char* buffer, uint64_t capacity, uint8_t* markers, uint64_t* starts,
                 uint64_t* used) {
  std::vector<uint32_t> entries(size_t(r.points()));
  int rc = eachChunk(r, [&](uint64_t p, const uint32_t* e, size_t n) -> int {
    std::copy(e, e + n, entries.begin() + long(p));
    return checkedEntries(r, e, n, 2);
  });
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
    // A measure checks the table and every record, or the block, first, so
    // that no caller sizes a buffer from numbers that do not hold; a read
    // checks each record as it comes to it.
    const uint64_t recordSize = perPoint * size;
    if (c == 1 && !buffer) {
      const int rc = checkRecords(r, recordSize, nullptr);
      if (rc != kOk) return rc;
    } else if (c != 1 &&
               (d.pointEntrySize == 0 ||  // no entries: counts no file bounds
                !r.tableInside(uint32_t(d.dataReference), static_cast<uint32_t>(d.pointEntrySize)))) {
      return kDamaged;
    }
    uint64_t need = 0;
    if (!mul(r.points(), uint64_t(sampleCount) * size, &need)) return kCaller;  // no buffer is that large
    if (bytesUsed) *bytesUsed = need;
    if (!buffer) return kOk;
    if (bufferSize < need) return kCaller;
    char* out = static_cast<char*>(buffer);
    return c == 1 ? readRecords(r, type, size, perPoint, sampleStart, sampleCount, out, markers)
                  : readBlock(r, type, size, perPoint, sampleStart, sampleCount, out, markers);
  } catch (const std::bad_alloc&) {
    return VelFile::kErrMemory;
  }
}

namespace velfile {

int recordEntries(CGDataTypeFDD* descr, std::vector<uint32_t>* entries) {
  entries->clear();
  if (!descr) return kCaller;
  D& d = *descr;
  if (d.dataClass != 1) return kNoLayout;
  const uint32_t firsts = static_cast<uint32_t>(d.firstPointCount),
                 seconds = static_cast<uint32_t>(d.secondPointCount);
  Reader r{d, d.GetGroupHandle(), SectionFacts(), firsts, seconds, 0, seconds, 0, firsts};
  if (!sectionFacts(r.group, &r.section)) return kCaller;
  const uint16_t type =
      d.GetDataType() < 0 ? uint16_t(VelFile::kTypeRaw) : static_cast<uint16_t>(d.GetDataType());
  const uint64_t recordSize = uint64_t(d.GetSampleQty()) * static_cast<uint64_t>(VelFile::file_SizeOf(type));
  try {
    return checkRecords(r, recordSize, entries);
  } catch (const std::bad_alloc&) {
    return VelFile::kErrMemory;
  }
}

}  // namespace velfile
