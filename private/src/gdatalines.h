// A data group's bulk data written line by line, in the layout of its data
// class: the one writer of that layout. gdata_WriteDataClassData feeds it
// every line at once; the C++ layer feeds it each line as an acquisition
// produces it, so that a host never holds more than one line.
//
// A line is the first point count points of one second point index (points
// are numbered second-major). Lines go in order. In memory a line is, by
// layout: for the record classes (1, 10), first point count 64-bit entries,
// each 0, 1 or 2 (a point without data, kept as its marker) or the address
// of the point's record; for the block classes, first point count entries
// of E bytes. In the file the lines fill, in order, the point table and the
// records after it (or the block), so that writing them one by one gives the
// bytes that writing them all at once gives, as long as nothing else is
// reserved in the section in between; when something is, the records that
// follow go after it, and the point table still finds them.
#ifndef VELFILE_GDATALINES_H
#define VELFILE_GDATALINES_H

#include <velfile/gdata.h>

#include <cstdint>
#include <vector>

#include "gdatalayout.h"

namespace velfile {

class DataLines {
 public:
  static const uint64_t kUnknownSpan = ~uint64_t(0);

  // Takes d's layout, counts and sizes; kErrIo for a class without a layout,
  // an entry size below 4 (record classes) or products that pass 32 bits.
  int prepare(const CGDataTypeFDD& d);
  // Bytes the records of count lines take in the file (0 for a block).
  uint64_t recordsSpan(const void* lines, uint32_t count) const;
  // Prepares, then reserves what comes first in the data group's section:
  // the point table, with the records of every line too when recordsSpan is
  // known, or the block. Stores where it went in d.dataReference and as item
  // 10461 of d's group handle. kErrIo with nothing reserved when preparing
  // failed or nothing could be reserved; otherwise the item's result.
  int reserve(CGDataTypeFDD& d, uint64_t recordsSpan = kUnknownSpan);
  // Writes the next count lines (kErrIo past the last line).
  int write(const void* lines, uint32_t count);
  // Stores every line not written: its points without data (marker 0) in a
  // record class, zero bytes in a block.
  int fill();

  bool reserved() const { return reserved_; }
  DataLayout layout() const { return layout_; }
  uint32_t lineCount() const { return second_; }
  uint32_t pointsPerLine() const { return first_; }
  uint32_t written() const { return written_; }
  // A point's bytes: the record size of class 1, the entry size of a block.
  uint32_t pointBytes() const { return layout_ == DataLayout::Block ? entrySize_ : recordSize_; }

 private:
  uint32_t sizeOf(uint64_t entry) const;
  uint64_t spanOf(uint32_t size) const;
  int ensure(uint64_t span);

  DataLayout layout_ = DataLayout::None;
  void* handle_ = nullptr;  // the data group handle: whose section receives the data
  uint32_t first_ = 0, second_ = 0, entrySize_ = 0, recordSize_ = 0, tableSize_ = 0;
  uint64_t table_ = 0;  // the point table's (or the block's) offset in the section
  uint64_t next_ = 0;   // where the next record goes
  uint64_t end_ = 0;    // the end of what is reserved for records
  uint32_t written_ = 0;
  bool reserved_ = false;
  std::vector<char> buffer_;  // a table slice, then the staging of its records
};

// Writes d's items into a data group as gdata_WriteGroupInfo does (mode 0,
// no previous descriptor) and reserves its bulk data in lines, for writing
// line by line; the result as gdata_WriteGroupInfo gives it.
int reserveDataLines(void* group, CGDataTypeFDD& d, DataLines* lines);

}  // namespace velfile

#endif
