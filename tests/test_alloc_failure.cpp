// An exhausted heap: the program's operator new is replaced so that, while
// armed, its k-th call throws std::bad_alloc. Every operation of a writing
// session, a reading session and a wrapping session is run with each of its
// allocations failing in turn: it must return 1 (file_Close: 2, as for any
// failure to write), leave no partial state behind, and a retry must give
// exactly the file a session without failures gives, byte for byte.
#include <cstdlib>
#include <functional>
#include <new>

#include "testutil.h"

namespace {

struct AllocGate {
  bool armed = false;
  bool fired = false;
  uint64_t countdown = 0;
} g_gate;

void* allocate(std::size_t n) {
  if (g_gate.armed && --g_gate.countdown == 0) {
    g_gate.armed = false;
    g_gate.fired = true;
    throw std::bad_alloc();
  }
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace VelFile;
using vt::Bytes;
using vt::cp;

// What the steps of a session share. Buffers are made before any step runs:
// a step itself allocates only inside the library.
struct Ctx {
  vt::VelString path;
  void *file = nullptr, *section = nullptr, *sub = nullptr;
  uint64_t block = 0;
  uint64_t bulkBlock = 0;
  std::vector<char> buf = std::vector<char>(4096);
  std::vector<char> bulk = std::vector<char>(100000, 'b');
  std::string log;  // what the reading steps read
  Ctx() { log.reserve(1 << 16); }
};

struct Step {
  const char* name;
  std::function<int(Ctx&)> run;
  int memoryResult = kErrMemory;
};

class AllocFailure : public vt::VelTest {
 protected:
  // Runs the session once cleanly, then once per step and allocation with
  // that allocation failing. `prepare` lays out the files before each run,
  // `outcome` tells what the session left (file bytes, values read), and
  // `afterFailedClose` checks what a failed close leaves.
  void exercise(const std::vector<Step>& steps, const std::function<void(Ctx&)>& prepare,
                const std::function<std::string(Ctx&)>& outcome,
                const std::function<void()>& afterFailedClose = nullptr) {
    Ctx clean;
    prepare(clean);
    for (const Step& s : steps) ASSERT_EQ(0, s.run(clean)) << s.name;
    const std::string expected = outcome(clean);
    int failures = 0;
    for (size_t j = 0; j < steps.size(); ++j) {
      for (uint64_t k = 1;; ++k) {
        Ctx c;
        prepare(c);
        for (size_t i = 0; i < j; ++i) ASSERT_EQ(0, steps[i].run(c)) << steps[i].name;
        g_gate = AllocGate{true, false, k};
        int rc = -1;
        bool escaped = false;
        try {
          rc = steps[j].run(c);
        } catch (const std::bad_alloc&) {
          escaped = true;
        }
        const bool fired = g_gate.fired;
        g_gate = AllocGate{};
        const std::string where = std::string(steps[j].name) + ", allocation " + std::to_string(k);
        ASSERT_FALSE(escaped) << "bad_alloc escaped the library: " << where;
        if (fired) {
          ++failures;
          EXPECT_EQ(steps[j].memoryResult, rc) << where;
          if (steps[j].memoryResult != kErrMemory) {
            // A close that failed still freed its slot.
            expectAllSlotsFree();
            if (afterFailedClose) afterFailedClose();
            continue;
          }
          ASSERT_EQ(0, steps[j].run(c)) << "retry after " << where;
        } else {
          ASSERT_EQ(0, rc) << where;
        }
        for (size_t i = j + 1; i < steps.size(); ++i)
          ASSERT_EQ(0, steps[i].run(c)) << steps[i].name << " after " << where;
        EXPECT_TRUE(expected == outcome(c)) << "not the file of a session without failures: " << where;
        if (!fired) break;
      }
    }
    EXPECT_TRUE(file_IsHandleLeft());
    RecordProperty("allocation_failures", failures);
  }

  std::string bytesOf(const std::string& name) {
    Bytes b = vt::readFile(path(name));
    return std::string(b.begin(), b.end());
  }
};

// clang-format off
TEST_F(AllocFailure, WritingSessionLeavesNoPartialState) {
  const double d[3] = {1, 2, 3};
  const uint32_t seven = 7;
  const std::vector<Step> steps = {
      {"create", [](Ctx& c) { return file_Create(c.path.c_str(), &c.file); }},
      {"section", [](Ctx& c) { return file_GroupCreate(c.file, &c.section, 0, VELFILE_TEXT("S")); }},
      {"inline item", [&](Ctx& c) { return file_ItemValueWrite(c.section, 1, kTypeUInt32, 1, cp(&seven)); }},
      {"small write", [](Ctx& c) {
         if (!c.block) c.block = file_Allocate(c.section, 16);
         return file_Write(c.file, c.block, c.bulk.data(), 16, nullptr); }},
      {"block item", [&](Ctx& c) { return file_ItemValueWrite(c.section, 2, kTypeDouble, 3, cp(d)); }},
      {"text item", [](Ctx& c) { return file_ItemValueWrite(c.section, 3, kTypeUtf16, 6, cp(VELFILE_TEXT("Hello"))); }},
      {"sub-group", [](Ctx& c) { return file_GroupCreate(c.section, &c.sub, 4, VELFILE_TEXT("Sub group")); }},
      {"sub item", [](Ctx& c) { return file_ItemValueWrite(c.sub, 1, kTypeInt16, 5, c.bulk.data()); }},
      {"rename", [](Ctx& c) { return file_GroupNameSet(c.sub, VELFILE_TEXT("Renamed group"), 32); }},
      {"bulk write", [](Ctx& c) {
         const uint32_t n = static_cast<uint32_t>(c.bulk.size());
         if (!c.bulkBlock) c.bulkBlock = file_Allocate(c.section, n);
         int32_t progress = 0;
         return file_Write(c.file, c.bulkBlock, c.bulk.data(), n, &progress); }},
      {"bulk item", [](Ctx& c) {
         return file_ItemOffsetWrite(c.section, 5, kTypeRaw, uint32_t(c.bulk.size()), uint32_t(c.bulkBlock)); }},
      {"close", [](Ctx& c) { return file_Close(c.file); }, kErrIo},
  };
  exercise(steps, [this](Ctx& c) { c.path = vpath("written.bin"); std::remove(path("written.bin").c_str()); },
      [this](Ctx&) { return bytesOf("written.bin"); },
      [this] {  // nothing of the section reached the file's header; the path is free
        void* f = nullptr;
        EXPECT_EQ(kErrNotFound, file_Open(vpath("written.bin").c_str(), &f));
        ASSERT_EQ(0, file_Create(vpath("written.bin").c_str(), &f));
        EXPECT_EQ(kErrNotFound, file_Close(f));
      });
}

TEST_F(AllocFailure, ReadingAndAppendingLeaveNoPartialState) {
  makeContainer("source.A01", VELFILE_TEXT("A section name"));
  void *f = nullptr, *s = nullptr, *sub = nullptr;
  const double d[3] = {1.5, 2.5, 3.5};
  ASSERT_EQ(0, file_Open(vpath("source.A01").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &s, 0, VELFILE_TEXT("Second")));
  ASSERT_EQ(0, file_GroupCreate(s, &sub, 9, VELFILE_TEXT("Sub group")));
  ASSERT_EQ(0, file_ItemValueWrite(sub, 2, kTypeDouble, 3, cp(d)));
  ASSERT_EQ(0, file_ItemValueWrite(sub, 3, kTypeUtf16, 12, cp(VELFILE_TEXT("Text value!"))));
  ASSERT_EQ(0, file_Close(f));
  const Bytes source = vt::readFile(path("source.A01"));
  // Reading steps log what they read.
  auto logged = [](Ctx& c, int rc, size_t n) { if (rc == 0) c.log.append(c.buf.data(), n); return rc; };
  const std::vector<Step> steps = {
      {"open", [](Ctx& c) { return file_Open(c.path.c_str(), &c.file); }},
      {"open section", [](Ctx& c) {
         uint32_t key = 0;
         file_ItemInfo(c.file, 1, nullptr, nullptr, nullptr, &key, nullptr, 0);
         return file_GroupOpen(c.file, &c.section, key); }},
      {"item info", [&](Ctx& c) {
         uint32_t key = 0;
         const int rc = file_ItemInfo(c.section, 1, nullptr, nullptr, nullptr, &key, reinterpret_cast<VelChar*>(c.buf.data()), 32);
         c.block = key;
         return logged(c, rc, 64); }},
      {"open sub-group", [](Ctx& c) { return file_GroupOpen(c.section, &c.sub, static_cast<uint32_t>(c.block)); }},
      {"value read", [&](Ctx& c) { uint32_t n = 0; return logged(c, file_IndexValueRead(c.sub, 2, kTypeUtf16, c.buf.data(), &n), 24); }},
      {"block read", [&](Ctx& c) { return logged(c, file_IndexBlockRead(c.sub, 1, kTypeDouble, c.buf.data()), 24); }},
      {"name", [&](Ctx& c) { return logged(c, file_GroupNameGet(c.sub, reinterpret_cast<VelChar*>(c.buf.data()), 32), 20); }},
      {"append section", [](Ctx& c) { return file_GroupCreate(c.file, &c.section, 0, VELFILE_TEXT("Third section")); }},
      {"append item", [](Ctx& c) { return file_ItemValueWrite(c.section, 1, kTypeUtf16, 6, cp(VELFILE_TEXT("Added"))); }},
      {"close", [](Ctx& c) { return file_Close(c.file); }, kErrIo},
  };
  exercise(steps, [&](Ctx& c) { c.path = vpath("source.A01"); vt::writeFile(path("source.A01"), source); },
      [this](Ctx& c) { return c.log + bytesOf("source.A01"); },
      [&] {  // the sections closed before are all there, unchanged
        const Bytes now = vt::readFile(path("source.A01"));
        ASSERT_GE(now.size(), source.size());
        EXPECT_TRUE(std::equal(source.begin(), source.end(), now.begin()));
        void* again = nullptr;
        ASSERT_EQ(0, file_Open(vpath("source.A01").c_str(), &again));
        EXPECT_EQ(2u, file_ItemNbrGet(again));
        EXPECT_EQ(0, file_Close(again));
      });
}

TEST_F(AllocFailure, WrappingLeavesNoPartialState) {
  const std::vector<Step> steps = {
      {"wrap", [](Ctx& c) { return file_CreateEx(c.path.c_str(), &c.file); }},
      {"section", [](Ctx& c) { return file_GroupCreate(c.file, &c.section, 0, VELFILE_TEXT("Wrapped data")); }},
      {"data item", [](Ctx& c) { return file_ItemOffsetWrite(c.section, 1, kTypeRaw, 64, 36); }},
      {"close", [](Ctx& c) { return file_Close(c.file); }, kErrIo},
  };
  exercise(steps, [this](Ctx& c) { c.path = vpath("raw.dat"); vt::writeFile(path("raw.dat"), Bytes(100, 0x5A)); },
      [this](Ctx&) { return bytesOf("raw.dat"); });
}
// clang-format on

}  // namespace
