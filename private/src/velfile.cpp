// The container layer: hooks, the open-file table, files and groups.
#include <velfile/velfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "diag.h"
#include "itemio.h"
#include "velfile_records.h"

namespace velfile {

const char kVelfileModule[] = "private/src/velfile";

namespace {

struct Hooks {
  VelEnterHook enter = nullptr;
  VelLeaveHook leave = nullptr;
  VelAllocHook alloc = nullptr;
  VelFreeHook free = nullptr;
  VelReallocHook realloc = nullptr;
  VelErrorHook error = nullptr;
} g_hooks;

// The open-file table. A slot's handle record is the file handle; the file
// record it owns lives beside it.
Handle g_slots[VelFile::kMaxOpenFiles];
std::unique_ptr<FileRec> g_files[VelFile::kMaxOpenFiles];

const size_t kMaxPathUnits = 259;
const uint32_t kMaxSections = 0xFFFF;  // the section count is 16-bit

size_t length16(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

// Why the last open or create of this thread failed (an errno value), for
// the C++ layer's messages.
thread_local int g_openError = 0;

// Finds the slot holding path (match) and the first free one (candidate).
// The slots of file_OpenRead match only when readers count (a create).
void findSlot(const std::u16string& path, int* match, int* candidate, bool readersCount = false) {
  *match = -1;
  *candidate = -1;
  for (int i = 0; i < VelFile::kMaxOpenFiles; ++i) {
    if (g_slots[i].kind == kFileHandle) {
      if (*match < 0 && g_files[i]->path == path && (readersCount || !g_files[i]->sharedReader)) *match = i;
    } else if (*candidate < 0) {
      *candidate = i;
    }
  }
}

void releaseSlot(int i) {
  g_files[i].reset();
  g_slots[i] = Handle();
}

bool validPath(const VelChar* path, std::u16string* wide, std::string* native) {
  if (!path) return false;
  const char16_t* p = reinterpret_cast<const char16_t*>(path);
  size_t n = length16(p);
  if (n == 0 || n > kMaxPathUnits) return false;
  wide->assign(p, n);
  return pathToNative(p, n, native);
}

// Reads a group's name from the first entry of its directory. *extent, when
// asked for, receives the end of the bytes read (entry or name, the further).
int readGroupName(FileRec& f, const SectionRec& s, uint64_t dirPosition, uint32_t entries, GroupRec* g,
                  uint64_t* extent = nullptr) {
  if (entries == 0) return VelFile::kErrIo;  // no name item at all
  unsigned char raw[kEntrySize];
  if (!readAt(f, dirPosition, raw, kEntrySize)) return VelFile::kErrIo;
  DirEntry e;
  decodeEntry(raw, s.swap != 0, &e);
  const uint64_t bytes = e.type == VelFile::kTypeNarrow ? uint64_t(e.count) : 2 * uint64_t(e.count);
  if (e.type != VelFile::kTypeNarrow && e.type != VelFile::kTypeUtf16) return VelFile::kErrIo;
  if (bytes > f.size) return VelFile::kErrIo;  // cannot be in the file
  std::vector<char> value(static_cast<size_t>(bytes));
  if (bytes <= 4) {
    if (bytes) std::memcpy(value.data(), &e.value, static_cast<size_t>(bytes));
  } else if (!readAt(f, uint64_t(s.start) + e.value, value.data(), value.size())) {
    return VelFile::kErrIo;
  }
  if (extent)
    *extent = std::max(dirPosition + kEntrySize, bytes <= 4 ? 0 : uint64_t(s.start) + e.value + bytes);
  std::u16string name(size_t(e.count) + 1, u'\0');
  if (e.type == VelFile::kTypeNarrow) {
    narrowToUtf16(value.data(), value.size(), &name[0]);
  } else if (!value.empty()) {
    std::memcpy(&name[0], value.data(), value.size());
  }
  name[e.count] = 0;
  name.resize(length16(name.c_str()));
  g->name.swap(name);
  g->hasName = true;
  return VelFile::kOk;
}

// Loads a group's directory with one read and makes the sub-group records of
// its group references.
int loadDirectory(Handle* h, uint64_t dirPosition) {
  FileRec& f = *h->file;
  SectionRec& s = *h->section;
  GroupRec& g = *h->group;
  const uint64_t bytes = uint64_t(g.itemCount) * kEntrySize;
  if (bytes > f.size) return VelFile::kErrIo;
  std::vector<unsigned char> raw(static_cast<size_t>(bytes));
  if (!raw.empty() && !readAt(f, dirPosition, raw.data(), raw.size())) return VelFile::kErrIo;
  std::vector<ItemRec> items(g.itemCount);
  // Each sub-group's name has bytes of its own in a sound file, so all the
  // names loaded from it, in every directory, fit in it; names read over and
  // over through aliased references (in one directory or in many) would make
  // a small file fill the heap.
  uint64_t nameUnits = f.nameUnits;
  for (uint32_t i = 0; i < g.itemCount; ++i) {
    DirEntry e;
    decodeEntry(&raw[size_t(i) * kEntrySize], s.swap != 0, &e);
    ItemRec& it = items[i];
    it.id = e.id;
    it.type = e.type;
    it.count = e.count;
    it.value = e.value;
    if (e.type != VelFile::kTypeGroup) continue;
    it.sub.reset(new SubGroup);
    SubGroup& sub = *it.sub;
    sub.handle.kind = kSubGroup;
    sub.handle.file = &f;
    sub.handle.section = &s;
    sub.handle.group = &sub.group;
    sub.group.itemCount = e.count;
    sub.group.dirOffset = e.value;
    int rc = readGroupName(f, s, uint64_t(s.start) + e.value, e.count, &sub.group);
    if (rc != VelFile::kOk) return rc;
    nameUnits += sub.group.name.size();
    if (nameUnits > f.size) return VelFile::kErrIo;
  }
  g.items.swap(items);
  g.loaded = true;
  f.nameUnits = nameUnits;
  return VelFile::kOk;
}

// file_Open, or with reader set file_OpenRead: read-only, deny-none, in a
// slot of its own.
int openFile(const VelChar* path, void** out, bool reader) {
  std::u16string wide;
  std::string native;
  g_openError = 0;
  if (!validPath(path, &wide, &native)) return VelFile::kErrCannotOpen;
  int match, candidate;
  findSlot(wide, &match, &candidate);
  if (match >= 0 && !reader) {
    *out = &g_slots[match];
    return VelFile::kOk;
  }
  if (candidate < 0) return VelFile::kErrCannotOpen;
  int err = 0;
  std::unique_ptr<FileRec> file(new FileRec);
  file->path = wide;
  file->sharedReader = reader;
  if (reader) {
    file->stream = platform().open(native, OpenMode::Read, ShareMode::DenyNone, &err);
    if (!file->stream) {
      g_openError = err;
      return VelFile::kErrCannotOpen;
    }
  } else {
    {
      std::unique_ptr<Stream> probe = platform().open(native, OpenMode::Read, ShareMode::DenyWrite, &err);
      if (!probe || !probe->close()) {
        g_openError = err;
        return VelFile::kErrCannotOpen;
      }
    }
    if (hasUpdateExtension(wide)) {
      file->stream = platform().open(native, OpenMode::Update, ShareMode::DenyNone, &err);
      if (file->stream) {
        file->newSectionPermission = 1;
      } else if (err == EACCES || err == EBUSY) {  // the C runtime's EACCES, both
        file->stream = platform().open(native, OpenMode::Read, ShareMode::DenyNone, &err);
      }
    } else {
      file->stream = platform().open(native, OpenMode::Read, ShareMode::DenyWrite, &err);
    }
  }
  if (!file->stream) return VelFile::kErrIo;
  FileRec& f = *file;
  if (!f.stream->size(&f.size)) return VelFile::kErrIo;
  if (f.size >= kFileLimit) f.size = kFileLimit - 1;  // nothing past the limit is addressable

  uint64_t position = 0;
  bool contained = true;  // every section's directory and name lie inside it
  while (position + kHeaderSize <= f.size && f.sections.size() < kMaxSections) {
    unsigned char raw[kHeaderSize];
    // The header lies inside the file: failing to read it is an I/O error,
    // not the end of the chain.
    if (!readAt(f, position, raw, kHeaderSize)) return VelFile::kErrIo;
    if (!isSectionHeader(raw)) break;
    std::unique_ptr<SectionRec> sec(new SectionRec);
    SectionRec& s = *sec;
    s.start = static_cast<uint32_t>(position);
    s.swap = sectionNeedsSwap(raw[0]) ? 1 : 0;
    decodeHeader(raw, s.swap != 0, &s.header);
    const uint32_t size = s.header.field[kHdrSectionSize];
    // A section that cannot hold its own header would send the walk in circles.
    if (size < kHeaderSize) return VelFile::kErrIo;
    // A section running past the end of the file is the last one of a file
    // cut short (an interrupted copy): it is kept when its name can be read,
    // and whatever of it lies in the file stays readable; a directory cut
    // off gives 2 when it is loaded.
    const bool cut = position + size > f.size;
    s.group.writeMode = kReadOnly;
    s.group.itemCount = s.header.field[kHdrEntryCount];
    s.group.dirOffset = s.header.field[kHdrDirOffset];
    s.handle.kind = kSectionGroup;
    s.handle.file = &f;
    s.handle.section = &s;
    s.handle.group = &s.group;
    const uint64_t dir = position + s.header.field[kHdrDirOffset];
    uint64_t extent = 0;
    int rc = readGroupName(f, s, dir, s.group.itemCount, &s.group, &extent);
    if (rc != VelFile::kOk && cut && !f.sections.empty()) break;  // nothing of it can be named
    if (rc != VelFile::kOk) return rc;
    if (std::max(extent, dir + uint64_t(s.group.itemCount) * kEntrySize) > position + size) contained = false;
    if (cut) contained = false;
    f.sections.push_back(std::move(sec));
    position += size;
  }
  if (f.sections.empty()) return VelFile::kErrNotFound;
  f.endOffset = static_cast<uint32_t>(std::min(position, f.size));
  // A new section starts 8-aligned, which is where the walk looks for it only
  // when the chain ends aligned (as every section this library writes does).
  // A chain ending elsewhere would hide the new section, and a section whose
  // directory lies past its end (or past the end of a cut file) would have it
  // overwritten: none is added.
  if (position % 8 != 0 || !contained) f.newSectionPermission = 0;
  g_files[candidate] = std::move(file);
  g_slots[candidate].kind = kFileHandle;
  g_slots[candidate].file = g_files[candidate].get();
  *out = &g_slots[candidate];
  return VelFile::kOk;
}

int createFile(const VelChar* path, void** out, bool wrap) {
  std::u16string wide;
  std::string native;
  g_openError = 0;
  if (!validPath(path, &wide, &native)) return VelFile::kErrCannotCreate;
  int match, candidate;
  findSlot(wide, &match, &candidate, true);
  if (match >= 0) g_openError = EBUSY;
  if (match >= 0 || candidate < 0) return VelFile::kErrCannotCreate;
  std::unique_ptr<FileRec> file(new FileRec);
  file->path = wide;
  file->newSectionPermission = 1;
  int err = 0;
  if (wrap) {
    uint64_t size = 0;
    if (!platform().fileSize(native, &size)) return VelFile::kErrIo;
    if (size >= kFileLimit) return VelFile::kErrCannotCreate;
    file->stream = platform().open(native, OpenMode::Update, ShareMode::DenyNone, &err);
    if (!file->stream) {
      g_openError = err;
      return VelFile::kErrCannotCreate;
    }
    file->size = size;
    // The section header goes over the first 36 bytes when the file is
    // closed; a file shorter than that gets its new data after the header.
    file->endOffset = static_cast<uint32_t>(size == 0 ? 0 : std::max<uint64_t>(round8(size), 40));
  } else {
    file->stream = platform().open(native, OpenMode::CreateUpdate, ShareMode::DenyNone, &err);
    if (!file->stream) {
      g_openError = err;
      return VelFile::kErrCannotCreate;
    }
  }
  g_files[candidate] = std::move(file);
  g_slots[candidate].kind = kFileHandle;
  g_slots[candidate].file = g_files[candidate].get();
  *out = &g_slots[candidate];
  return VelFile::kOk;
}

// Writes a directory's entries followed by the zero filler.
bool writeDirectory(FileRec& f, uint64_t position, const std::vector<ItemRec>& items) {
  std::vector<unsigned char> raw(items.size() * kDirEntrySpace, 0);
  for (size_t i = 0; i < items.size(); ++i) {
    DirEntry e{items[i].id, items[i].type, items[i].count, items[i].value};
    encodeEntry(e, &raw[i * kEntrySize]);
  }
  return raw.empty() || writeAt(f, position, raw.data(), raw.size());
}

int writeSubGroups(FileRec& f, const SectionRec& s, GroupRec& g);

// Writes a created sub-group's directory (after those of its own sub-groups)
// and returns its offset.
int writeSubGroup(FileRec& f, const SectionRec& s, SubGroup& sub, uint32_t* offset) {
  *offset = 0;
  GroupRec& g = sub.group;
  if (g.writeMode == kReadOnly) return VelFile::kOk;
  int rc = writeSubGroups(f, s, g);
  if (rc != VelFile::kOk) return rc;
  if (!reserveBlock(f, s, uint64_t(g.items.size()) * kDirEntrySpace, offset)) return VelFile::kErrIo;
  if (!writeDirectory(f, uint64_t(s.start) + *offset, g.items)) return VelFile::kErrIo;
  return VelFile::kOk;
}

int writeSubGroups(FileRec& f, const SectionRec& s, GroupRec& g) {
  for (ItemRec& it : g.items) {
    if (it.type != VelFile::kTypeGroup || !it.sub) continue;
    uint32_t offset = 0;
    int rc = writeSubGroup(f, s, *it.sub, &offset);
    if (rc != VelFile::kOk) return rc;
    it.value = offset;
    it.count = static_cast<uint32_t>(it.sub->group.items.size());
    it.sub.reset();
  }
  return VelFile::kOk;
}

// Writes a section made since the file was opened: sub-group directories,
// the section directory, then the header at the section's start.
int writeSection(FileRec& f, SectionRec& s) {
  int rc = writeSubGroups(f, s, s.group);
  if (rc != VelFile::kOk) return rc;
  const uint64_t dir = round8(f.endOffset);
  const uint64_t end = dir + uint64_t(s.group.items.size()) * kDirEntrySpace;
  if (end >= kFileLimit) return VelFile::kErrIo;
  if (!writeDirectory(f, dir, s.group.items)) return VelFile::kErrIo;
  // Bytes left past the new section by an earlier, longer file must not read
  // as a section that follows it: the chain is ended there.
  static const unsigned char kNoSection[8] = {};
  if (f.size >= end + kHeaderSize && !writeAt(f, end, kNoSection, sizeof kNoSection)) return VelFile::kErrIo;
  f.endOffset = static_cast<uint32_t>(end);
  SectionHeader& h = s.header;
  h.field[kHdrDirOffset] = static_cast<uint32_t>(dir - s.start);
  h.field[kHdrEntryCount] = static_cast<uint32_t>(s.group.items.size());
  h.field[kHdrSectionSize] = static_cast<uint32_t>(end - s.start);
  unsigned char raw[kHeaderSize];
  encodeHeader(h, raw);
  // The sizes go first and the marker with the magic last: a process killed
  // between the two writes (or a write that reached the disk in part) leaves
  // no valid magic before the sizes are right, so the section is never found
  // with wrong ones.
  const size_t kHead = 8;
  return writeAt(f, s.start + kHead, raw + kHead, kHeaderSize - kHead) && writeAt(f, s.start, raw, kHead)
             ? VelFile::kOk
             : VelFile::kErrIo;
}

// Closes a file; with commit false the new section's directories and header
// are not written, so the chain of sections ends where it ended before.
int closeFile(void* handle, bool commit) {
  Handle* h = asHandle(handle);
  if (!isFile(h)) return VelFile::kErrNotFound;
  const int slot = static_cast<int>(h - g_slots);
  FileRec& f = *h->file;
  int result = commit ? VelFile::kErrNotFound : VelFile::kOk;
  for (auto& sec : f.sections) {
    if (!commit) break;
    if (sec->group.writeMode != kReadOnly) {
      int rc = guarded([&] { return writeSection(f, *sec); });
      if (rc != VelFile::kOk) {
        result = VelFile::kErrIo;
        break;
      }
    }
    result = VelFile::kOk;
  }
  // Bytes held back by an abandoned file lie past its chain: losing them loses nothing.
  if (!f.stream->close() && result == VelFile::kOk && commit) result = VelFile::kErrIo;
  // The slot is freed whatever happened: its stream is closed.
  releaseSlot(slot);
  return result;
}

// Creates a new section (or returns the writable one) on a file handle.
int createSection(Handle* h, void** out, const char16_t* name) {
  FileRec& f = *h->file;
  if (!f.newSectionPermission) {
    if (!f.sections.empty() && f.sections.back()->group.writeMode != kReadOnly) {
      *out = &f.sections.back()->handle;
      return VelFile::kOk;
    }
    return VelFile::kErrReadOnly;
  }
  if (f.sections.size() >= kMaxSections) return VelFile::kErrMemory;
  std::unique_ptr<SectionRec> sec(new SectionRec);
  SectionRec& s = *sec;
  const bool wrapped = f.sections.empty() && f.endOffset != 0 && f.size != 0;
  s.start = wrapped ? 0 : static_cast<uint32_t>(round8(f.endOffset));
  if (!wrapped && uint64_t(s.start) + kHeaderSize >= kFileLimit) return VelFile::kErrIo;
  s.group.writeMode = f.charFormat ? kNarrow : kWide;
  s.group.name = name;
  s.group.hasName = true;
  s.group.loaded = true;
  s.header.field[kHdrByteOrder] = 0x11223344u;
  const unsigned char magic[4] = {'S', 'U', 'R', 'D'};
  std::memcpy(&s.header.field[kHdrMagic], magic, 4);
  s.header.field[kHdrVersion] = 3;
  s.header.field[kHdrStringFormat] = f.charFormat ? 0 : 1;
  s.handle.kind = kSectionGroup;
  s.handle.file = &f;
  s.handle.section = &s;
  s.handle.group = &s.group;
  f.sections.push_back(std::move(sec));
  f.newSectionPermission = 0;
  if (!wrapped) f.endOffset = s.start + static_cast<uint32_t>(kHeaderSize);
  *out = &s.handle;
  return VelFile::kOk;
}

int createSubGroup(Handle* parent, void** out, uint16_t id, const char16_t* name) {
  GroupRec& p = *parent->group;
  if (p.writeMode == kReadOnly) return VelFile::kErrReadOnly;
  std::unique_ptr<SubGroup> sub(new SubGroup);
  sub->handle.kind = kSubGroup;
  sub->handle.file = parent->file;
  sub->handle.section = parent->section;
  sub->handle.group = &sub->group;
  sub->group.writeMode = p.writeMode;
  sub->group.name = name;
  sub->group.hasName = true;
  sub->group.loaded = true;
  ItemRec it;
  it.id = id;
  it.type = VelFile::kTypeGroup;
  it.count = 1;
  it.sub = std::move(sub);
  p.items.push_back(std::move(it));
  p.itemCount = static_cast<uint32_t>(p.items.size());
  *out = &p.items.back().sub->handle;
  return VelFile::kOk;
}

// Sections are listed in ascending order of their start.
Handle* findSection(FileRec& f, uint32_t key) {
  auto at = std::lower_bound(f.sections.begin(), f.sections.end(), key,
                             [](const std::unique_ptr<SectionRec>& s, uint32_t k) { return s->start < k; });
  return at != f.sections.end() && (*at)->start == key ? &(*at)->handle : nullptr;
}

// The first group reference of a loaded group whose value field is key. A
// read-only group never changes once loaded, so a large one gets a sorted
// index of its references on first use: opening each of its many sub-groups
// in turn costs a search instead of a scan of the whole directory.
Handle* findSubGroup(GroupRec& g, uint32_t key) {
  const size_t kScanned = 16;  // smaller directories are simply scanned
  if (g.writeMode == kReadOnly && g.items.size() > kScanned && !g.refIndex) {
    try {
      std::unique_ptr<RefIndex> index(new RefIndex);
      for (uint32_t i = 0; i < g.items.size(); ++i) {
        const ItemRec& it = g.items[i];
        if (it.type == VelFile::kTypeGroup && it.sub) index->emplace_back(it.value, i);
      }
      std::sort(index->begin(), index->end());
      g.refIndex = std::move(index);
    } catch (const std::bad_alloc&) {
      // no index: scanned below
    }
  }
  if (g.refIndex) {
    auto at = std::lower_bound(g.refIndex->begin(), g.refIndex->end(), std::make_pair(key, uint32_t(0)));
    return at != g.refIndex->end() && at->first == key ? &g.items[at->second].sub->handle : nullptr;
  }
  for (ItemRec& it : g.items)
    if (it.type == VelFile::kTypeGroup && it.sub && it.value == key) return &it.sub->handle;
  return nullptr;
}

}  // namespace

// --- shared helpers of the container layer ---

HookScope::HookScope() {
  if (g_hooks.enter) g_hooks.enter();
}
HookScope::~HookScope() {
  if (g_hooks.leave) g_hooks.leave();
}

bool readAt(FileRec& f, uint64_t position, void* buffer, size_t n) {
  if (position > f.size || n > f.size - position) return false;
  if (n == 0) return true;
  return f.stream->seek(static_cast<uint32_t>(position)) && f.stream->read(buffer, n);
}

bool writeAt(FileRec& f, uint64_t position, const void* data, size_t n) {
  if (position >= kFileLimit || n >= kFileLimit - position) return false;
  if (n == 0) return true;
  if (!f.stream->seek(static_cast<uint32_t>(position)) || !f.stream->write(data, n)) return false;
  f.size = std::max<uint64_t>(f.size, position + n);
  return true;
}

bool reserveBlock(FileRec& f, const SectionRec& s, uint64_t size, uint32_t* offset) {
  const uint64_t start = round8(f.endOffset);
  const uint64_t end = start + round8(size);
  if (end >= kFileLimit || start < s.start) return false;
  *offset = static_cast<uint32_t>(start - s.start);
  f.endOffset = static_cast<uint32_t>(end);
  return true;
}

int ensureLoaded(Handle* h) {
  GroupRec& g = *h->group;
  if (g.loaded) return VelFile::kOk;
  return guarded([&] { return loadDirectory(h, uint64_t(h->section->start) + g.dirOffset); });
}

int encodeString(const GroupRec& g, uint16_t type, const char16_t* text, uint32_t count, uint16_t* storedType,
                 std::vector<char>* bytes) {
  *storedType = type;
  if (g.writeMode == kNarrow && type == VelFile::kTypeUtf16) {
    size_t len = 0;
    while (len < count && text[len]) ++len;
    std::vector<char> narrow(size_t(count) + 1);
    if (!utf16ToNarrow(text, len, narrow.data(), narrow.size())) return VelFile::kErrNotFound;
    narrow.resize(count);
    bytes->swap(narrow);
    *storedType = VelFile::kTypeNarrow;
    return VelFile::kOk;
  }
  const uint64_t n = uint64_t(VelFile::file_SizeOf(type)) * count;
  if (n >= kFileLimit) return VelFile::kErrIo;
  const char* p = reinterpret_cast<const char*>(text);
  bytes->assign(p, p + n);
  return VelFile::kOk;
}

int placeValue(FileRec& f, const SectionRec& s, const char* bytes, uint64_t n, uint32_t* value) {
  if (n <= 4) {
    uint32_t v = 0;
    if (n) std::memcpy(&v, bytes, static_cast<size_t>(n));
    *value = v;
    return VelFile::kOk;
  }
  const uint32_t savedEnd = f.endOffset;
  uint32_t offset = 0;
  bool placed = false;
  try {
    placed = reserveBlock(f, s, n, &offset) &&
             writeAt(f, uint64_t(s.start) + offset, bytes, static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    f.endOffset = savedEnd;  // the block is given back, whatever failed
    throw;
  }
  if (!placed) {
    f.endOffset = savedEnd;
    return VelFile::kErrIo;
  }
  *value = offset;
  return VelFile::kOk;
}

}  // namespace velfile

using namespace velfile;

void VelFile::file_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                        VelReallocHook realloc, VelErrorHook error) {
  g_hooks.enter = enter;
  g_hooks.leave = leave;
  g_hooks.alloc = alloc;
  g_hooks.free = free;
  g_hooks.realloc = realloc;
  g_hooks.error = error;
}

bool VelFile::file_IsHandleLeft() {
  for (const Handle& slot : g_slots)
    if (slot.kind != kFileHandle) return true;
  return false;
}

int VelFile::file_Open(const VelChar* path, void** file) {
  HookScope hooks;
  if (file) *file = nullptr;
  if (!file) return kErrCannotOpen;
  return guarded([&] { return openFile(path, file, false); });
}

int VelFile::file_OpenRead(const VelChar* path, void** file) {
  HookScope hooks;
  if (file) *file = nullptr;
  if (!file) return kErrCannotOpen;
  return guarded([&] { return openFile(path, file, true); });
}

int velfile::lastOpenError() {
  return g_openError;
}

int VelFile::file_Create(const VelChar* path, void** file) {
  HookScope hooks;
  if (file) *file = nullptr;
  if (!file) return kErrCannotCreate;
  return guarded([&] { return createFile(path, file, false); });
}

int VelFile::file_CreateEx(const VelChar* path, void** file) {
  HookScope hooks;
  if (file) *file = nullptr;
  if (!file) return kErrCannotCreate;
  return guarded([&] { return createFile(path, file, true); });
}

int VelFile::file_Close(void* file) {
  HookScope hooks;
  return closeFile(file, true);
}

int VelFile::file_Abandon(void* file) {
  HookScope hooks;
  return closeFile(file, false);
}

int VelFile::file_GroupCreate(void* parent, void** group, uint16_t itemId, const VelChar* name) {
  HookScope hooks;
  if (group) *group = nullptr;
  Handle* h = asHandle(parent);
  if (!h || h->kind == kFreeSlot) return kErrCannotOpen;
  if (!group || !name) return kErrNotFound;
  const char16_t* n = reinterpret_cast<const char16_t*>(name);
  return guarded([&]() -> int {
    void* made = nullptr;
    FileRec& f = *h->file;
    const uint32_t savedEnd = f.endOffset;
    if (isFile(h)) {
      const bool fresh = f.newSectionPermission != 0;
      int rc = createSection(h, &made, n);
      if (rc != kOk || !fresh) {
        *group = made;
        return rc;
      }
    } else {
      int rc = ensureLoaded(h);
      if (rc != kOk) return rc;
      rc = createSubGroup(h, &made, itemId, n);
      if (rc != kOk) return rc;
    }
    const size_t len = length16(n);
    // An exhausted heap is a result here too, so that the group is taken back.
    int rc = len >= UINT32_MAX ? kErrMemory : guarded([&] {
      return itemValueWrite(asHandle(made), kItemName, kTypeUtf16, static_cast<uint32_t>(len + 1),
                            reinterpret_cast<const char*>(n));
    });
    if (rc != kOk) {
      // A group without its name item would make the whole file unreadable
      // once closed: the group is taken back and the file left as it was.
      if (isFile(h)) {
        f.sections.pop_back();
        f.newSectionPermission = 1;
      } else {
        h->group->items.pop_back();
        h->group->itemCount = static_cast<uint32_t>(h->group->items.size());
      }
      f.endOffset = savedEnd;
      return rc;
    }
    *group = made;
    return kOk;
  });
}

int VelFile::file_GroupOpen(void* parent, void** group, uint32_t key) {
  HookScope hooks;
  if (group) *group = nullptr;
  Handle* h = asHandle(parent);
  if (!h || h->kind == kFreeSlot) return kErrCannotOpen;
  if (!group) return kErrNotFound;
  Handle* found = nullptr;
  if (isFile(h)) {
    found = findSection(*h->file, key);
  } else if (isGroup(h)) {
    int rc = ensureLoaded(h);
    if (rc != kOk) return rc;
    found = findSubGroup(*h->group, key);
  }
  if (!found) return kErrNotFound;
  int rc = ensureLoaded(found);
  if (rc != kOk) return rc;
  *group = found;
  return kOk;
}

int VelFile::file_GroupNameGet(void* group, VelChar* buffer, uint32_t capacity) {
  HookScope hooks;
  Handle* h = asHandle(group);
  if (!isGroup(h) || !h->group->hasName || !buffer) return kErrNotFound;
  const std::u16string& name = h->group->name;
  if (uint64_t(name.size()) + 1 > capacity) return kErrNotFound;
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(VelChar));
  return kOk;
}

int VelFile::file_GroupNameSet(void* group, const VelChar* name, uint32_t /*capacity*/) {
  HookScope hooks;
  Handle* h = asHandle(group);
  if (!isGroup(h)) return kErrNotFound;
  GroupRec& g = *h->group;
  if (g.writeMode == kReadOnly) return kErrReadOnly;
  return guarded([&]() -> int {
    if (!name) {
      g.name.clear();
      g.hasName = false;
      return kErrMemory;
    }
    const char16_t* n = reinterpret_cast<const char16_t*>(name);
    size_t len = length16(n);
    if (len > 31) {
      VEL_DIAG(kVelfileModule);
      len = 31;
    }
    std::u16string held(n, len);
    g.name.swap(held);
    g.hasName = true;
    if (g.items.empty() || g.items[0].id != kItemName) return kErrNoName;
    ItemRec& nameItem = g.items[0];
    const uint32_t count = static_cast<uint32_t>(len + 1);
    std::u16string terminated = g.name;
    terminated.push_back(0);
    std::vector<char> bytes;
    uint16_t stored = kTypeUtf16;
    // Stored narrow only when the group is narrow and its name item already is.
    GroupRec view;
    view.writeMode = (g.writeMode == kNarrow && nameItem.type == kTypeNarrow) ? kNarrow : kWide;
    int rc = encodeString(view, kTypeUtf16, terminated.c_str(), count, &stored, &bytes);
    if (rc != kOk) return rc;
    uint32_t value = 0;
    rc = placeValue(*h->file, *h->section, bytes.data(), bytes.size(), &value);
    if (rc != kOk) return rc;
    nameItem.count = count;
    nameItem.value = value;
    return kOk;
  });
}

int VelFile::file_UpdateContentGroup(void* group, uint16_t newItemId) {
  Handle* h = asHandle(group);
  if (!isGroup(h)) return kErrNotFound;
  if (h->group->writeMode == kReadOnly) return kErrReadOnly;
  const uint32_t n = file_ItemNbrGet(group);
  if (n == 0) return kErrMemory;
  uint16_t type = 0;
  int rc = file_ItemInfo(group, n - 1, nullptr, &type, nullptr, nullptr, nullptr, 0);
  if (rc != kOk) return rc;
  h->group->items[n - 1].id = newItemId;
  return kOk;
}

int VelFile::file_GetFileOffsetSection(void* group, uint32_t* sectionStart) {
  Handle* h = asHandle(group);
  if (!isGroup(h)) return kErrIo;
  if (sectionStart) *sectionStart = h->section->start;
  return kOk;
}

uint32_t VelFile::file_ItemNbrGet(void* handle) {
  HookScope hooks;
  Handle* h = asHandle(handle);
  if (isFile(h)) return static_cast<uint32_t>(h->file->sections.size());
  if (isGroup(h)) return h->group->itemCount;
  return 0;
}
