// Load: a file of 10,000 sections, groups at and past the
// 16-bit item index, a large file written and read back, and the 2 GiB limit.
// The large file is 64 MiB unless VELFILE_FULL_LOAD=1 asks for 1.9 GiB.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "testutil.h"

namespace {

using namespace VelFile;
using vt::Bytes;
using vt::cp;

uint64_t sizeOnDisk(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

class Load : public vt::VelTest {};

// 10,000 sections of 88 bytes, made byte by byte in either byte order: a
// one-character name inline and item 1 holding the section's number.
Bytes manySections(uint32_t n, bool bigEndian) {
  vt::Image img(bigEndian);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t start = img.size();
    img.header(2, 40, 88).padTo(start + 40);
    const VelChar name[2] = {VELFILE_TEXT('S'), 0};
    img.entryInline(kItemName, kTypeUtf16, 2, name, 4).entry(1, kTypeUInt32, 1, i).padTo(start + 88);
  }
  return img.bytes;
}

TEST_F(Load, TenThousandSectionsOpenReadAndTakeOneMore) {
  const uint32_t kSections = 10000;
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    const Bytes bytes = manySections(kSections, big);
    vt::writeFile(path("many.A01"), bytes);
    void* f = nullptr;
    ASSERT_EQ(0, file_Open(vpath("many.A01").c_str(), &f));
    ASSERT_EQ(kSections, file_ItemNbrGet(f));
    // Each section is found by its start, in any order; a key inside one finds nothing.
    std::vector<uint32_t> order(kSections);
    for (uint32_t i = 0; i < kSections; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (uint32_t i : order) {
      uint32_t key = 0, entries = 0;
      ASSERT_EQ(0, file_ItemInfo(f, i, nullptr, nullptr, &entries, &key, nullptr, 0));
      ASSERT_EQ(88 * i, key);
      void* g = &g;
      ASSERT_EQ(3, file_GroupOpen(f, &g, key + 8));
      ASSERT_EQ(nullptr, g);
      ASSERT_EQ(0, file_GroupOpen(f, &g, key));
      uint32_t value = 0, count = 0;
      ASSERT_EQ(0, file_IndexValueRead(g, 1, kTypeUInt32, reinterpret_cast<char*>(&value), &count));
      ASSERT_EQ(i, value);
    }
    void* s = nullptr;
    ASSERT_EQ(0, file_GroupCreate(f, &s, 0, VELFILE_TEXT("Section 10001")));
    void* again = nullptr;  // found by its key at once
    ASSERT_EQ(0, file_GroupOpen(f, &again, 88 * kSections));
    EXPECT_EQ(s, again);
    ASSERT_EQ(0, file_Close(f));

    const Bytes now = vt::readFile(path("many.A01"));
    ASSERT_GT(now.size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), now.begin()));
    ASSERT_EQ(0, file_Open(vpath("many.A01").c_str(), &f));
    EXPECT_EQ(kSections + 1, file_ItemNbrGet(f));
    ASSERT_EQ(0, file_GroupOpen(f, &s, 88 * kSections));
    EXPECT_EQ(VELFILE_TEXT("Section 10001"), groupName(s));
    EXPECT_EQ(0, file_Close(f));
  }
}

// The section count is 16 bits: a chain longer than 65,535 sections is read
// that far, and a full one takes no new section.
TEST_F(Load, SixtyFiveThousandFiveHundredThirtyFiveSectionsAtMost) {
  for (uint32_t n : {65535u, 65536u}) {
    vt::writeFile(path("max.A01"), manySections(n, vt::hostBigEndian()));
    void *f = nullptr, *s = &s;
    ASSERT_EQ(0, file_Open(vpath("max.A01").c_str(), &f));
    EXPECT_EQ(65535u, file_ItemNbrGet(f));
    EXPECT_EQ(kErrMemory, file_GroupCreate(f, &s, 0, VELFILE_TEXT("One too many")));
    EXPECT_EQ(nullptr, s);
    EXPECT_EQ(0, file_Close(f));
  }
}

TEST_F(Load, AliasedSubGroupNamesCannotFillTheHeap) {
  // 20,000 group references to one sub-directory whose name is 30,000
  // characters: read once per reference, the names would take 1.2 GB.
  const uint32_t kRefs = 20000, kName = 30000;
  vt::Image img;
  img.header(kRefs + 1, 0, 0).padTo(40);
  img.utf16(vt::VelString(kName, VELFILE_TEXT('n')));
  const uint32_t subDir = static_cast<uint32_t>(vt::Image(img).padTo((img.size() + 7) & ~size_t(7)).size());
  img.padTo(subDir).entry(kItemName, kTypeUtf16, kName + 1, 40).padTo(subDir + 24);
  const uint32_t dir = static_cast<uint32_t>(img.size());
  const VelChar name[2] = {VELFILE_TEXT('S'), 0};
  img.entryInline(kItemName, kTypeUtf16, 2, name, 4);
  for (uint32_t i = 0; i < kRefs; ++i) img.entry(static_cast<uint16_t>(i + 1), kTypeGroup, 1, subDir);
  img.padTo(dir + 24 * (kRefs + 1));
  img.put32(16, kRefs + 1);
  img.put32(20, dir);
  img.put32(24, static_cast<uint32_t>(img.size()));
  vt::writeFile(path("aliased.bin"), img.bytes);

  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Open(vpath("aliased.bin").c_str(), &f));
  EXPECT_EQ(kErrIo, file_GroupOpen(f, &g, 0));
  EXPECT_EQ(nullptr, g);
  EXPECT_EQ(0, file_Close(f));

  // The same name through 300 directories of one reference each: the names
  // loaded in all of them together stay within the file's size.
  const uint32_t kDirs = 300;
  vt::Image many;
  many.header(kDirs + 1, 0, 0).padTo(40).utf16(vt::VelString(kName, VELFILE_TEXT('n'))).padTo(subDir);
  many.entry(kItemName, kTypeUtf16, kName + 1, 40).padTo(subDir + 16);
  for (uint32_t i = 0; i < kDirs; ++i)
    many.entryInline(kItemName, kTypeUtf16, 2, name, 4)
        .entry(1, kTypeGroup, 1, subDir)
        .padTo(subDir + 16 + 24 * (i + 1));
  const uint32_t top = static_cast<uint32_t>(many.size());
  many.entryInline(kItemName, kTypeUtf16, 2, name, 4);
  for (uint32_t i = 0; i < kDirs; ++i)
    many.entry(static_cast<uint16_t>(i + 1), kTypeGroup, 2, subDir + 16 + 24 * i);
  many.padTo((many.size() + 7) & ~size_t(7));
  many.put32(20, top);
  many.put32(24, static_cast<uint32_t>(many.size()));
  vt::writeFile(path("aliased.bin"), many.bytes);
  ASSERT_EQ(0, file_Open(vpath("aliased.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  uint32_t loaded = 0;
  for (uint32_t i = 0; i < kDirs; ++i) {
    void* sub = nullptr;
    const int rc = file_GroupOpen(g, &sub, subDir + 16 + 24 * i);
    loaded += rc == 0;
    EXPECT_TRUE(rc == 0 || rc == kErrIo) << rc;
  }
  EXPECT_EQ(many.size() / kName, loaded)
      << "of " << kDirs << " directories naming a " << kName * 2 << "-byte name";
  EXPECT_EQ(0, file_Close(f));
}

TEST_F(Load, GroupsAtAndPastTheSixteenBitItemIndex) {
  // "Full" holds 65,535 items, "Past" 65,538 (the name item counts).
  const uint32_t kFull = 65535, kPast = 65538;
  void *f = nullptr, *s = nullptr, *full = nullptr, *past = nullptr;
  ASSERT_EQ(0, file_Create(vpath("items.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &s, 0, VELFILE_TEXT("Items")));
  ASSERT_EQ(0, file_GroupCreate(s, &full, 1, VELFILE_TEXT("Full")));
  ASSERT_EQ(0, file_GroupCreate(s, &past, 2, VELFILE_TEXT("Past")));
  for (uint32_t i = 1; i < kPast; ++i) {
    const uint16_t id = static_cast<uint16_t>(i % 9000 + 1);
    if (i < kFull) {
      ASSERT_EQ(0, file_ItemValueWrite(full, id, kTypeUInt32, 1, cp(&i)));
    }
    ASSERT_EQ(0, file_ItemValueWrite(past, id, kTypeUInt32, 1, cp(&i)));
  }
  ASSERT_EQ(0, file_Close(f));

  ASSERT_EQ(0, file_Open(vpath("items.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &s, 0));
  uint32_t keys[2] = {};
  for (uint32_t i = 0; i < 2; ++i)
    ASSERT_EQ(0, file_ItemInfo(s, i + 1, nullptr, nullptr, nullptr, &keys[i], nullptr, 0));
  ASSERT_EQ(0, file_GroupOpen(s, &full, keys[0]));
  ASSERT_EQ(0, file_GroupOpen(s, &past, keys[1]));
  ASSERT_EQ(kFull, file_ItemNbrGet(full));
  ASSERT_EQ(kPast, file_ItemNbrGet(past));
  for (uint32_t i = 1; i < kFull; ++i) {
    uint32_t v = 0, count = 0;
    ASSERT_EQ(0, file_IndexValueRead(full, i, kTypeUInt32, reinterpret_cast<char*>(&v), &count));
    ASSERT_EQ(i, v);
  }
  // file_ItemInfo takes the whole index; the value readers only its low 16
  // bits, so index 65,537 reads item 1 and 65,536 the name item.
  uint32_t value = 0;
  ASSERT_EQ(0, file_ItemInfo(past, 65537, nullptr, nullptr, nullptr, &value, nullptr, 0));
  EXPECT_EQ(65537u, value);
  uint32_t v = 0, count = 0;
  ASSERT_EQ(0, file_IndexValueRead(past, 65537, kTypeUInt32, reinterpret_cast<char*>(&v), &count));
  EXPECT_EQ(1u, v);
  ASSERT_EQ(0, file_IndexBlockRead(past, 65537, kTypeUInt32, reinterpret_cast<char*>(&v)));
  EXPECT_EQ(1u, v);
  VelChar name[8] = {};
  ASSERT_EQ(0, file_IndexValueRead(past, 65536, kTypeUtf16, reinterpret_cast<char*>(name), &count));
  EXPECT_EQ(vt::VelString(VELFILE_TEXT("Past")), name);
  EXPECT_EQ(kErrNoName, file_ItemInfo(past, kPast, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(0, file_Close(f));
}

// Word i of the big block holds a value of its own, so misplaced or
// unwritten bytes show.
uint32_t patternWord(uint64_t i) {
  return static_cast<uint32_t>(i * 2654435761u) ^ static_cast<uint32_t>(i >> 20);
}

TEST_F(Load, LargeFileWrittenAndReadBack) {
  const char* full = std::getenv("VELFILE_FULL_LOAD");
  const uint64_t kChunk = 4u << 20;
  const uint64_t size = full && std::string(full) == "1" ? 486 * kChunk : 16 * kChunk;  // 1.9 GiB or 64 MiB
  void *f = nullptr, *s = nullptr;
  ASSERT_EQ(0, file_Create(vpath("large.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &s, 0, VELFILE_TEXT("Large")));
  const uint64_t at = file_Allocate(f, static_cast<uint32_t>(size));
  ASSERT_NE(0u, at);
  std::vector<uint32_t> chunk(kChunk / 4);
  for (uint64_t done = 0; done < size; done += kChunk) {
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = patternWord(done / 4 + i);
    int32_t progress = -1;
    ASSERT_EQ(0, file_Write(f, at + done, cp(chunk.data()), static_cast<uint32_t>(kChunk), &progress));
    ASSERT_EQ(100, progress);
  }
  ASSERT_EQ(
      0, file_ItemOffsetWrite(s, 1, kTypeUInt32, static_cast<uint32_t>(size / 4), static_cast<uint32_t>(at)));
  ASSERT_EQ(0, file_Close(f));
  EXPECT_GT(sizeOnDisk(path("large.bin")), size);

  ASSERT_EQ(0, file_Open(vpath("large.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &s, 0));
  uint32_t count = 0, offset = 0;
  ASSERT_EQ(0, file_ItemInfo(s, 1, nullptr, nullptr, &count, &offset, nullptr, 0));
  ASSERT_EQ(size / 4, count);
  for (uint64_t done = 0; done < size; done += kChunk) {
    const uint32_t position = static_cast<uint32_t>(offset + done);
    int32_t progress = -1;
    // Alternate the two block readers.
    if ((done / kChunk) % 2) {
      ASSERT_EQ(0, file_Read(s, position, static_cast<uint32_t>(kChunk / 4), kTypeUInt32,
                             reinterpret_cast<char*>(chunk.data()), &progress));
      ASSERT_EQ(93, progress);  // before the last of 16 chunks of 256 KiB
    } else {
      ASSERT_EQ(0, file_ReadBlock(s, position, static_cast<uint32_t>(kChunk),
                                  reinterpret_cast<char*>(chunk.data())));
    }
    for (size_t i = 0; i < chunk.size(); ++i) ASSERT_EQ(patternWord(done / 4 + i), chunk[i]) << done + 4 * i;
  }
  EXPECT_EQ(0, file_Close(f));
}

TEST_F(Load, WritesThatWouldPassTwoGiBAreRefusedAndTheFileStaysSound) {
  void *f = nullptr, *s = nullptr;
  ASSERT_EQ(0, file_Create(vpath("limit.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &s, 0, VELFILE_TEXT("Limit")));
  // A block reaching to 4 MiB below the limit; only its last bytes are
  // written, so the file stays sparse.
  const uint32_t kBig = 0x80000000u - (4u << 20);
  const uint64_t big = file_Allocate(s, kBig);
  ASSERT_NE(0u, big);
  EXPECT_EQ(0u, file_Allocate(s, static_cast<uint32_t>(0x80000000u - (big + kBig)))) << "would end at 2 GiB";
  const std::vector<char> tail(4096, 'T');
  const uint64_t tailAt = big + kBig - tail.size();
  ASSERT_EQ(0, file_Write(f, tailAt, tail.data(), static_cast<uint32_t>(tail.size()), nullptr));
  ASSERT_EQ(0, file_ItemOffsetWrite(s, 1, kTypeRaw, static_cast<uint32_t>(tail.size()),
                                    static_cast<uint32_t>(tailAt)));
  const uint64_t sizeBefore = sizeOnDisk(path("limit.bin"));

  // Past the limit: no reservation, no write (with or without progress,
  // nothing of it reaches the file), no out-of-line value.
  const std::vector<char> eight(8u << 20, 'X');
  EXPECT_EQ(0u, file_Allocate(s, static_cast<uint32_t>(eight.size())));
  int32_t progress = -1;
  EXPECT_EQ(kErrIo, file_Write(f, tailAt, eight.data(), static_cast<uint32_t>(eight.size()), &progress));
  EXPECT_EQ(kErrIo, file_Write(f, tailAt, eight.data(), static_cast<uint32_t>(eight.size()), nullptr));
  EXPECT_EQ(kErrIo,
            file_ItemValueWrite(s, 2, kTypeDouble, static_cast<uint32_t>(eight.size() / 8), eight.data()));
  EXPECT_EQ(sizeBefore, sizeOnDisk(path("limit.bin")));
  EXPECT_EQ(2u, file_ItemNbrGet(s));
  // Small values still fit, and the directory is written at close.
  const uint32_t seven = 7;
  ASSERT_EQ(0, file_ItemValueWrite(s, 3, kTypeUInt32, 1, cp(&seven)));
  ASSERT_EQ(0, file_ItemValueWrite(s, 4, kTypeUtf16, 6, cp(VELFILE_TEXT("Fits!"))));
  ASSERT_EQ(0, file_Close(f));
  EXPECT_LT(sizeOnDisk(path("limit.bin")), 0x80000000u);

  ASSERT_EQ(0, file_Open(vpath("limit.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &s, 0));
  ASSERT_EQ(4u, file_ItemNbrGet(s));
  std::vector<char> back(tail.size());
  uint32_t count = 0;
  ASSERT_EQ(0, file_IndexValueRead(s, 1, kTypeRaw, back.data(), &count));
  EXPECT_EQ(tail, back);
  VelChar text[6] = {};
  ASSERT_EQ(0, file_IndexValueRead(s, 3, kTypeUtf16, reinterpret_cast<char*>(text), &count));
  EXPECT_EQ(vt::VelString(VELFILE_TEXT("Fits!")), text);
  EXPECT_EQ(0, file_Close(f));
}

}  // namespace
