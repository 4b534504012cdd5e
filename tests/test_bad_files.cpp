// Damaged and foreign files: every one must end in a result code, without a
// crash, a hang or a huge allocation.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>

#include "../fuzz/append.h"
#include "../fuzz/modules.h"
#include "../fuzz/walk.h"
#include "testutil.h"

using namespace VelFile;
using vt::Bytes;
using vt::Image;

namespace {

class BadFiles : public vt::VelTest {
 protected:
  // A hang ends the test program instead of stalling the run.
  void SetUp() override {
    VelTest::SetUp();
    alarm(120);
  }
  void TearDown() override {
    alarm(0);
    VelTest::TearDown();
  }

  // One section, 144 bytes: name "Ok" at 40, directory at 48 whose items
  // 1 to 3 point past the end of the file.
  static Image base() {
    Image x;
    x.header(4, 48, 144).padTo(40).utf16(VELFILE_TEXT("Ok")).padTo(48);
    x.entry(kItemName, 12, 3, 40).entry(1, 13, 10, 100000).entry(2, 7, 3, 0x7FFFFFF0).entry(3, 11, 1, 5000);
    x.padTo(144);
    return x;
  }
};

TEST_F(BadFiles, OversizedCountsFailWhenTheDirectoryIsLoaded) {
  for (uint32_t entries : {1000000u, 0xFFFFFFFFu}) {
    Image x = base();
    x.put32(16, entries);
    vt::writeFile(path("count.dat"), x.bytes);
    void *f = nullptr, *g = &g;
    const int rc = file_Open(vpath("count.dat").c_str(), &f);
    if (rc == 0) {
      EXPECT_EQ(2, file_GroupOpen(f, &g, 0)) << entries;
      EXPECT_EQ(nullptr, g);
      EXPECT_EQ(0, file_Close(f));
    } else {
      EXPECT_EQ(2, rc) << entries;
    }
  }

  // Sub-group references: one with 4 billion entries, one whose directory
  // lies past the end of the file.
  for (uint32_t at : {48u, 50000u}) {
    Image x;
    x.header(2, 72, 120).padTo(40).utf16(VELFILE_TEXT("Ok")).padTo(48);
    x.entryInline(kItemName, 12, 2, VELFILE_TEXT("s"), 4).padTo(72);
    x.entry(kItemName, 12, 3, 40).entry(5, kTypeGroup, 0xFFFFFFFF, at).padTo(120);
    vt::writeFile(path("sub.dat"), x.bytes);
    void *f = nullptr, *g = nullptr, *sub = &sub;
    ASSERT_EQ(0, file_Open(vpath("sub.dat").c_str(), &f));
    const int rc = file_GroupOpen(f, &g, 0);
    if (at == 48 && rc == 0) {
      EXPECT_EQ(2, file_GroupOpen(g, &sub, 48));
      EXPECT_EQ(nullptr, sub);
    } else {
      EXPECT_EQ(2, rc) << at;
      EXPECT_EQ(2, file_GroupOpen(f, &g, 0)) << "a failed load leaves the directory unloaded";
    }
    EXPECT_EQ(0, file_Close(f));
  }
}

TEST_F(BadFiles, AFileCutShortKeepsWhatLiesWhollyInIt) {
  makeContainer("whole.A01", VELFILE_TEXT("First"));
  void *f = nullptr, *g = nullptr, *sub = nullptr;
  ASSERT_EQ(0, file_Open(vpath("whole.A01").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Second")));
  ASSERT_EQ(0, file_GroupCreate(g, &sub, 5, VELFILE_TEXT("Sub")));
  ASSERT_EQ(0, file_Close(f));
  const Bytes whole = vt::readFile(path("whole.A01"));
  uint32_t start = 0, dir = 0, subDir = 0;  // host order: the library wrote it
  std::memcpy(&start, &whole[24], 4);
  std::memcpy(&dir, &whole[start + 20], 4);
  std::memcpy(&subDir, &whole[start + dir + 12 + 8], 4);
  // clang-format off
  const struct { const char* what; size_t length; uint32_t sections; int secondRc; } cases[] = {
      {"directory filler cut", whole.size() - 4, 2, 0},
      {"last entry cut", start + dir + 20, 2, 2},
      {"name entry cut", start + dir + 8, 1, 0},
      {"header cut 20 bytes in", start + 20, 1, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    vt::writeFile(path("cut.A01"), Bytes(whole.begin(), whole.begin() + static_cast<long>(c.length)));
    ASSERT_EQ(0, file_Open(vpath("cut.A01").c_str(), &f)) << c.what;
    EXPECT_EQ(c.sections, file_ItemNbrGet(f)) << c.what;
    ASSERT_EQ(0, file_GroupOpen(f, &g, 0)) << c.what;
    EXPECT_EQ(VELFILE_TEXT("First"), groupName(g));
    if (c.sections == 2) {
      EXPECT_EQ(c.secondRc, file_GroupOpen(f, &g, start)) << c.what;
      if (c.secondRc == 0) {
        EXPECT_EQ(0, file_GroupOpen(g, &sub, subDir)) << c.what;
      }
      EXPECT_EQ(8, file_GroupCreate(f, &g, 0, VELFILE_TEXT("More")))
          << "nothing is added after a cut section";
    }
    EXPECT_EQ(0, file_Close(f));
  }
}

TEST_F(BadFiles, ValuesPastTheEndOfTheFileGiveReadErrors) {
  vt::writeFile(path("v.dat"), base().bytes);
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Open(vpath("v.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  char buf[64] = {};
  uint32_t count = 0;
  EXPECT_EQ(2, file_IndexValueRead(g, 1, kTypeRaw, buf, &count));
  EXPECT_EQ(2, file_IndexBlockRead(g, 2, kTypeUInt32, buf));
  EXPECT_EQ(2, file_IndexValueRead(g, 3, kTypeDouble, buf, &count));
  EXPECT_EQ(2, file_IndexBlockRead(g, 3, kTypeDouble, buf));
  EXPECT_EQ(2, file_Read(g, 100000, 4, kTypeRaw, buf, nullptr));
  EXPECT_EQ(2, file_Read(g, 0x7FFFFFF0, 3, kTypeUInt32, buf, nullptr));
  EXPECT_EQ(2, file_Read(g, 136, 16, kTypeRaw, buf, nullptr)) << "straddles the end of the file";
  EXPECT_EQ(2, file_ReadBlock(g, 100000, 4, buf));
  EXPECT_EQ(2, file_ReadBlock(g, 0xFFFFFFF0, 32, buf));
  EXPECT_EQ(0, file_Read(g, 136, 2, kTypeUInt32, buf, nullptr)) << "ends at the end of the file";
  EXPECT_EQ(0, file_Read(g, 144, 0, kTypeUInt32, buf, nullptr));
  EXPECT_EQ(2, file_Read(g, 0, 1, kTypeUInt32, nullptr, nullptr));
  EXPECT_EQ(2, file_ReadBlock(g, 0, 4, nullptr));
  EXPECT_EQ(0, file_Close(f));
}

TEST_F(BadFiles, RandomlyDamagedFilesNeverCrash) {
  void *f = nullptr, *g = nullptr, *a = nullptr, *b = nullptr;
  ASSERT_EQ(0, file_Create(vpath("good.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Fuzzed")));
  ASSERT_EQ(0, file_GroupCreate(g, &a, 1, VELFILE_TEXT("A")));
  ASSERT_EQ(0, file_GroupCreate(a, &b, 2, VELFILE_TEXT("Below")));
  const double d[3] = {1, 2, 3};
  const int16_t h[2] = {-1, 1};
  ASSERT_EQ(0, file_ItemValueWrite(b, 3, kTypeDouble, 3, vt::cp(d)));
  ASSERT_EQ(0, file_ItemValueWrite(a, 4, kTypeInt16, 2, vt::cp(h)));
  ASSERT_EQ(0, file_ItemValueWrite(g, 5, kTypeUtf16, 6, vt::cp(VELFILE_TEXT("Hello"))));
  ASSERT_EQ(0, file_ItemValueWrite(g, 6, kTypeNarrow, 7, "narrow"));
  ASSERT_EQ(0, file_ItemValueWrite(g, 7, kTypeDouble, 1, vt::cp(d)));
  ASSERT_EQ(0, file_Close(f));
  const Bytes good = vt::readFile(path("good.dat"));

  std::mt19937 rng(20240);
  int opened = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes bytes = good;
    const int hits = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < hits; ++i) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    vt::writeFile(path("fuzz.dat"), bytes);
    if (file_Open(vpath("fuzz.dat").c_str(), &f) != 0) continue;
    ++opened;
    vfz::Walker(bytes.size()).walkFile(f);  // everything reachable, read every way
    ASSERT_EQ(0, file_Close(f)) << round;
  }
  EXPECT_GT(opened, 0);
  expectAllSlotsFree();
}

// Inputs that once broke the library, kept in fuzz/regressions/, replayed
// through the fuzzers' own calls: the whole walk with every group module's
// reader, and a section appended with its checks. A fault aborts the program.
TEST_F(BadFiles, EveryInputKeptFromFuzzingIsHandled) {
  const std::filesystem::path dir =
      std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "regressions";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  ASSERT_GT(vfz::modules().size(), 1u);
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    const vt::Bytes bytes = vt::readFile(entry.path().string());
    const std::string copy = path("input.bin");
    ASSERT_TRUE(vfz::writeBytes(copy, bytes.data(), bytes.size()));
    vfz::Walker walker(bytes.size());
    walker.onGroup = vfz::readWithEveryModule;
    walker.walkPath(vt::V(copy));
    vfz::appendAndCheck(bytes.data(), bytes.size(), path("input.A01"));
    EXPECT_TRUE(VelFile::file_IsHandleLeft());
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
