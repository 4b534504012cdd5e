// The probe module, and through it the shared module framework: the read
// loop, the write-what-changed sequence, hooks and diagnostic reports.
#include <velfile/gprobe.h>

#include <cmath>

#include "moduletest.h"

using namespace vt;

namespace {

class ProbeTest : public ModuleTest {
 protected:
  void TearDown() override {
    gprobe_Init(nullptr, nullptr, nullptr, nullptr, nullptr);
    ModuleTest::TearDown();
  }
};

void copyName(CGProbeTypeDescr& d, const VelChar* name) {
  std::memset(d.groupName, 0, sizeof d.groupName);
  for (int i = 0; name[i] && i < 31; ++i) d.groupName[i] = name[i];
}

CGProbeTypeDescr filled() {
  CGProbeTypeDescr d;
  copyName(d, u"Probe A");
  d.item1 = 17;
  d.item3 = 2.25f;
  d.item4 = -1.5f;
  d.item8 = 1e-3f;
  return d;
}

}  // namespace

TEST_F(ProbeTest, RoundTripThroughAFile) {
  CGProbeTypeDescr written = filled();
  void* g = writeGroup();
  EXPECT_EQ(0, gprobe_WriteGroupInfo(g, nullptr, &written));
  EXPECT_EQ(2, written.layoutVersion);  // the module's version, set by the write
  EXPECT_EQ((std::vector<uint16_t>{10000, 1, 9999, 3, 4, 5, 6, 7, 8}), itemIds(g));

  CGProbeTypeDescr read;
  read.item1 = 99;
  EXPECT_EQ(0, gprobe_ReadGroupInfo(reopenGroup(), &read));
  EXPECT_EQ(17, read.item1);
  EXPECT_EQ(2.25f, read.item3);
  EXPECT_EQ(-1.5f, read.item4);
  EXPECT_EQ(1e-3f, read.item8);
  EXPECT_EQ(VelString(u"Probe A"), VelString(read.groupName));
  EXPECT_EQ(0x56789012u, read.signature);
  EXPECT_NE(nullptr, read.groupHandle);
  // Equal once the fields that describe where it came from agree.
  written.groupHandle = read.groupHandle;
  EXPECT_EQ(1, written == read);
  EXPECT_EQ(0, written != read);
}

TEST_F(ProbeTest, SecondWriteStoresOnlyWhatChanged) {
  void* g = writeGroup();
  CGProbeTypeDescr prev;
  CGProbeTypeDescr cur = filled();
  EXPECT_EQ((std::vector<uint16_t>{1, 9999, 3, 4, 8}),
            idsWrittenBy(g, [&] { EXPECT_EQ(0, gprobe_WriteGroupInfo(g, &prev, &cur)); }));
  EXPECT_EQ(1, prev == cur);  // previous now holds what the group holds
  EXPECT_EQ((std::vector<uint16_t>{1, 9999}),
            idsWrittenBy(g, [&] { EXPECT_EQ(0, gprobe_WriteGroupInfo(g, &prev, &cur)); }));
  cur.item6 = 4.0f;
  EXPECT_EQ((std::vector<uint16_t>{1, 9999, 6}),
            idsWrittenBy(g, [&] { gprobe_WriteGroupInfo(g, &prev, &cur); }));
  // A NaN never equals itself, so it is written every time.
  cur.item7 = std::nanf("");
  EXPECT_EQ((std::vector<uint16_t>{1, 9999, 7}),
            idsWrittenBy(g, [&] { gprobe_WriteGroupInfo(g, &prev, &cur); }));
  EXPECT_EQ((std::vector<uint16_t>{1, 9999, 7}),
            idsWrittenBy(g, [&] { gprobe_WriteGroupInfo(g, &prev, &cur); }));
  // -0.0 equals 0.0: no change.
  cur.item7 = 0.0f;
  gprobe_WriteGroupInfo(g, &prev, &cur);
  cur.item7 = -0.0f;
  EXPECT_EQ((std::vector<uint16_t>{1, 9999}),
            idsWrittenBy(g, [&] { gprobe_WriteGroupInfo(g, &prev, &cur); }));
}

TEST_F(ProbeTest, ReadKeepsFieldsTheGroupLacksAndTakesTheNameFromItem2) {
  void* g = writeGroup(u"Ignored");
  const uint32_t version = 7;
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 9999, VelFile::kTypeUInt32, 1, cp(&version)));
  const VelString older = u"Old name";
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 2, VelFile::kTypeUtf16, 9, cp(older.c_str())));
  CGProbeTypeDescr d = filled();
  EXPECT_EQ(0, gprobe_ReadGroupInfo(reopenGroup(), &d));
  EXPECT_EQ(7, d.layoutVersion);
  EXPECT_EQ(17, d.item1);
  EXPECT_EQ(2.25f, d.item3);
  EXPECT_EQ(older, VelString(d.groupName));  // item 2 comes after item 10000
  EXPECT_EQ(0, diagCount());
}

TEST_F(ProbeTest, ForeignIdsAreReportedAndSkipped) {
  void* g = writeGroup();
  const uint32_t v = 5;
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 9, VelFile::kTypeUInt32, 1, cp(&v)));
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 1, VelFile::kTypeUInt32, 1, cp(&v)));
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 12345, VelFile::kTypeUInt32, 1, cp(&v)));
  CGProbeTypeDescr d;
  EXPECT_EQ(0, gprobe_ReadGroupInfo(reopenGroup(), &d));
  EXPECT_EQ(5, d.item1);
  EXPECT_EQ(2, diagCount());
}

TEST_F(ProbeTest, AFailingReadStopsTheLoopWithItsCodeAndAReport) {
  // Item 3 of a hand-made file points its float array past the end of file.
  void* g = openHandMadeGroup([](Image& img) { img.entry(1, 7, 1, 8).entry(3, 11, 1, 0x7000); });
  CGProbeTypeDescr d;
  EXPECT_EQ(2, gprobe_ReadGroupInfo(g, &d));
  EXPECT_EQ(8, d.item1);  // read before the failure
  EXPECT_EQ(1, diagCount());
}

TEST_F(ProbeTest, ReadKeepsAnExistingSwapFlag) {
  void* g = writeGroup();
  CGProbeTypeDescr d;
  gprobe_WriteGroupInfo(g, nullptr, &d);
  d.swapFlag = 5;
  EXPECT_EQ(0, gprobe_ReadGroupInfo(reopenGroup(), &d));
  EXPECT_EQ(5, d.swapFlag);
  d.swapFlag = 0;
  EXPECT_EQ(0, gprobe_ReadGroupInfo(reopenGroup(), &d));
  EXPECT_EQ(0, d.swapFlag);  // a native file needs no swapping
}

TEST_F(ProbeTest, HooksBracketEveryOperationOnce) {
  HookCount::reset();
  gprobe_Init(&HookCount::enter, &HookCount::leave, nullptr, nullptr, nullptr);
  CGProbeTypeDescr* a = gprobe_Allocate(0, u"A");
  CGProbeTypeDescr* b = gprobe_Allocate(5, u"B");
  EXPECT_EQ(2, HookCount::enters());
  EXPECT_EQ(-1, gprobe_Duplicate(a, nullptr));
  EXPECT_EQ(0, gprobe_Duplicate(a, b));
  gprobe_InitDescr(b);
  void* g = writeGroup();
  gprobe_WriteGroupInfo(g, nullptr, a);
  gprobe_ReadGroupInfo(reopenGroup(), b);
  gprobe_Delete(a, 1);
  gprobe_Delete(b, 1);
  EXPECT_EQ(9, HookCount::enters());
  EXPECT_EQ(9, HookCount::leaves());
}

TEST_F(ProbeTest, AllocateDuplicateInitAndLongNames) {
  const VelString longName(40, u'x');
  CGProbeTypeDescr* d = gprobe_Allocate(0, longName.c_str());
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(VelString(31, u'x'), VelString(d->groupName));  // cut to the field
  EXPECT_EQ(1.0f, d->item3);
  d->item1 = 3;
  CGProbeTypeDescr copy;
  EXPECT_EQ(0, gprobe_Duplicate(d, &copy));
  EXPECT_EQ(1, copy == *d);
  gprobe_InitDescr(d);
  EXPECT_EQ(0, d->item1);
  EXPECT_EQ(0, d->groupName[0]);
  gprobe_InitDescr(nullptr);  // a caller error, reported
  EXPECT_EQ(1, diagCount());
  gprobe_Delete(d, 0);  // left alone
  EXPECT_EQ(0, d->item1);
  gprobe_Delete(d, 1);
}

TEST_F(ProbeTest, NameWithoutTerminatorIsCutWhenWritten) {
  CGProbeTypeDescr d;
  for (VelChar& c : d.groupName) c = u'n';  // a host filled all 32 units
  void* g = writeGroup();
  EXPECT_EQ(0, gprobe_WriteGroupInfo(g, nullptr, &d));
  CGProbeTypeDescr r;
  EXPECT_EQ(0, gprobe_ReadGroupInfo(reopenGroup(), &r));
  EXPECT_EQ(VelString(31, u'n'), VelString(r.groupName));
}
