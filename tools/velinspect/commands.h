// velinspect: the commands. Each returns the program's exit code.
#ifndef VELINSPECT_COMMANDS_H
#define VELINSPECT_COMMANDS_H

#include <cstdint>
#include <string>
#include <vector>

namespace velinspect {

int runTree(const std::string& file, bool json);

struct DumpOptions {
  std::string file;
  bool groupGiven = false;  // else every group of every section
  std::string group;
  size_t maxElements = 16;
  bool json = false;
};
int runDump(const DumpOptions& options);

int runCheck(const std::string& file);

// What runCheck finds, without printing it: its exit code, the problems it
// lists (the same texts), and why a file could not be checked at all.
struct CheckReport {
  int code = 0;
  std::vector<std::string> problems;
  std::string error;
};
CheckReport checkFile(const std::string& file);

struct ExtractOptions {
  std::string file;
  std::string group;
  std::string out;  // "-" for standard output
  bool byId = false, byIndex = false;
  uint32_t item = 0;              // item id (byId) or directory index (byIndex)
  uint32_t offset = 0, size = 0;  // a bulk block, relative to the section start
  uint16_t type = 13;             // element type of a bulk block: sets the byte swapping
};
int runExtract(const ExtractOptions& options);

}  // namespace velinspect

#endif
