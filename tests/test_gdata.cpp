// The data group: its descriptor (assignment, size formulas), the items with
// rules of their own, and its bulk data on disk, which must be the bytes a
// point-by-point writer would lay down.
#include <velfile/gdata.h>

#include <string>

#include "moduletest.h"

namespace {

using U16 = vt::VelString;
using D = CGDataTypeFDD;
using vt::Bytes;
using vt::Ids;
using vt::idsWrittenBy;
using vt::itemIds;

U16 text(const VelChar* t) {
  return U16(t);
}
U16 patchName(const CGDataTypeFDD& d) {
  const VelChar* p = nullptr;
  const uint64_t n = d.GetPatchIDName(&p);
  return U16(p, static_cast<size_t>(n));
}

TEST(GDataDescr, AssignmentParticulars) {
  CGDataTypeFDD src;
  src.firstAngle = 400.0f;
  src.secondAngle = -30.0f;
  // Texts filled to the brim without a terminator; pair 5 with a space at 10.
  for (size_t i = 0; i < 32; ++i) src.item10207[i] = i == 10 ? VELFILE_TEXT(' ') : VELFILE_TEXT('a');
  for (size_t i = 0; i < 32; ++i) src.item10407[i] = VELFILE_TEXT('b');
  src.depthTable[30].firstValue = 7.0;  // beyond the entry count, still copied
  src.dataReference = 0x123456789ull;
  src.SetPatchIDName(VELFILE_TEXT("probe"), 5);
  src.SetThicknessMeasurement(1);
  src.SetDataModified();
  int group = 0;
  src.SetDataGroupHandle(&group);

  CGDataTypeFDD dst;
  dst = src;
  EXPECT_FLOAT_EQ(40.0f, dst.firstAngle);
  EXPECT_FLOAT_EQ(330.0f, dst.secondAngle);
  EXPECT_FLOAT_EQ(400.0f, src.firstAngle);
  EXPECT_EQ(U16(10, VELFILE_TEXT('a')), text(dst.item10207));
  EXPECT_EQ(U16(31, VELFILE_TEXT('b')), text(dst.item10407));
  EXPECT_EQ(7.0, dst.depthTable[30].firstValue);
  EXPECT_EQ(0x123456789ull, dst.dataReference);
  EXPECT_EQ(VELFILE_TEXT("probe"), patchName(dst));
  // A patch name takes 31 units and its terminator; a longer one is refused.
  dst.SetPatchIDName(vt::VelString(31, VELFILE_TEXT('p')).c_str(), 31);
  EXPECT_THROW(dst.SetPatchIDName(vt::VelString(32, VELFILE_TEXT('q')).c_str(), 32),
               CGDataTypeFDD::eGDataTypeFDDErrorCode);
  EXPECT_EQ(U16(31, VELFILE_TEXT('p')), patchName(dst));
  EXPECT_EQ(1, dst.IsThicknessMeasurement());
  EXPECT_TRUE(dst.IsDataModified());
  EXPECT_EQ(&group, dst.GetDataGroupHandle());

  // No space in reach: cut to 31.
  for (size_t i = 0; i < 32; ++i) src.item10207[i] = i == 31 ? VELFILE_TEXT(' ') : VELFILE_TEXT('c');
  dst = src;
  EXPECT_EQ(U16(31, VELFILE_TEXT('c')), text(dst.item10207));
}

TEST(GDataDescr, SizeFormulas) {
  CGDataTypeFDD d;
  d.pointEntrySize = 4;
  d.dataClass = 1;
  d.SetSampleQty(512);
  d.sampleSize = 2;
  d.firstPointCount = 10;
  d.secondPointCount = 20;
  EXPECT_EQ(205600u, d.EvaluateDataFileSize());
  const std::pair<int32_t, uint64_t> byClass[] = {{2, 800}, {20, 800}, {10, 0}, {2001, 0}, {7, 36}};
  for (const auto& c : byClass) {
    d.dataClass = c.first;
    EXPECT_EQ(c.second, d.EvaluateDataFileSize(c.second == 36 ? 3 : 10, c.second == 36 ? 3 : 20, 512, 4));
  }
  EXPECT_EQ(138u, d.EvaluateDataFileSizeAscanPeak(2, 3, 5));
  EXPECT_EQ(600u, d.EvaluateDataFileSizeAscanPeak(0x40000000));  // 4p + 2 wraps in 32 bits to 2
  d.SetSampleQty(100);
  d.sampleSize = 1;
  EXPECT_EQ(312u, d.EvaluateDataFileSizeAscanVideo(3));

  // Fields of -1 count as 4294967295; everything wraps at 2^64.
  CGDataTypeFDD fresh;
  const uint64_t m = 0xFFFFFFFFull;
  EXPECT_EQ(m * m * m, fresh.EvaluateDataFileSize());
  fresh.dataClass = 1;
  fresh.sampleSize = -1;
  EXPECT_EQ(m * m * m + m * m * m * m, fresh.EvaluateDataFileSize());
  EXPECT_EQ(m * 2 + m * m * 2, fresh.EvaluateDataFileSizeAscanVideo(2));
}

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

TEST_F(GData, SpecialReads) {
  // 4242 is not one of ours: skipped quietly.
  for (const auto& v : {std::pair<uint16_t, uint32_t>{10450, 14},
                        {10453, 9},
                        {10469, 1},
                        {10408, 1001},
                        {10461, 5},
                        {10470, 1},
                        {4242, 1}})
    put<uint32_t>(v.first, 7, v.second);
  put<float>(2604, 10, 7.5f);
  put<float>(10457, 10, -30.0f);
  const vt::VelString longText(40, VELFILE_TEXT('t'));
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
  EXPECT_EQ(vt::VelString(31, VELFILE_TEXT('t')), vt::VelString(d.item10407));
  EXPECT_EQ(63.0, d.depthTable[31].secondValue);  // 64 doubles kept, the rest dropped
  EXPECT_EQ(2.0, d.depthTable[1].firstValue);
  EXPECT_EQ(3.0, d.depthTable[1].secondValue);

  for (float v : {5.0f, -0.1f}) {  // the bound keeps 5.0
    put<float>(2604, 10, v);
    put<uint32_t>(10450, 7, 11);
    put<uint32_t>(10408, 7, 1000);  // the largest patch ID
    ASSERT_EQ(0, gdata_ReadGroupInfo(group_, &d));
    EXPECT_EQ(1000u, d.GetPatchID());
    EXPECT_FLOAT_EQ(v == 5.0f ? 5.0f : 0.05f, d.item2604);
    EXPECT_EQ(8, d.sampleSize);
  }
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

TEST_F(GData, AllocateCutsTheNameAndDuplicateRefusesNull) {
  D* d = gdata_Allocate(5, vt::VelString(300, VELFILE_TEXT('g')).c_str());
  EXPECT_EQ(259u, vt::VelString(d->groupName).size());
  EXPECT_EQ(-1, gdata_Duplicate(d, nullptr));
  EXPECT_EQ(-1, gdata_Duplicate(nullptr, d));
  gdata_Delete(d);
  EXPECT_EQ(nullptr, d);
  gdata_Delete(d);
}

uint64_t addr(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

// The layout written one point at a time: a reservation and a write per
// record, a write per table entry. The module must put the same bytes on disk.
int perPoint(D& d) {
  void* h = d.GetDataGroupHandle();
  const bool variable = d.dataClass == 10;
  const uint32_t n = uint32_t(d.firstPointCount) * uint32_t(d.secondPointCount);
  const uint32_t e = uint32_t(d.pointEntrySize);
  const uint32_t s = uint32_t(d.sampleSize) * d.GetSampleQty();
  const uint64_t* points = reinterpret_cast<const uint64_t*>(uintptr_t(d.dataReference));
  auto size = [&](uint64_t p) {
    return variable ? (2u * *reinterpret_cast<const uint16_t*>(uintptr_t(p)) + 1) * 2 : s;
  };
  const uint64_t table = VelFile::file_Allocate(h, n * e);
  uint64_t cursor = 0;
  if (variable) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < n; ++i) total += points[i] >= 3 ? size(points[i]) : 0;
    cursor = VelFile::file_Allocate(h, total);
  }
  int rc = 0;
  std::vector<char> entry(e, 0);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t v = uint32_t(points[i]);
    if (points[i] >= 3) {
      const uint64_t at = variable ? cursor : VelFile::file_Allocate(h, s);
      cursor += variable ? size(points[i]) : 0;
      rc |= VelFile::file_Write(h, at, reinterpret_cast<const char*>(uintptr_t(points[i])), size(points[i]),
                                nullptr);
      v = uint32_t(at);
    }
    std::memcpy(entry.data(), &v, 4);
    rc |= VelFile::file_Write(h, table + uint64_t(i) * e, entry.data(), e, nullptr);
  }
  d.dataReference = table;
  const uint32_t low = uint32_t(table);
  return rc | VelFile::file_ItemValueWrite(d.GetGroupHandle(), 10461, 7, 1, vt::cp(&low));
}

class GDataBulk : public vt::ModuleTest {
 protected:
  // Writes d's data into a fresh file by `how`; returns the file's bytes and
  // leaves the descriptor as written in written_.
  Bytes fileWith(
      D d, int (*how)(D&) = [](D& x) { return gdata_WriteDataClassData(nullptr, &x); }) {
    void* g = writeGroup();
    d.SetGroupHandle(g);
    d.SetDataGroupHandle(g);
    EXPECT_EQ(0, how(d));
    EXPECT_EQ(0, VelFile::file_Close(file_));
    file_ = nullptr;
    written_ = d;
    return vt::readFile(path("module.bin"));
  }
  void expectSameAsPerPoint(const D& d) {
    const Bytes mine = fileWith(d);
    const uint64_t placed = written_.dataReference;
    EXPECT_EQ(fileWith(d, perPoint), mine);
    EXPECT_EQ(written_.dataReference, placed);
  }
  static D pointData(int32_t dataClass, int32_t a, int32_t b, int32_t entrySize, const void* points,
                     int32_t sampleSize = 0, uint32_t qty = 0) {
    D d;
    d.dataClass = dataClass;
    d.firstPointCount = a;
    d.secondPointCount = b;
    d.pointEntrySize = entrySize;
    d.dataReference = addr(points);
    d.sampleSize = sampleSize;
    d.SetSampleQty(qty);
    return d;
  }

  D written_;
};

// Layouts that take each path of the batched writer: contiguous records,
// scattered and unaligned ones, padded entries, records larger than the
// staging area, and enough points to fill it several times.
TEST_F(GDataBulk, SameBytesAsWritingPointByPoint) {
  std::vector<char> pool(400000);
  for (size_t i = 0; i < pool.size(); ++i) pool[i] = char(i * 7 + 3);
  auto at = [&](size_t offset) { return addr(&pool[offset]); };

  std::vector<uint64_t> pts;
  for (size_t i = 0; i < 50; ++i) pts.push_back(at(i * 64));
  expectSameAsPerPoint(pointData(1, 10, 5, 4, pts.data(), 4, 16));
  // 5-byte records: scattered, backwards, repeated, between markers; 8-byte entries.
  pts = {at(900), 0, at(17), at(17), 2, at(5), 1, at(3000), at(3005), at(3010)};
  expectSameAsPerPoint(pointData(1, 5, 2, 8, pts.data(), 1, 5));
  pts = {at(0), at(70000), at(250000), 0};
  expectSameAsPerPoint(pointData(1, 2, 2, 4, pts.data(), 2, 35000));
  pts.clear();
  for (size_t i = 0; i < 6000; ++i) pts.push_back(i % 7 == 0 ? i % 3 : at((i * 977) % 390000));
  expectSameAsPerPoint(pointData(1, 6000, 1, 4, pts.data(), 12, 1));

  auto record = [&](size_t offset, uint16_t m) {
    std::memcpy(&pool[offset], &m, 2);
    return at(offset);
  };
  pts = {record(0, 2), record(10, 3), 0, record(5000, 0), record(200, 40000), 2};
  for (size_t i = 0; i < 3000; ++i)
    pts.push_back(i % 5 ? record(300000 + (i % 50) * 40, uint16_t(i % 9)) : 1);
  expectSameAsPerPoint(pointData(10, 3006, 1, 64, pts.data()));  // a staging area larger than a direct run
}

TEST_F(GDataBulk, RefusedLayoutsWriteNothing) {
  const uint64_t pts[4] = {};
  struct Case {
    const char* why;
    int32_t dataClass, a, b, entrySize, sampleSize;
    uint32_t qty;
  } cases[] = {{"class 4", 4, 2, 2, 4, 1, 1},
               {"entry below 4", 10, 2, 2, 3, 1, 1},
               {"point count", 1, 0x10000, 0x10000, 4, 1, 1},
               {"table size", 10, 0x40000000, 1, 4, 1, 1},
               {"record size", 1, 2, 2, 4, 0x10000, 0x10000},
               {"block size", 3, 2, 2, -1, 1, 1}};
  for (const Case& c : cases) {
    D d = pointData(c.dataClass, c.a, c.b, c.entrySize, pts, c.sampleSize, c.qty);
    void* g = writeGroup();
    d.SetGroupHandle(g);
    d.SetDataGroupHandle(g);
    const uint64_t before = VelFile::file_Allocate(g, 1);
    EXPECT_EQ(2, gdata_WriteDataClassData(nullptr, &d)) << c.why;
    EXPECT_EQ(before + 8, VelFile::file_Allocate(g, 1)) << c.why;
    EXPECT_EQ(addr(pts), d.dataReference) << c.why;
    EXPECT_EQ(1u, VelFile::file_ItemNbrGet(g)) << c.why;  // only its name
    VelFile::file_Close(file_);
    file_ = nullptr;
  }
  EXPECT_EQ(2, gdata_WriteDataClassData(nullptr, nullptr));
}

}  // namespace
