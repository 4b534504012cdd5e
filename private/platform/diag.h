// The diagnostic report: one function for the whole library.
#ifndef VELFILE_DIAG_H
#define VELFILE_DIAG_H

namespace velfile {

// Reports a caller error that the library survives. Never changes state.
void diagReport(const char* module, int line);

}  // namespace velfile

#define VEL_DIAG(module) ::velfile::diagReport(module, __LINE__)

#endif
