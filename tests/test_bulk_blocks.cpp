// Bulk data blocks: reserving, writing and reading them through group and
// file handles, progress reports, and the 2 GiB limit.
#include "testutil.h"

using namespace VelFile;
using vt::Bytes;

namespace {

class BulkBlocks : public vt::VelTest {};

Bytes pattern(size_t n) {
  Bytes b(n);
  uint32_t x = 12345;
  for (auto& c : b) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return b;
}

TEST_F(BulkBlocks, ReservationsAreEightByteAlignedAndNeverReused) {
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("a.dat").c_str(), &f));
  EXPECT_EQ(0u, file_Allocate(f, 16)) << "no section yet";
  char buf[16] = "abcdefgh";
  EXPECT_EQ(3, file_Write(f, 40, buf, 8, nullptr));
  EXPECT_EQ(3, file_Read(f, 40, 8, kTypeRaw, buf, nullptr));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"G"));  // name inline: the header ends at 36
  EXPECT_EQ(40u, file_Allocate(g, 1));
  EXPECT_EQ(48u, file_Allocate(g, 1));
  EXPECT_EQ(56u, file_Allocate(f, 9)) << "the file handle stands for the new section";
  EXPECT_EQ(72u, file_Allocate(g, 8));
  ASSERT_EQ(0, file_Write(f, 56, "abcdefgh", 8, nullptr));
  char back[8] = {};
  ASSERT_EQ(0, file_Read(f, 56, 2, kTypeUInt32, back, nullptr));
  EXPECT_EQ(0, std::memcmp(back, "abcdefgh", 8));
  EXPECT_EQ(2, file_ReadBlock(f, 56, 8, back));
  EXPECT_EQ(2, file_ReadBlock(nullptr, 56, 8, back));
  ASSERT_EQ(0, file_ItemOffsetWrite(g, 1, kTypeRaw, 9, 56));
  ASSERT_EQ(0, file_Close(f));

  const Bytes file = vt::readFile(path("a.dat"));
  uint32_t dirOffset = 0;
  std::memcpy(&dirOffset, &file.at(20), 4);
  EXPECT_EQ(80u, dirOffset) << "the directory follows the last reservation";
  EXPECT_EQ(Bytes(file.begin() + 56, file.begin() + 64), Bytes(back, back + 8));
  EXPECT_EQ(Bytes(16, 0), Bytes(file.begin() + 40, file.begin() + 56)) << "unwritten blocks read as zero";
}

TEST_F(BulkBlocks, ProgressOfLargeTransfers) {
  void *f = nullptr, *g = nullptr;
  const Bytes data = pattern(1000000);
  ASSERT_EQ(0, file_Create(vpath("p.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"G"));
  const uint64_t at = file_Allocate(g, static_cast<uint32_t>(data.size()));
  ASSERT_EQ(40u, at);
  int32_t progress = -1;
  ASSERT_EQ(0, file_Write(g, at, vt::cp(data.data()), static_cast<uint32_t>(data.size()), &progress));
  EXPECT_EQ(100, progress);

  // Reading reports before each chunk of 262,144 bytes: 0, 26, 52, 78.
  Bytes back(data.size());
  progress = -1;
  ASSERT_EQ(0, file_Read(g, 40, 250000, kTypeUInt32, reinterpret_cast<char*>(back.data()), &progress));
  EXPECT_EQ(78, progress);
  EXPECT_EQ(data, back);
  progress = -1;
  ASSERT_EQ(0, file_Read(g, 40, 100, kTypeRaw, reinterpret_cast<char*>(back.data()), &progress));
  EXPECT_EQ(0, progress);
  progress = -1;
  ASSERT_EQ(0, file_Write(g, at, vt::cp(data.data()), 10, &progress));
  EXPECT_EQ(100, progress);
  ASSERT_EQ(0, file_Close(f));
}

TEST_F(BulkBlocks, MultiMegabyteBlockRoundTrips) {
  const Bytes data = pattern(3 * 1024 * 1024 + 3);
  const uint32_t n = static_cast<uint32_t>(data.size());
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("m.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Data"));
  const uint64_t at = file_Allocate(g, n);
  ASSERT_EQ(56u, at);  // after the 10-byte name block at 40
  ASSERT_EQ(0, file_Write(g, at, vt::cp(data.data()), n, nullptr));
  ASSERT_EQ(0, file_ItemOffsetWrite(g, 7, kTypeRaw, n, static_cast<uint32_t>(at)));
  ASSERT_EQ(0, file_Close(f));
  EXPECT_EQ(56u + ((n + 7) & ~7u) + 48u, vt::readFile(path("m.dat")).size());

  ASSERT_EQ(0, file_Open(vpath("m.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  uint32_t count = 0, offset = 0;
  ASSERT_EQ(0, file_ItemInfo(g, 1, nullptr, nullptr, &count, &offset, nullptr, 0));
  EXPECT_EQ(n, count);
  EXPECT_EQ(at, offset);
  Bytes back(n);
  ASSERT_EQ(0, file_ReadBlock(g, offset, n, reinterpret_cast<char*>(back.data())));
  EXPECT_EQ(data, back);
  std::fill(back.begin(), back.end(), 0);
  ASSERT_EQ(0, file_IndexValueRead(g, 1, kTypeRaw, reinterpret_cast<char*>(back.data()), &count));
  EXPECT_EQ(n, count);
  EXPECT_EQ(data, back);
  EXPECT_EQ(0, file_Close(f));
}

TEST_F(BulkBlocks, NothingReachesTwoGigabytes) {
  const uint32_t limit = 0x80000000u;
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("big.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"G"));
  EXPECT_EQ(0u, file_Allocate(g, limit));
  EXPECT_EQ(0u, file_Allocate(g, limit - 40)) << "would end exactly at 2 GiB";
  EXPECT_EQ(40u, file_Allocate(g, 8)) << "refusals reserve nothing";
  ASSERT_EQ(48u, file_Allocate(g, limit - 48 - 16));  // the end is now 16 bytes below 2 GiB
  EXPECT_EQ(0u, file_Allocate(g, 16));

  const Bytes chunk(32, 0xAB);
  EXPECT_EQ(2, file_Write(g, limit - 16, vt::cp(chunk.data()), 32, nullptr));
  EXPECT_EQ(2, file_Write(g, limit, vt::cp(chunk.data()), 8, nullptr));
  EXPECT_EQ(2, file_ItemValueWrite(g, 1, kTypeRaw, 32, vt::cp(chunk.data())));
  EXPECT_LT(vt::readFile(path("big.dat")).size(), 4096u) << "nothing was written near the limit";

  // The directory does not fit either: the close fails but frees the slot.
  EXPECT_EQ(2, file_Close(f));
  EXPECT_LT(vt::readFile(path("big.dat")).size(), 4096u);
  ASSERT_EQ(0, file_Create(vpath("big.dat").c_str(), &f));
  EXPECT_EQ(3, file_Close(f));
}

}  // namespace
