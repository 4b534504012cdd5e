// The C++ layer's shared internals: the state a File shares with its views,
// the path chain of groups, the lock and the error helpers.
//
// The layer works through the exported operations. Where they do not tell a
// fact (a section's size, its string format), it asks sectionFacts(), which
// reads the container's loaded records; it never parses file bytes itself.
#ifndef VELFILE_LAYER_H
#define VELFILE_LAYER_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include <velfile/velfile.hpp>

#include "gdatalines.h"
#include "sectionfacts.h"

namespace velfile {

// The library-wide lock, taken for a call into the library. Inside a
// Source's callback (the lock held by this thread for the read that called
// back) a call is refused with Reason::InUse: it would change the library's
// state under the call that is reading.
class Lock {
 public:
  explicit Lock(std::recursive_mutex& m);
  ~Lock() { m_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  std::recursive_mutex& m_;
};

// What a File and its views share. open turns false when that File closes,
// even while other File objects keep the library's handle open.
struct FileState {
  std::string path;     // as given, UTF-8
  std::u16string wide;  // as handed to the library
  void* handle = nullptr;
  bool open = false;
  bool writer = false;
  std::vector<std::shared_ptr<DataStream>> streams;  // the data groups written line by line
};

// A data group being written line by line.
struct DataStream {
  DataLines lines;
  std::shared_ptr<const PathNode> group;  // for messages
  uint16_t sampleType = 0;                // as DataGroup::sample_type() gives it
  bool ended = false;                     // whole, or ended by finish() or the file's close
};

// Ends the data groups of a file that are still being written, storing
// their lines not written as points without data (lock held); the sentence
// that names them, empty when every group was whole. *rc receives the
// result of storing them.
std::string endStreams(FileState& file, int* rc);

// The range of an integer item type (int8 to uint32); false for another type.
bool integer_bounds(uint16_t type, int64_t* low, int64_t* high);

// One group's place in a path: the step that names it under its parent.
struct PathNode {
  std::shared_ptr<const PathNode> parent;
  std::string step;
};

std::string joinPath(const PathNode* node);
std::shared_ptr<const PathNode> childNode(const std::shared_ptr<const PathNode>& parent, std::string step);

// Where an error happened, for its message.
struct Where {
  const FileState* file = nullptr;
  const PathNode* group = nullptr;
  int item = -1;
};

// Throws the error a result code of an operation stands for, with the text
// of the layer's table.
[[noreturn]] void failCode(const char* operation, int code, const Where& where);
// Throws an error the layer found itself.
[[noreturn]] void fail(Reason reason, const char* operation, const Where& where, const std::string& text);
// Throws unless the file is still open (lock held).
void checkOpen(const FileState* file, const PathNode* group, const char* operation);

// The name file_ItemInfo gives for an entry (a section's or a sub-group's),
// however long; *rc is its result.
std::u16string itemName(void* handle, uint32_t index, int* rc);

// The library's text unit is VelChar: char16_t on POSIX, wchar_t on Windows
// (also a UTF-16 unit there, of the same size and representation). The layer
// keeps its text as std::u16string and crosses to VelChar only here.
inline const VelChar* velText(const std::u16string& s) {
  return reinterpret_cast<const VelChar*>(s.c_str());
}
inline std::u16string fromVel(const VelChar* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string fromVel(const VelChar* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return fromVel(text, n);
}

// UTF-8 to the library's UTF-16; Reason::Invalid for text that is not UTF-8.
std::u16string toUtf16(const std::string& text, const char* operation, const Where& where);
// Text as its writer stored it: UTF-16 units of a section in the other byte
// order come from the library unswapped, so they are swapped here.
std::string fromStored(std::u16string units, bool swapped);

// Builders of views, for the layer's own code.
struct Access {
  static Group group(const std::shared_ptr<FileState>& file, void* handle,
                     std::shared_ptr<const PathNode> node) {
    Group g;
    g.file_ = file;
    g.handle_ = handle;
    g.node_ = std::move(node);
    return g;
  }
  static const std::shared_ptr<const PathNode>& node(const Group& g) { return g.node_; }
  static void* rawHandle(const Group& g) { return g.handle_; }
  static Item item(const Group& g, uint32_t index, uint16_t id, uint16_t type, uint32_t count,
                   uint32_t value) {
    Item it;
    it.file_ = g.file_;
    it.group_ = g.node_;
    it.handle_ = g.handle_;
    it.index_ = index;
    it.id_ = id;
    it.type_ = type;
    it.count_ = count;
    it.value_ = value;
    return it;
  }
  static Section section(const SectionFacts& f, uint32_t entries, std::string name);
  static DataGroup dataGroup(const Group& g, std::shared_ptr<CGDataTypeFDD> d) {
    DataGroup dg;
    dg.group_ = g;
    dg.descr_ = std::move(d);
    return dg;
  }
  static DataWriter dataWriter(const Group& g, std::shared_ptr<DataStream> stream) {
    DataWriter w;
    w.group_ = g;
    w.stream_ = std::move(stream);
    return w;
  }
  static const std::shared_ptr<FileState>& state(const File& f) { return f.state_; }
  static void setState(File& f, std::shared_ptr<FileState> s) { f.state_ = std::move(s); }
};

// Refuses a group name longer than kMaxGroupName units.
void checkGroupName(const std::u16string& name, const char* operation, const Where& where);

// A group's checked handle and its section (lock held).
struct GroupFacts {
  void* handle;
  SectionFacts section;
};
GroupFacts groupFacts(const Group& g, const char* operation);

}  // namespace velfile

#endif
