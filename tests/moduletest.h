// Helpers for the group module tests: every module behind one interface,
// a file to write groups into, the item ids a write produced, a value
// pattern that rewrites every item a module wrote, and a listing of a group
// to compare two of them.
#ifndef VELFILE_TESTS_MODULETEST_H
#define VELFILE_TESTS_MODULETEST_H

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "../fuzz/modules.h"
#include "testutil.h"

namespace vt {

using vfz::Module;
using vfz::modules;
using Ids = std::vector<uint16_t>;

// Ids of the items of a group from index `from` on, in directory order.
inline Ids itemIds(void* group, uint32_t from = 0) {
  Ids ids;
  for (uint32_t i = from; i < VelFile::file_ItemNbrGet(group); ++i) {
    uint16_t id = 0;
    VelFile::file_ItemInfo(group, i, &id, nullptr, nullptr, nullptr, nullptr, 0);
    ids.push_back(id);
  }
  return ids;
}

// Ids written by one call: run `write` and list the items it appended.
template <class F>
Ids idsWrittenBy(void* group, F&& write) {
  const uint32_t before = VelFile::file_ItemNbrGet(group);
  write();
  return itemIds(group, before);
}

// One item: id, type, count and its value bytes (the value field itself when
// it holds 4 bytes or less).
struct Item {
  uint16_t id = 0, type = 0;
  uint32_t count = 0;
  Bytes value;
};

inline Item itemAt(void* g, uint32_t i) {
  Item it;
  uint32_t field = 0;
  VelFile::file_ItemInfo(g, i, &it.id, &it.type, &it.count, &field, nullptr, 0);
  const uint64_t n = uint64_t(VelFile::file_SizeOf(it.type)) * it.count;
  it.value = bytesOf(field);
  if (n > 4 && it.type != VelFile::kTypeGroup) {
    it.value.assign(n, 0);
    VelFile::file_ReadBlock(g, field, uint32_t(n), mp(it.value.data()));
  }
  return it;
}

// A group as text, one item a line, sub-groups indented, values in
// little-endian order; UTF-16 values are byte-reversed when swapText is set
// (what the other byte order reads), except a name item equal to `keptName`.
inline std::string listing(void* g, bool swapText = false, const VelString& keptName = VelString(),
                           const std::string& indent = "") {
  std::string out;
  const Bytes kept(cp(keptName.c_str()), cp(keptName.c_str() + keptName.size() + 1));
  for (uint32_t i = 0; i < VelFile::file_ItemNbrGet(g); ++i) {
    Item it = itemAt(g, i);
    out += indent + std::to_string(it.id) + " " + std::to_string(it.type) + " " + std::to_string(it.count);
    if (it.type == VelFile::kTypeGroup) {
      void* sub = nullptr;
      uint32_t key = 0;
      VelFile::file_ItemInfo(g, i, nullptr, nullptr, nullptr, &key, nullptr, 0);
      out += VelFile::file_GroupOpen(g, &sub, key) == 0
                 ? "\n" + listing(sub, swapText, keptName, indent + "  ")
                 : " unreadable\n";
      continue;
    }
    if (swapText && it.type == VelFile::kTypeUtf16 && !(it.id == VelFile::kItemName && it.value == kept))
      it.value = reversedElements(it.value, it.type);
    if (hostBigEndian()) it.value = reversedElements(it.value, it.type);  // the same text on every machine
    out += " :";
    for (uint8_t v : it.value) out += " " + std::to_string(v);
    out += "\n";
  }
  return out;
}

// A group's items as "id type value" rows joined by "; ", sub-groups in
// braces: integers and floats as numbers (a run of one value as value*n),
// texts quoted, other types as hex bytes. The same text on every machine.
inline std::string values(void* g) {
  std::string out;
  for (uint32_t i = 0; i < VelFile::file_ItemNbrGet(g); ++i) {
    Item it = itemAt(g, i);
    out += (i ? "; " : "") + std::to_string(it.id) + " " + std::to_string(it.type);
    if (it.type == VelFile::kTypeGroup) {
      void* sub = nullptr;
      uint32_t key = 0;
      VelFile::file_ItemInfo(g, i, nullptr, nullptr, nullptr, &key, nullptr, 0);
      out += VelFile::file_GroupOpen(g, &sub, key) == 0 ? " {" + values(sub) + "}" : " unreadable";
      continue;
    }
    const size_t size = static_cast<size_t>(VelFile::file_SizeOf(it.type));
    if (hostBigEndian()) it.value = reversedElements(it.value, it.type);
    auto element = [&](uint32_t e) -> std::string {
      const uint8_t* p = &it.value[e * size];
      uint64_t u = 0;
      for (size_t k = size; k-- > 0;) u = (u << 8) | p[k];
      char buf[40];
      // printf's way with exponents differs between C libraries: "e+037" is "e+37".
      auto real = [&buf](double v, int digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        std::string s = buf;
        const size_t e = s.find('e');
        if (e != std::string::npos) {
          size_t z = e + 2;
          while (z + 1 < s.size() && s[z] == '0') s.erase(z, 1);
        }
        return s;
      };
      switch (it.type) {
        case VelFile::kTypeInt8:
          return std::to_string(int8_t(u));
        case VelFile::kTypeInt16:
          return std::to_string(int16_t(u));
        case VelFile::kTypeInt32:
          return std::to_string(int32_t(u));
        case VelFile::kTypeUInt8:
        case VelFile::kTypeUInt16:
        case VelFile::kTypeUInt32:
          return std::to_string(u);
        case VelFile::kTypeFloat: {
          float f;
          const uint32_t w = uint32_t(u);
          std::memcpy(&f, &w, 4);
          return real(f, 9);
        }
        case VelFile::kTypeDouble: {
          double d;
          std::memcpy(&d, &u, 8);
          return real(d, 17);
        }
        default:
          std::snprintf(buf, sizeof buf, "%0*llx", int(2 * size), static_cast<unsigned long long>(u));
          return buf;
      }
    };
    if (it.type == VelFile::kTypeUtf16 || it.type == VelFile::kTypeNarrow) {
      out += " \"";
      for (uint32_t e = 0; e + 1 < it.count; ++e) {
        const uint32_t c =
            it.type == VelFile::kTypeNarrow ? it.value[e] : it.value[2 * e] | it.value[2 * e + 1] << 8;
        char buf[12];
        std::snprintf(buf, sizeof buf, c >= 32 && c < 127 && c != '"' ? "%c" : "\\u%04x", c);
        out += buf;
      }
      out += "\"";
      continue;
    }
    for (uint32_t e = 0; e < it.count;) {
      uint32_t run = 1;
      while (e + run < it.count && !std::memcmp(&it.value[e * size], &it.value[(e + run) * size], size))
        ++run;
      out += " " + element(e) + (run > 1 ? "*" + std::to_string(run) : "");
      e += run;
    }
  }
  return out;
}

// Copies the items of `from` (from index 1: `to` has its name already) into
// `to`, those that `patterned` picks (all by default) with patterned values
// of the same ids, types and counts (texts of textLength units if given);
// the layout version is kept. Values are
// small, so that enumerations and flags stay in range, and differ between
// byte orders in their multi-byte types.
inline void patternItems(void* from, void* to, const std::function<bool(uint32_t)>& patterned = nullptr,
                         size_t textLength = 0) {
  for (uint32_t i = 1; i < VelFile::file_ItemNbrGet(from); ++i) {
    Item it = itemAt(from, i);
    if (it.type == VelFile::kTypeGroup) {
      VelChar name[64] = {};
      uint32_t key = 0;
      void *a = nullptr, *b = nullptr;
      VelFile::file_ItemInfo(from, i, nullptr, nullptr, nullptr, &key, name, 64);
      VelFile::file_GroupOpen(from, &a, key);
      VelFile::file_GroupCreate(to, &b, it.id, name);
      if (a && b) patternItems(a, b, patterned, textLength);
      continue;
    }
    if (it.id != VelFile::kItemLayoutVersion && (!patterned || patterned(i))) {
      if (it.type == VelFile::kTypeUtf16 || it.type == VelFile::kTypeNarrow) {
        const VelString s = textLength ? VelString(textLength, VelChar('w'))
                                       : VELFILE_TEXT("T") + V(std::to_string(it.id)) + VELFILE_TEXT("xyz");
        it.type = VelFile::kTypeUtf16;
        it.count = uint32_t(s.size() + 1);
        it.value.assign(cp(s.c_str()), cp(s.c_str() + it.count));
      }
      const size_t size = static_cast<size_t>(VelFile::file_SizeOf(it.type));
      for (uint32_t e = 0; e < it.count && it.type != VelFile::kTypeUtf16; ++e) {
        const uint32_t k = (it.id + e) % 3 + 1;
        const float f = 0.5f + float(k);
        const double d = 0.25 + k;
        const uint16_t h = uint16_t(k);
        const uint8_t b = uint8_t(k);
        const void* v = it.type == VelFile::kTypeFloat    ? static_cast<const void*>(&f)
                        : it.type == VelFile::kTypeDouble ? static_cast<const void*>(&d)
                        : size == 1                       ? static_cast<const void*>(&b)
                        : size == 2                       ? static_cast<const void*>(&h)
                                                          : static_cast<const void*>(&k);
        std::memcpy(&it.value[e * size], v, std::min<size_t>(size, it.type == VelFile::kTypeDouble ? 8 : 4));
      }
    }
    VelFile::file_ItemValueWrite(to, it.id, it.type, it.count, cp(it.value.data()));
  }
}

class ModuleTest : public VelTest {
 protected:
  void TearDown() override {
    if (file_) VelFile::file_Close(file_);
    file_ = nullptr;
    VelTest::TearDown();
  }

  // Creates "module.bin" (narrow text with charFormat 1) with a section
  // group; each call adds one sub-group to write into and returns it.
  void* writeGroup(const VelString& name = VELFILE_TEXT("Group"), int charFormat = 0) {
    if (!file_) {
      EXPECT_EQ(0, VelFile::file_Create(vpath("module.bin").c_str(), &file_));
      VelFile::file_SetCharacterFormat(file_, charFormat);
      EXPECT_EQ(0, VelFile::file_GroupCreate(file_, &section_, 0, VELFILE_TEXT("Section")));
      groups_ = 0;
    }
    void* group = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupCreate(section_, &group, ++groups_, name.c_str()));
    return group;
  }

  // Closes the written file, opens it again and returns its first sub-group.
  void* reopenGroup() {
    EXPECT_EQ(0, VelFile::file_Close(file_));
    EXPECT_EQ(0, VelFile::file_Open(vpath("module.bin").c_str(), &file_));
    void *section = nullptr, *group = nullptr;
    uint32_t key = 0;
    EXPECT_EQ(0, VelFile::file_GroupOpen(file_, &section, 0));
    EXPECT_EQ(0, VelFile::file_ItemInfo(section, 1, nullptr, nullptr, nullptr, &key, nullptr, 0));
    EXPECT_EQ(0, VelFile::file_GroupOpen(section, &group, key));
    return group;
  }

  // Writes a hand-made one-section file whose group holds a name item and
  // the two entries `entries` adds, opens it and returns that group.
  template <class F>
  void* openHandMadeGroup(F&& entries) {
    Image img;
    img.header(3, 40, 0).padTo(40);
    img.entryInline(10000, 12, 2, VELFILE_TEXT("G"), 4);
    entries(img);
    img.padTo(40 + 72);
    img.put32(24, static_cast<uint32_t>(img.size()));
    writeFile(path("handmade.bin"), img.bytes);
    EXPECT_EQ(0, VelFile::file_Open(vpath("handmade.bin").c_str(), &file_));
    void* group = nullptr;
    EXPECT_EQ(0, VelFile::file_GroupOpen(file_, &group, 0));
    return group;
  }

  void* file_ = nullptr;
  void* section_ = nullptr;
  uint16_t groups_ = 0;
};

}  // namespace vt

#endif
