// The fast paths of reading: the stream's read-ahead windows against writes
// that land in them, and opening sub-groups by key in large groups.
#include <algorithm>
#include <random>

#include "platform.h"
#include "testutil.h"

using namespace VelFile;
using vt::VelString;

namespace {

class ReadPaths : public vt::VelTest {};

// Random small and large reads and writes against a copy in memory: every
// read must see the last write, whichever window holds the bytes, including
// windows cut short at the old end of the file. Many writes start a few
// bytes after the previous one, as 8-aligned blocks do: the bytes between
// keep what the file held there, or read as zeros past its end.
TEST_F(ReadPaths, ReadAheadAlwaysSeesTheLatestBytes) {
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

// A group with many sub-groups among other items, read back: every sub-group
// is found by its key in any order and always as the same handle; keys that
// are the value of an ordinary item, or of nothing, find nothing.
TEST_F(ReadPaths, SubGroupsAreFoundByKeyInLargeGroups) {
  const int n = 60;
  void *f = nullptr, *root = nullptr;
  ASSERT_EQ(0, file_Create(vpath("tree.vel").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &root, 0, VT_TEXT("Root")));
  const uint32_t plain = 4242;
  for (int i = 0; i < n; ++i) {
    void* g = nullptr;
    const VelString name = vt::V("Sub " + std::to_string(i));
    ASSERT_EQ(0, file_GroupCreate(root, &g, static_cast<uint16_t>(i), name.c_str()));
    const uint32_t v = static_cast<uint32_t>(i);
    ASSERT_EQ(0, file_ItemValueWrite(g, 1, kTypeUInt32, 1, vt::cp(&v)));
    ASSERT_EQ(0, file_ItemValueWrite(root, 20000, kTypeUInt32, 1, vt::cp(&plain)));
  }
  ASSERT_EQ(0, file_Close(f));

  ASSERT_EQ(0, file_Open(vpath("tree.vel").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &root, 0));
  std::vector<std::pair<uint32_t, int>> keys;  // (key, sub-group number)
  for (uint32_t i = 0; i < file_ItemNbrGet(root); ++i) {
    uint16_t id = 0, type = 0;
    uint32_t key = 0;
    ASSERT_EQ(0, file_ItemInfo(root, i, &id, &type, nullptr, &key, nullptr, 0));
    if (type == kTypeGroup) keys.emplace_back(key, id);
  }
  ASSERT_EQ(size_t(n), keys.size());
  std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  for (const auto& k : keys) {
    void *g = nullptr, *again = nullptr;
    ASSERT_EQ(0, file_GroupOpen(root, &g, k.first));
    EXPECT_EQ(vt::V("Sub " + std::to_string(k.second)), groupName(g));
    EXPECT_EQ("1 7 1 " + std::to_string(k.second) + " ", itemInfo(g, 1));
    ASSERT_EQ(0, file_GroupOpen(root, &again, k.first));
    EXPECT_EQ(g, again);
  }
  void* g = nullptr;
  EXPECT_EQ(3, file_GroupOpen(root, &g, plain));
  EXPECT_EQ(3, file_GroupOpen(root, &g, keys.front().first + 4));
  EXPECT_EQ(nullptr, g);
  EXPECT_EQ(0, file_Close(f));
}

}  // namespace
