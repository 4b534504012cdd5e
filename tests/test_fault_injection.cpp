// Failing I/O: a representative host session (a new file, a file wrapped
// around existing bytes, a section appended to an ".A01" file, everything read
// back) is run once per platform call with that call failing. The failure
// must show as a non-zero result of the operation that met it, nothing may
// crash or leak, the slot table must stay whole, sections closed before must
// stay readable, and a result of 0 must never hide a damaged file.
//
// Crashes while appending: a child process adds a section to an ".A01" file
// and is killed with SIGKILL before or after each of its platform calls
// (opening, reading the chain, writing values, blocks and directories, the
// header, closing) and in the middle of each write. After every kill the file
// must open, every section closed before the child started must read back
// unchanged byte for byte, and a section that became visible must be whole.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <velfile/velfile.hpp>

#include "faultplatform.h"
#include "testutil.h"

namespace {

using namespace VelFile;
using vt::Bytes;
using vt::Call;
using vt::cp;

const uint32_t kBulkBytes = 300000;  // two progress chunks

class Session {
 public:
  explicit Session(const std::string& dir) : dir_(dir) {}

  // The operation running now (1-based); the platform notes it when it fails.
  int current() const { return static_cast<int>(results_.size()) + 1; }
  const std::vector<int>& results() const { return results_; }
  const std::vector<std::string>& names() const { return names_; }

  void run() {
    writeNew();
    wrapRaw();
    append();
    newDump = readBack("new.bin");
    a01Dump = readBack("base.A01");
  }

  // Results of the operations from index `from` to `to` (exclusive) were all 0.
  bool clean(size_t from, size_t to) const {
    return std::all_of(results_.begin() + static_cast<long>(from), results_.begin() + static_cast<long>(to),
                       [](int rc) { return rc == 0; });
  }

  size_t writeEnd = 0, appendBegin = 0, appendEnd = 0;
  std::string newDump, a01Dump;

  // Reads a whole file through the lister, recording each result.
  std::string readBack(const std::string& name) {
    vt::FileLister lister;
    lister.step = [this](const char* what, int rc) { return step(what, rc); };
    return lister.list(wide(name));
  }

 private:
  int step(const char* name, int rc) {
    EXPECT_TRUE(rc >= 0 && rc <= kErrReadOnly && rc != 7) << name << " gave " << rc << ", no result code";
    results_.push_back(rc);
    names_.push_back(name);
    return rc;
  }

  vt::VelString wide(const std::string& name) const { return vt::V(dir_ + "/" + name); }

  // Values inline and out of line, nested sub-groups, a renamed group and
  // bulk data written with and without progress.
  void fill(void* file, void* s) {
    for (uint32_t i = 0; i < 6; ++i)
      step("inline item", file_ItemValueWrite(s, 100 + i, kTypeUInt32, 1, cp(&i)));
    const double doubles[4] = {1.5, -2.5, 1e10, 0};
    step("block item", file_ItemValueWrite(s, 200, kTypeDouble, 4, cp(doubles)));
    step("text item", file_ItemValueWrite(s, 201, kTypeUtf16, 14, cp(VELFILE_TEXT("a longer text"))));
    void* sub = nullptr;
    for (uint16_t j = 0; j < 3; ++j) {
      step("sub-group", file_GroupCreate(s, &sub, 300 + j, VELFILE_TEXT("Sub group")));
      const float floats[3] = {1.f, 2.f, 3.f};
      step("sub item", file_ItemValueWrite(sub, 1, kTypeFloat, 3, cp(floats)));
      void* leaf = nullptr;
      step("leaf", file_GroupCreate(sub, &leaf, 2, VELFILE_TEXT("Leaf")));
      const int16_t shorts[5] = {1, -2, 3, -4, 5};
      step("leaf item", file_ItemValueWrite(leaf, 1, kTypeInt16, 5, cp(shorts)));
    }
    step("rename", file_GroupNameSet(sub, VELFILE_TEXT("Renamed sub group"), 32));
    std::vector<char> bulk(kBulkBytes);
    for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = static_cast<char>(i * 7);
    const uint64_t at = file_Allocate(s, kBulkBytes);
    int32_t progress = 0;
    step("bulk write", file_Write(file, at, bulk.data(), kBulkBytes, &progress));
    step("bulk item", file_ItemOffsetWrite(s, 400, kTypeRaw, kBulkBytes, static_cast<uint32_t>(at)));
    const uint64_t small = file_Allocate(s, 64);
    step("small write", file_Write(s, small, bulk.data(), 64, nullptr));
    step("small item", file_ItemOffsetWrite(s, 401, kTypeUInt16, 32, static_cast<uint32_t>(small)));
  }

  void writeNew() {
    void *f = nullptr, *s = nullptr;
    step("create", file_Create(wide("new.bin").c_str(), &f));
    step("section", file_GroupCreate(f, &s, 0, VELFILE_TEXT("Session section")));
    fill(f, s);
    step("close new", file_Close(f));
    writeEnd = results_.size();
  }

  void wrapRaw() {
    void *f = nullptr, *s = nullptr;
    step("create wrapped", file_CreateEx(wide("raw.dat").c_str(), &f));
    step("wrapped section", file_GroupCreate(f, &s, 0, VELFILE_TEXT("Wrapped")));
    step("wrapped item", file_ItemOffsetWrite(s, 1, kTypeRaw, 64, 36));
    step("close wrapped", file_Close(f));
  }

  void append() {
    appendBegin = results_.size();
    void *f = nullptr, *s = nullptr;
    step("open update", file_Open(wide("base.A01").c_str(), &f));
    step("new section", file_GroupCreate(f, &s, 0, VELFILE_TEXT("Appended section")));
    fill(f, s);
    step("close update", file_Close(f));
    appendEnd = results_.size();
  }

  std::string dir_;
  std::vector<int> results_;
  std::vector<std::string> names_;
};

class FaultInjection : public vt::VelTest {
 protected:
  void SetUp() override {
    VelTest::SetUp();
    // The ".A01" file already holds a section closed in an earlier session.
    makeContainer("base.A01", VELFILE_TEXT("Earlier section"));
    base_ = vt::readFile(path("base.A01"));
    baseDump_ = session().readBack("base.A01");
  }

  Session session() { return Session(dir_); }

  // The session without failures, its platform calls counted.
  Session cleanRun(vt::FaultPlatform& counter) {
    reset();
    Session clean = session();
    vt::PlatformScope scope(counter);
    clean.run();
    return clean;
  }

  // Fresh inputs for one run: the base file as it was, raw bytes to wrap.
  void reset() {
    std::remove(path("new.bin").c_str());
    vt::writeFile(path("base.A01"), base_);
    vt::writeFile(path("raw.dat"), Bytes(100, 0xAB));
  }

  // Runs the session with the platform armed; checks the failure surfaced
  // where it happened and that nothing earlier was lost.
  void runFailing(Call kind, uint64_t k, bool sticky, const Session& clean) {
    reset();
    Session s = session();
    vt::FaultPlatform p;
    p.failAt(kind, k, sticky);
    int firedAt = 0;
    p.onFire = [&] { firedAt = s.current(); };
    {
      vt::PlatformScope scope(p);
      s.run();
    }
    const std::string where = std::string(callName(kind)) + " #" + std::to_string(k);
    ASSERT_TRUE(p.fired()) << where;
    ASSERT_GT(firedAt, 0) << where;
    ASSERT_LE(static_cast<size_t>(firedAt), s.results().size()) << where;
    EXPECT_NE(0, s.results()[firedAt - 1])
        << where << " (" << callName(p.firedKind()) << ") during " << s.names()[firedAt - 1];
    expectSound(s, clean, where);
  }

  void expectSound(const Session& s, const Session& clean, const std::string& where) {
    // Nothing held a slot: all of them can be claimed.
    expectAllSlotsFree();
    // The section closed before is intact, on disk and through the API.
    const Bytes now = vt::readFile(path("base.A01"));
    ASSERT_TRUE(now.size() >= base_.size() && std::equal(base_.begin(), base_.end(), now.begin())) << where;
    const std::string a01 = session().readBack("base.A01");
    EXPECT_EQ(0, a01.compare(0, baseDump_.size(), baseDump_)) << where;
    // Work reported as done is readable as written.
    if (s.clean(0, s.writeEnd)) {
      EXPECT_EQ(clean.newDump, session().readBack("new.bin")) << where;
    }
    if (s.clean(s.appendBegin, s.appendEnd)) {
      EXPECT_EQ(clean.a01Dump, a01) << where;
    }
  }

  Bytes base_;
  std::string baseDump_;
};

TEST_F(FaultInjection, EveryPlatformCallFailingOnceIsReportedAndHarmless) {
  vt::FaultPlatform counter;
  const Session clean = cleanRun(counter);
  for (size_t i = 0; i < clean.results().size(); ++i) ASSERT_EQ(0, clean.results()[i]) << clean.names()[i];
  ASSERT_NE(clean.a01Dump, baseDump_);
  const uint64_t calls = counter.count(Call::Any);
  ASSERT_GT(calls, 100u);
  for (Call kind : {Call::Open, Call::Seek, Call::Read, Call::Write, Call::Size, Call::Close, Call::FileSize})
    EXPECT_GT(counter.count(kind), 0u) << callName(kind);
  for (uint64_t k = 1; k <= calls; ++k) {
    runFailing(Call::Any, k, false, clean);
    if (HasFatalFailure()) return;
  }
  RecordProperty("injected_faults", static_cast<int>(calls));
}

TEST_F(FaultInjection, DiskGoingAwayMidSessionIsReportedAndHarmless) {
  vt::FaultPlatform counter;
  const Session clean = cleanRun(counter);
  // From the k-th call of a kind on, every call of that kind fails.
  for (Call kind : {Call::Seek, Call::Read, Call::Write, Call::Close}) {
    const uint64_t n = counter.count(kind);
    for (uint64_t k = 1; k <= n; k += std::max<uint64_t>(1, n / 12)) {
      runFailing(kind, k, true, clean);
      if (HasFatalFailure()) return;
    }
  }
}

#if defined(__linux__)
// Every write to /dev/full fails, but only when held-back bytes go out.
TEST_F(FaultInjection, AWriteFailingLateIsReportedByCloseAndByReadingItsBytes) {
  void *f = nullptr, *g = nullptr;
  char bytes[20];
  ASSERT_EQ(0, file_Create(vt::V("/dev/full").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Held back")));  // its name at 40, held back
  EXPECT_EQ(0, file_ReadBlock(g, 0, 8, bytes)) << "other bytes read as ever";
  EXPECT_EQ(2, file_ReadBlock(g, 40, 20, bytes)) << "the lost name is not read back";
  EXPECT_EQ(0, file_ItemValueWrite(g, 1, kTypeUtf16, 7, cp(VELFILE_TEXT("Later."))));
  EXPECT_EQ(2, file_Close(f));
  expectAllSlotsFree();
}
#endif

#if !defined(_WIN32)  // the crash tests need fork(), which Windows lacks
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

// The child's work: one new section with values, sub-groups and bulk data;
// abandoned instead of closed when asked.
void appendSection(const vt::VelString& path, bool abandon = false) {
  void* f = nullptr;
  void* s = nullptr;
  if (file_Open(path.c_str(), &f) != 0) return;
  file_GroupCreate(f, &s, 0, VELFILE_TEXT("Appended by a child"));
  for (uint32_t i = 0; i < 4; ++i) file_ItemValueWrite(s, 10 + i, kTypeUInt32, 1, cp(&i));
  const double d[3] = {1.5, 2.5, 3.5};
  file_ItemValueWrite(s, 20, kTypeDouble, 3, cp(d));
  void* sub = nullptr;
  file_GroupCreate(s, &sub, 30, VELFILE_TEXT("Child sub-group"));
  file_ItemValueWrite(sub, 1, kTypeUtf16, 12, cp(VELFILE_TEXT("Some text 1")));
  std::vector<char> bulk(kBulkBytes);
  for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = static_cast<char>(i * 13);
  const uint64_t at = file_Allocate(sub, kBulkBytes);
  int32_t progress = 0;
  file_Write(f, at, bulk.data(), kBulkBytes, &progress);
  file_ItemOffsetWrite(sub, 2, kTypeRaw, kBulkBytes, static_cast<uint32_t>(at));
  abandon ? file_Abandon(f) : file_Close(f);
}

class CrashConsistency : public vt::VelTest {
 protected:
  void SetUp() override {
    VelTest::SetUp();
    makeContainer("crash.A01", VELFILE_TEXT("First section"));
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
    const std::string listing = vt::FileLister().list(vpath("crash.A01"));
    const bool killed = runChild(arm);
    const Bytes after = vt::readFile(path("crash.A01"));
    EXPECT_TRUE(after.size() >= end &&
                std::equal(before.begin(), before.begin() + static_cast<long>(end), after.begin()))
        << "bytes of earlier sections changed: " << where;
    // The file opens with the sections it had, and one more only when whole.
    const std::string all = vt::FileLister().list(vpath("crash.A01"));
    EXPECT_EQ(listing, all.substr(0, listing.size())) << where;
    EXPECT_TRUE((killed && all == listing) || all == listing + appendedListing_) << where;
    vt::writeFile(path("crash.A01"), before);  // each crash starts from the same file
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

// A section abandoned (file_Abandon, File::abandon(), a File that goes while
// an exception unwinds), also with each platform call of the session
// failing in turn, leaves the file as the kills above must: the earlier
// sections byte for byte, and no section more.
TEST_F(CrashConsistency, AnAbandonedSectionLeavesTheEarlierOnesAsTheyWere) {
  const Bytes before = vt::readFile(path("crash.A01"));
  const uint64_t end = chainEnd(before);
  const std::string listing = vt::FileLister().list(vpath("crash.A01"));
  auto expectAsBefore = [&](const std::string& where, bool wrote) {
    const Bytes after = vt::readFile(path("crash.A01"));
    ASSERT_GE(after.size(), end) << where;
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + static_cast<long>(end), after.begin())) << where;
    if (wrote) {
      EXPECT_GT(after.size(), end) << where << ": the section's bytes lie after the last section";
    }
    EXPECT_EQ(end, chainEnd(after)) << where;
    EXPECT_EQ(listing, vt::FileLister().list(vpath("crash.A01"))) << where;
    expectAllSlotsFree();
  };
  appendSection(vpath("crash.A01"), true);
  expectAsBefore("file_Abandon", true);
  try {
    velfile::File f = velfile::File::append(path("crash.A01"));
    f.create_group("Cut short").create_group("Scan", 2).write_item(1, std::vector<double>{1, 2, 3});
    throw std::runtime_error("the acquisition failed");
  } catch (const std::runtime_error&) {
  }
  expectAsBefore("unwinding", true);
  {
    velfile::File f = velfile::File::append(path("crash.A01"));
    f.create_group("Given up");
    f.abandon();
    EXPECT_FALSE(f.is_open());
  }
  expectAsBefore("File::abandon", true);
  vt::FaultPlatform counter;
  {
    vt::PlatformScope scope(counter);
    appendSection(vpath("crash.A01"), true);
  }
  for (uint64_t k = 1; k <= counter.count(vt::Call::Any); ++k) {
    vt::FaultPlatform p;
    p.failAt(vt::Call::Any, k);
    {
      vt::PlatformScope scope(p);
      appendSection(vpath("crash.A01"), true);
    }
    expectAsBefore("abandoned with call " + std::to_string(k) + " failing", false);
    if (HasFailure()) return;
  }
  // The next section goes over the abandoned bytes.
  appendSection(vpath("crash.A01"));
  EXPECT_EQ(listing + appendedListing_, vt::FileLister().list(vpath("crash.A01")));
  // A created file abandoned holds no section.
  velfile::File::create(path("new.A01")).create_group("Never committed").write_item(1, 2.5);
  try {
    velfile::File f = velfile::File::create(path("new.A01"));
    f.create_group("Never committed").write_item(1, 2.5);
    throw std::runtime_error("the acquisition failed");
  } catch (const std::runtime_error&) {
  }
  try {
    velfile::File::open(path("new.A01"));
    ADD_FAILURE() << "an abandoned new file opened";
  } catch (const velfile::Error& e) {
    EXPECT_EQ(velfile::Reason::NotContainer, e.reason()) << e.what();
  }
}

#endif

}  // namespace
