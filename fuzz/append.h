// Appends a section to a container file of any bytes opened for update
// (".A01") and checks the promise of appending: whatever the file held, the
// close succeeds, every byte before the new section is as it was, and the new
// section reads back. Shared by the append fuzzer and the regression test.
#ifndef VELFILE_FUZZ_APPEND_H
#define VELFILE_FUZZ_APPEND_H

#include <cstring>

#include "walk.h"

namespace vfz {
namespace append {

inline const uint32_t kNumber = 0x01020304;
inline const double kDoubles[3] = {1.5, -2.25, 1e300};
inline const char kBulk[20] = "bulk data, 20 bytes";

// Adds one section with values inline and out of line, a sub-group and a
// bulk block. Returns false when the file takes no new section.
inline bool appendSection(void* file) {
  void *section = nullptr, *sub = nullptr;
  if (VelFile::file_GroupCreate(file, &section, 0, VELFILE_TEXT("Appended section")) != 0) return false;
  VFZ_CHECK(VelFile::file_ItemValueWrite(section, 1, VelFile::kTypeUInt32, 1,
                                         reinterpret_cast<const char*>(&kNumber)) == 0);
  VFZ_CHECK(VelFile::file_ItemValueWrite(section, 2, VelFile::kTypeDouble, 3,
                                         reinterpret_cast<const char*>(kDoubles)) == 0);
  VFZ_CHECK(VelFile::file_GroupCreate(section, &sub, 3, VELFILE_TEXT("Sub")) == 0);
  const uint64_t block = VelFile::file_Allocate(sub, sizeof kBulk);
  VFZ_CHECK(block != 0);
  VFZ_CHECK(VelFile::file_Write(file, block, kBulk, sizeof kBulk, nullptr) == 0);
  VFZ_CHECK(VelFile::file_ItemOffsetWrite(sub, 4, VelFile::kTypeRaw, sizeof kBulk,
                                          static_cast<uint32_t>(block)) == 0);
  return true;
}

// Reads the appended section back from the reopened file.
inline void checkSection(void* file, uint32_t index) {
  uint32_t key = 0;
  void *section = nullptr, *sub = nullptr;
  VFZ_CHECK(VelFile::file_ItemInfo(file, index, nullptr, nullptr, nullptr, &key, nullptr, 0) == 0);
  VFZ_CHECK(VelFile::file_GroupOpen(file, &section, key) == 0);
  VelChar name[32];
  VFZ_CHECK(VelFile::file_GroupNameGet(section, name, 32) == 0);
  VFZ_CHECK(vfz::VelString(name) == VELFILE_TEXT("Appended section"));
  uint32_t number = 0, count = 0;
  VFZ_CHECK(VelFile::file_IndexValueRead(section, 1, VelFile::kTypeUInt32, reinterpret_cast<char*>(&number),
                                         &count) == 0);
  VFZ_CHECK(number == kNumber);
  double doubles[3] = {};
  VFZ_CHECK(
      VelFile::file_IndexBlockRead(section, 2, VelFile::kTypeDouble, reinterpret_cast<char*>(doubles)) == 0);
  VFZ_CHECK(std::memcmp(doubles, kDoubles, sizeof doubles) == 0);
  VFZ_CHECK(VelFile::file_ItemInfo(section, 3, nullptr, nullptr, nullptr, &key, nullptr, 0) == 0);
  VFZ_CHECK(VelFile::file_GroupOpen(section, &sub, key) == 0);
  char bulk[sizeof kBulk] = {};
  VFZ_CHECK(VelFile::file_IndexValueRead(sub, 1, VelFile::kTypeRaw, bulk, &count) == 0);
  VFZ_CHECK(std::memcmp(bulk, kBulk, sizeof bulk) == 0);
}

}  // namespace append

// path must end in ".A01".
inline void appendAndCheck(const uint8_t* data, size_t size, const std::string& path) {
  using namespace append;
  const VelString wide = vfz::widen(path);
  if (!writeBytes(path, data, size)) return;
  void* file = nullptr;
  if (VelFile::file_Open(wide.c_str(), &file) != 0) return;
  const uint32_t sections = VelFile::file_ItemNbrGet(file);
  const bool appended = appendSection(file);
  VFZ_CHECK(VelFile::file_Close(file) == 0);
  if (!appended) return;

  VFZ_CHECK(VelFile::file_Open(wide.c_str(), &file) == 0);
  VFZ_CHECK(VelFile::file_ItemNbrGet(file) == sections + 1);
  uint32_t start = 0;
  VFZ_CHECK(VelFile::file_ItemInfo(file, sections, nullptr, nullptr, nullptr, &start, nullptr, 0) == 0);
  checkSection(file, sections);
  VFZ_CHECK(VelFile::file_Close(file) == 0);

  // Nothing before the new section was touched.
  std::ifstream in(path, std::ios::binary);
  std::vector<char> now(std::min<size_t>(size, start));
  in.read(now.data(), static_cast<std::streamsize>(now.size()));
  VFZ_CHECK(in && std::memcmp(now.data(), data, now.size()) == 0);

  Walker walker(size + 4096);
  walker.walkPath(wide);
}

}  // namespace vfz

#endif
