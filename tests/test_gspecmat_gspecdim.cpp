// The specimen material and dimension groups: float records written when
// changed, read without a reset.
#include <velfile/gspecdim.h>
#include <velfile/gspecmat.h>

#include <limits>

#include "moduletest.h"

using namespace VelFile;
using Ids = std::vector<uint16_t>;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

class SpecimenFloats : public vt::ModuleTest {};

TEST_F(SpecimenFloats, MaterialRoundTripsThroughAFile) {
  void* g = writeGroup();
  CGSpecmatTypeDescr* cur = gspecmat_Allocate(0, u"Steel");
  ASSERT_NE(cur, nullptr);
  cur->item4 = 7.85f;
  EXPECT_EQ(Ids({9999, 1, 2, 3, 4, 5, 6, 7}),
            idsWrittenBy(g, [&] { gspecmat_WriteGroupInfo(g, nullptr, cur); }));
  g = reopenGroup();
  CGSpecmatTypeDescr back;
  back.item1 = back.item7 = 0.0f;
  ASSERT_EQ(0, gspecmat_ReadGroupInfo(g, &back));
  cur->groupHandle = g;
  EXPECT_EQ(1, back == *cur);  // every field, the name and layout version 2 included
  gspecmat_Delete(cur, 1);
}

TEST_F(SpecimenFloats, MaterialWritesWhatChangedAndANaNEveryTime) {
  void* g = writeGroup();
  CGSpecmatTypeDescr prev, cur;
  cur.item3 = 0.0f;
  EXPECT_EQ(Ids({9999, 3}), idsWrittenBy(g, [&] { gspecmat_WriteGroupInfo(g, &prev, &cur); }));
  cur.item3 = -0.0f;  // equal as floats
  cur.item5 = kNaN;
  EXPECT_EQ(Ids({9999, 5}), idsWrittenBy(g, [&] { gspecmat_WriteGroupInfo(g, &prev, &cur); }));
  EXPECT_EQ(Ids({9999, 5}), idsWrittenBy(g, [&] { gspecmat_WriteGroupInfo(g, &prev, &cur); }));
}

TEST_F(SpecimenFloats, MaterialComparisonCoversEveryField) {
  CGSpecmatTypeDescr a, b;
  a.item2 = kNaN;
  EXPECT_EQ(1, a == a);
  ASSERT_EQ(0, gspecmat_Duplicate(&a, &b));
  EXPECT_EQ(1, a != b);  // a NaN equals nothing else
  CGSpecmatTypeDescr c, d;
  c.item1 = 0.0f;
  d.item1 = -0.0f;
  EXPECT_EQ(1, c == d);
  d.swapFlag = 1;
  EXPECT_EQ(0, c == d);
  using D = CGSpecmatTypeDescr;
  for (float D::*f : {&D::item1, &D::item2, &D::item3, &D::item4, &D::item5, &D::item6, &D::item7}) {
    D e;
    e.*f = -1.0f;
    EXPECT_EQ(0, D() == e);
  }
  d.groupName[0] = u'x';
  d.signature = 0;
  gspecmat_InitDescr(&d);
  EXPECT_EQ(1, CGSpecmatTypeDescr() == d);
}

TEST_F(SpecimenFloats, DimensionWritesWhatChangedAndReadKeepsTheRest) {
  void* g = writeGroup();
  CGSpecdimTypeDescr prev;
  CGSpecdimTypeDescr* cur = gspecdim_Allocate(0, u"Block");
  ASSERT_NE(cur, nullptr);
  cur->item10 = 180.0f;
  EXPECT_EQ(Ids({9999, 10}), idsWrittenBy(g, [&] { gspecdim_WriteGroupInfo(g, &prev, cur); }));
  EXPECT_EQ(Ids({9999}), idsWrittenBy(g, [&] { gspecdim_WriteGroupInfo(g, &prev, cur); }));
  ASSERT_EQ(0, file_ItemValueWrite(g, 11, kTypeFloat, 1, vt::cp(&cur->item1)));  // not ours

  g = reopenGroup();
  CGSpecdimTypeDescr back;
  back.item1 = 1.0f;
  EXPECT_EQ(0, gspecdim_ReadGroupInfo(g, &back));
  EXPECT_EQ(1.0f, back.item1);  // absent from the group: kept
  EXPECT_EQ(180.0f, back.item10);
  EXPECT_EQ(2, back.layoutVersion);
  EXPECT_EQ(vt::VelString(u"Block"), back.groupName);
  EXPECT_EQ(0, diagCount());
  gspecdim_Delete(cur, 1);
}

}  // namespace
