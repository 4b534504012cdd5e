// Conversion of one item element between item types.
#include <cstdint>
#include <cstring>

#include "conversion.h"
#include "diag.h"

namespace velfile {
namespace {

const char kModule[] = "private/src/fileconversionhelper";

// Signed integer value of stored types 2, 4, 6 and unsigned of 3, 5, 7.
bool isSignedInt(uint16_t t) {
  return t == 2 || t == 4 || t == 6;
}
bool isUnsignedInt(uint16_t t) {
  return t == 3 || t == 5 || t == 7;
}
int64_t intValue(uint16_t t, const void* src) {
  switch (t) {
    case 2:
      return load<int8_t>(src);
    case 3:
      return load<uint8_t>(src);
    case 4:
      return load<int16_t>(src);
    case 5:
      return load<uint16_t>(src);
    case 6:
      return load<int32_t>(src);
    default:
      return load<uint32_t>(src);
  }
}
double floatValue(uint16_t t, const void* src) {
  return t == 10 ? static_cast<double>(load<float>(src)) : load<double>(src);
}

// Float to integer truncation toward zero; values out of range are clamped
// instead of being undefined behaviour.
int32_t truncTo32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}
int64_t truncTo64(double v) {
  if (!(v == v)) return 0;
  if (v >= 9223372036854775807.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(v);
}

bool convert(uint16_t req, void* dst, uint16_t st, const void* src) {
  const bool isInt = isSignedInt(st) || isUnsignedInt(st);
  const bool isFloat = st == 10 || st == 11;
  switch (req) {
    case 2:
    case 13:
      if (st == 2 || st == 13 || (st >= 3 && st <= 7)) {
        std::memcpy(dst, src, 1);  // first byte in memory
        return true;
      }
      return false;
    case 3:
      if (st >= 2 && st <= 7) {
        std::memcpy(dst, src, 1);
        return true;
      }
      return false;
    case 4:
    case 5:
      if (st == 2 || st == 3) {
        store<uint16_t>(dst, static_cast<uint16_t>(intValue(st, src)));
      } else if (st >= 4 && st <= 7) {
        std::memcpy(dst, src, 2);
      } else if (isFloat) {
        store<uint16_t>(dst, static_cast<uint16_t>(static_cast<uint32_t>(truncTo32(floatValue(st, src)))));
      } else {
        return false;
      }
      return true;
    case 6:
    case 7:
      if (st == 6 || st == 7) {
        std::memcpy(dst, src, 4);
      } else if (isInt) {
        store<uint32_t>(dst, static_cast<uint32_t>(intValue(st, src)));
      } else if (isFloat) {
        const double v = floatValue(st, src);
        const uint32_t bits = req == 6 ? static_cast<uint32_t>(truncTo32(v))
                                       : static_cast<uint32_t>(static_cast<uint64_t>(truncTo64(v)));
        store<uint32_t>(dst, bits);
      } else {
        return false;
      }
      return true;
    case 10:
      if (isSignedInt(st)) {
        store<float>(dst, static_cast<float>(intValue(st, src)));
      } else if (isUnsignedInt(st)) {
        store<float>(dst, static_cast<float>(static_cast<uint64_t>(intValue(st, src))));
      } else if (st == 10) {
        std::memcpy(dst, src, 4);
      } else if (st == 11) {
        store<float>(dst, static_cast<float>(load<double>(src)));
      } else {
        return false;
      }
      return true;
    case 11:
      if (isSignedInt(st)) {
        store<double>(dst, static_cast<double>(intValue(st, src)));
      } else if (isUnsignedInt(st)) {
        store<double>(dst, static_cast<double>(static_cast<uint64_t>(intValue(st, src))));
      } else if (st == 10) {
        store<double>(dst, static_cast<double>(load<float>(src)));
      } else if (st == 11) {
        std::memcpy(dst, src, 8);
      } else {
        return false;
      }
      return true;
    default:
      return false;
  }
}

}  // namespace

bool convertValue(uint16_t requestedType, void* dst, uint16_t storedType, const void* src) {
  if (convert(requestedType, dst, storedType, src)) return true;
  VEL_DIAG(kModule);
  return false;
}

bool canConvert(uint16_t requestedType, uint16_t storedType) {
  unsigned char src[8] = {}, dst[8];
  return convert(requestedType, dst, storedType, src);
}

}  // namespace velfile
