// The bytes the writer puts on disk, compared byte for byte with images built
// by hand: values inline and in aligned blocks, sub-group directories, and a
// section appended to an ".A01" file.
#include "testutil.h"

using namespace VelFile;
using vt::Bytes;
using vt::Image;

namespace {

class FormatBytes : public vt::VelTest {};

TEST_F(FormatBytes, ValuesOfUpToFourBytesStandInlineLongerOnesInAlignedBlocks) {
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("vals.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("G")));
  const uint32_t u32v = 0xA1B2C3D4u;
  const uint8_t nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const int16_t pair[2] = {-1, 2};
  const int8_t minus3 = -3;
  const double d = 2.5;
  const float three[3] = {1, 2, 3};
  // clang-format off
  const struct { uint16_t type; uint32_t count; const void* value; } items[] = {
      {7, 1, &u32v}, {3, 4, nine}, {3, 5, nine}, {4, 2, pair}, {12, 2, VELFILE_TEXT("Z")}, {12, 3, VELFILE_TEXT("XY")},
      {2, 1, &minus3}, {11, 1, &d}, {10, 3, three}, {3, 9, nine}};
  // clang-format on
  for (uint16_t i = 0; i < 10; ++i)
    ASSERT_EQ(0, file_ItemValueWrite(g, i + 1, items[i].type, items[i].count, vt::cp(items[i].value)));
  ASSERT_EQ(0, file_Close(f));

  Image want;
  want.header(11, 96, 360).padTo(40).raw(nine, 5).padTo(48).utf16(VELFILE_TEXT("XY")).padTo(56).f64(d);
  want.f32(1).f32(2).f32(3).padTo(80).raw(nine, 9).padTo(96);
  want.entryInline(kItemName, 12, 2, VELFILE_TEXT("G"), 4).entry(1, 7, 1, u32v).entryInline(2, 3, 4, nine, 4);
  want.entry(3, 3, 5, 40)
      .entryInline(4, 4, 2, pair, 4)
      .entryInline(5, 12, 2, VELFILE_TEXT("Z"), 4)
      .entry(6, 12, 3, 48);
  want.entryInline(7, 2, 1, &minus3, 1).entry(8, 11, 1, 56).entry(9, 10, 3, 64).entry(10, 3, 9, 80);
  want.padTo(360);
  EXPECT_EQ(want.bytes, vt::readFile(path("vals.dat")));
}

TEST_F(FormatBytes, SubGroupDirectoriesFollowInDepthFirstPostOrder) {
  void *f = nullptr, *s = nullptr, *a = nullptr, *a1 = nullptr, *b = nullptr;
  ASSERT_EQ(0, file_Create(vpath("tree.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &s, 0, VELFILE_TEXT("S")));
  ASSERT_EQ(0, file_GroupCreate(s, &a, 100, VELFILE_TEXT("A")));
  ASSERT_EQ(0, file_GroupCreate(a, &a1, 110, VELFILE_TEXT("C")));
  const uint32_t two[2] = {7, 8};
  ASSERT_EQ(0, file_ItemValueWrite(a1, 1, kTypeUInt32, 2, vt::cp(two)));
  ASSERT_EQ(0, file_GroupCreate(s, &b, 200, VELFILE_TEXT("B")));
  const int32_t answer = 42;
  ASSERT_EQ(0, file_ItemValueWrite(s, 2, kTypeInt32, 1, vt::cp(&answer)));
  ASSERT_EQ(0, file_Close(f));

  // The value block at 40; then C's directory, A's, B's, and the section's
  // last, each 24 bytes per entry with zero filler.
  Image want;
  want.header(4, 168, 264).padTo(40).u32(7).u32(8);
  want.entryInline(kItemName, 12, 2, VELFILE_TEXT("C"), 4).entry(1, 7, 2, 40).padTo(96);
  want.entryInline(kItemName, 12, 2, VELFILE_TEXT("A"), 4).entry(110, 0, 2, 48).padTo(144);
  want.entryInline(kItemName, 12, 2, VELFILE_TEXT("B"), 4).padTo(168);
  want.entryInline(kItemName, 12, 2, VELFILE_TEXT("S"), 4).entry(100, 0, 2, 96).entry(200, 0, 1, 144);
  want.entry(2, 6, 1, 42).padTo(264);
  const vt::Bytes got = vt::readFile(path("tree.dat"));
  EXPECT_EQ(want.bytes, got);

  // Opening every group and reading every item, then closing, writes nothing:
  // neither through the read-only extension nor with an ".A01" name.
  vt::writeFile(path("tree.A01"), got);
  for (const char* name : {"tree.dat", "tree.A01"}) {
    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_GroupOpen(f, &s, 0));
    ASSERT_EQ(0, file_GroupOpen(s, &a, 96));
    ASSERT_EQ(0, file_GroupOpen(a, &a1, 48));
    ASSERT_EQ(0, file_GroupOpen(s, &b, 144));
    uint32_t got2[2] = {};
    EXPECT_EQ(0, file_IndexBlockRead(a1, 1, kTypeUInt32, vt::mp(got2)));
    EXPECT_EQ(8u, got2[1]);
    EXPECT_EQ(0, file_Close(f));
    EXPECT_EQ(got, vt::readFile(path(name))) << name;
  }
}

TEST_F(FormatBytes, A01FileGetsASecondSectionAppended) {
  const vt::Bytes first = makeContainer("two.A01");
  ASSERT_EQ(96u, first.size());

  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Open(vpath("two.A01").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Two")));
  const int32_t v = 99;
  ASSERT_EQ(0, file_ItemValueWrite(g, 5, kTypeInt32, 1, vt::cp(&v)));
  ASSERT_EQ(0, file_Close(f));

  // The second section starts at the end of the first; its offsets are
  // relative to its own start.
  Image second;
  second.header(2, 48, 96).padTo(40).utf16(VELFILE_TEXT("Two")).padTo(48);
  second.entry(kItemName, 12, 4, 40).entry(5, 6, 1, 99).padTo(96);
  vt::Bytes want = first;
  want.insert(want.end(), second.bytes.begin(), second.bytes.end());
  EXPECT_EQ(want, vt::readFile(path("two.A01")));

  ASSERT_EQ(0, file_Open(vpath("two.A01").c_str(), &f));
  EXPECT_EQ(2u, file_ItemNbrGet(f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 96));
  EXPECT_EQ(VELFILE_TEXT("Two"), groupName(g));
  EXPECT_EQ(0, file_Close(f));
}

}  // namespace
