// The DAC module: the points item that follows the point count, the writer
// that leaves the name and the previous descriptor alone, and counts or
// stored arrays that do not fit the 512 points.
#include <velfile/gdac.h>

#include "groupmodule.h"
#include "moduletest.h"

using namespace vt;

namespace {

void fill(CGDacTypeDescr& d, int n) {
  d.pointCount = n;
  for (int i = 0; i < n; ++i) {
    d.points[i].firstValue = 2.0f * i + 1;
    d.points[i].secondValue = 2.0f * i + 2;
  }
}

}  // namespace

class DacTest : public ModuleTest {
 protected:
  static uint32_t indexOf(void* g, uint16_t id) {
    const std::vector<uint16_t> ids = itemIds(g);
    return static_cast<uint32_t>(std::find(ids.rbegin(), ids.rend(), id).base() - ids.begin()) - 1;
  }

  // The values of the last item with this id, as floats.
  static std::vector<float> storedFloats(void* g, uint16_t id) {
    uint32_t count = 0;
    VelFile::file_ItemInfo(g, indexOf(g, id), nullptr, nullptr, &count, nullptr, nullptr, 0);
    std::vector<float> v(count + 1);
    EXPECT_EQ(0, VelFile::file_IndexBlockRead(g, indexOf(g, id), VelFile::kTypeFloat,
                                              reinterpret_cast<char*>(v.data())));
    v.pop_back();
    return v;
  }
};

TEST_F(DacTest, RoundTripStoresCountTimesTwoFloatsAndKeepsTheGroupsName) {
  CGDacTypeDescr d;
  velfile::copyText(d.groupName, 32, u"Not the group's");
  fill(d, 3);
  d.item1 = -5;
  d.item3 = 0.25f;
  void* g = writeGroup(u"Dac");
  EXPECT_EQ(0, gdac_WriteGroupInfo(g, nullptr, &d));
  EXPECT_EQ((std::vector<uint16_t>{10000, 9999, 1, 2, 3, 4, 5}), itemIds(g));
  EXPECT_EQ((std::vector<float>{1, 2, 3, 4, 5, 6}), storedFloats(g, 5));

  CGDacTypeDescr r;
  r.points[3].firstValue = 9.0f;  // beyond the count: untouched
  EXPECT_EQ(0, gdac_ReadGroupInfo(reopenGroup(), &r));
  EXPECT_EQ(VelString(u"Dac"), VelString(r.groupName));
  EXPECT_EQ(9.0f, r.points[3].firstValue);
  r.points[3].firstValue = 0.0f;
  velfile::copyText(r.groupName, 32, d.groupName);
  d.groupHandle = r.groupHandle;
  EXPECT_EQ(1, r == d);  // item 1 read back as -5
}

TEST_F(DacTest, WriterComparesStoredPointsAndNeverUpdatesPrevious) {
  void* g = writeGroup();
  CGDacTypeDescr prev, cur;
  fill(cur, 3);
  auto write = [&] { return idsWrittenBy(g, [&] { EXPECT_EQ(0, gdac_WriteGroupInfo(g, &prev, &cur)); }); };
  const std::vector<uint16_t> first{9999, 1, 4, 5};
  EXPECT_EQ(first, write());
  EXPECT_EQ(first, write());  // previous is as it was
  ASSERT_EQ(0, gdac_Duplicate(&cur, &prev));
  EXPECT_EQ((std::vector<uint16_t>{9999, 1}), write());
  cur.points[2].secondValue = -1.0f;
  EXPECT_EQ((std::vector<uint16_t>{9999, 1, 5}), write());
  EXPECT_EQ((std::vector<float>{1, 2, 3, 4, 5, -1}), storedFloats(g, 5));
  gdac_Duplicate(&cur, &prev);
  cur.pointCount = 4;
  EXPECT_EQ((std::vector<uint16_t>{9999, 1, 4, 5}), write());
  gdac_Duplicate(&cur, &prev);
  cur.points[100].firstValue = 1.0f;  // carried in memory, never stored
  EXPECT_EQ((std::vector<uint16_t>{9999, 1}), write());
  EXPECT_EQ(1, cur != prev);
}

TEST_F(DacTest, CountsAndStoredArraysBeyond512PointsAreLimited) {
  void* g = writeGroup();
  CGDacTypeDescr d;
  fill(d, 512);
  d.pointCount = 600;
  EXPECT_EQ(0, gdac_WriteGroupInfo(g, nullptr, &d));
  EXPECT_EQ(std::vector<float>{512}, storedFloats(g, 4));
  EXPECT_EQ(1024u, storedFloats(g, 5).size());
  EXPECT_EQ(600, d.pointCount);  // the descriptor is left as it was
  d.pointCount = -3;
  EXPECT_EQ(0, gdac_WriteGroupInfo(g, nullptr, &d));
  EXPECT_EQ(0u, storedFloats(g, 5).size());

  std::vector<float> many(1100);
  for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<float>(i);
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 5, VelFile::kTypeFloat, 1100, cp(many.data())));
  CGDacTypeDescr r;
  EXPECT_EQ(0, gdac_ReadGroupInfo(reopenGroup(), &r));
  EXPECT_EQ(1022.0f, r.points[511].firstValue);
  EXPECT_EQ(1023.0f, r.points[511].secondValue);
}

TEST_F(DacTest, AFailedPointsReadDoesNotFailTheGroup) {
  // Item 5 points its floats past the end of the file; item 4 follows it.
  void* g = openHandMadeGroup([](Image& img) { img.entry(5, 10, 100, 0x7000).entry(4, 6, 1, 3); });
  CGDacTypeDescr d;
  EXPECT_EQ(0, gdac_ReadGroupInfo(g, &d));
  EXPECT_EQ(3, d.pointCount);
}
