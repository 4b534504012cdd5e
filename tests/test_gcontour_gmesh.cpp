// The contour group (reset before reading; item 7 only without a previous
// descriptor) and the mesh group (every item every time).
#include <velfile/gcontour.h>
#include <velfile/gmesh.h>

#include "moduletest.h"

using namespace VelFile;
using Ids = std::vector<uint16_t>;
using vt::VelString;

namespace {

class ContourAndMesh : public vt::ModuleTest {};

TEST_F(ContourAndMesh, ContourWriteOrderAndPreviousKeepingItem7) {
  void* g = writeGroup();
  CGContourTypeDescr* cur = gcontour_Allocate(0, u"Contour");
  ASSERT_NE(cur, nullptr);
  CGContourTypeDescr prev;
  prev = *cur;
  EXPECT_EQ(Ids({9999, 9, 1, 8, 2, 3, 4, 5, 6, 7}),
            idsWrittenBy(g, [&] { gcontour_WriteGroupInfo(g, nullptr, cur); }));
  EXPECT_EQ(Ids({9999, 9, 1}), idsWrittenBy(g, [&] { gcontour_WriteGroupInfo(g, &prev, cur); }));
  cur->item7 = 5;
  cur->item5 = 0.25f;
  EXPECT_EQ(Ids({9999, 9, 1, 5}), idsWrittenBy(g, [&] { gcontour_WriteGroupInfo(g, &prev, cur); }));
  EXPECT_EQ(0, prev.item7);
  EXPECT_EQ(0.25f, prev.item5);
  EXPECT_EQ(2, prev.layoutVersion);
  gcontour_Delete(cur, 1);
}

TEST_F(ContourAndMesh, ContourReadStartsFromDefaults) {
  void* g = writeGroup();
  CGContourTypeDescr cur;
  VelString(u"Outline").copy(cur.groupName, 7);
  cur.item1 = -1;
  cur.item7 = 7;
  cur.item4 = 4.5f;
  ASSERT_EQ(0, gcontour_WriteGroupInfo(g, nullptr, &cur));
  ASSERT_EQ(0, file_ItemValueWrite(g, 10, kTypeUInt32, 1, vt::cp(&cur.item7)));  // not ours
  g = reopenGroup();
  CGContourTypeDescr back;
  back.item8 = 11;
  back.swapFlag = 1;
  ASSERT_EQ(0, gcontour_ReadGroupInfo(g, &back));
  EXPECT_EQ(-1, back.item1);
  EXPECT_EQ(7, back.item7);
  EXPECT_EQ(4.5f, back.item4);
  EXPECT_EQ(0, back.item8);
  EXPECT_EQ(0, back.swapFlag);
  EXPECT_EQ(VelString(u"Outline"), back.groupName);
}

TEST_F(ContourAndMesh, MeshWritesEveryItemAndPreviousKeepsItem4) {
  void* g = writeGroup();
  CGMeshTypeDescr* cur = gmesh_Allocate(0, u"Mesh");
  ASSERT_NE(cur, nullptr);
  CGMeshTypeDescr prev;
  prev.item4 = 40;
  cur->item4 = 4;
  const Ids all = {9999, 1, 2, 3, 4, 5};
  EXPECT_EQ(all, idsWrittenBy(g, [&] { gmesh_WriteGroupInfo(g, nullptr, cur); }));
  EXPECT_EQ(all, idsWrittenBy(g, [&] { gmesh_WriteGroupInfo(g, &prev, cur); }));
  EXPECT_EQ(all, idsWrittenBy(g, [&] { gmesh_WriteGroupInfo(g, &prev, cur); }));
  EXPECT_EQ(40, prev.item4);
  EXPECT_EQ(VelString(u"Mesh"), prev.groupName);
  gmesh_Delete(cur, 1);
}

TEST_F(ContourAndMesh, MeshIntegersRoundTripWithTheirTypes) {
  void* g = writeGroup();
  CGMeshTypeDescr* cur = gmesh_Allocate(0, u"Mesh");
  ASSERT_NE(cur, nullptr);
  cur->item2 = cur->item5 = -1;
  cur->item3 = -123456;
  ASSERT_EQ(0, gmesh_WriteGroupInfo(g, nullptr, cur));
  g = reopenGroup();
  Ids types;
  for (uint32_t i = 2; i < file_ItemNbrGet(g); ++i) {  // after the name and item 9999
    uint16_t type = 0;
    file_ItemInfo(g, i, nullptr, &type, nullptr, nullptr, nullptr, 0);
    types.push_back(type);
  }
  EXPECT_EQ(Ids({kTypeFloat, kTypeUInt32, kTypeInt32, kTypeUInt32, kTypeUInt32}), types);
  CGMeshTypeDescr back;
  back.swapFlag = 3;  // only a zero flag is taken from the group
  ASSERT_EQ(0, gmesh_ReadGroupInfo(g, &back));
  EXPECT_EQ(-1, back.item2);
  EXPECT_EQ(-123456, back.item3);
  EXPECT_EQ(-1, back.item5);
  EXPECT_EQ(3, back.swapFlag);
  gmesh_Delete(cur, 1);
}

}  // namespace
