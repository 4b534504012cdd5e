// The specimen definition group (reset before reading) and the specimen
// information group (texts stored with their terminator).
#include <velfile/gspecdef.h>
#include <velfile/gspecinf.h>

#include "moduletest.h"

using namespace VelFile;
using Ids = std::vector<uint16_t>;
using vt::VelString;

namespace {

class SpecimenTexts : public vt::ModuleTest {
 protected:
  // Element count of the last item with this id.
  static uint32_t countOf(void* g, uint16_t id) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < file_ItemNbrGet(g); ++i) {
      uint16_t itemId = 0;
      uint32_t count = 0;
      file_ItemInfo(g, i, &itemId, nullptr, &count, nullptr, nullptr, 0);
      if (itemId == id) r = count;
    }
    return r;
  }
};

TEST_F(SpecimenTexts, DefinitionWritesWhatChangedAndReadsFromDefaults) {
  void* g = writeGroup();
  CGSpecdefTypeDescr* cur = gspecdef_Allocate(0, u"Definition");
  ASSERT_NE(cur, nullptr);
  CGSpecdefTypeDescr prev;
  cur->item1 = -3;
  EXPECT_EQ(Ids({9999, 1, 2, 3, 4, 5, 6, 7, 8}),
            idsWrittenBy(g, [&] { gspecdef_WriteGroupInfo(g, nullptr, cur); }));
  EXPECT_EQ(Ids({9999, 1}), idsWrittenBy(g, [&] { gspecdef_WriteGroupInfo(g, &prev, cur); }));
  EXPECT_EQ(Ids({9999}), idsWrittenBy(g, [&] { gspecdef_WriteGroupInfo(g, &prev, cur); }));
  g = reopenGroup();
  CGSpecdefTypeDescr d;
  d.item4 = 3.0f;
  d.swapFlag = 1;  // taken anew from the group
  ASSERT_EQ(0, gspecdef_ReadGroupInfo(g, &d));
  EXPECT_EQ(-3, d.item1);
  EXPECT_EQ(0.0f, d.item4);
  EXPECT_EQ(0, d.swapFlag);
  EXPECT_EQ(VelString(u"Definition"), d.groupName);
  gspecdef_Delete(cur, 1);
}

TEST_F(SpecimenTexts, InformationRoundTripAndWhatChanged) {
  void* g = writeGroup();
  CGSpecinfTypeDescr* cur = gspecinf_Allocate(0, u"Info");
  ASSERT_NE(cur, nullptr);
  CGSpecinfTypeDescr prev;
  const VelString full(499, u'w');  // text 2 to its last unit
  full.copy(cur->item2, full.size());
  VelString(u"Weld").copy(cur->item4, 4);
  EXPECT_EQ(Ids({9999, 1, 2, 3, 4}), idsWrittenBy(g, [&] { gspecinf_WriteGroupInfo(g, nullptr, cur); }));
  EXPECT_EQ(1u, countOf(g, 1));  // empty: the terminator only
  EXPECT_EQ(500u, countOf(g, 2));
  EXPECT_EQ(Ids({9999, 2, 4}), idsWrittenBy(g, [&] { gspecinf_WriteGroupInfo(g, &prev, cur); }));
  EXPECT_EQ(2, cur->layoutVersion);
  EXPECT_EQ(0, prev.layoutVersion);  // a copy carries no layout version
  cur->item4[0] = u'w';              // case counts
  EXPECT_EQ(Ids({9999, 4}), idsWrittenBy(g, [&] { gspecinf_WriteGroupInfo(g, &prev, cur); }));

  g = reopenGroup();
  CGSpecinfTypeDescr back;
  ASSERT_EQ(0, gspecinf_ReadGroupInfo(g, &back));
  EXPECT_EQ(full, back.item2);
  EXPECT_EQ(VelString(u"weld"), back.item4);
  EXPECT_EQ(VelString(u"Info"), back.groupName);
  gspecinf_Delete(cur, 1);
}

TEST_F(SpecimenTexts, InformationCutsOverlongStoredTexts) {
  void* g = writeGroup();
  const VelString t1(150, u'a'), t2(700, u'b');
  ASSERT_EQ(0, file_ItemValueWrite(g, 1, kTypeUtf16, 151, vt::cp(t1.c_str())));
  ASSERT_EQ(0, file_ItemValueWrite(g, 2, kTypeUtf16, 701, vt::cp(t2.c_str())));
  g = reopenGroup();
  CGSpecinfTypeDescr d;
  d.item3 = 77;
  ASSERT_EQ(0, gspecinf_ReadGroupInfo(g, &d));
  EXPECT_EQ(VelString(99, u'a'), d.item1);
  EXPECT_EQ(VelString(499, u'b'), d.item2);
  EXPECT_EQ(77, d.item3);  // untouched by the text before it
}

}  // namespace
