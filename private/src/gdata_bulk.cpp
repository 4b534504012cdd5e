// The data group's bulk data: how large it is and where it goes in the file.
#include <velfile/gdata.h>

#include <algorithm>
#include <memory>

#include "gdatalines.h"
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
int place(D& d, uint64_t position) {
  d.dataReference = position;
  if (position > 0xFFFFFFFFull) VEL_DIAG(kSource);
  const uint32_t low = static_cast<uint32_t>(position);
  return velfile::writeItem(d.GetGroupHandle(), kItemDataReference, VelFile::kTypeUInt32, 1, &low);
}

// Every line at once, from the data reference's address: the point table
// and the records reserved together, which places them as reserving them
// line by line would.
int writeAll(D& d) {
  velfile::DataLines lines;
  int rc = lines.prepare(d);
  if (rc != kOk) return rc;
  const bool any = lines.lineCount() && lines.pointsPerLine() &&
                   (lines.layout() != velfile::DataLayout::Block || lines.pointBytes());
  if (any && !d.dataReference) return kErrIo;
  const void* data = address(d.dataReference);
  rc = lines.reserve(d, lines.recordsSpan(data, lines.lineCount()));
  if (!lines.reserved()) return rc;
  return rc | lines.write(data, lines.lineCount());
}

}  // namespace

namespace velfile {

int DataLines::prepare(const D& d) {
  layout_ = dataLayout(d.dataClass);
  const bool records = layout_ == DataLayout::Records || layout_ == DataLayout::VariableRecords;
  first_ = static_cast<uint32_t>(d.firstPointCount);
  second_ = static_cast<uint32_t>(d.secondPointCount);
  entrySize_ = static_cast<uint32_t>(d.pointEntrySize);
  uint32_t n = 0;
  if (layout_ == DataLayout::None || !product32(first_, second_, &n) ||
      !product32(n, entrySize_, &tableSize_) || (records && entrySize_ < 4) ||
      (layout_ == DataLayout::Records && !product32(widen(d.sampleSize), d.GetSampleQty(), &recordSize_)))
    return kErrIo;
  handle_ = const_cast<D&>(d).GetDataGroupHandle();
  return kOk;
}

uint32_t DataLines::sizeOf(uint64_t e) const {
  if (layout_ != DataLayout::VariableRecords) return recordSize_;
  uint16_t m;
  std::memcpy(&m, address(e), 2);
  return (2u * m + 1u) * 2u;
}

uint64_t DataLines::spanOf(uint32_t size) const {
  return layout_ == DataLayout::VariableRecords ? uint64_t(size) : round8(size);
}

uint64_t DataLines::recordsSpan(const void* lines, uint32_t count) const {
  if (layout_ == DataLayout::Block) return 0;
  const char* p = static_cast<const char*>(lines);
  uint64_t span = 0;
  for (uint64_t i = 0; i < uint64_t(count) * first_; ++i) {
    uint64_t e;
    std::memcpy(&e, p + i * 8, 8);
    if (hasData(e)) span += spanOf(sizeOf(e));
  }
  return span;
}

int DataLines::reserve(D& d, uint64_t recordsSpan) {
  reserved_ = false;
  written_ = 0;
  if (prepare(d) != kOk) return kErrIo;
  const bool block = layout_ == DataLayout::Block;
  const uint64_t tableSpan = block ? tableSize_ : round8(tableSize_);
  const uint64_t known = recordsSpan == kUnknownSpan ? 0 : recordsSpan;
  if (tableSpan + known > 0xFFFFFFFFull) return kErrIo;
  table_ = VelFile::file_Allocate(handle_, static_cast<uint32_t>(tableSpan + known));
  if (table_ == 0) return kErrIo;  // offset 0 is a section header: nothing was reserved
  reserved_ = true;
  next_ = table_ + tableSpan;
  end_ = table_ + round8(tableSpan + known);
  return place(d, table_);
}

// Reserves room for span more bytes of records at next_: what is reserved
// already, then a block that follows it, or one of its own when something
// else was reserved in between.
int DataLines::ensure(uint64_t span) {
  for (int tries = 0; tries < 2 && next_ + span > end_; ++tries) {
    const uint64_t need = next_ + span - end_;
    const uint64_t at =
        need > 0xFFFFFFFFull ? 0 : VelFile::file_Allocate(handle_, static_cast<uint32_t>(need));
    if (at == 0) return kErrIo;
    if (at != end_) next_ = at;
    end_ = at + round8(need);
  }
  return next_ + span <= end_ ? kOk : kErrIo;
}

int DataLines::write(const void* lines, uint32_t count) {
  if (!reserved_ || count > second_ - written_) return kErrIo;
  const uint64_t points = uint64_t(count) * first_;
  const uint64_t at = table_ + uint64_t(written_) * first_ * entrySize_;
  const char* data = static_cast<const char*>(lines);
  if (layout_ == DataLayout::Block) {
    written_ += count;
    return VelFile::file_Write(handle_, at, data, static_cast<uint32_t>(points * entrySize_), nullptr);
  }
  const uint64_t span = recordsSpan(lines, count);
  if (ensure(span) != kOk) return kErrIo;
  auto entry = [&](uint64_t i) {
    uint64_t e;
    std::memcpy(&e, data + i * 8, 8);
    return e;
  };
  // The table slice, then the staging area; only padded entries need zeros first.
  const size_t sliceSize = static_cast<size_t>(points * entrySize_);
  const size_t kStaging = 64 * 1024;
  buffer_.resize(std::max<size_t>({sliceSize, kStaging, 1}));
  if (entrySize_ > 4) std::memset(buffer_.data(), 0, sliceSize);
  uint64_t next = next_;
  for (uint64_t i = 0; i < points; ++i) {
    const uint64_t e = entry(i);
    uint32_t value = static_cast<uint32_t>(e);
    if (hasData(e)) {
      value = static_cast<uint32_t>(next);
      next += spanOf(sizeOf(e));
    }
    std::memcpy(&buffer_[size_t(i) * entrySize_], &value, 4);
  }
  int result = VelFile::file_Write(handle_, at, buffer_.data(), static_cast<uint32_t>(sliceSize), nullptr);
  RecordWriter records(handle_, buffer_.data(), buffer_.size());
  next = next_;
  for (uint64_t i = 0; i < points; ++i) {
    const uint64_t e = entry(i);
    if (!hasData(e)) continue;
    const uint32_t size = sizeOf(e);
    records.add(next, address(e), size);
    next += spanOf(size);
  }
  next_ = next;
  written_ += count;
  result |= records.finish();
  if (written_ == second_) std::vector<char>().swap(buffer_);  // a whole group holds nothing
  return result;
}

int DataLines::fill() {
  if (!reserved_ || written_ == second_) return kOk;
  // Zeros, a line or 1 MiB of lines at a time.
  const uint64_t line = uint64_t(first_) * entrySize_;
  const uint64_t perChunk = line ? std::max<uint64_t>(1, (1u << 20) / line) : second_;
  std::vector<char> zeros(static_cast<size_t>(std::min<uint64_t>(perChunk, second_ - written_) * line));
  int result = kOk;
  while (written_ < second_) {
    const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(perChunk, second_ - written_));
    result |= VelFile::file_Write(handle_, table_ + uint64_t(written_) * line, zeros.data(),
                                  static_cast<uint32_t>(k * line), nullptr);
    written_ += k;
  }
  return result;
}

}  // namespace velfile

int gdata_WriteDataClassData(D*, D* current) {
  if (!current) {
    VEL_DIAG(kSource);
    return kErrIo;
  }
  try {
    return writeAll(*current);
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
