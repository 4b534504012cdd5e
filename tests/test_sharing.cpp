// Sharing: one file reached through two spellings of its path, or from two
// processes, gets the refusals of the share modes.
#if !defined(_WIN32)  // these tests need fork(), which Windows lacks
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testutil.h"

using namespace VelFile;

namespace {

class Sharing : public vt::VelTest {
 protected:
  void SetUp() override {
    VelTest::SetUp();
    ASSERT_EQ(0, mkdir(path("d").c_str(), 0755));
  }
  // Two spellings of one file that the slot table tells apart.
  vt::VelString plain(const std::string& name) { return vpath("d/" + name); }
  vt::VelString dotted(const std::string& name) { return vpath("d/./" + name); }
};

TEST_F(Sharing, AReaderDeniesWritersButNotOtherReaders) {
  const vt::Bytes before = makeContainer("d/f.x");
  void *r1 = nullptr, *r2 = nullptr, *w = &w;
  ASSERT_EQ(0, file_Open(plain("f.x").c_str(), &r1));
  ASSERT_EQ(0, file_Open(dotted("f.x").c_str(), &r2));
  EXPECT_NE(r1, r2);
  EXPECT_EQ(4, file_Create(dotted("f.x").c_str(), &w));
  EXPECT_EQ(nullptr, w);
  EXPECT_EQ(4, file_CreateEx(vpath("d/../d/f.x").c_str(), &w));
  EXPECT_EQ(0, file_Close(r1));
  EXPECT_EQ(0, file_Close(r2));
  EXPECT_EQ(before, vt::readFile(path("d/f.x"))) << "a refused create truncates nothing";
}

TEST_F(Sharing, AFileBeingWrittenCannotBeOpenedForReading) {
  void *w = nullptr, *g = nullptr, *r = &r;
  ASSERT_EQ(0, file_Create(plain("f.x").c_str(), &w));
  EXPECT_EQ(5, file_Open(dotted("f.x").c_str(), &r));
  ASSERT_EQ(0, file_GroupCreate(w, &g, 0, u"Written"));
  EXPECT_EQ(5, file_Open(dotted("f.x").c_str(), &r));
  EXPECT_EQ(nullptr, r);
  ASSERT_EQ(0, file_Close(w));
  ASSERT_EQ(0, file_Open(dotted("f.x").c_str(), &r));
  EXPECT_EQ(0, file_Close(r));

  vt::writeFile(path("d/raw.bin"), vt::Bytes(64, 3));
  ASSERT_EQ(0, file_CreateEx(plain("raw.bin").c_str(), &w));
  EXPECT_EQ(5, file_Open(dotted("raw.bin").c_str(), &r));
  EXPECT_EQ(3, file_Close(w));
}

TEST_F(Sharing, AnA01FileHeldForUpdateGivesNoSecondWriter) {
  makeContainer("d/u.A01");
  void *f1 = nullptr, *f2 = nullptr, *g1 = nullptr, *g2 = &g2;
  ASSERT_EQ(0, file_Open(plain("u.A01").c_str(), &f1));
  // The other spelling may be refused, or opened without the permission to
  // add a section; never may both handles add one.
  const int rc = file_Open(dotted("u.A01").c_str(), &f2);
  if (rc == 0) {
    EXPECT_NE(f1, f2);
    EXPECT_EQ(8, file_GroupCreate(f2, &g2, 0, u"Second writer"));
    EXPECT_EQ(nullptr, g2);
    EXPECT_EQ(0, file_Close(f2));
  } else {
    EXPECT_EQ(5, rc);
  }
  ASSERT_EQ(0, file_GroupCreate(f1, &g1, 0, u"First writer"));
  EXPECT_EQ(0, file_Close(f1));

  ASSERT_EQ(0, file_Open(plain("u.A01").c_str(), &f1));
  EXPECT_EQ(2u, file_ItemNbrGet(f1));
  EXPECT_EQ(0, file_Close(f1));
}

TEST_F(Sharing, AnotherProcessCannotCreateAFileBeingRead) {
  const vt::Bytes before = makeContainer("d/p.x");
  int toChild[2], toParent[2];
  ASSERT_EQ(0, pipe(toChild));
  ASSERT_EQ(0, pipe(toParent));
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    // Forked before the parent opened anything: the child's table is empty.
    char go = 0;
    if (read(toChild[0], &go, 1) != 1) _exit(20);
    void* f = nullptr;
    const int created = file_Create(plain("p.x").c_str(), &f);
    const int opened = file_Open(plain("p.x").c_str(), &f);  // readers share
    const int code = created == 4 ? (opened == 0 && file_Close(f) == 0 ? 0 : 22) : 21;
    if (write(toParent[1], &go, 1) != 1) _exit(23);
    _exit(code);
  }
  void* f = nullptr;
  ASSERT_EQ(0, file_Open(plain("p.x").c_str(), &f));
  char go = 1;
  ASSERT_EQ(1, write(toChild[1], &go, 1));
  ASSERT_EQ(1, read(toParent[0], &go, 1));
  EXPECT_EQ(0, file_Close(f));
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "21: create allowed, 22: second reader refused";
  EXPECT_EQ(before, vt::readFile(path("d/p.x")));
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

}  // namespace

#else
#include <gtest/gtest.h>

TEST(Sharing, NeedsFork) {
  GTEST_SKIP() << "needs fork(); Windows has none";
}
#endif
