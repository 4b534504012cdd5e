#include "byteorder.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velfile {
namespace {

int detectHostByteOrder() {
  const uint16_t probe = 0xFEFF;
  unsigned char b[2];
  std::memcpy(b, &probe, 2);
  if (b[0] == 0xFF && b[1] == 0xFE) return 0;
  if (b[0] == 0xFE && b[1] == 0xFF) return 1;
  std::fprintf(stderr, "assumption failed: unsigned integer types have unusual representation\n");
  std::abort();
}

const int g_hostOrder = detectHostByteOrder();

uint32_t load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint16_t load16(const unsigned char* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

void reverse(unsigned char* p, size_t n) {
  for (size_t i = 0, j = n - 1; i < j; ++i, --j) {
    unsigned char t = p[i];
    p[i] = p[j];
    p[j] = t;
  }
}

}  // namespace

int hostByteOrder() {
  return g_hostOrder;
}

bool sectionNeedsSwap(unsigned char firstByte) {
  if (g_hostOrder == 1) return firstByte != 0x11;
  return firstByte != 0x44;
}

bool isSectionHeader(const unsigned char raw[kHeaderSize]) {
  static const unsigned char kSurd[4] = {'S', 'U', 'R', 'D'};
  static const unsigned char kCpf[4] = {'c', 'p', 'f', 0};
  return std::memcmp(raw + 4, kSurd, 4) == 0 || std::memcmp(raw + 4, kCpf, 4) == 0;
}

void decodeHeader(const unsigned char raw[kHeaderSize], bool swap, SectionHeader* out) {
  for (int i = 0; i < 9; ++i) out->field[i] = load32(raw + 4 * i);
  // Only the six counting fields are swapped; the marker, the magic and the
  // last reserved word stay as read.
  if (swap)
    for (int i = 2; i <= 7; ++i) out->field[i] = swap32(out->field[i]);
}

void encodeHeader(const SectionHeader& h, unsigned char raw[kHeaderSize]) {
  for (int i = 0; i < 9; ++i) std::memcpy(raw + 4 * i, &h.field[i], 4);
}

void decodeEntry(const unsigned char raw[kEntrySize], bool swap, DirEntry* out) {
  out->id = load16(raw);
  out->type = load16(raw + 2);
  out->count = load32(raw + 4);
  unsigned char value[4];
  std::memcpy(value, raw + 8, 4);
  if (swap) {
    out->id = swap16(out->id);
    out->type = swap16(out->type);
    out->count = swap32(out->count);
    bool whole = true;
    switch (out->type) {
      case 1:
      case 2:
      case 3:
        whole = out->count > 4;
        break;
      case 4:
      case 5:
        if (out->count <= 2) {
          reverse(value, 2);
          reverse(value + 2, 2);
          whole = false;
        }
        break;
      case 12:
        whole = out->count > 2;
        break;
      default:
        break;
    }
    if (whole) reverse(value, 4);
  }
  std::memcpy(&out->value, value, 4);
}

void encodeEntry(const DirEntry& e, unsigned char raw[kEntrySize]) {
  std::memcpy(raw, &e.id, 2);
  std::memcpy(raw + 2, &e.type, 2);
  std::memcpy(raw + 4, &e.count, 4);
  std::memcpy(raw + 8, &e.value, 4);
}

void swapUnits(void* units, size_t count) {
  unsigned char* p = static_cast<unsigned char*>(units);
  for (size_t i = 0; i < count; ++i) reverse(p + 2 * i, 2);
}

void swapElements(uint16_t type, void* data, size_t count) {
  unsigned char* p = static_cast<unsigned char*>(data);
  switch (type) {
    case 4:
    case 5:
      for (size_t i = 0; i < count; ++i) reverse(p + 2 * i, 2);
      break;
    case 6:
    case 7:
    case 10:
      for (size_t i = 0; i < count; ++i) reverse(p + 4 * i, 4);
      break;
    case 8:
    case 9:
      // Two 32-bit words: each reversed in place, their order kept.
      for (size_t i = 0; i < 2 * count; ++i) reverse(p + 4 * i, 4);
      break;
    case 11:
      for (size_t i = 0; i < count; ++i) reverse(p + 8 * i, 8);
      break;
    default:
      break;
  }
}

}  // namespace velfile
