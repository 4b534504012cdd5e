// The three specimen modules whose descriptors are plain records (simulation,
// 2-D and 3-D), and the record blocks of the last two.
#include <velfile/gspec2d.h>
#include <velfile/gspec3d.h>
#include <velfile/gspecsim.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "moduletest.h"

using namespace vt;

namespace {

using SpecStruct = ModuleTest;
using Ids = std::vector<uint16_t>;

// True when every byte of d from `from` on is zero.
template <class D>
bool zeroFrom(const D& d, const void* from) {
  const auto* end = reinterpret_cast<const uint8_t*>(&d) + sizeof d;
  return std::all_of(static_cast<const uint8_t*>(from), end, [](uint8_t b) { return b == 0; });
}

// Type and count of the item with this id.
std::pair<uint16_t, uint32_t> stored(void* g, uint16_t wanted) {
  for (uint32_t i = 0; i < VelFile::file_ItemNbrGet(g); ++i) {
    uint16_t id = 0, type = 0;
    uint32_t count = 0;
    VelFile::file_ItemInfo(g, i, &id, &type, &count, nullptr, nullptr, 0);
    if (id == wanted) return {type, count};
  }
  return {};
}

}  // namespace

TEST_F(SpecStruct, AllocateDefaultsOrZeroBytesAndByteCopies) {
  gspec2d_typeDescr* d2 = gspec2d_Allocate(1, VelString(40, u'n').c_str());
  gspec3d_typeDescr* d3 = gspec3d_Allocate(0, u"E");
  gspecsim_typeDescr* sim = gspecsim_Allocate(0, u"S");
  EXPECT_EQ(VelString(31, u'n'), VelString(d2->groupName));
  EXPECT_EQ(1, d2->item4);
  EXPECT_EQ(std::numeric_limits<float>::lowest(), d2->item5);
  EXPECT_EQ(-1, d2->item14);
  EXPECT_TRUE(zeroFrom(*d3, d3->groupName + 1));
  EXPECT_TRUE(zeroFrom(*sim, sim->groupName + 1));
  gspecsim_InitDescr(sim);
  EXPECT_EQ(2, sim->layoutVersion);
  EXPECT_EQ(0, sim->groupName[0]);

  gspec2d_typeDescr copy{};
  EXPECT_EQ(-1, gspec2d_Duplicate(d2, nullptr));
  EXPECT_EQ(0, gspec2d_Duplicate(d2, &copy));
  EXPECT_EQ(0, std::memcmp(d2, &copy, sizeof copy));
  gspec2d_Delete(d2, 1);
  gspec3d_Delete(d3, 1);
  gspecsim_Delete(sim, 1);
}

TEST_F(SpecStruct, SimulationRoundTripAndItsChecks) {
  gspecsim_typeDescr d{};
  void* g = writeGroup();
  auto write = [&] { return idsWrittenBy(g, [&] { EXPECT_EQ(0, gspecsim_WriteGroupInfo(g, &d)); }); };
  const Ids all{9999, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(all, write());  // item 1 is 0; equal ends pass
  EXPECT_EQ(1, diagCount());
  d.item1 = 3;
  d.item4 = 5.0f;
  d.item5 = 1.0f;
  d.item7 = std::nanf("");
  d.item8 = 2.0f;
  d.item9 = 1.5f;
  std::fill(d.item3, d.item3 + 499, u'x');
  d.item10 = -10;
  EXPECT_EQ(all, write());
  EXPECT_EQ(4, diagCount());  // (4, 5), a NaN in (6, 7), and (8, 9)

  void* r = reopenGroup();
  EXPECT_EQ(1u, stored(r, 2).second);  // an empty text is its terminator
  for (uint16_t id = 4; id <= 9; ++id) EXPECT_EQ(VelFile::kTypeFloat, stored(r, id).first);
  gspecsim_typeDescr back{};
  back.swapFlag = 4;  // kept: only a zero flag is asked of the file
  EXPECT_EQ(0, gspecsim_ReadGroupInfo(r, &back));
  EXPECT_EQ(0, std::memcmp(&back.item1, &d.item1,
                           offsetof(gspecsim_typeDescr, item7) - offsetof(gspecsim_typeDescr, item1)));
  EXPECT_TRUE(std::isnan(back.item7));
  EXPECT_EQ(1.5f, back.item9);
  EXPECT_EQ(-10, back.item10);
  EXPECT_EQ(2, back.layoutVersion);
  EXPECT_EQ(4, back.swapFlag);
}

TEST_F(SpecStruct, TwoDimensionalRoundTripAndItsThreeDimensionalReader) {
  gspec2d_typeDescr* d = gspec2d_Allocate(1, u"Plate");
  d->item1 = 11;
  d->item7 = -7;
  d->item8 = std::numeric_limits<int32_t>::min();
  for (VelChar& c : d->item12) c = u'L';  // no terminator: never read past the field
  d->item14 = 14;
  void* g = writeGroup();
  EXPECT_EQ((Ids{9999, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}),
            idsWrittenBy(g, [&] { EXPECT_EQ(0, gspec2d_WriteGroupInfo(g, d)); }));
  const VelString longText(80, u't');
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 11, VelFile::kTypeUtf16, 81, cp(longText.c_str())));
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 15, VelFile::kTypeUInt32, 1, cp(&d->item1)));

  void* r = reopenGroup();
  const Ids types{7, 7, 7, 7, 7, 10, 10, 6, 6, 7, 7, 12, 12, 7, 7};  // 9999, then 1 to 14
  for (uint16_t id = 1; id <= 14; ++id) EXPECT_EQ(types[id], stored(r, id).first) << id;
  gspec2d_typeDescr back{};
  EXPECT_EQ(0, gspec2d_ReadGroupInfo(r, &back));
  back.groupHandle = d->groupHandle;
  EXPECT_EQ(0, std::memcmp(&back, d, offsetof(gspec2d_typeDescr, item11)));
  EXPECT_EQ(VelString(49, u't'), VelString(back.item11));  // the later, overlong item 11, cut
  EXPECT_EQ(VelString(499, u'L'), VelString(back.item12));
  EXPECT_EQ(-1, back.item13);
  EXPECT_EQ(14, back.item14);

  gspec3d_typeDescr three{};
  EXPECT_EQ(0, gspec3d_ReadGroupInfo(r, &three));
  three.groupHandle = back.groupHandle;
  EXPECT_EQ(0, std::memcmp(&three, &back, offsetof(gspec3d_typeDescr, item12) + sizeof three.item12));
  EXPECT_EQ(0, diagCount());  // ids 13, 14 and 15 are skipped silently
  gspec2d_Delete(d, 1);
}

TEST_F(SpecStruct, RecordBlocksAreStoredRawAndReadBackByteForByte) {
  std::vector<uint32_t> two(3 * 4), three(2 * 24);
  std::iota(two.begin(), two.end(), 0x01020304u);
  std::iota(three.begin(), three.end(), 0xA0B0C0D0u);
  void* g = writeGroup();
  const uint32_t at2 = gspec2d_WriteDataInfo(g, 3, two.data());
  const uint32_t at3 = gspec3d_WriteDataInfo(file_, 2, three.data());  // the file's section
  ASSERT_NE(0u, at2);
  EXPECT_EQ(at2 + 48, at3);
  EXPECT_EQ(at3 + 192, VelFile::file_Allocate(g, 0));

  void* r = reopenGroup();
  const Bytes file = readFile(path("module.bin"));  // the only section starts at 0
  ASSERT_GE(file.size(), at3 + 192u);
  EXPECT_EQ(0, std::memcmp(&file[at2], two.data(), 48));  // the writer's byte order, unswapped
  EXPECT_EQ(0, std::memcmp(&file[at3], three.data(), 192));
  std::vector<uint32_t> back2(two.size() + 1, 7u), back3(three.size() + 1, 7u);
  EXPECT_EQ(0, gspec2d_ReadDataInfo(r, static_cast<int32_t>(at2), 3, back2.data()));
  EXPECT_EQ(0, gspec3d_ReadDataInfo(r, static_cast<int32_t>(at3), 2, back3.data()));
  EXPECT_EQ(0, std::memcmp(back2.data(), two.data(), 48));
  EXPECT_EQ(0, std::memcmp(back3.data(), three.data(), 192));
  EXPECT_EQ(7u, back2.back());  // nothing past the records
  EXPECT_EQ(7u, back3.back());
}

TEST_F(SpecStruct, ImpossibleRecordCountsStoreAndLoadNothing) {
  void* f = nullptr;
  ASSERT_EQ(0, VelFile::file_Create(vpath("fresh.bin").c_str(), &f));
  uint32_t buf[25] = {1};
  EXPECT_EQ(0u, gspec2d_WriteDataInfo(f, 1, buf));  // no section yet
  VelFile::file_Close(f);

  void* g = writeGroup();
  const uint64_t end = VelFile::file_Allocate(g, 0);
  for (int32_t count : {-1, 0x08000000, 0x10000000}) EXPECT_EQ(0u, gspec2d_WriteDataInfo(g, count, buf));
  EXPECT_EQ(0u, gspec3d_WriteDataInfo(g, 0x7FFFFFFF, buf));
  EXPECT_EQ(end, VelFile::file_Allocate(g, 0));  // nothing reserved

  const int32_t at = static_cast<int32_t>(gspec3d_WriteDataInfo(g, 1, buf));
  void* r = reopenGroup();
  buf[24] = 7;
  EXPECT_EQ(2, gspec3d_ReadDataInfo(r, at, -1, buf));
  EXPECT_EQ(2, gspec2d_ReadDataInfo(r, at, 0x10000000, buf));
  EXPECT_EQ(2, gspec3d_ReadDataInfo(file_, at, 1, buf));      // a file handle
  EXPECT_EQ(2, gspec3d_ReadDataInfo(r, 0x7FFFFF00, 1, buf));  // past the end
  EXPECT_EQ(7u, buf[24]);
  EXPECT_EQ(0, gspec3d_ReadDataInfo(r, at, 1, buf));
  EXPECT_EQ(1u, buf[0]);
}
