// The non-template half of the group module framework.
#include "groupmodule.h"

#include <vector>

namespace velfile {

int writeText(void* group, uint16_t id, const VelChar* text, size_t capacity) {
  // Cut to the field and terminated: never read past the field.
  std::vector<VelChar> copy(capacity + 1, 0);
  const size_t n = capacity ? textLength(text, capacity - 1) : 0;
  std::memcpy(copy.data(), text, n * sizeof(VelChar));
  return writeItem(group, id, VelFile::kTypeUtf16, static_cast<uint32_t>(n + 1), copy.data());
}

int readText(void* group, uint16_t index, VelChar* field, size_t capacity) {
  std::vector<VelChar> tmp(capacity, 0);
  int rc = readItemValue(group, index, VelFile::kTypeUtf16, tmp.data(), capacity * sizeof(VelChar), nullptr);
  if (rc != VelFile::kOk || capacity == 0) return rc;
  tmp[capacity - 1] = 0;
  std::memcpy(field, tmp.data(), capacity * sizeof(VelChar));
  return rc;
}

int setGroupName(void* group, const VelChar* name, size_t capacity) {
  std::vector<VelChar> copy(capacity + 1, 0);
  std::memcpy(copy.data(), name, textLength(name, capacity) * sizeof(VelChar));
  return VelFile::file_GroupNameSet(group, copy.data(), static_cast<uint32_t>(capacity));
}

bool fieldsDiffer(Kind kind, const void* a, const void* b, uint32_t capacity) {
  switch (kind) {
    case Kind::Float: {
      float x, y;
      std::memcpy(&x, a, 4);
      std::memcpy(&y, b, 4);
      return !(x == y);  // a NaN is always a change
    }
    case Kind::Double: {
      double x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      return !(x == y);
    }
    case Kind::Int16:
      return std::memcmp(a, b, 2) != 0;
    case Kind::Int32:
    case Kind::Version:
    case Kind::Byte:  // the whole 32-bit field takes part
      return std::memcmp(a, b, 4) != 0;
    case Kind::Text:
      return !textEqual(static_cast<const VelChar*>(a), static_cast<const VelChar*>(b), capacity);
    default:
      return false;
  }
}

int readField(Kind kind, uint16_t type, void* group, uint16_t index, void* field, uint32_t capacity) {
  switch (kind) {
    case Kind::Int32:
    case Kind::Float:
      return readItemValue(group, index, type, field, 4, nullptr);
    case Kind::Double:
      return readItemValue(group, index, type, field, 8, nullptr);
    case Kind::Int16:
      return readItemValue(group, index, type, field, 2, nullptr);
    case Kind::Byte: {
      // Only the low-order byte is stored; the other three are kept.
      int32_t v;
      std::memcpy(&v, field, 4);
      uint8_t b = static_cast<uint8_t>(v & 0xFF);
      int rc = readItemValue(group, index, VelFile::kTypeUInt8, &b, 1, nullptr);
      if (rc == VelFile::kOk) {
        v = static_cast<int32_t>((static_cast<uint32_t>(v) & 0xFFFFFF00u) | b);
        std::memcpy(field, &v, 4);
      }
      return rc;
    }
    case Kind::Text:
      return readText(group, index, static_cast<VelChar*>(field), capacity);
    default:
      return VelFile::kOk;
  }
}

int writeField(Kind kind, uint16_t id, uint16_t type, void* group, const void* field, uint32_t capacity) {
  switch (kind) {
    case Kind::Byte: {
      int32_t v;
      std::memcpy(&v, field, 4);
      const uint8_t b = static_cast<uint8_t>(v & 0xFF);
      return writeItem(group, id, VelFile::kTypeUInt8, 1, &b);
    }
    case Kind::Text:
      return writeText(group, id, static_cast<const VelChar*>(field), capacity);
    default:
      return writeItem(group, id, type, 1, field);
  }
}

}  // namespace velfile

namespace velfile {

namespace {

// The byte size of a record block, false when it cannot be one.
bool recordBytes(int32_t recordCount, uint32_t recordSize, uint32_t* bytes) {
  if (recordCount < 0) return false;
  const uint64_t n = static_cast<uint64_t>(recordCount) * recordSize;
  if (n > UINT32_MAX) return false;
  *bytes = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

uint32_t writeRecords(void* handle, int32_t recordCount, const void* records, uint32_t recordSize) {
  uint32_t bytes = 0;
  if (!recordBytes(recordCount, recordSize, &bytes)) return 0;
  const uint32_t offset = static_cast<uint32_t>(VelFile::file_Allocate(handle, bytes));
  // Offset 0 is the section header: nothing was reserved, so nothing may be written.
  if (offset != 0) VelFile::file_Write(handle, offset, static_cast<const char*>(records), bytes, nullptr);
  return offset;
}

int readRecords(void* group, int32_t offset, int32_t recordCount, void* records, uint32_t recordSize) {
  uint32_t bytes = 0;
  if (!recordBytes(recordCount, recordSize, &bytes)) return VelFile::kErrIo;
  return VelFile::file_ReadBlock(group, static_cast<uint32_t>(offset), bytes, static_cast<char*>(records));
}

}  // namespace velfile

namespace velfile {

void setDefault(Kind kind, void* field, double initial, uint32_t capacity, bool keepsTail) {
  switch (kind) {
    case Kind::Int16: {
      const int16_t v = static_cast<int16_t>(initial);
      std::memcpy(field, &v, 2);
      break;
    }
    case Kind::Float: {
      const float v = static_cast<float>(initial);
      std::memcpy(field, &v, 4);
      break;
    }
    case Kind::Double:
      std::memcpy(field, &initial, 8);
      break;
    case Kind::Text:
      if (keepsTail)
        static_cast<VelChar*>(field)[0] = 0;
      else
        copyText(static_cast<VelChar*>(field), capacity, nullptr);
      break;
    case Kind::Custom:
      break;
    default: {  // 32-bit fields, signed or not
      const int32_t v = static_cast<int32_t>(static_cast<int64_t>(initial));
      std::memcpy(field, &v, 4);
    }
  }
}

size_t fieldBytes(Kind kind, uint32_t capacity) {
  switch (kind) {
    case Kind::Int16:
      return 2;
    case Kind::Double:
      return 8;
    case Kind::Text:
      return capacity * sizeof(VelChar);
    case Kind::Custom:
      return 0;
    default:
      return 4;
  }
}

void wipeBytes(void* field, size_t bytes) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(field);
  for (size_t i = 0; i < bytes; ++i) p[i] = 0;
}

void copyField(Kind kind, void* to, const void* from, uint32_t capacity) {
  switch (kind) {
    case Kind::Int16:
      std::memcpy(to, from, 2);
      break;
    case Kind::Double:
      std::memcpy(to, from, 8);
      break;
    case Kind::Text:
      copyText(static_cast<VelChar*>(to), capacity, static_cast<const VelChar*>(from));
      break;
    case Kind::Custom:
      break;
    default:
      std::memcpy(to, from, 4);
  }
}

}  // namespace velfile
