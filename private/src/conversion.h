// Value conversion between item types (one element at a time).
#ifndef VELFILE_CONVERSION_H
#define VELFILE_CONVERSION_H

#include <cstdint>
#include <cstring>

namespace velfile {

// An element of type T at p, which needs no alignment.
template <typename T>
T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Converts the element at src, stored as storedType, into the requested type
// at dst. An unsupported pair is a caller error: dst is left untouched, a
// diagnostic report is made and false returned.
bool convertValue(uint16_t requestedType, void* dst, uint16_t storedType, const void* src);
// Whether convertValue accepts the pair (no report is made).
bool canConvert(uint16_t requestedType, uint16_t storedType);

}  // namespace velfile

#endif
