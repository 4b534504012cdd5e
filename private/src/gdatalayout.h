// How a data class lays out its bulk data: shared by the data module's
// writer and reader and by the C++ layer's data groups.
#ifndef VELFILE_GDATALAYOUT_H
#define VELFILE_GDATALAYOUT_H

#include <velfile/gdata.h>

#include <cstdint>
#include <vector>

namespace velfile {

enum class DataLayout { None, Records, VariableRecords, Block };

inline DataLayout dataLayout(int32_t c) {
  if (c == 1) return DataLayout::Records;
  if (c == 10) return DataLayout::VariableRecords;
  const bool block = c == 2 || c == 3 || c == 5 || c == 6 || c == 17 || c == 20 || (c >= 30 && c <= 37) ||
                     (c >= 40 && c <= 43);
  return block ? DataLayout::Block : DataLayout::None;
}

inline bool isBlockClass(int32_t c) {
  return dataLayout(c) == DataLayout::Block;
}

// Class 1: each point's entry of the point table, second-major (the offset
// of its record in the section, or a marker below 3 for a point without
// data), after the checks a read makes: every record inside the section and
// clear of the others and of the table. A result code of the data module's.
int recordEntries(CGDataTypeFDD* descr, std::vector<uint32_t>* entries);

}  // namespace velfile

#endif
