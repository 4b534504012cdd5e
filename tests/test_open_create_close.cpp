// Opening, creating and closing files: paths, wrapping existing data, the
// host hooks, the rules for adding a section, and sharing: one file reached
// through two spellings of its path, or from two processes, gets the
// refusals of the share modes.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>

#include "peer.h"
#include "testutil.h"

using namespace VelFile;
using vt::Image;

namespace {

class OpenCreateClose : public vt::VelTest {};

TEST_F(OpenCreateClose, PathsAreStoredInUtf8AndLoneSurrogatesRefused) {
  void* f = nullptr;
  ASSERT_EQ(0, file_Create((vpath("") + VELFILE_TEXT("\u00e9\u20ac\U0001D11E\U000E0101.dat")).c_str(), &f));
  EXPECT_EQ(3, file_Close(f));
  EXPECT_TRUE(std::filesystem::exists(
      std::filesystem::u8path(path("\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\xf3\xa0\x84\x81.dat"))));
#if !defined(_WIN32)
  for (VelChar lone : {VelChar(0xD800), VelChar(0xDC00), VelChar(0xDFFF)}) {
    const vt::VelString bad = vpath("a") + lone + VELFILE_TEXT("b");
    EXPECT_EQ(4, file_Create(bad.c_str(), &f));
  }
#endif
}

TEST_F(OpenCreateClose, CreateExWrapsExistingBytesInTheFirstSection) {
  vt::Bytes raw(100, 0);
  for (size_t i = 36; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i);
  vt::writeFile(path("wrap.bin"), raw);
  void *f = nullptr, *g = nullptr;
  EXPECT_EQ(4, file_CreateEx(vpath("wrap.bin").c_str(), nullptr));
  ASSERT_EQ(0, file_CreateEx(vpath("wrap.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Wrap")));
  const uint32_t three[3] = {1, 2, 3};
  ASSERT_EQ(0, file_ItemValueWrite(g, 1, kTypeUInt32, 3, vt::cp(three)));
  ASSERT_EQ(0, file_Close(f));

  // Header over the first 36 bytes, new data from 104 (100 rounded up).
  Image want;
  want.header(2, 136, 184).raw(&raw[36], 64).padTo(104).utf16(VELFILE_TEXT("Wrap")).padTo(120);
  want.u32(1).u32(2).u32(3).padTo(136).entry(kItemName, 12, 5, 104).entry(1, 7, 3, 120).padTo(184);
  EXPECT_EQ(want.bytes, vt::readFile(path("wrap.bin")));

  // Whether the file held nothing or fewer bytes than a header, the result
  // is the layout of a new file: new data never lies under the header.
  Image fresh;
  fresh.header(1, 56, 80)
      .padTo(40)
      .utf16(VELFILE_TEXT("Tiny"))
      .padTo(56)
      .entry(kItemName, 12, 5, 40)
      .padTo(80);
  for (size_t size : {0, 10, 35}) {
    vt::writeFile(path("tiny.bin"), vt::Bytes(size, 0x77));
    ASSERT_EQ(0, file_CreateEx(vpath("tiny.bin").c_str(), &f));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Tiny")));
    ASSERT_EQ(0, file_Close(f));
    EXPECT_EQ(fresh.bytes, vt::readFile(path("tiny.bin"))) << size;
  }
}

int g_enter, g_leave, g_depth, g_maxDepth;
void onEnter() {
  ++g_enter;
  g_maxDepth = std::max(g_maxDepth, ++g_depth);
}
void onLeave() {
  ++g_leave;
  --g_depth;
}

// Runs op and expects n enter and n leave calls from it.
template <class Op>
void expectHooks(int n, const char* what, Op op) {
  const int e0 = g_enter, l0 = g_leave;
  op();
  EXPECT_EQ(n, g_enter - e0) << what;
  EXPECT_EQ(n, g_leave - l0) << what;
}

TEST_F(OpenCreateClose, EnterAndLeaveHooksBracketEachOperationOnce) {
  g_enter = g_leave = g_depth = g_maxDepth = 0;
  file_Init(&onEnter, &onLeave, nullptr, nullptr, nullptr, nullptr);
  void *f = nullptr, *g = nullptr, *sub = nullptr, *other = nullptr;
  char buf[64] = {};
  VelChar name[32] = {};
  uint32_t count = 0, start = 0, v = 5;
  expectHooks(1, "Open", [&] { EXPECT_EQ(5, file_Open(vpath("missing").c_str(), &other)); });
  expectHooks(1, "CreateEx", [&] { EXPECT_EQ(2, file_CreateEx(vpath("missing").c_str(), &other)); });
  expectHooks(1, "Create", [&] { EXPECT_EQ(0, file_Create(vpath("h.dat").c_str(), &f)); });
  expectHooks(1, "Create again", [&] { EXPECT_EQ(4, file_Create(vpath("h.dat").c_str(), &other)); });
  expectHooks(1, "SetCharacterFormat", [&] { file_SetCharacterFormat(f, 0); });
  expectHooks(1, "GroupCreate on file",
              [&] { EXPECT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Section"))); });
  expectHooks(1, "GroupCreate on group",
              [&] { EXPECT_EQ(0, file_GroupCreate(g, &sub, 3, VELFILE_TEXT("Sub"))); });
  expectHooks(1, "ItemValueWrite on file",
              [&] { EXPECT_EQ(3, file_ItemValueWrite(f, 1, 7, 1, vt::cp(&v))); });
  expectHooks(1, "ItemValueWrite", [&] { file_ItemValueWrite(g, 1, kTypeUInt32, 1, vt::cp(&v)); });
  expectHooks(1, "GroupNameSet", [&] { file_GroupNameSet(sub, VELFILE_TEXT("Renamed"), 32); });
  expectHooks(1, "GroupNameGet", [&] { file_GroupNameGet(sub, name, 32); });
  expectHooks(1, "GroupOpen", [&] { file_GroupOpen(f, &other, 0); });
  expectHooks(1, "ItemNbrGet", [&] { file_ItemNbrGet(g); });
  expectHooks(1, "ItemInfo", [&] { file_ItemInfo(g, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0); });
  expectHooks(1, "IndexValueRead", [&] { file_IndexValueRead(g, 2, kTypeUInt32, buf, &count); });
  expectHooks(1, "IndexBlockRead", [&] { file_IndexBlockRead(g, 2, kTypeUInt32, buf); });
  uint32_t at = 0;
  expectHooks(1, "Allocate", [&] { at = static_cast<uint32_t>(file_Allocate(g, 16)); });
  EXPECT_NE(0u, at);
  expectHooks(1, "Write", [&] { file_Write(g, at, buf, 16, nullptr); });
  expectHooks(1, "Read", [&] { file_Read(g, at, 4, kTypeUInt32, buf, nullptr); });
  expectHooks(1, "ReadBlock", [&] { file_ReadBlock(g, at, 16, buf); });
  expectHooks(1, "ItemOffsetWrite", [&] { file_ItemOffsetWrite(g, 2, kTypeRaw, 16, at); });
  // Re-tagging goes through the public item count and item info calls.
  expectHooks(2, "UpdateContentGroup", [&] { file_UpdateContentGroup(g, 4); });
  expectHooks(0, "SizeOf", [&] { file_SizeOf(kTypeUInt32); });
  expectHooks(0, "SwapNeeded", [&] { file_SwapNeeded(g); });
  expectHooks(0, "IsHandleLeft", [&] { file_IsHandleLeft(); });
  expectHooks(0, "GetFileOffsetSection", [&] { file_GetFileOffsetSection(g, &start); });
  expectHooks(1, "Close of a group", [&] { EXPECT_EQ(3, file_Close(g)); });
  expectHooks(1, "Close", [&] { EXPECT_EQ(0, file_Close(f)); });
  EXPECT_EQ(1, g_maxDepth) << "hooks must not nest";
  EXPECT_EQ(0, g_depth);
}

TEST_F(OpenCreateClose, OnlyA01FilesOpenWithPermissionForOneNewSection) {
  const vt::Bytes container = makeContainer("base");
  for (const char* name : {"a.A01", "b.a01", "c.A01"}) {
    vt::writeFile(path(name), container);
    void *f = nullptr, *g1 = nullptr, *g2 = nullptr;
    uint32_t start = 0;
    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_GroupCreate(f, &g1, 0, VELFILE_TEXT("Added"))) << name;
    ASSERT_EQ(0, file_GroupCreate(f, &g2, 0, VELFILE_TEXT("Again")));
    EXPECT_EQ(g1, g2);
    EXPECT_EQ(1u, file_ItemNbrGet(g1)) << "no second name item";
    EXPECT_EQ(0, file_GetFileOffsetSection(g1, &start));
    EXPECT_EQ(container.size(), start);
    EXPECT_EQ(2u, file_ItemNbrGet(f));
    EXPECT_EQ(0, file_Close(f));
  }
  for (const char* name : {"d.A02", "e.dat", "f.A01.bak", "gA01", "h.xA01"}) {
    vt::writeFile(path(name), container);
    void *f = nullptr, *g = &g;
    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f)) << name;
    EXPECT_EQ(8, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Added"))) << name;
    EXPECT_EQ(nullptr, g);
    EXPECT_EQ(1, file_SetCharacterFormat(f, 1));
    EXPECT_EQ(0u, file_Allocate(f, 8)) << "the file handle stands for no writable section";
    EXPECT_EQ(3, file_Write(f, 40, "abcd", 4, nullptr));
    ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
    EXPECT_EQ(2, file_Write(g, file_Allocate(g, 4), "abcd", 4, nullptr)) << "refused at the call";
    EXPECT_EQ(0, file_Close(f));
    EXPECT_EQ(container, vt::readFile(path(name)));
  }
}

TEST_F(OpenCreateClose, ReadOnlyA01FileOpensForReadingWhenWritingIsDenied) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs fork() and setuid(); Windows has neither";
#else
  const vt::Bytes container = makeContainer("ro.A01");
  makeContainer("locked.dat");
  ASSERT_EQ(0, chmod(dir_.c_str(), 0755));
  ASSERT_EQ(0, chmod(path("ro.A01").c_str(), 0444));
  ASSERT_EQ(0, chmod(path("locked.dat").c_str(), 0));

  // Root may write anything, so the child gives up its privileges first.
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(20);
    void *f = nullptr, *g = &g;
    if (file_Open(vpath("ro.A01").c_str(), &f) != 0) _exit(21);
    if (file_GroupCreate(f, &g, 0, VELFILE_TEXT("Added")) != 8 || g != nullptr) _exit(22);
    if (file_SetCharacterFormat(f, 1) != 1) _exit(23);
    if (file_GroupOpen(f, &g, 0) != 0 || file_ItemNbrGet(g) != 2) _exit(24);
    if (file_Write(g, file_Allocate(g, 4), "abcd", 4, nullptr) != 2) _exit(27);
    if (file_Close(f) != 0) _exit(25);
    if (file_Open(vpath("locked.dat").c_str(), &f) != 5 || f != nullptr) _exit(26);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the exit code names the failing step in the child";
  EXPECT_EQ(container, vt::readFile(path("ro.A01")));
#endif
}

class Sharing : public vt::VelTest {
 protected:
  void SetUp() override {
    VelTest::SetUp();
    ASSERT_TRUE(std::filesystem::create_directory(path("d")));
  }
  // Two spellings of one file that the slot table tells apart.
  vt::VelString plain(const std::string& name) { return vpath("d/" + name); }
  vt::VelString dotted(const std::string& name) { return vpath("d/./" + name); }
};

TEST_F(Sharing, AnA01FileHeldForUpdateGivesNoSecondWriter) {
  makeContainer("d/u.A01");
  void *f1 = nullptr, *f2 = nullptr, *g1 = nullptr, *g2 = &g2;
  ASSERT_EQ(0, file_Open(plain("u.A01").c_str(), &f1));
  // The other spelling may be refused, or opened without the permission to
  // add a section; never may both handles add one.
  const int rc = file_Open(dotted("u.A01").c_str(), &f2);
  if (rc == 0) {
    EXPECT_NE(f1, f2);
    EXPECT_EQ(8, file_GroupCreate(f2, &g2, 0, VELFILE_TEXT("Second writer")));
    EXPECT_EQ(nullptr, g2);
    EXPECT_EQ(0, file_Close(f2));
  } else {
    EXPECT_EQ(5, rc);
  }
  ASSERT_EQ(0, file_GroupCreate(f1, &g1, 0, VELFILE_TEXT("First writer")));
  EXPECT_EQ(0, file_Close(f1));

  ASSERT_EQ(0, file_Open(plain("u.A01").c_str(), &f1));
  EXPECT_EQ(2u, file_ItemNbrGet(f1));
  EXPECT_EQ(0, file_Close(f1));
}

// Readers share a file with each other and with an appender, in this and in
// other processes; nothing creates it under them.
TEST_F(Sharing, ReadersShareAFileWithEachOtherAndWithAnAppender) {
  makeContainer("d/r.A01");
  vt::Peer peer;
  void *r1 = nullptr, *r2 = nullptr, *w = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_OpenRead(plain("r.A01").c_str(), &r1));
  ASSERT_EQ(0, file_OpenRead(plain("r.A01").c_str(), &r2));
  EXPECT_NE(r1, r2) << "each reader has a slot of its own";
  EXPECT_EQ(0, peer.run("read", path("d/r.A01")));
  EXPECT_EQ(4, peer.run("create", path("d/r.A01")));
  EXPECT_EQ(4, file_Create(dotted("r.A01").c_str(), &w));
  EXPECT_EQ(4, file_Create(plain("r.A01").c_str(), &w));
  EXPECT_EQ(8, file_GroupCreate(r1, &g, 0, VELFILE_TEXT("Not here")));

  // An appender beside the readers: never handed a reader's slot, and its
  // section, not yet whole, is no section for a reader opened meanwhile.
  ASSERT_EQ(0, file_Open(plain("r.A01").c_str(), &w));
  EXPECT_NE(r1, w);
  ASSERT_EQ(0, file_GroupCreate(w, &g, 0, VELFILE_TEXT("Appended")));
  const std::vector<char> block(5000, 'b');
  ASSERT_EQ(0, file_Write(g, file_Allocate(g, block.size()), block.data(), block.size(), nullptr));
  EXPECT_EQ(0, peer.run("read", path("d/r.A01")));
  EXPECT_NE(0, peer.run("append", path("d/r.A01"))) << "a second writer";
  void* r3 = nullptr;
  ASSERT_EQ(0, file_OpenRead(dotted("r.A01").c_str(), &r3));
  EXPECT_EQ(1u, file_ItemNbrGet(r3));
  EXPECT_EQ(0, file_Close(w));
  EXPECT_EQ(1u, file_ItemNbrGet(r1)) << "what was whole at the opening";
  EXPECT_EQ(0, peer.run("append", path("d/r.A01")));
  for (void* r : {r1, r2, r3}) EXPECT_EQ(0, file_Close(r));
  ASSERT_EQ(0, file_OpenRead(plain("r.A01").c_str(), &r1));
  EXPECT_EQ(3u, file_ItemNbrGet(r1));
  EXPECT_EQ(0, file_Close(r1));
}

TEST_F(Sharing, AnotherProcessCannotCreateAFileBeingRead) {
  const vt::Bytes before = makeContainer("d/p.x");
  vt::Peer peer;
  void* f = nullptr;
  ASSERT_EQ(0, file_Open(plain("p.x").c_str(), &f));
  EXPECT_EQ(4, peer.run("create", path("d/p.x")));
  EXPECT_EQ(0, peer.run("open", path("d/p.x"))) << "readers share";
  EXPECT_EQ(0, file_Close(f));
  EXPECT_EQ(before, vt::readFile(path("d/p.x")));
}

}  // namespace
