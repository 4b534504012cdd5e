#include "diag.h"

#include <velfile/velfile.h>

#include <cstdio>

namespace velfile {
namespace {
VelFile::DiagnosticHook g_sink = nullptr;
}

void diagReport(const char* module, int line) {
  if (g_sink) {
    g_sink(module, line);
    return;
  }
#ifndef NDEBUG
  std::fprintf(stderr, "%s(%d): diagnostic report\n", module, line);
#else
  (void)module;
  (void)line;
#endif
}

}  // namespace velfile

VelFile::DiagnosticHook VelFile::SetDiagnosticHook(DiagnosticHook hook) {
  DiagnosticHook previous = velfile::g_sink;
  velfile::g_sink = hook;
  return previous;
}
