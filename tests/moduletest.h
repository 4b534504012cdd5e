// Helpers for the group module tests: a file with one group to write a
// descriptor into, reopening it for reading, the item ids a write produced,
// and counters for a module's enter and leave hooks.
#ifndef VELFILE_TESTS_MODULETEST_H
#define VELFILE_TESTS_MODULETEST_H

#include <algorithm>
#include <vector>

#include "testutil.h"

namespace vt {

class ModuleTest : public VelTest {
 protected:
  void TearDown() override {
    if (file_) VelFile::file_Close(file_);
    file_ = nullptr;
    VelTest::TearDown();
  }

  // Creates "module.bin" with a section group and one sub-group to write
  // into; returns the sub-group's handle.
  void* writeGroup(const VelString& name = VT_TEXT("Group")) {
    EXPECT_EQ(0, VelFile::file_Create(vpath("module.bin").c_str(), &file_));
    void* section = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupCreate(file_, &section, 0, VT_TEXT("Section")));
    void* group = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupCreate(section, &group, 1, name.c_str()));
    return group;
  }

  // Closes the written file, opens it again and returns the sub-group.
  void* reopenGroup() {
    EXPECT_EQ(0, VelFile::file_Close(file_));
    file_ = nullptr;
    EXPECT_EQ(0, VelFile::file_Open(vpath("module.bin").c_str(), &file_));
    void* section = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupOpen(file_, &section, 0));
    uint32_t key = 0;
    EXPECT_EQ(0, VelFile::file_ItemInfo(section, 1, nullptr, nullptr, nullptr, &key, nullptr, 0));
    void* group = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupOpen(section, &group, key));
    return group;
  }

  // Writes a hand-made one-section file whose group holds a name item and
  // the two entries `entries` adds, opens it and returns that group.
  template <class F>
  void* openHandMadeGroup(F&& entries) {
    Image img;
    img.header(3, 40, 0).padTo(40);
    img.entryInline(10000, 12, 2, VT_TEXT("G"), 4);
    entries(img);
    img.padTo(40 + 72);
    img.put32(24, static_cast<uint32_t>(img.size()));
    writeFile(path("handmade.bin"), img.bytes);
    EXPECT_EQ(0, VelFile::file_Open(vpath("handmade.bin").c_str(), &file_));
    void* group = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupOpen(file_, &group, 0));
    return group;
  }

  // Ids of the items of a group from index `from` on, in directory order.
  static std::vector<uint16_t> itemIds(void* group, uint32_t from = 0) {
    std::vector<uint16_t> ids;
    const uint32_t n = VelFile::file_ItemNbrGet(group);
    for (uint32_t i = from; i < n; ++i) {
      uint16_t id = 0;
      VelFile::file_ItemInfo(group, i, &id, nullptr, nullptr, nullptr, nullptr, 0);
      ids.push_back(id);
    }
    return ids;
  }

  // Ids written by one call: run `write` and list the items it appended.
  template <class F>
  static std::vector<uint16_t> idsWrittenBy(void* group, F&& write) {
    const uint32_t before = VelFile::file_ItemNbrGet(group);
    write();
    return itemIds(group, before);
  }

  static std::vector<uint16_t> sorted(std::vector<uint16_t> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  void* file_ = nullptr;
};

// Counts a module's enter and leave hooks.
struct HookCount {
  static int& enters() {
    static int n = 0;
    return n;
  }
  static int& leaves() {
    static int n = 0;
    return n;
  }
  static void enter() { ++enters(); }
  static void leave() { ++leaves(); }
  static void reset() { enters() = leaves() = 0; }
};

}  // namespace vt

#endif
