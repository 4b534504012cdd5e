// Inputs that once broke the library, kept in fuzz/regressions/, replayed
// through the fuzzers' own calls: the whole walk with every group module's
// reader, and a section appended with its checks. A fault aborts the program.
#include <filesystem>

#include "../fuzz/append.h"
#include "../fuzz/modules.h"
#include "../fuzz/walk.h"
#include "testutil.h"

namespace {

class FuzzRegressions : public vt::VelTest {};

TEST_F(FuzzRegressions, EveryKeptInputIsHandled) {
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
