// The data group's bulk data: how large it is and where it goes in the file.
#include <velfile/gdata.h>

#include <algorithm>
#include <memory>

#include "gdatalayout.h"
#include "groupmodule.h"

using D = CGDataTypeFDD;
using VelFile::kErrIo;
using VelFile::kOk;

namespace {

const char* const kSource = "private/src/gdata";
const uint16_t kItemDataReference = 10461;

// Counts and sizes are unsigned 32-bit fields, whatever their declared type.
uint64_t widen(int32_t v) {
  return static_cast<uint32_t>(v);
}
uint64_t round8(uint64_t v) {
  return (v + 7) & ~uint64_t(7);
}

// A 32-bit product; false when it would wrap.
bool product32(uint64_t a, uint64_t b, uint32_t* out) {
  const uint64_t p = a * b;  // both below 2^32: exact
  if (p > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(p);
  return true;
}

const char* address(uint64_t reference) {
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(reference));
}

// Point entries below 3 mark a point without data; others are record addresses.
bool hasData(uint64_t entry) {
  return entry >= 3;
}

// Takes records in ascending file order and writes them with few large
// writes: a run of records that lie one after another in memory as in the
// file goes out from the caller's memory in one call; small scattered ones
// are gathered in a staging buffer, the padding between neighbours (which
// nothing else writes) as zeros.
class RecordWriter {
 public:
  RecordWriter(void* handle, char* staging, size_t capacity)
      : handle_(handle), staging_(staging), capacity_(capacity) {}

  void add(uint64_t position, const char* data, uint32_t size) {
    if (runData_ && data == runData_ + runSize_ && position == runPosition_ + runSize_) {
      runSize_ += size;
      return;
    }
    flushRun();
    runPosition_ = position;
    runData_ = data;
    runSize_ = size;
  }

  int finish() {
    flushRun();
    flushStaging();
    return result_;
  }

 private:
  static const uint64_t kDirectSize = 64 * 1024;  // runs this large skip the staging buffer
  static const uint64_t kMaxPadding = 7;

  void flushRun() {
    if (!runData_) return;
    if (runSize_ >= kDirectSize || runSize_ > capacity_) {
      write(runPosition_, runData_, runSize_);
    } else {
      const uint64_t end = stagedPosition_ + stagedSize_;
      if (stagedSize_ && (runPosition_ < end || runPosition_ - end > kMaxPadding ||
                          runPosition_ + runSize_ - stagedPosition_ > capacity_))
        flushStaging();
      if (!stagedSize_) stagedPosition_ = runPosition_;
      char* at = staging_ + (runPosition_ - stagedPosition_);
      std::fill(staging_ + stagedSize_, at, 0);
      std::memcpy(at, runData_, static_cast<size_t>(runSize_));
      stagedSize_ = static_cast<size_t>(runPosition_ + runSize_ - stagedPosition_);
    }
    runData_ = nullptr;
  }

  void flushStaging() {
    if (stagedSize_) write(stagedPosition_, staging_, stagedSize_);
    stagedSize_ = 0;
  }

  void write(uint64_t position, const char* data, uint64_t size) {
    result_ |= VelFile::file_Write(handle_, position, data, static_cast<uint32_t>(size), nullptr);
  }

  void* handle_;
  char* staging_;
  size_t capacity_;
  uint64_t stagedPosition_ = 0;
  size_t stagedSize_ = 0;
  uint64_t runPosition_ = 0;
  const char* runData_ = nullptr;
  uint64_t runSize_ = 0;
  int result_ = kOk;
};

// Records where the data went: in the descriptor and as item 10461.
int place(D& d, uint64_t position, int result) {
  d.dataReference = position;
  if (position > 0xFFFFFFFFull) VEL_DIAG(kSource);
  const uint32_t low = static_cast<uint32_t>(position);
  return result | velfile::writeItem(d.GetGroupHandle(), kItemDataReference, VelFile::kTypeUInt32, 1, &low);
}

// A point table of n entries of E bytes (the 32-bit marker or record position
// followed by zeros), then the records of the points with data: fixed ones of
// S bytes each in an 8-aligned block of its own, variable ones (a 16-bit count
// m, then (2m + 1) * 2 bytes in all) packed in one region. The table and the
// records are reserved together, which places them as reserving them one by
// one would.
int writePointData(D& d, bool variable) {
  uint32_t n = 0, tableSize = 0, fixedSize = 0;
  const uint32_t entrySize = static_cast<uint32_t>(d.pointEntrySize);
  if (!product32(widen(d.firstPointCount), widen(d.secondPointCount), &n) || entrySize < 4 ||
      !product32(n, entrySize, &tableSize) ||
      (!variable && !product32(widen(d.sampleSize), d.GetSampleQty(), &fixedSize)))
    return kErrIo;
  if (n && !d.dataReference) return kErrIo;
  const char* points = address(d.dataReference);
  auto entry = [&](uint32_t i) {
    uint64_t e;
    std::memcpy(&e, points + uint64_t(i) * 8, 8);
    return e;
  };
  auto recordSize = [&](uint64_t e) -> uint32_t {
    if (!variable) return fixedSize;
    uint16_t m;
    std::memcpy(&m, address(e), 2);
    return (2u * m + 1u) * 2u;
  };
  auto span = [&](uint32_t size) { return variable ? uint64_t(size) : round8(size); };

  uint64_t recordsSpan = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (hasData(entry(i))) recordsSpan += span(recordSize(entry(i)));
  const uint64_t tableSpan = round8(tableSize);
  if (tableSpan + recordsSpan > 0xFFFFFFFFull) return kErrIo;

  // The table, then the staging area; only padded entries need zeros first.
  std::unique_ptr<char[]> buffer(new char[tableSize ? tableSize : 1]);
  if (entrySize > 4) std::memset(buffer.get(), 0, tableSize);
  void* handle = d.GetDataGroupHandle();
  const uint64_t tablePosition =
      VelFile::file_Allocate(handle, static_cast<uint32_t>(tableSpan + recordsSpan));
  if (tablePosition == 0) return kErrIo;  // offset 0 is a section header: nothing was reserved

  uint64_t next = tablePosition + tableSpan;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t e = entry(i);
    uint32_t value = static_cast<uint32_t>(e);
    if (hasData(e)) {
      value = static_cast<uint32_t>(next);
      next += span(recordSize(e));
    }
    std::memcpy(&buffer[uint64_t(i) * entrySize], &value, 4);
  }
  int result = VelFile::file_Write(handle, tablePosition, buffer.get(), tableSize, nullptr);

  RecordWriter records(handle, buffer.get(), tableSize);
  next = tablePosition + tableSpan;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t e = entry(i);
    if (!hasData(e)) continue;
    const uint32_t size = recordSize(e);
    records.add(next, address(e), size);
    next += span(size);
  }
  result |= records.finish();
  return place(d, tablePosition, result);
}

// One block of E * n bytes copied from the data reference's address.
int writeBlock(D& d) {
  uint32_t n = 0, size = 0;
  if (!product32(widen(d.firstPointCount), widen(d.secondPointCount), &n) ||
      !product32(n, widen(d.pointEntrySize), &size))
    return kErrIo;
  if (size && !d.dataReference) return kErrIo;
  void* handle = d.GetDataGroupHandle();
  const uint64_t position = VelFile::file_Allocate(handle, size);
  if (position == 0) return kErrIo;
  return place(d, position, VelFile::file_Write(handle, position, address(d.dataReference), size, nullptr));
}

}  // namespace

int gdata_WriteDataClassData(D*, D* current) {
  if (!current) {
    VEL_DIAG(kSource);
    return kErrIo;
  }
  try {
    switch (velfile::dataLayout(current->dataClass)) {
      case velfile::DataLayout::Records:
        return writePointData(*current, false);
      case velfile::DataLayout::VariableRecords:
        return writePointData(*current, true);
      case velfile::DataLayout::Block:
        return writeBlock(*current);
      case velfile::DataLayout::None:
        break;
    }
    return kErrIo;
  } catch (const std::bad_alloc&) {
    return VelFile::kErrMemory;
  }
}

// --- sizes: every factor taken as unsigned 32-bit, products wrapping at 2^64 ---

uint64_t D::EvaluateDataFileSize(uint32_t a, uint32_t b, uint32_t q, uint32_t s) const {
  const uint64_t n = uint64_t(a) * b;
  const uint64_t entry = widen(pointEntrySize);
  switch (dataClass) {
    case 1:
      return n * entry + n * q * s;
    case 2:
    case 3:
    case 20:
      return n * s;
    case 10:
    case 11:
    case 2000:
    case 2001:
      return 0;
    default:
      return n * entry;
  }
}

uint64_t D::EvaluateDataFileSize(uint32_t a, uint32_t b) const {
  return EvaluateDataFileSize(a, b, GetSampleQty(), static_cast<uint32_t>(sampleSize));
}

uint64_t D::EvaluateDataFileSize() const {
  return EvaluateDataFileSize(static_cast<uint32_t>(firstPointCount),
                              static_cast<uint32_t>(secondPointCount));
}

uint64_t D::EvaluateDataFileSizeAscanPeak(uint32_t a, uint32_t b, uint32_t p) const {
  const uint32_t factor = 4u * p + 2u;  // wraps at 2^32 before widening
  const uint64_t n = uint64_t(a) * b;
  return n + n * factor;
}

uint64_t D::EvaluateDataFileSizeAscanPeak(uint32_t p) const {
  return EvaluateDataFileSizeAscanPeak(static_cast<uint32_t>(firstPointCount),
                                       static_cast<uint32_t>(secondPointCount), p);
}

uint64_t D::EvaluateDataFileSizeAscanVideo(uint32_t k) const {
  const uint64_t samples = uint64_t(GetSampleQty()) * static_cast<uint32_t>(sampleSize);
  return widen(pointEntrySize) * k + samples * k;
}
