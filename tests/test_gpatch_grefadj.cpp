// The patch and reference adjustment modules: their write orders, the
// items they skip silently, and the reference adjustment's text item and
// assignment that leaves the group name behind.
#include <velfile/gpatch.h>
#include <velfile/grefadj.h>

#include "groupmodule.h"
#include "moduletest.h"

using namespace vt;
using velfile::copyText;

using Ids = std::vector<uint16_t>;
using PatchTest = ModuleTest;
using RefadjTest = ModuleTest;

TEST_F(PatchTest, RoundTripSecondWriteAndSkippedItems) {
  CGPatchTypeDescr prev, cur;
  cur.item9 = -9;
  cur.item13 = 13.0f;
  void* g = writeGroup();
  EXPECT_EQ((Ids{1, 16, 9999, 3, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15}),
            idsWrittenBy(g, [&] { EXPECT_EQ(0, gpatch_WriteGroupInfo(g, nullptr, &cur)); }));
  EXPECT_EQ((Ids{1, 16, 9999, 9, 13}), idsWrittenBy(g, [&] { gpatch_WriteGroupInfo(g, &prev, &cur); }));
  cur.item13 = 14.0f;
  EXPECT_EQ((Ids{1, 16, 9999, 13}), idsWrittenBy(g, [&] { gpatch_WriteGroupInfo(g, &prev, &cur); }));
  const uint32_t v = 4;
  for (uint16_t id : {4, 10, 300})
    ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, id, VelFile::kTypeUInt32, 1, cp(&v)));
  const VelString older = u"Older name";  // older files name the group in item 2
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 2, VelFile::kTypeUtf16, 11, cp(older.c_str())));

  CGPatchTypeDescr read;
  EXPECT_EQ(0, gpatch_ReadGroupInfo(reopenGroup(), &read));
  EXPECT_EQ(older, VelString(read.groupName));
  copyText(cur.groupName, 32, older.c_str());
  cur.groupHandle = read.groupHandle;
  EXPECT_EQ(1, read == cur);
  gpatch_InitDescr(nullptr);
  EXPECT_EQ(0, diagCount());
}

TEST_F(RefadjTest, RoundTripWithTextAndDefaults) {
  CGRefadjTypeDescr d;
  copyText(d.groupName, 32, u"Ref");
  void* g = writeGroup();
  EXPECT_EQ(0, grefadj_WriteGroupInfo(g, nullptr, &d));
  Ids order{10000, 1, 9999, 3, 2};
  for (uint16_t id = 4; id <= 19; ++id) order.push_back(id);
  EXPECT_EQ(order, itemIds(g));

  const VelString text(120, u't');  // longer than the field
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 2, VelFile::kTypeUtf16, 121, cp(text.c_str())));
  CGRefadjTypeDescr r;
  r.item7 = 5.0f;
  EXPECT_EQ(0, grefadj_ReadGroupInfo(reopenGroup(), &r));
  for (float f : {r.item7, r.item11, r.item15}) EXPECT_EQ(0.1f, f);
  EXPECT_EQ(VelString(99, u't'), VelString(r.text));
  EXPECT_EQ(VelString(u"Ref"), VelString(r.groupName));
  EXPECT_EQ(0, diagCount());
}

TEST_F(RefadjTest, PreviousTakesEverythingButTheName) {
  CGRefadjTypeDescr prev, cur;
  copyText(cur.groupName, 32, u"Ref");
  copyText(cur.text, 100, u"Adjusted");
  cur.item18 = 18.0f;
  cur.signature = 5;
  void* g = writeGroup();
  auto write = [&] { return idsWrittenBy(g, [&] { grefadj_WriteGroupInfo(g, &prev, &cur); }); };
  EXPECT_EQ((Ids{1, 9999, 2, 18}), write());
  EXPECT_EQ(0, prev.groupName[0]);
  EXPECT_EQ(VelString(u"Adjusted"), VelString(prev.text));
  EXPECT_EQ(18.0f, prev.item18);
  EXPECT_EQ(5u, prev.signature);
  EXPECT_EQ((Ids{1, 9999}), write());
  copyText(cur.text, 100, u"Adjusted again");
  EXPECT_EQ((Ids{1, 9999, 2}), write());
}
