// The channel module: its write order, the text item stored wide or narrow,
// the one-byte item and the assignment that cuts the source's texts.
#include <velfile/gchan.h>

#include "groupmodule.h"
#include "moduletest.h"

using namespace vt;
using velfile::copyText;

namespace {

void fill(CGChanTypeDescr& d) {
  copyText(d.groupName, 32, u"Channel 1");
  copyText(d.item3, 32, u"Probe text");
  d.item19 = 19;
  d.item18 = 18;
  d.item21 = 2.5e-3f;
  d.item22 = 0x1FF;
}

// Stored type and count of the item at this index.
std::pair<uint16_t, uint32_t> stored(void* g, uint32_t index) {
  std::pair<uint16_t, uint32_t> tc;
  VelFile::file_ItemInfo(g, index, nullptr, &tc.first, &tc.second, nullptr, nullptr, 0);
  return tc;
}

}  // namespace

using ChanTest = ModuleTest;
using Ids = std::vector<uint16_t>;

TEST_F(ChanTest, RoundTripThroughAFileKeepsTheOtherBytesOfItem22) {
  CGChanTypeDescr written;
  fill(written);
  written.layoutVersion = 0;
  void* g = writeGroup();
  EXPECT_EQ(0, gchan_WriteGroupInfo(g, nullptr, &written));
  EXPECT_EQ(3, written.layoutVersion);
  EXPECT_EQ((Ids{10000, 1, 4, 5, 19, 9999, 18, 3, 6, 7, 8, 20, 9, 10, 11, 12, 13, 14, 15, 16, 21, 22}),
            itemIds(g));
  EXPECT_EQ(std::make_pair(uint16_t(3), 1u), stored(g, 21));   // one byte: 0xFF
  EXPECT_EQ(std::make_pair(uint16_t(12), 11u), stored(g, 7));  // with its terminator

  CGChanTypeDescr read;
  read.item22 = 0x100;
  read.item9 = 9.0f;  // 0.0 in the group
  EXPECT_EQ(0, gchan_ReadGroupInfo(reopenGroup(), &read));
  written.groupHandle = read.groupHandle;
  EXPECT_EQ(1, written == read);
  EXPECT_EQ(VelString(u"Channel 1"), VelString(read.groupName));
  read.item22 = 0x2FF;  // the whole field takes part
  EXPECT_EQ(1, written != read);
}

TEST_F(ChanTest, SecondWriteStoresOnlyWhatChanged) {
  void* g = writeGroup();
  CGChanTypeDescr prev, cur;
  fill(cur);
  auto write = [&] { return idsWrittenBy(g, [&] { gchan_WriteGroupInfo(g, &prev, &cur); }); };
  EXPECT_EQ((Ids{1, 4, 5, 19, 9999, 18, 3, 21, 22}), write());
  EXPECT_EQ(1, prev == cur);
  EXPECT_EQ((Ids{1, 4, 5, 19, 9999}), write());
  copyText(cur.item3, 32, u"Probe texT");
  cur.item22 = 0x2FF;  // same stored byte, other field: still a change
  EXPECT_EQ((Ids{1, 4, 5, 19, 9999, 3, 22}), write());
}

TEST_F(ChanTest, Item3IsReadNarrowOrWideAndCutToTheField) {
  // A section in narrow mode stores item 3 (and the name) as narrow text.
  ASSERT_EQ(0, VelFile::file_Create(vpath("module.bin").c_str(), &file_));
  ASSERT_EQ(0, VelFile::file_SetCharacterFormat(file_, 1));
  void *section = nullptr, *g = nullptr;
  ASSERT_EQ(0, VelFile::file_GroupCreate(file_, &section, 0, u"Section"));
  ASSERT_EQ(0, VelFile::file_GroupCreate(section, &g, 1, u"Narrow"));
  CGChanTypeDescr d;
  fill(d);
  copyText(d.item3, 32, u"abc");
  EXPECT_EQ(0, gchan_WriteGroupInfo(g, nullptr, &d));
  EXPECT_EQ(VelFile::kTypeNarrow, stored(g, 7).first);
  const VelString longText(40, u'w');
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 2, VelFile::kTypeUtf16, 41, cp(longText.c_str())));
  CGChanTypeDescr r;
  EXPECT_EQ(0, gchan_ReadGroupInfo(reopenGroup(), &r));
  EXPECT_EQ(VelString(u"abc"), VelString(r.item3));
  EXPECT_EQ(VelString(31, u'w'), VelString(r.groupName));  // item 2 comes after 10000

  // A wide section with a narrow item 3 longer than the field, and item 17.
  ASSERT_EQ(0, VelFile::file_Close(file_));
  g = writeGroup();
  const std::string narrow(45, 'n');
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 3, VelFile::kTypeNarrow, 46, narrow.c_str()));
  const uint32_t v = 1;
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 17, VelFile::kTypeUInt32, 1, cp(&v)));
  EXPECT_EQ(0, gchan_ReadGroupInfo(reopenGroup(), &r));
  EXPECT_EQ(VelString(31, u'n'), VelString(r.item3));
  EXPECT_EQ(1, diagCount());  // item 17 is not a channel item
}

TEST_F(ChanTest, AssignmentCutsTheSourcesTextsTo31Characters) {
  CGChanTypeDescr a, b;
  fill(a);
  for (int i = 0; i < 32; ++i) a.groupName[i] = a.item3[i] = u'z';  // no terminator
  EXPECT_EQ(0, gchan_Duplicate(&a, &b));
  for (const VelChar* s : {a.groupName, a.item3, b.groupName, b.item3}) EXPECT_EQ(VelString(31, u'z'), s);
  EXPECT_EQ(1, a == b);
}
