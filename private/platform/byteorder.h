// Byte order: the one place that knows how to swap a section header, a
// directory entry and value elements by item type.
#ifndef VELFILE_BYTEORDER_H
#define VELFILE_BYTEORDER_H

#include <cstddef>
#include <cstdint>

namespace velfile {

// 0 little-endian, 1 big-endian; computed once at load.
int hostByteOrder();

inline uint16_t swap16(uint16_t v) {
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}
inline uint32_t swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
// UTF-16 text stays as its writer stored it; readers in the other byte order
// swap its units (count of them, at any alignment) with this.
void swapUnits(void* units, size_t count);

struct SectionHeader {
  uint32_t field[9];  // host order; see kHdr* for the meaning of each word
};
enum : int {
  kHdrByteOrder = 0,
  kHdrMagic = 1,
  kHdrVersion = 2,
  kHdrStringFormat = 3,
  kHdrEntryCount = 4,
  kHdrDirOffset = 5,
  kHdrSectionSize = 6,
  kHdrReserved = 7,  // two words, 0
};
const size_t kHeaderSize = 36;
const size_t kEntrySize = 12;
const size_t kDirEntrySpace = 24;  // an entry plus its filler

struct DirEntry {
  uint16_t id;
  uint16_t type;
  uint32_t count;
  uint32_t value;
};

// Raw bytes <-> records, in host order, swapping when asked.
void decodeHeader(const unsigned char raw[kHeaderSize], bool swap, SectionHeader* out);
void encodeHeader(const SectionHeader& h, unsigned char raw[kHeaderSize]);
void decodeEntry(const unsigned char raw[kEntrySize], bool swap, DirEntry* out);
void encodeEntry(const DirEntry& e, unsigned char raw[kEntrySize]);
// Swaps count elements of the given item type in place.
void swapElements(uint16_t type, void* data, size_t count);
// Whether the first header byte means the section needs swapping here.
bool sectionNeedsSwap(unsigned char firstByte);
// Whether the bytes begin a section header: "SURD" or "cpf\0" at offset 4.
bool isSectionHeader(const unsigned char raw[kHeaderSize]);

}  // namespace velfile

#endif
