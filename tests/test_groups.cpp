// Groups: opening them by key, names without a name item or without room,
// re-tagging; and the stream's read-ahead windows against writes that land in
// them.
#include <algorithm>
#include <random>

#include "platform.h"
#include "testutil.h"

using namespace VelFile;
using vt::VelString;

namespace {

class Groups : public vt::VelTest {
 protected:
  // A file of two sections: "One" at 0 (96 bytes), "Two" at 96 with a sub-group.
  void makeTwoSections(const std::string& name) {
    makeContainer(name);
    void *f = nullptr, *g = nullptr, *sub = nullptr;
    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Two")));
    ASSERT_EQ(0, file_GroupCreate(g, &sub, 50, VELFILE_TEXT("Inner")));
    ASSERT_EQ(0, file_Close(f));
  }
};

TEST_F(Groups, GroupOpenFindsSectionsAndSubGroupsByKey) {
  makeTwoSections("k.A01");
  void *f = nullptr, *g1 = nullptr, *g2 = nullptr, *again = nullptr, *none = &none;
  ASSERT_EQ(0, file_Open(vpath("k.A01").c_str(), &f));
  ASSERT_EQ(0, file_Open(vpath("k.A01").c_str(), &again));
  EXPECT_EQ(f, again) << "a path already open gives its handle";
  EXPECT_EQ(2u, file_ItemNbrGet(f));
  ASSERT_EQ(0, file_GroupOpen(f, &g1, 0));
  EXPECT_EQ(VELFILE_TEXT("One"), groupName(g1));
  ASSERT_EQ(0, file_GroupOpen(f, &g2, 96));
  EXPECT_EQ(VELFILE_TEXT("Two"), groupName(g2));
  ASSERT_EQ(0, file_GroupOpen(f, &again, 96));
  EXPECT_EQ(g2, again);
  EXPECT_EQ(3, file_GroupOpen(f, &none, 8));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(3, file_GroupOpen(f, nullptr, 96));

  EXPECT_EQ("50 0 1 64 Inner", itemInfo(g2, 1));
  void* sub = nullptr;
  ASSERT_EQ(0, file_GroupOpen(g2, &sub, 64));
  EXPECT_EQ(VELFILE_TEXT("Inner"), groupName(sub));
  EXPECT_EQ(1u, file_ItemNbrGet(sub));
  EXPECT_EQ(3, file_GroupOpen(g2, &none, 72));
  EXPECT_EQ(3, file_GroupOpen(g1, &none, 0)) << "a section group has no group references";

  uint32_t start = 0;
  EXPECT_EQ(0, file_GetFileOffsetSection(sub, &start));
  EXPECT_EQ(96u, start);
  EXPECT_EQ(2, file_GetFileOffsetSection(f, &start));
  EXPECT_EQ(0, file_Close(f));
  EXPECT_EQ(5, file_GroupOpen(f, &none, 0)) << "a closed handle is a free slot";
  EXPECT_EQ(5, file_GroupCreate(f, &none, 0, VELFILE_TEXT("X")));
}

TEST_F(Groups, NamesWithoutANameItemWithoutRoomOrWithoutAName) {
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Orig")));
  ASSERT_EQ(0, file_UpdateContentGroup(g, 5));  // the name item is the last item
  EXPECT_EQ(6, file_GroupNameSet(g, VELFILE_TEXT("New"), 32));
  EXPECT_EQ(VELFILE_TEXT("New"), groupName(g));
  // A buffer without room for the terminator is refused and left untouched.
  VelChar buf[5] = {VELFILE_TEXT('#'), VELFILE_TEXT('#'), VELFILE_TEXT('#'), VELFILE_TEXT('#'),
                    VELFILE_TEXT('#')};
  EXPECT_EQ(3, file_GroupNameGet(g, buf, 3));
  EXPECT_EQ(vt::VelString(5, VELFILE_TEXT('#')), vt::VelString(buf, 5));
  EXPECT_EQ(0, file_GroupNameGet(g, buf, 4));
  EXPECT_EQ(vt::VelString(VELFILE_TEXT("New\0#"), 5), vt::VelString(buf, 5));
  EXPECT_EQ(3, file_GroupNameGet(f, buf, 5));
  EXPECT_EQ(1, file_GroupNameSet(g, nullptr, 32));
  EXPECT_EQ(3, file_GroupNameGet(g, buf, 5)) << "no name held";
  // A name is cut to 31 units, with a report; one of 31 is kept whole.
  void* sub = nullptr;
  ASSERT_EQ(0, file_GroupCreate(g, &sub, 7, VELFILE_TEXT("S")));
  EXPECT_EQ(0, file_GroupNameSet(sub, VelString(32, VELFILE_TEXT('a')).c_str(), 33));
  EXPECT_EQ(VelString(31, VELFILE_TEXT('a')), groupName(sub));
  EXPECT_EQ(0, file_GroupNameSet(sub, VelString(31, VELFILE_TEXT('b')).c_str(), 32));
  EXPECT_EQ(1, diagCount());
  EXPECT_EQ(0, file_Close(f));

  // The stored name item kept its old value under its new id.
  ASSERT_EQ(0, file_Open(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  EXPECT_EQ(VELFILE_TEXT("Orig"), groupName(g));
  EXPECT_EQ("5 12 5 40 ", itemInfo(g, 0));
  uint32_t at = 0;
  ASSERT_EQ(0, file_ItemInfo(g, 1, nullptr, nullptr, nullptr, &at, nullptr, 0));
  ASSERT_EQ(0, file_GroupOpen(g, &sub, at));
  EXPECT_EQ(VelString(31, VELFILE_TEXT('b')), groupName(sub));
  EXPECT_EQ("10000 12 32 ", itemInfo(sub, 0).substr(0, 12));
  EXPECT_EQ(0, file_Close(f));
}

// Random small and large reads and writes against a copy in memory: every
// read must see the last write, whichever window holds the bytes, including
// windows cut short at the old end of the file. Many writes start a few
// bytes after the previous one, as 8-aligned blocks do: the bytes between
// keep what the file held there, or read as zeros past its end.
TEST_F(Groups, ReadAheadAlwaysSeesTheLatestBytes) {
  int err = 0;
  std::unique_ptr<velfile::Stream> s = velfile::nativePlatform().open(
      path("s.bin"), velfile::OpenMode::CreateUpdate, velfile::ShareMode::DenyNone, &err);
  ASSERT_TRUE(s);
  std::vector<uint8_t> model(300000);
  for (size_t i = 0; i < model.size(); ++i) model[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(s->seek(0) && s->write(model.data(), model.size()));

  std::mt19937 rng(12345);
  std::vector<uint8_t> buf(20000);
  uint32_t lastEnd = 0;
  for (int op = 0; op < 6000; ++op) {
    // Mostly small transfers, in a few regions at a time, as a walk does.
    const size_t n = rng() % 10 == 0 ? 5000 + rng() % 15000 : 1 + rng() % 300;
    const uint32_t region = static_cast<uint32_t>(rng() % 6) * 70000;
    const bool follows = rng() % 3 == 0;
    const uint32_t at = follows ? lastEnd + rng() % 8 : region + static_cast<uint32_t>(rng() % 70000);
    ASSERT_TRUE(s->seek(at));
    if (follows || rng() % 4 == 0) {
      lastEnd = at + static_cast<uint32_t>(n) < 450000 ? at + static_cast<uint32_t>(n) : region;
      for (size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(rng());
      ASSERT_TRUE(s->write(buf.data(), n));
      if (model.size() < at + n) model.resize(at + n, 0);
      std::copy(buf.begin(), buf.begin() + static_cast<long>(n), model.begin() + at);
    } else if (at + n <= model.size()) {
      ASSERT_TRUE(s->read(buf.data(), n)) << "op " << op;
      ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<long>(n), model.begin() + at))
          << "op " << op << " read " << n << " at " << at;
    } else {
      EXPECT_FALSE(s->read(buf.data(), n)) << "op " << op << ": a read past the end must fail";
    }
  }
  std::vector<uint8_t> whole(model.size());
  ASSERT_TRUE(s->seek(0) && s->read(whole.data(), whole.size()));
  EXPECT_TRUE(whole == model);
  EXPECT_TRUE(s->close());
}

}  // namespace
