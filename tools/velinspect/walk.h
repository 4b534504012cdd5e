// velinspect: walking the group tree of a container through the library,
// and group paths.
//
// A group path names a group by its section and the chain of group
// references below it:
//   PATH    := SECTION { '/' STEP }
//   SECTION := index of the section in file order (0, 1, ...) | '@' start offset
//   STEP    := NAME      the first sub-group with this name
//            | '#' ID    the first group reference with this item id
//            | '[' N ']' the group reference at directory index N
// A NAME is written as escaped() shows text: \\ \" \n \r \t \xNN \uXXXX; a '\'
// before any other character takes it literally ("a\/b" is the name a/b).
// Numbers are decimal or 0x hexadecimal.
#ifndef VELINSPECT_WALK_H
#define VELINSPECT_WALK_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common.h"

namespace velinspect {

struct PathStep {
  enum Kind { kName, kId, kIndex } kind = kName;
  std::string name;
  uint32_t number = 0;
};

struct GroupPath {
  bool byOffset = false;  // section given by its start offset
  uint32_t section = 0;   // index or start offset
  std::vector<PathStep> steps;
};

bool parseGroupPath(const std::string& text, GroupPath* out, std::string* error);

// One group reached by the walk.
struct Node {
  enum State { kOpen, kCycle, kShared, kTooDeep, kLimit, kError };
  State state = kOpen;
  void* group = nullptr;  // library handle, valid while the file is open
  bool isSection = false;
  uint32_t index = 0;  // of the group reference in its parent's directory
  uint16_t id = 0;     // item id of the group reference
  std::string name;
  std::string path;  // its names escaped (see escaped()): safe to print
  uint32_t sectionStart = 0;
  uint32_t entries = 0;
  uint32_t directory = 0;  // relative to the section start
  bool directoryKnown = false;
  std::string note;  // why the walk did not enter it
  std::vector<Node> children;
};

const char* stateName(Node::State s);

struct Section {
  uint32_t index = 0;
  uint32_t start = 0;
  uint32_t entries = 0;
  std::u16string name;  // as the library gives it
  bool headerRead = false;
  Header header;
};

class Walker {
 public:
  static const int kMaxDepth = 200;
  static const uint64_t kMaxGroups = 100000;
  static const uint64_t kMaxItems = uint64_t(1) << 22;

  Walker(void* file, RawFile* raw) : file_(file), raw_(raw) {}

  std::vector<Section> sections();
  // The section group of a section, with everything below it.
  Node sectionTree(const Section& s);
  // The group a path names, with everything below it when expand is set.
  // Returns kExitOk, or kExitUsage (no such group) / kExitDamaged (it cannot
  // be opened) with *error set.
  int resolve(const GroupPath& path, const std::string& text, bool expand, Node* out, std::string* error);
  // Whether some group could not be entered.
  bool incomplete() const { return incomplete_; }

 private:
  struct Ref {
    uint32_t index;
    uint16_t id;
    uint32_t count;
    uint32_t value;
    std::string name;
  };
  int listRefs(void* group, std::vector<Ref>* refs);
  static std::vector<std::string> steps(const std::vector<Ref>& refs);
  // Opens the group behind a reference, or records why it is not entered.
  void enter(const Node& parent, const Ref& r, int depth, Node* child);
  void expand(Node& node, int depth);
  Node rootNode(const Section& s, std::string* error);

  void* file_;
  RawFile* raw_;
  std::vector<uint64_t> ancestors_;       // directories on the current path
  std::map<uint64_t, std::string> seen_;  // every directory entered, with its path
  uint64_t groups_ = 0, items_ = 0;
  bool incomplete_ = false;
};

}  // namespace velinspect

#endif
