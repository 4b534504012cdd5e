// Crashes while appending: a child process adds a section to an ".A01" file
// and is killed with SIGKILL before or after each of its platform calls
// (opening, reading the chain, writing values, blocks and directories, the
// header, closing) and in the middle of each write. After every kill the file must open, every section
// closed before the child started must read back unchanged byte for byte, and a section that became
// visible must be whole.
#if !defined(_WIN32)  // these tests need fork(), which Windows lacks
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "faultplatform.h"
#include "testutil.h"

namespace {

using namespace VelFile;
using vt::Bytes;
using vt::cp;

const uint32_t kBulkBytes = 270000;  // two progress chunks

// Where the chain of sections ends, read from the headers this library wrote.
uint64_t chainEnd(const Bytes& b) {
  uint64_t pos = 0;
  while (pos + 36 <= b.size() && std::memcmp(&b[pos + 4], "SURD", 4) == 0) {
    uint32_t size = 0;
    std::memcpy(&size, &b[pos + 24], 4);
    if (size < 36) break;
    pos += size;
  }
  return pos;
}

// The child's work: one new section with values, sub-groups and bulk data.
void appendSection(const vt::VelString& path) {
  void* f = nullptr;
  void* s = nullptr;
  if (file_Open(path.c_str(), &f) != 0) return;
  file_GroupCreate(f, &s, 0, u"Appended by a child");
  for (uint32_t i = 0; i < 4; ++i) file_ItemValueWrite(s, 10 + i, kTypeUInt32, 1, cp(&i));
  const double d[3] = {1.5, 2.5, 3.5};
  file_ItemValueWrite(s, 20, kTypeDouble, 3, cp(d));
  void* sub = nullptr;
  file_GroupCreate(s, &sub, 30, u"Child sub-group");
  file_ItemValueWrite(sub, 1, kTypeUtf16, 12, cp(u"Some text 1"));
  std::vector<char> bulk(kBulkBytes);
  for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = static_cast<char>(i * 13);
  const uint64_t at = file_Allocate(sub, kBulkBytes);
  int32_t progress = 0;
  file_Write(f, at, bulk.data(), kBulkBytes, &progress);
  file_ItemOffsetWrite(sub, 2, kTypeRaw, kBulkBytes, static_cast<uint32_t>(at));
  file_Close(f);
}

class CrashConsistency : public vt::VelTest {
 protected:
  void SetUp() override {
    VelTest::SetUp();
    makeContainer("crash.A01", u"First section");
    appendSection(vpath("crash.A01"));  // a second, larger section
    const std::string complete = vt::FileLister().list(vpath("crash.A01"));
    appendedListing_ = complete.substr(complete.find("section\n", 1));
  }

  // Runs a child that appends a section; `arm` prepares its platform (the
  // kill points). Returns whether the child was killed.
  bool runChild(const std::function<void(vt::FaultPlatform&)>& arm) {
    const pid_t pid = fork();
    if (pid == 0) {
      vt::FaultPlatform p;
      arm(p);
      velfile::setPlatform(&p);
      appendSection(vpath("crash.A01"));
      _exit(0);
    }
    EXPECT_GT(pid, 0);
    int status = 0;
    EXPECT_EQ(pid, waitpid(pid, &status, 0));
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  // One crash: snapshot, child, then the checks. Returns whether a kill hit.
  bool crashAndCheck(const std::string& where, const std::function<void(vt::FaultPlatform&)>& arm) {
    const Bytes before = vt::readFile(path("crash.A01"));
    const uint64_t end = chainEnd(before);
    void* f = nullptr;
    EXPECT_EQ(0, file_Open(vpath("crash.A01").c_str(), &f)) << where;
    const uint32_t sections = file_ItemNbrGet(f);
    EXPECT_EQ(0, file_Close(f));
    const std::string listing = vt::FileLister().list(vpath("crash.A01"));

    const bool killed = runChild(arm);
    // Each crash starts from the same file.
    struct Restore {
      const std::string path;
      const Bytes& bytes;
      ~Restore() { vt::writeFile(path, bytes); }
    } restore{path("crash.A01"), before};

    const Bytes after = vt::readFile(path("crash.A01"));
    EXPECT_GE(after.size(), end) << where;
    EXPECT_TRUE(after.size() >= end &&
                std::equal(before.begin(), before.begin() + static_cast<long>(end), after.begin()))
        << "bytes of earlier sections changed: " << where;
    EXPECT_EQ(0, file_Open(vpath("crash.A01").c_str(), &f)) << where;
    const uint32_t now = file_ItemNbrGet(f);
    EXPECT_EQ(0, file_Close(f));
    EXPECT_TRUE(now == sections || now == sections + 1) << where;
    vt::FileLister lister;
    const std::string all = lister.list(vpath("crash.A01"));
    EXPECT_EQ(listing, all.substr(0, listing.size())) << where;
    // A section that became visible was written whole.
    if (now == sections + 1) {
      EXPECT_EQ(appendedListing_, all.substr(listing.size())) << where;
    }
    if (!killed) {
      EXPECT_EQ(sections + 1, now) << "a child that finished lost its section: " << where;
    }
    return killed;
  }

  std::string appendedListing_;
};

TEST_F(CrashConsistency, KillAroundEveryPlatformCallAndInsideEveryWriteLosesNothingClosedBefore) {
  // The platform calls of one child's session, counted on a copy of the file.
  vt::writeFile(path("count.A01"), vt::readFile(path("crash.A01")));
  uint64_t calls = 0, writes = 0;
  {
    vt::FaultPlatform p;
    vt::PlatformScope scope(p);
    appendSection(vpath("count.A01"));
    calls = p.count(vt::Call::Any);
    writes = p.count(vt::Call::Write);
    ASSERT_GT(writes, 5u);
  }
  // Killed before call k, after it, and (while k counts writes) inside the
  // k-th write, whose first half reaches the file (the header's among them).
  uint64_t kills = 0, tears = 0;
  for (uint64_t k = 1;; ++k) {
    bool hit = false;
    for (int mode = 0; mode < (k <= writes ? 3 : 2); ++mode) {
      const char* how[] = {"before call ", "after call ", "inside write "};
      const bool killed = crashAndCheck(how[mode] + std::to_string(k), [k, mode](vt::FaultPlatform& p) {
        auto die = [k](uint64_t index) {
          if (index == k) raise(SIGKILL);
        };
        if (mode == 0) {
          p.before = [die](vt::Call, uint64_t index) { die(index); };
        } else if (mode == 1) {
          p.after = [die](vt::Call, uint64_t index, bool) { die(index); };
        } else {
          p.tearWriteAt = k;
          p.onTear = [] { raise(SIGKILL); };
        }
      });
      if (HasFailure()) return;
      (mode == 2 ? tears : kills) += killed;
      hit |= killed;
    }
    if (!hit) break;  // past the child's last call: it finished
  }
  RecordProperty("kills", static_cast<int>(kills + tears));
  EXPECT_EQ(2 * calls, kills);
  EXPECT_EQ(writes, tears);
}

}  // namespace

#else
#include <gtest/gtest.h>

TEST(CrashConsistency, NeedsFork) {
  GTEST_SKIP() << "needs fork(); Windows has none";
}
#endif
