// The data group's descriptor: defaults, validating setters, assignment, the
// angle normalisation and the size formulas.
#include <gtest/gtest.h>
#include <velfile/gdac.h>
#include <velfile/gdata.h>

#include <cmath>
#include <string>

namespace {

using U16 = std::u16string;

U16 text(const VelChar* t) {
  return U16(reinterpret_cast<const char16_t*>(t));
}
U16 patchName(const CGDataTypeFDD& d) {
  const VelChar* p = nullptr;
  const uint64_t n = d.GetPatchIDName(&p);
  return U16(reinterpret_cast<const char16_t*>(p), static_cast<size_t>(n));
}

TEST(GDataDescr, DefaultsAndReset) {
  CGDataTypeFDD d;
  d.SetDataType(zor_eDataTypeFloat);
  d.SetDataModified();
  d.depthTable[31].secondValue = 2.5;
  d.InitializeData();
  EXPECT_EQ(zor_eDataTypeNone, d.GetDataType());
  EXPECT_EQ(0xFFFFFFFFu, d.GetSampleQty());
  EXPECT_EQ(-1, d.firstPointCount & d.secondPointCount & d.pointEntrySize);
  EXPECT_EQ(0x12345678u, d.signature);
  EXPECT_FALSE(d.IsDataModified());
  EXPECT_EQ(0.0, d.depthTable[31].secondValue);
}

TEST(GDataDescr, SettersStoreTheRefusalValue) {
  CGDataTypeFDD d;
  struct Case {
    int32_t value, stored;
  };
  auto check = [](const char* what, auto set, auto get, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      set(c.value);
      EXPECT_EQ(c.stored, static_cast<int32_t>(get())) << what << " " << c.value;
    }
  };
  // clang-format off
  check("type", [&](int32_t v) { d.SetDataType(zor_enumDataType(v)); }, [&] { return d.GetDataType(); },
        {{13, 13}, {14, -1}, {0, 0}, {-5, -1}});
  check("units", [&](int32_t v) { d.SetDataUnits(zor_enumUnits(v)); }, [&] { return d.GetDataUnits(); },
        {{8, 8}, {9, 0}, {5, 5}, {-5, 0}});
  check("scale", [&](int32_t v) { d.SetDataScale(gdata_enumDataScale(v)); }, [&] { return d.GetDataScale(); },
        {{1, 1}, {2, 0}, {1, 1}, {-1, 0}});
  check("rectif", [&](int32_t v) { d.SetDataRectification(gdata_enumRectif(v)); },
        [&] { return d.GetDataRectification(); }, {{3, 3}, {4, 0}, {2, 2}, {-1, 0}});
  check("bookmark", [&](int32_t v) { d.SetDataBookmarkType(eDataBookmarkType(v)); },
        [&] { return d.GetDataBookmarkType(); }, {{23, 23}, {24, 0}, {7, 7}, {-1, 0}});
  check("patch", [&](int32_t v) { d.SetPatchID(uint32_t(v)); }, [&] { return d.GetPatchID(); },
        {{1000, 1000}, {1001, 1000}, {17, 17}, {-1, 1000}});
  // clang-format on
}

TEST(GDataDescr, PatchIDNameIsBoundedAndOnlyItThrows) {
  CGDataTypeFDD d;
  const U16 long40(40, u'n');
  d.SetPatchIDName(long40.c_str(), 31);
  EXPECT_EQ(U16(31, u'n'), patchName(d));
  int code = -1;
  try {
    d.SetPatchIDName(u"other", 32);
  } catch (CGDataTypeFDD::eGDataTypeFDDErrorCode c) {
    code = c;
  }
  EXPECT_EQ(4, code);
  EXPECT_EQ(U16(31, u'n'), patchName(d));  // unchanged
  d.SetPatchIDName(u"abcdef", 3);
  EXPECT_EQ(u"abc", patchName(d));
  d.SetPatchIDName(u"xy", 10);  // stops at the terminator
  EXPECT_EQ(u"xy", patchName(d));
}

TEST(GDataDescr, NormalizeAngle) {
  const std::pair<double, double> cases[] = {{370, 10},
                                             {-90, 270},
                                             {-400, 320},
                                             {720, 0},
                                             {360, 0},
                                             {-0.5, 359.5},
                                             {1e300, std::fmod(1e300, 360.0)}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(c.second, NormalizeAngle(c.first)) << c.first;
  const double tiny = NormalizeAngle(-1e-20);
  EXPECT_TRUE(tiny >= 0.0 && tiny < 360.0) << tiny;
}

TEST(GDataDescr, AssignmentParticulars) {
  CGDataTypeFDD src;
  src.firstAngle = 400.0f;
  src.secondAngle = -30.0f;
  // Texts filled to the brim without a terminator; pair 5 with a space at 10.
  for (size_t i = 0; i < 32; ++i) src.item10207[i] = i == 10 ? u' ' : u'a';
  for (size_t i = 0; i < 32; ++i) src.item10407[i] = u'b';
  src.depthTable[30].firstValue = 7.0;  // beyond the entry count, still copied
  src.dataReference = 0x123456789ull;
  src.SetPatchIDName(u"probe", 5);
  src.SetThicknessMeasurement(1);
  src.SetDataModified();
  int group = 0;
  src.SetDataGroupHandle(&group);

  CGDataTypeFDD dst;
  dst = src;
  EXPECT_FLOAT_EQ(40.0f, dst.firstAngle);
  EXPECT_FLOAT_EQ(330.0f, dst.secondAngle);
  EXPECT_FLOAT_EQ(400.0f, src.firstAngle);
  EXPECT_EQ(U16(10, u'a'), text(dst.item10207));
  EXPECT_EQ(U16(31, u'b'), text(dst.item10407));
  EXPECT_EQ(7.0, dst.depthTable[30].firstValue);
  EXPECT_EQ(0x123456789ull, dst.dataReference);
  EXPECT_EQ(u"probe", patchName(dst));
  EXPECT_EQ(1, dst.IsThicknessMeasurement());
  EXPECT_TRUE(dst.IsDataModified());
  EXPECT_EQ(&group, dst.GetDataGroupHandle());

  // No space in reach: cut to 31.
  for (size_t i = 0; i < 32; ++i) src.item10207[i] = i == 31 ? u' ' : u'c';
  dst = src;
  EXPECT_EQ(U16(31, u'c'), text(dst.item10207));
}

// An object equals itself, also when it holds a NaN (which equals nothing else).
TEST(GDataDescr, FloatPairsEqualThemselvesWithANaN) {
  CSCSDepth depth, other;
  CDacPts point, otherPoint;
  depth.secondValue = other.secondValue = std::nan("");
  point.firstValue = otherPoint.firstValue = std::nanf("");
  EXPECT_EQ(1, depth == depth);
  EXPECT_EQ(0, depth != depth);
  EXPECT_EQ(0, depth == other);
  EXPECT_EQ(1, point == point);
  EXPECT_EQ(0, point == otherPoint);
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

}  // namespace
