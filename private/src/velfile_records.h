// The container layer's in-memory records: files, sections, groups, items,
// and the handle records that the API gives out as opaque pointers.
#ifndef VELFILE_RECORDS_H
#define VELFILE_RECORDS_H

#include <velfile/velfile.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "byteorder.h"
#include "platform.h"

namespace velfile {

struct FileRec;
struct SectionRec;
struct GroupRec;
struct SubGroup;

enum HandleKind : uint16_t { kFreeSlot = 0, kFileHandle = 1, kSectionGroup = 2, kSubGroup = 3 };

enum WriteMode : uint16_t { kReadOnly = 0, kWide = 1, kNarrow = 2 };

struct Handle {
  uint16_t kind = kFreeSlot;
  FileRec* file = nullptr;        // every kind but 0
  SectionRec* section = nullptr;  // kinds 2 and 3
  GroupRec* group = nullptr;      // kinds 2 and 3
};

struct ItemRec {
  uint16_t id = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;
  std::unique_ptr<SubGroup> sub;  // group references only
};

using RefIndex = std::vector<std::pair<uint32_t, uint32_t>>;

struct GroupRec {
  uint16_t writeMode = kReadOnly;
  bool hasName = false;
  std::u16string name;
  uint32_t itemCount = 0;  // entries; equals items.size() once loaded
  bool loaded = false;
  uint32_t dirOffset = 0;  // where the directory lies, relative to the section start
  std::vector<ItemRec> items;
  // (value field, entry) of the group references, sorted: made on first need
  // for large read-only groups, whose items never change once loaded.
  std::unique_ptr<RefIndex> refIndex;
};

struct SubGroup {
  Handle handle;
  GroupRec group;
};

struct SectionRec {
  SectionHeader header{};
  uint32_t start = 0;
  int swap = 0;
  GroupRec group;
  Handle handle;  // the section-group handle (kind 2)
};

struct FileRec {
  std::unique_ptr<Stream> stream;
  std::u16string path;
  uint16_t newSectionPermission = 0;
  bool sharedReader = false;  // opened by file_OpenRead: a slot no path match hands out
  uint16_t charFormat = 0;
  uint32_t endOffset = 0;
  uint64_t size = 0;       // bytes known to be in the file (read bounds)
  uint64_t nameUnits = 0;  // units of the sub-group names loaded so far
  std::vector<std::unique_ptr<SectionRec>> sections;
};

// Files never reach this size: reservations and writes stop below it.
const uint64_t kFileLimit = 0x80000000ULL;

inline uint64_t round8(uint64_t v) {
  return (v + 7) & ~uint64_t(7);
}

// Handle checks.
inline Handle* asHandle(void* h) {
  return static_cast<Handle*>(h);
}
inline bool isGroup(const Handle* h) {
  return h && (h->kind == kSectionGroup || h->kind == kSubGroup);
}
inline bool isFile(const Handle* h) {
  return h && h->kind == kFileHandle;
}

// Disk access with bounds: reads must lie inside the known file size, writes
// below the file limit.
bool readAt(FileRec& f, uint64_t position, void* buffer, size_t n);
bool writeAt(FileRec& f, uint64_t position, const void* data, size_t n);
// Reserves an 8-aligned block of size bytes at the file's end offset; the
// offset is relative to the section start. False past the file limit.
bool reserveBlock(FileRec& f, const SectionRec& s, uint64_t size, uint32_t* offset);
// Loads a group's directory when it is not loaded yet.
int ensureLoaded(Handle* h);
// Encodes a name or string value for a group, in its write mode.
int encodeString(const GroupRec& g, uint16_t type, const char16_t* text, uint32_t count, uint16_t* storedType,
                 std::vector<char>* bytes);
// file_ItemValueWrite without the hooks, for the layer's own use.
int itemValueWrite(Handle* h, uint16_t id, uint16_t type, uint32_t count, const char* value);
// Places n value bytes inline or in a new block; sets *value.
int placeValue(FileRec& f, const SectionRec& s, const char* bytes, uint64_t n, uint32_t* value);

// Hooks of the container layer, called once around each listed operation.
struct HookScope {
  HookScope();
  ~HookScope();
  HookScope(const HookScope&) = delete;
  HookScope& operator=(const HookScope&) = delete;
};

// Runs an operation, turning an exhausted heap into result 1.
template <typename F>
int guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return VelFile::kErrMemory;
  }
}

extern const char kVelfileModule[];

}  // namespace velfile

#endif
