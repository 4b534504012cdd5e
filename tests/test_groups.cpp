// Groups: creating and opening them by key, their names, re-tagging and
// counting, and a tree written and read back.
#include "testutil.h"

using namespace VelFile;

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

}  // namespace
