// Groups: creating and opening them by key (also in large groups), their
// names, re-tagging and counting, a tree written and read back; and the
// stream's read-ahead windows against writes that land in them.
#include <algorithm>
#include <random>

#include "platform.h"
#include "testutil.h"

using namespace VelFile;
using vt::VelString;

namespace {

class Groups : public vt::VelTest {
 protected:
  // A file of two sections: "One" at 0 (96 bytes), "Two" at 96 with a sub-group.
  void makeTwoSections(const std::string& name) {
    makeContainer(name);
    void *f = nullptr, *g = nullptr, *sub = nullptr;
    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Two"));
    ASSERT_EQ(0, file_GroupCreate(g, &sub, 50, u"Inner"));
    ASSERT_EQ(0, file_Close(f));
  }
};

TEST_F(Groups, GroupOpenFindsSectionsAndSubGroupsByKey) {
  makeTwoSections("k.A01");
  void *f = nullptr, *g1 = nullptr, *g2 = nullptr, *again = nullptr, *none = &none;
  ASSERT_EQ(0, file_Open(vpath("k.A01").c_str(), &f));
  EXPECT_EQ(2u, file_ItemNbrGet(f));
  ASSERT_EQ(0, file_GroupOpen(f, &g1, 0));
  EXPECT_EQ(u"One", groupName(g1));
  ASSERT_EQ(0, file_GroupOpen(f, &g2, 96));
  EXPECT_EQ(u"Two", groupName(g2));
  ASSERT_EQ(0, file_GroupOpen(f, &again, 96));
  EXPECT_EQ(g2, again);
  EXPECT_EQ(3, file_GroupOpen(f, &none, 8));
  EXPECT_EQ(nullptr, none);

  EXPECT_EQ("50 0 1 64 Inner", itemInfo(g2, 1));
  void* sub = nullptr;
  ASSERT_EQ(0, file_GroupOpen(g2, &sub, 64));
  EXPECT_EQ(u"Inner", groupName(sub));
  EXPECT_EQ(1u, file_ItemNbrGet(sub));
  EXPECT_EQ(3, file_GroupOpen(g2, &none, 72));
  EXPECT_EQ(3, file_GroupOpen(g1, &none, 0)) << "a section group has no group references";

  uint32_t start = 0;
  EXPECT_EQ(0, file_GetFileOffsetSection(sub, &start));
  EXPECT_EQ(96u, start);
  EXPECT_EQ(2, file_GetFileOffsetSection(f, &start));
  EXPECT_EQ(0, file_Close(f));
  EXPECT_EQ(5, file_GroupOpen(f, &none, 0)) << "a closed handle is a free slot";
  EXPECT_EQ(5, file_GroupCreate(f, &none, 0, u"X"));
}

TEST_F(Groups, NothingIsAddedToGroupsLoadedFromTheFile) {
  const vt::Bytes before = makeContainer("ro.A01");
  void *f = nullptr, *g = nullptr, *sub = &sub;
  ASSERT_EQ(0, file_Open(vpath("ro.A01").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  EXPECT_EQ(8, file_GroupCreate(g, &sub, 5, u"Sub"));
  EXPECT_EQ(nullptr, sub);
  const uint32_t v = 1;
  EXPECT_EQ(8, file_ItemValueWrite(g, 2, kTypeUInt32, 1, vt::cp(&v)));
  EXPECT_EQ(8, file_ItemOffsetWrite(g, 2, kTypeRaw, 8, 40));
  EXPECT_EQ(8, file_UpdateContentGroup(g, 9));
  EXPECT_EQ(8, file_GroupNameSet(g, u"Renamed", 32));
  EXPECT_EQ(u"One", groupName(g));
  EXPECT_EQ(2u, file_ItemNbrGet(g));
  EXPECT_EQ(0, file_Close(f));
  EXPECT_EQ(before, vt::readFile(path("ro.A01")));
}

TEST_F(Groups, GroupNameSetLimitsNamesTo31Characters) {
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Start"));
  const vt::VelString thirtyOne(31, u'x'), thirtyTwo(32, u'y');
  ASSERT_EQ(0, file_GroupNameSet(g, thirtyOne.c_str(), 64));
  EXPECT_EQ(0, diagCount());
  EXPECT_EQ(thirtyOne, groupName(g));
  ASSERT_EQ(0, file_GroupNameSet(g, thirtyTwo.c_str(), 64));
  EXPECT_EQ(1, diagCount());
  EXPECT_EQ(vt::VelString(31, u'y'), groupName(g));
  ASSERT_EQ(0, file_Close(f));

  ASSERT_EQ(0, file_Open(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  EXPECT_EQ(vt::VelString(31, u'y'), groupName(g));
  uint32_t count = 0;
  EXPECT_EQ(0, file_ItemInfo(g, 0, nullptr, nullptr, &count, nullptr, nullptr, 0));
  EXPECT_EQ(32u, count);
  EXPECT_EQ(0, file_Close(f));
}

TEST_F(Groups, NamesWithoutANameItemWithoutRoomOrWithoutAName) {
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Orig"));
  ASSERT_EQ(0, file_UpdateContentGroup(g, 5));  // the name item is the last item
  EXPECT_EQ(6, file_GroupNameSet(g, u"New", 32));
  EXPECT_EQ(u"New", groupName(g));
  // A buffer without room for the terminator is refused and left untouched.
  VelChar buf[5] = {u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(3, file_GroupNameGet(g, buf, 3));
  EXPECT_EQ(vt::VelString(5, u'#'), vt::VelString(buf, 5));
  EXPECT_EQ(0, file_GroupNameGet(g, buf, 4));
  EXPECT_EQ(vt::VelString(u"New\0#", 5), vt::VelString(buf, 5));
  EXPECT_EQ(3, file_GroupNameGet(f, buf, 5));
  EXPECT_EQ(1, file_GroupNameSet(g, nullptr, 32));
  EXPECT_EQ(3, file_GroupNameGet(g, buf, 5)) << "no name held";
  EXPECT_EQ(0, file_Close(f));

  // The stored name item kept its old value under its new id.
  ASSERT_EQ(0, file_Open(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  EXPECT_EQ(u"Orig", groupName(g));
  EXPECT_EQ("5 12 5 40 ", itemInfo(g, 0));
  EXPECT_EQ(0, file_Close(f));
}

std::string ascii(const VelChar* s) {
  std::string out;
  for (; *s; ++s) out += static_cast<char>(*s);
  return out;
}

// Describes a group and everything below it as text: name{ id:value ...}.
std::string describe(void* g, int depth = 0) {
  VelChar own[64] = {};
  file_GroupNameGet(g, own, 64);
  std::string out = ascii(own) + "{";
  const uint32_t n = file_ItemNbrGet(g);
  for (uint32_t i = 1; i < n && depth < 8; ++i) {
    uint16_t id = 0, type = 0;
    uint32_t count = 0, value = 0;
    VelChar name[4] = {u'#'};
    if (file_ItemInfo(g, i, &id, &type, &count, &value, name, 4) != 0) return out + "!";
    out += " " + std::to_string(id) + ":";
    if (type == kTypeGroup) {
      void* sub = nullptr;
      if (file_GroupOpen(g, &sub, value) != 0) return out + "!";
      out += ascii(name) + "=" + describe(sub, depth + 1);  // name cut to 3 characters
    } else {
      int32_t v = 0;
      uint32_t c = 0;
      file_IndexValueRead(g, i, kTypeInt32, reinterpret_cast<char*>(&v), &c);
      out += (name[0] == 0 ? "" : "?") + std::to_string(v);
    }
  }
  return out + "}";
}

TEST_F(Groups, TreeOfNamedGroupsRoundTripsWithRetaggedItems) {
  void *f = nullptr, *root = nullptr, *alpha = nullptr, *deep = nullptr, *beta = nullptr;
  const int32_t one = 1, minus = -70000;
  ASSERT_EQ(0, file_Create(vpath("tree.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &root, 0, u"Root"));
  ASSERT_EQ(0, file_ItemValueWrite(root, 7, kTypeInt32, 1, vt::cp(&one)));
  ASSERT_EQ(0, file_GroupCreate(root, &alpha, 20, u"Alpha"));
  ASSERT_EQ(0, file_UpdateContentGroup(root, 25));  // re-tags the new group reference
  ASSERT_EQ(0, file_GroupCreate(alpha, &deep, 30, u"Deep"));
  ASSERT_EQ(0, file_ItemValueWrite(deep, 8, kTypeInt32, 1, vt::cp(&minus)));
  ASSERT_EQ(0, file_GroupCreate(root, &beta, 21, u"B"));
  ASSERT_EQ(0, file_ItemValueWrite(alpha, 9, kTypeInt32, 1, vt::cp(&one)));
  ASSERT_EQ(0, file_GroupCreate(beta, &deep, 31, u"Empty"));
  ASSERT_EQ(0, file_ItemValueWrite(root, 3, kTypeInt32, 1, vt::cp(&minus)));
  ASSERT_EQ(0, file_UpdateContentGroup(root, 43));
  uint16_t type = 0;
  ASSERT_EQ(0, file_ItemInfo(root, 4, nullptr, &type, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(kTypeInt32, type) << "re-tagging keeps the type";
  EXPECT_EQ(3, file_UpdateContentGroup(f, 44));
  ASSERT_EQ(0, file_Close(f));

  ASSERT_EQ(0, file_Open(vpath("tree.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &root, 0));
  EXPECT_EQ("Root{ 7:1 25:Alp=Alpha{ 30:Dee=Deep{ 8:-70000} 9:1} 21:B=B{ 31:Emp=Empty{}} 43:-70000}",
            describe(root));
  EXPECT_EQ(0, diagCount());
  EXPECT_EQ(0, file_Close(f));
}

// Random small and large reads and writes against a copy in memory: every
// read must see the last write, whichever window holds the bytes, including
// windows cut short at the old end of the file. Many writes start a few
// bytes after the previous one, as 8-aligned blocks do: the bytes between
// keep what the file held there, or read as zeros past its end.
TEST_F(Groups, ReadAheadAlwaysSeesTheLatestBytes) {
  int err = 0;
  std::unique_ptr<velfile::Stream> s = velfile::nativePlatform().open(
      path("s.bin"), velfile::OpenMode::CreateUpdate, velfile::ShareMode::DenyNone, &err);
  ASSERT_TRUE(s);
  std::vector<uint8_t> model(300000);
  for (size_t i = 0; i < model.size(); ++i) model[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(s->seek(0) && s->write(model.data(), model.size()));

  std::mt19937 rng(12345);
  std::vector<uint8_t> buf(20000);
  uint32_t lastEnd = 0;
  for (int op = 0; op < 6000; ++op) {
    // Mostly small transfers, in a few regions at a time, as a walk does.
    const size_t n = rng() % 10 == 0 ? 5000 + rng() % 15000 : 1 + rng() % 300;
    const uint32_t region = static_cast<uint32_t>(rng() % 6) * 70000;
    const bool follows = rng() % 3 == 0;
    const uint32_t at = follows ? lastEnd + rng() % 8 : region + static_cast<uint32_t>(rng() % 70000);
    ASSERT_TRUE(s->seek(at));
    if (follows || rng() % 4 == 0) {
      lastEnd = at + static_cast<uint32_t>(n) < 450000 ? at + static_cast<uint32_t>(n) : region;
      for (size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(rng());
      ASSERT_TRUE(s->write(buf.data(), n));
      if (model.size() < at + n) model.resize(at + n, 0);
      std::copy(buf.begin(), buf.begin() + static_cast<long>(n), model.begin() + at);
    } else if (at + n <= model.size()) {
      ASSERT_TRUE(s->read(buf.data(), n)) << "op " << op;
      ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<long>(n), model.begin() + at))
          << "op " << op << " read " << n << " at " << at;
    } else {
      EXPECT_FALSE(s->read(buf.data(), n)) << "op " << op << ": a read past the end must fail";
    }
  }
  std::vector<uint8_t> whole(model.size());
  ASSERT_TRUE(s->seek(0) && s->read(whole.data(), whole.size()));
  EXPECT_TRUE(whole == model);
  EXPECT_TRUE(s->close());
}

// A group with many sub-groups among other items, read back: every sub-group
// is found by its key in any order and always as the same handle; keys that
// are the value of an ordinary item, or of nothing, find nothing.
TEST_F(Groups, SubGroupsAreFoundByKeyInLargeGroups) {
  const int n = 60;
  void *f = nullptr, *root = nullptr;
  ASSERT_EQ(0, file_Create(vpath("tree.vel").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &root, 0, VT_TEXT("Root")));
  const uint32_t plain = 4242;
  for (int i = 0; i < n; ++i) {
    void* g = nullptr;
    const VelString name = vt::V("Sub " + std::to_string(i));
    ASSERT_EQ(0, file_GroupCreate(root, &g, static_cast<uint16_t>(i), name.c_str()));
    const uint32_t v = static_cast<uint32_t>(i);
    ASSERT_EQ(0, file_ItemValueWrite(g, 1, kTypeUInt32, 1, vt::cp(&v)));
    ASSERT_EQ(0, file_ItemValueWrite(root, 20000, kTypeUInt32, 1, vt::cp(&plain)));
  }
  ASSERT_EQ(0, file_Close(f));

  ASSERT_EQ(0, file_Open(vpath("tree.vel").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &root, 0));
  std::vector<std::pair<uint32_t, int>> keys;  // (key, sub-group number)
  for (uint32_t i = 0; i < file_ItemNbrGet(root); ++i) {
    uint16_t id = 0, type = 0;
    uint32_t key = 0;
    ASSERT_EQ(0, file_ItemInfo(root, i, &id, &type, nullptr, &key, nullptr, 0));
    if (type == kTypeGroup) keys.emplace_back(key, id);
  }
  ASSERT_EQ(size_t(n), keys.size());
  std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  for (const auto& k : keys) {
    void *g = nullptr, *again = nullptr;
    ASSERT_EQ(0, file_GroupOpen(root, &g, k.first));
    EXPECT_EQ(vt::V("Sub " + std::to_string(k.second)), groupName(g));
    EXPECT_EQ("1 7 1 " + std::to_string(k.second) + " ", itemInfo(g, 1));
    ASSERT_EQ(0, file_GroupOpen(root, &again, k.first));
    EXPECT_EQ(g, again);
  }
  void* g = nullptr;
  EXPECT_EQ(3, file_GroupOpen(root, &g, plain));
  EXPECT_EQ(3, file_GroupOpen(root, &g, keys.front().first + 4));
  EXPECT_EQ(nullptr, g);
  EXPECT_EQ(0, file_Close(f));
}

}  // namespace
