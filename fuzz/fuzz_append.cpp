// Fuzzer: a container file of any bytes given a new section (see append.h).
#include "append.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = vfz::scratchPath(".A01");
  static const bool quiet = (VelFile::SetDiagnosticHook([](const char*, int) {}), true);
  (void)quiet;
  vfz::appendAndCheck(data, size, path);
  return 0;
}
