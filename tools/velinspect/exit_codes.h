// The exit codes of the command-line programs: velinspect and the Python
// package's `python3 -m velfile` (through the binding) take them from this
// one table, so that a code means the same whichever program ends with it.
#ifndef VELFILE_EXIT_CODES_H
#define VELFILE_EXIT_CODES_H

#include <string>

namespace velfile_exit {

enum Exit : int {
  kExitOk = 0,
  kExitDamaged = 1,
  kExitUnreadable = 2,
  kExitUsage = 3,
  kExitOutput = 4,
  kExitAborted = 5,
  kExitNoData = 6,
  kExitOutOfRange = 7,
};

struct ExitCode {
  Exit code;
  const char* name;     // the Python package's name of the code
  const char* meaning;  // as the programs' help shows it
  bool velinspect;      // whether velinspect ends with it (every code is the package's)
};

// In the order of the codes.
inline constexpr ExitCode kExitCodes[] = {
    {kExitOk, "OK", "done; the file is sound", true},
    {kExitDamaged, "DAMAGED", "the file is damaged; what could be read was shown or written", true},
    {kExitUnreadable, "UNOPENED", "the file cannot be opened, or is not a container file", true},
    {kExitUsage, "USAGE", "bad arguments, or no such group or item", true},
    {kExitOutput, "OUTPUT", "the output cannot be written", true},
    {kExitAborted, "ABORTED", "the run could not complete (out of memory, or an unexpected error)", true},
    {kExitNoData, "NO_DATA", "the group holds no acquisition data to draw", false},
    {kExitOutOfRange, "OUT_OF_RANGE", "the point, line or gate lies outside the data", false},
};

// "Exit codes:" and one line per code, velinspect's codes or all of them.
inline std::string exitHelp(bool velinspectOnly) {
  std::string out = "Exit codes:\n";
  for (const ExitCode& c : kExitCodes)
    if (c.velinspect || !velinspectOnly) out += "  " + std::to_string(int(c.code)) + "  " + c.meaning + "\n";
  return out;
}

}  // namespace velfile_exit

#endif
