// Fuzzer: every group module's ReadGroupInfo on every group of a container
// file of any bytes.
#include "modules.h"
#include "walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = vfz::scratchPath(".bin");
  static const vfz::VelString wide = vfz::widen(path);
  static const bool quiet = (VelFile::SetDiagnosticHook([](const char*, int) {}), true);
  (void)quiet;
  if (!vfz::writeBytes(path, data, size)) return 0;
  vfz::Walker walker(size);
  walker.onGroup = vfz::readWithEveryModule;
  walker.walkPath(wide);
  return 0;
}
