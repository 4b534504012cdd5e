// The data group's items: a full round trip through a file, the special
// reads, and what a later write stores.
#include <velfile/gdata.h>

#include "moduletest.h"

namespace {

using D = CGDataTypeFDD;
using Ids = std::vector<uint16_t>;

const Ids kAlways = {10400, 10200, 10418, 10206, 10408, 10500, 9999};

bool has(const Ids& ids, uint16_t id) {
  return std::count(ids.begin(), ids.end(), id) > 0;
}

class GData : public vt::ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    group_ = writeGroup();
  }
  // The value of the last item with this id.
  template <class T>
  T last(uint16_t id, uint16_t type) {
    const Ids ids = itemIds(group_);
    const uint32_t index = uint32_t(std::find(ids.rbegin(), ids.rend(), id).base() - ids.begin() - 1);
    T v{};
    EXPECT_EQ(0, VelFile::file_IndexValueRead(group_, index, type, reinterpret_cast<char*>(&v), nullptr));
    return v;
  }
  template <class T>
  void put(uint16_t id, uint16_t type, const T& v, uint32_t count = 1) {
    ASSERT_EQ(0, VelFile::file_ItemValueWrite(group_, id, type, count, vt::cp(&v)));
  }
  Ids write(D* prev, D& cur, int mode, int* rc = nullptr) {
    int r = 0;
    const Ids ids = idsWrittenBy(group_, [&] { r = gdata_WriteGroupInfo(group_, prev, &cur, mode); });
    if (rc) *rc = r;
    return ids;
  }

  void* group_ = nullptr;
};

void fillAll(D& d) {
  std::char_traits<char16_t>::copy(reinterpret_cast<char16_t*>(d.groupName), u"Data group", 11);
  VelChar* texts[] = {d.item10407, d.item10406, d.item10208, d.item10419, d.item10207};
  for (int i = 0; i < 5; ++i) texts[i][0] = VelChar(u'A' + i), texts[i][1] = u'!';
  // clang-format off
  int32_t* ints[] = {&d.item10405, &d.item10200, &d.item10418, &d.item10206, &d.item10401, &d.item10402,
      &d.item10403, &d.item10404, &d.firstPointCount, &d.firstAxisInteger, &d.secondPointCount,
      &d.secondAxisInteger, &d.sampleAxisInteger, &d.item10465, &d.item10466, &d.item10467, &d.item10468,
      &d.item6, &d.item1, &d.item2, &d.item3, &d.pointEntrySize, &d.item10463, &d.item10460, &d.item10480,
      &d.item10485, &d.item10486, &d.item10487, &d.item10488, &d.item10440, &d.item10100};
  float* floats[] = {&d.firstAxisFactor, &d.firstAxisOffset, &d.secondAxisFactor, &d.secondAxisOffset,
      &d.sampleAxisFactor, &d.sampleAxisOffset, &d.item10451, &d.item10452, &d.item10454, &d.item10455,
      &d.item1007, &d.item1106, &d.item4, &d.item5, &d.item10456, &d.item10484, &d.item2604};
  // clang-format on
  for (size_t i = 0; i < sizeof ints / sizeof *ints; ++i) *ints[i] = int32_t(100 + i);
  for (size_t i = 0; i < sizeof floats / sizeof *floats; ++i) *floats[i] = 0.25f + float(i) / 8;
  d.dataClass = 4;   // no bulk layout
  d.item10486 = -7;  // a signed item
  d.firstAngle = 12.5f;
  d.secondAngle = 300.0f;
  d.item10481 = 1.0 / 3.0;
  d.depthEntryCount = 3;
  for (int i = 0; i < 3; ++i) d.depthTable[i].firstValue = i + 0.25, d.depthTable[i].secondValue = -i - 0.5;
  d.SetSampleQty(512);
  d.SetPatchID(999);
  d.SetPatchIDName(u"Patch", 5);
  d.SetDataType(zor_eDataTypeUInt16);
  d.SetDataUnits(zor_enumUnits(8));
  d.SetDataScale(gdata_enumDataScale(1));
  d.SetDataRectification(gdata_enumRectif(3));
  d.SetDataBookmarkType(eDataBookmarkType(23));
  d.dataReference = 0x40;
}

// Read back, the descriptor equals the one written: writing it again with
// the original as previous stores only the items written every time.
TEST_F(GData, FullDescriptorRoundTrip) {
  D d;
  fillAll(d);
  EXPECT_EQ(0, gdata_WriteGroupInfo(group_, nullptr, &d, 1));
  void* g = reopenGroup();
  D r;
  ASSERT_EQ(0, gdata_ReadGroupInfo(g, &r));
  EXPECT_EQ(2, r.layoutVersion);
  EXPECT_EQ(2, r.sampleSize);  // from the data type
  EXPECT_EQ(g, r.GetGroupHandle());
  EXPECT_EQ(g, r.GetDataGroupHandle());
  EXPECT_EQ(std::u16string(d.groupName), std::u16string(r.groupName));
  EXPECT_TRUE(d.depthTable[2] == r.depthTable[2]);

  void *again = nullptr, *section = nullptr;
  ASSERT_EQ(0, VelFile::file_Create(vpath("again.bin").c_str(), &again));
  ASSERT_EQ(0, VelFile::file_GroupCreate(again, &section, 0, u"Again"));
  Ids expected = kAlways;
  expected.push_back(10482);
  EXPECT_EQ(expected, idsWrittenBy(section, [&] { gdata_WriteGroupInfo(section, &d, &r, 1); }));
  VelFile::file_Close(again);
}

TEST_F(GData, SpecialReads) {
  put<uint32_t>(10450, 7, 14);
  put<uint32_t>(10453, 7, 9);
  put<uint32_t>(10469, 7, 1);
  put<uint32_t>(10408, 7, 1001);
  put<float>(2604, 10, 7.5f);
  put<float>(10457, 10, -30.0f);
  put<uint32_t>(10461, 7, 5);
  put<uint32_t>(10470, 7, 1);
  put<uint32_t>(4242, 7, 1);  // not one of ours: skipped quietly
  const std::u16string longText(40, u't');
  put(10409, 12, longText[0], 41);
  put(10407, 12, longText[0], 41);
  double depths[70];
  for (int i = 0; i < 70; ++i) depths[i] = i;
  put(10482, 11, depths[0], 70);

  D d;
  d.dataReference = 0x700000000ull;
  d.SetDataType(zor_eDataTypeFloat);
  d.swapFlag = 5;
  ASSERT_EQ(0, gdata_ReadGroupInfo(group_, &d));
  EXPECT_EQ(0, diagCount());
  EXPECT_EQ(zor_eDataTypeNone, d.GetDataType());
  EXPECT_EQ(1, d.sampleSize);
  EXPECT_EQ(0, d.GetDataUnits());
  EXPECT_EQ(1, d.GetDataScale());
  EXPECT_EQ(0u, d.GetPatchID());
  EXPECT_FLOAT_EQ(0.05f, d.item2604);
  EXPECT_FLOAT_EQ(330.0f, d.firstAngle);
  EXPECT_EQ(0x700000005ull, d.dataReference);  // only the low half is stored
  EXPECT_EQ(0, d.IsThicknessMeasurement());
  EXPECT_EQ(5, d.swapFlag);
  EXPECT_EQ(31u, d.GetPatchIDName(nullptr));
  EXPECT_EQ(std::u16string(31, u't'), std::u16string(d.item10407));
  EXPECT_EQ(63.0, d.depthTable[31].secondValue);  // 64 doubles kept, the rest dropped

  for (float v : {5.0f, -0.1f}) {  // the bound keeps 5.0
    put<float>(2604, 10, v);
    put<uint32_t>(10450, 7, 11);
    ASSERT_EQ(0, gdata_ReadGroupInfo(group_, &d));
    EXPECT_FLOAT_EQ(v == 5.0f ? 5.0f : 0.05f, d.item2604);
    EXPECT_EQ(8, d.sampleSize);
  }
}

TEST_F(GData, EveryItemInOrderThenOnlyTheAlwaysItems) {
  const uint32_t point = 0xAABBCCDD;
  D d;
  d.dataClass = 2;  // one block of E * n bytes
  d.firstPointCount = d.secondPointCount = 1;
  d.pointEntrySize = 4;
  d.dataReference = reinterpret_cast<uintptr_t>(&point);
  Ids expected = kAlways;
  for (uint16_t id :
       {10405, 10407, 10406, 10208, 10419, 10207, 10409, 10100, 10401, 10402, 10403, 10404, 10440,
        10420, 10421, 10422, 10423, 10410, 10411, 10412, 10413, 10430, 10431, 10432, 10433, 10450,
        10451, 10452, 10453, 10454, 10455, 10465, 10466, 10467, 10468, 10469, 10459, 1007,  10457,
        1106,  10458, 2604,  10456, 10480, 10481, 10483, 10482, 10484, 10485, 10486, 10487, 10488,
        10460, 10462, 10463, 1,     2,     3,     4,     5,     6,     10470, 10461})
    expected.push_back(id);
  int rc = -1;
  EXPECT_EQ(expected, write(nullptr, d, 0, &rc));
  EXPECT_EQ(0, rc);
  EXPECT_EQ(group_, d.GetGroupHandle());
  EXPECT_EQ(group_, d.GetDataGroupHandle());
  EXPECT_EQ(last<uint32_t>(10461, 7), d.dataReference);

  D same = d;
  Ids again = kAlways;
  again.push_back(10482);
  EXPECT_EQ(again, write(&same, d, 0));
  same.dataReference = 77;  // previous takes everything but its own data reference
  d.item1 = 5;
  again.push_back(1);
  EXPECT_EQ(again, write(&same, d, 0));
  EXPECT_EQ(77u, same.dataReference);
  EXPECT_EQ(5, same.item1);

  D none;  // a class without a layout: no bulk data, code 2 in the result
  none.dataClass = 4;
  expected.pop_back();
  EXPECT_EQ(expected, write(nullptr, none, 0, &rc));
  EXPECT_EQ(2, rc & 2);
}

TEST_F(GData, ConditionsOfTheSpecialWrites) {
  D prev, d;
  auto wrote = [&](uint16_t id) {
    D p = prev;
    return has(write(&p, d, 1), id);
  };
  // Sample axis: kept once written for classes such as 2, rewritten for 1.
  d.SetSampleQty(77);
  d.sampleAxisFactor = 3.0f;
  d.dataClass = 2;
  EXPECT_FALSE(wrote(10430));
  EXPECT_FALSE(wrote(10431));
  EXPECT_TRUE(has(write(nullptr, d, 1), 10430));
  d.dataClass = 1;
  EXPECT_TRUE(wrote(10430));
  EXPECT_TRUE(wrote(10431));
  EXPECT_FALSE(wrote(10432));

  // Angles are compared normalised and stored normalised.
  prev.firstAngle = 40.0f;
  d.firstAngle = 400.0f;
  EXPECT_FALSE(wrote(10457));
  d.firstAngle = 370.0f;
  EXPECT_TRUE(wrote(10457));
  EXPECT_FLOAT_EQ(10.0f, d.firstAngle);
  EXPECT_FLOAT_EQ(10.0f, last<float>(10457, 10));

  // Thickness measurement: stored as 0 and cleared once it differs.
  d.SetThicknessMeasurement(1);
  EXPECT_TRUE(wrote(10470));
  EXPECT_EQ(0u, last<uint32_t>(10470, 7));
  EXPECT_EQ(0, d.IsThicknessMeasurement());
  prev.SetThicknessMeasurement(1);
  d.SetThicknessMeasurement(1);
  EXPECT_FALSE(wrote(10470));

  // The depth table goes out every time (here the last item), at most 32 pairs.
  d.depthEntryCount = 40;
  EXPECT_TRUE(wrote(10482));
  uint32_t count = 0;
  VelFile::file_ItemInfo(group_, VelFile::file_ItemNbrGet(group_) - 1, nullptr, nullptr, &count, nullptr,
                         nullptr, 0);
  EXPECT_EQ(64u, count);

  // Mode non-zero: the reference as it is, when it changed.
  EXPECT_FALSE(wrote(10461));
  d.dataReference = 0x500000009ull;
  EXPECT_TRUE(wrote(10461));
  EXPECT_EQ(9u, last<uint32_t>(10461, 7));
  EXPECT_EQ(1, diagCount());
}

TEST_F(GData, ModeZeroWritesTheBulkDataWhenTheDataGroupChangedOrIsModified) {
  const uint32_t block[2] = {1, 2};
  int elsewhere = 0;
  void* previousGroup = nullptr;
  ASSERT_EQ(0, VelFile::file_GroupCreate(group_, &previousGroup, 5, u"Previous"));
  D base;
  base.dataClass = 3;
  base.firstPointCount = 2;
  base.secondPointCount = 1;
  base.pointEntrySize = 4;
  base.SetGroupHandle(previousGroup);
  base.SetDataGroupHandle(&elsewhere);
  D d = base;
  auto bulk = [&](bool withPrevious, void* dataGroup) {
    D p = base;
    d.dataReference = reinterpret_cast<uintptr_t>(block);
    d.SetDataGroupHandle(dataGroup);
    return has(write(withPrevious ? &p : nullptr, d, 0), 10461);
  };
  EXPECT_FALSE(bulk(true, &elsewhere));              // same data group, not modified
  EXPECT_TRUE(bulk(true, nullptr));                  // another data group
  EXPECT_EQ(previousGroup, d.GetDataGroupHandle());  // the data went to previous's group
  EXPECT_EQ(group_, d.GetGroupHandle());
  EXPECT_TRUE(bulk(false, &elsewhere));
  d.SetDataModified();
  EXPECT_TRUE(bulk(true, &elsewhere));
  uint32_t stored[2] = {};
  ASSERT_EQ(0,
            VelFile::file_ReadBlock(group_, uint32_t(d.dataReference), 8, reinterpret_cast<char*>(stored)));
  EXPECT_EQ(2u, stored[1]);
}

TEST_F(GData, ModuleOperations) {
  const std::u16string longName(300, u'g');
  D* d = gdata_Allocate(5, longName.c_str());
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(259u, std::u16string(d->groupName).size());
  EXPECT_EQ(-1, gdata_Duplicate(d, nullptr));
  EXPECT_EQ(-1, gdata_Duplicate(nullptr, d));
  gdata_InitDescr(d);
  EXPECT_EQ(0, d->groupName[0]);
  gdata_InitDescr(nullptr);
  EXPECT_EQ(1, diagCount());
  gdata_Delete(d);
  EXPECT_EQ(nullptr, d);
  gdata_Delete(d);
}

}  // namespace
