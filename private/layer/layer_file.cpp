// The C++ layer: errors and their texts, the lock, files and sections.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include "byteorder.h"
#include "layer.h"
#include "platform.h"
#include "source_stream.h"

namespace velfile {

// --- errors ---

Error::Error(Reason reason, int code, std::string operation, std::string file, std::string group, int item,
             const std::string& message)
    : std::runtime_error(message),
      reason_(reason),
      code_(code),
      operation_(std::move(operation)),
      file_(std::move(file)),
      group_(std::move(group)),
      item_(item) {}
Error::Error(const Error& other) = default;
Error& Error::operator=(const Error& other) = default;
Error::~Error() = default;

namespace {

// The one table of texts: what a result code of an operation means. An
// operation not listed for a code falls back to the row with a null name.
struct CodeText {
  const char* operation;
  int code;
  Reason reason;
  const char* text;
};

const CodeText kCodeTexts[] = {
    {"file_Open", 2, Reason::Io,
     "cannot be read: a section or its group name runs past the end of the file (a damaged or cut file)"},
    {"file_Open", 3, Reason::NotContainer, "is not a container file (no section header at its start)"},
    {"file_Open", 5, Reason::NotFound, "cannot be opened"},
    {"file_Create", 2, Reason::Io, "cannot be created: reading its size failed"},
    {"file_Create", 4, Reason::NotFound,
     "cannot be created: its directory does not exist or is not writable, or the path is open already"},
    {"file_CreateEx", 4, Reason::NotFound, "cannot be wrapped: it cannot be written, or is 2 GiB or larger"},
    {"file_Close", 2, Reason::Io,
     "could not be completed: writing its directories and headers failed, so the new data is lost"},
    {"file_Close", 3, Reason::Invalid,
     "was closed without any group: it holds no section and is left empty (0 bytes), which no reader "
     "accepts"},
    {"file_GroupCreate", 3, Reason::Invalid, "cannot take a group: no name was given"},
    {"file_GroupCreate", 8, Reason::ReadOnly,
     "is read-only: groups can be added only to a section made in this opening"},
    {"file_GroupCreate", 2, Reason::Io, "the group cannot be made: writing its name failed"},
    {"file_GroupOpen", 2, Reason::Io,
     "cannot be opened: its directory or its name lies outside the file (a damaged file)"},
    {"file_GroupOpen", 3, Reason::NotFound, "does not exist"},
    {"file_GroupNameSet", 6, Reason::Invalid, "has no name item"},
    {"file_GroupNameSet", 8, Reason::ReadOnly, "is read-only: it was read from the file"},
    {"file_ItemInfo", 2, Reason::Io,
     "cannot be listed: its directory lies outside the file (a damaged file)"},
    {"file_ItemInfo", 6, Reason::NotFound, "has no item at that index"},
    {"file_ItemValueWrite", 2, Reason::Io,
     "cannot be written: writing failed, or the file would reach 2 GiB"},
    {"file_ItemValueWrite", 3, Reason::WrongType,
     "cannot be written: the text has characters the section's narrow character set lacks"},
    {"file_ItemValueWrite", 8, Reason::ReadOnly, "is read-only: it was read from the file"},
    {"file_IndexValueRead", 2, Reason::Io,
     "cannot be read: its value lies outside the file (a damaged file)"},
    {"file_IndexBlockRead", 2, Reason::Io,
     "cannot be read: its value lies outside the file (a damaged file)"},
    {"file_Read", 2, Reason::Io, "cannot be read: the data lies outside the file (a damaged file)"},
    {"file_Write", 2, Reason::Io, "cannot be written: writing failed, or the file would reach 2 GiB"},
    {"file_Write", 3, Reason::ReadOnly, "has no section that can be written"},
    {"gdata_ReadDataClassData", 2, Reason::OutsideSection,
     "cannot be read: its point table or records lie outside its section, or overlap one another or the "
     "point "
     "table so that points would read their neighbours' samples, or its counts overflow (a damaged file)"},
    {"gdata_ReadDataClassData", 3, Reason::Invalid,
     "cannot be read: the range needs more bytes than a buffer can hold"},
    {"gdata_ReadDataClassData", 4, Reason::Unsupported, "has a data class without a layout"},
    {"gdata_WriteDataClassData", 2, Reason::Io,
     "cannot take the data: the counts overflow, the class has no layout, or writing failed"},
    // Every module's WriteGroupInfo, whose result is the bitwise OR of the
    // codes of its failed item writes (see failCode).
    {"WriteGroupInfo", 1, Reason::Memory, "cannot take the descriptor: not enough memory"},
    {"WriteGroupInfo", 2, Reason::Io,
     "cannot take the descriptor: a value or the bulk data could not be written (writing failed, or the "
     "file would reach 2 GiB)"},
    {"WriteGroupInfo", 3, Reason::WrongType,
     "cannot take the descriptor: a text has characters the section's narrow character set lacks, or "
     "memory ran out and a value could not be written"},
    {"WriteGroupInfo", 8, Reason::ReadOnly,
     "is read-only: it was read from the file and takes no descriptor"},
    // Every other operation and code.
    {nullptr, 1, Reason::Memory, "failed: not enough memory"},
    {nullptr, 2, Reason::Io, "failed: reading, writing or positioning failed (a damaged or cut file?)"},
    {nullptr, 3, Reason::NotFound, "failed: no such group or item, or a handle of the wrong kind"},
    {nullptr, 4, Reason::InUse, "failed: the path is open already or cannot be created"},
    {nullptr, 5, Reason::NotFound, "failed: cannot be opened"},
    {nullptr, 6, Reason::NotFound, "failed: index past the end, or no name item"},
    {nullptr, 8, Reason::ReadOnly, "failed: read-only"},
};

const CodeText& textOf(const char* operation, int code) {
  // file_OpenRead gives the results of file_Open.
  if (std::strcmp(operation, "file_OpenRead") == 0) operation = "file_Open";
  for (const CodeText& t : kCodeTexts)
    if (t.operation && t.code == code && std::strcmp(t.operation, operation) == 0) return t;
  for (const CodeText& t : kCodeTexts)
    if (!t.operation && t.code == code) return t;
  static const CodeText kOther{nullptr, 0, Reason::Io, "failed with an unexpected result"};
  return kOther;
}

// What an error is about: "'file', group 'path', item 3"; empty when the
// text names its own subject.
std::string subject(const Where& w) {
  std::string s;
  if (w.file) s = "'" + w.file->path + "'";
  if (w.group) s += (s.empty() ? "group '" : ", group '") + joinPath(w.group) + "'";
  if (w.item >= 0) s += (s.empty() ? "item " : ", item ") + std::to_string(w.item);
  return s;
}

[[noreturn]] void raise(Reason reason, int code, const char* operation, const Where& w,
                        const std::string& text) {
  const std::string about = subject(w);
  const std::string message = (about.empty() ? text : about + " " + text) + " [" + operation +
                              (code ? ", result " + std::to_string(code) : std::string()) + "]";
  throw Error(reason, code, operation, w.file ? w.file->path : std::string(),
              w.group ? joinPath(w.group) : std::string(), w.item, message);
}

}  // namespace

void failCode(const char* operation, int code, const Where& where) {
  // A host's source that failed during this call is what went wrong.
  if (!lastSourceError().empty())
    raise(Reason::Io, code, operation, where, "could not be read: " + lastSourceError());
  // A read-only group fails every item write with 8, whatever else failed.
  static const char kWrite[] = "_WriteGroupInfo";
  const size_t n = std::strlen(operation), k = sizeof kWrite - 1;
  const bool moduleWrite = n > k && std::strcmp(operation + n - k, kWrite) == 0;
  const CodeText& t = moduleWrite ? textOf("WriteGroupInfo", code & 8 ? 8 : code) : textOf(operation, code);
  raise(t.reason, code, operation, where, t.text);
}

void fail(Reason reason, const char* operation, const Where& where, const std::string& text) {
  raise(reason, 0, operation, where, text);
}

void checkOpen(const FileState* file, const PathNode* group, const char* operation) {
  if (!file) fail(Reason::Closed, operation, Where{nullptr, group, -1}, "refers to no file: it is not open");
  if (!file->open)
    fail(Reason::Closed, operation, Where{file, group, -1},
         "was closed: groups, items and data groups cannot be used after their File is closed");
}

const char* reason_name(Reason reason) {
  static const char* const kNames[] = {"Memory",      "Io",           "NotContainer",   "NotFound",
                                       "InUse",       "TooManyFiles", "ReadOnly",       "WrongType",
                                       "Closed",      "BadPath",      "OutsideSection", "Invalid",
                                       "Unsupported", "Permission",   "OutOfRange"};
  const int i = static_cast<int>(reason) - 1;
  return i >= 0 && i < int(sizeof kNames / sizeof kNames[0]) ? kNames[i] : "Unknown";
}

std::recursive_mutex& library_mutex() {
  static std::recursive_mutex m;
  return m;
}

bool inside_source_read() {
  return insideSourceRead();
}

void serve_sources_on_this_thread() {
  serveSourcesOnThisThread();
}

Lock::Lock(std::recursive_mutex& m) : m_(m) {
  if (insideSourceRead())
    fail(Reason::InUse, "velfile", Where{},
         "was called from inside a Source's read (a callback of the library, or code it ran such as a "
         "finaliser); the library is busy with the call that is reading, so this call is refused");
  m_.lock();
  clearSourceError();
}

// --- text ---

std::u16string toUtf16(const std::string& text, const char* operation, const Where& where) {
  std::u16string out;
  if (!utf8ToUtf16(text, &out)) fail(Reason::Invalid, operation, where, "got text that is not UTF-8");
  return out;
}

double decimal_of(float value) {
  if (!std::isfinite(value)) return value;
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  double out = value;
  std::from_chars(buf, end, out);
  return out;
}

std::string fromStored(std::u16string units, bool swapped) {
  if (swapped) swapUnits(&units[0], units.size());
  return utf16ToUtf8(units.data(), units.size());
}

std::string type_name(uint16_t type) {
  static const char* const kNames[] = {"group",  "char",  "int8",  "uint8",   "int16",   "uint16", "int32",
                                       "uint32", "quad8", "quad9", "float32", "float64", "utf16",  "raw"};
  return type < 14 ? kNames[type] : "type " + std::to_string(type);
}

int type_from_name(const std::string& name) {
  for (uint16_t t = 0; t < 14; ++t)
    if (type_name(t) == name) return t;
  if (name.empty() || name.size() > 5 || name.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int v = std::stoi(name);
  return v <= 0xFFFF ? v : -1;
}

// --- paths ---

std::string joinPath(const PathNode* node) {
  if (!node) return std::string();
  size_t length = 0, depth = 0;
  for (const PathNode* n = node; n; n = n->parent.get()) length += n->step.size() + 1, ++depth;
  std::vector<const PathNode*> chain(depth);
  for (const PathNode* n = node; n; n = n->parent.get()) chain[--depth] = n;
  std::string out;
  out.reserve(length);
  for (const PathNode* n : chain) {
    if (!out.empty() || n != chain.front()) out.push_back('/');
    out += n->step;
  }
  return out;
}

std::shared_ptr<const PathNode> childNode(const std::shared_ptr<const PathNode>& parent, std::string step) {
  auto n = std::make_shared<PathNode>();
  n->parent = parent;
  n->step = std::move(step);
  return n;
}

// --- the table of paths open through the layer ---

namespace {

// The layer's handles of open files: its writer's of a path, and the one of
// its readers, whose users it counts. A File opened for reading joins the
// readers' handle while the file keeps the size it had when that handle
// opened; once another writer has added to it, a new reader gets a handle of
// its own, which sees the new sections. Readers and an appender of one file
// live side by side; a create beside any of them, or a second writer, is
// refused.
struct Shared {
  std::u16string path;
  void* handle = nullptr;
  int users = 0;
  bool writer = false;
  bool created = false;  // the writer made the file
  bool sectionMade = false;
  uint64_t size = 0;  // a reader's: the file's size at its opening
};

std::vector<Shared>& sharedHandles() {
  static std::vector<Shared> handles;
  return handles;
}

Shared* sharedOf(void* handle) {
  for (Shared& sh : sharedHandles())
    if (sh.handle == handle) return &sh;
  return nullptr;
}

uint64_t sizeNow(const std::u16string& path) {
  std::error_code ec;
  const uintmax_t n = std::filesystem::file_size(std::filesystem::path(path), ec);
  return ec ? ~uint64_t(0) : uint64_t(n);
}

enum Mode { kRead, kCreate, kAppend };

// Whether the layer's use of a path refuses a File of this mode: a create
// beside anything, a second writer, and a reader of a file being created
// (which holds no section yet).
bool excludes(Mode mode, const Shared& open) {
  return mode == kCreate || (open.writer && (mode == kAppend || open.created));
}

[[noreturn]] void refuseSecondUse(Mode mode, const Shared& sh, const char* op, const Where& where,
                                  const std::string& as) {
  fail(Reason::InUse, op, where,
       !sh.writer
           ? "is open for reading through the layer" + as +
                 "; creating it would truncate it under its readers, so it cannot be created until every "
                 "reader closes"
       : mode == kRead ? "is open for writing through the layer" + as +
                             ", which is creating it; it can be read once that File closes"
                       : "is open for writing through the layer" + as +
                             "; a second writer is refused until that File closes");
}

// The error of an open or create the library refused (lock held): why the
// file could not be opened, as the library saw it.
[[noreturn]] void failOpen(const char* op, int rc, Mode mode, const Where& where) {
  if ((rc == VelFile::kErrCannotOpen || rc == VelFile::kErrCannotCreate) && !VelFile::file_IsHandleLeft())
    fail(Reason::TooManyFiles, op, where,
         "cannot be opened: all " + std::to_string(VelFile::kMaxOpenFiles) +
             " slots of the library's table of open files are in use; close a file first");
  if (rc != VelFile::kErrCannotOpen && rc != VelFile::kErrCannotCreate) failCode(op, rc, where);
  const bool create = mode == kCreate;
  // Windows says "access denied" for a directory.
  std::error_code ec;
  const bool directory = std::filesystem::is_directory(std::filesystem::path(where.file->wide), ec);
  switch (directory ? EISDIR : lastOpenError()) {
    case ENOENT:
      fail(Reason::NotFound, op, where,
           create ? "cannot be created: no such directory" : "cannot be opened: no such file");
    case EACCES:
      fail(Reason::Permission, op, where,
           create ? "cannot be created: no permission to write it or its directory"
                  : "cannot be opened: no permission to read it");
    case EBUSY:
      fail(Reason::InUse, op, where,
           create ? "cannot be created: another program has it open, and creating it would truncate it under "
                    "its readers"
                  : "cannot be opened for writing: another program is writing it (a file takes one writer at "
                    "a time)");
    case EISDIR:
      fail(Reason::Invalid, op, where, "is a directory");
    default:
      failCode(op, rc, where);
  }
}

// Opens or creates through the library (lock held).
void* openHandle(FileState& st, Mode mode) {
  const char* op = mode == kCreate ? "file_Create" : mode == kRead ? "file_OpenRead" : "file_Open";
  const Where where{&st, nullptr, -1};
  auto& handles = sharedHandles();
  // The same file, under this or another spelling of its path (the library
  // tells paths apart as given).
  for (const Shared& open : handles) {
    if (!excludes(mode, open)) continue;
    std::error_code ec;
    if (open.path == st.wide) refuseSecondUse(mode, open, op, where, std::string());
    if (std::filesystem::equivalent(std::filesystem::path(st.wide), std::filesystem::path(open.path), ec))
      refuseSecondUse(mode, open, op, where, " as '" + utf16ToUtf8(open.path.data(), open.path.size()) + "'");
  }
  const uint64_t size = mode == kRead ? sizeNow(st.wide) : 0;
  if (mode == kRead)
    for (Shared& open : handles)
      if (!open.writer && open.path == st.wide && open.size == size) {
        ++open.users;
        return open.handle;
      }
  void* handle = nullptr;
  const int rc = mode == kCreate ? VelFile::file_Create(velText(st.wide), &handle)
                 : mode == kRead ? VelFile::file_OpenRead(velText(st.wide), &handle)
                                 : VelFile::file_Open(velText(st.wide), &handle);
  if (rc != VelFile::kOk) failOpen(op, rc, mode, where);
  if (mode == kAppend && VelFile::file_SetCharacterFormat(handle, 0) != VelFile::kOk) {
    VelFile::file_Close(handle);
    fail(Reason::ReadOnly, op, where,
         "cannot take a new section: it is read-only, or its section chain does not end where a new section "
         "can follow");
  }
  Shared sh;
  sh.path = st.wide;
  sh.handle = handle;
  sh.users = 1;
  sh.writer = mode != kRead;
  sh.created = mode == kCreate;
  sh.size = size;
  handles.push_back(std::move(sh));
  return handle;
}

// Gives a File's use of its handle back (lock held); the library's close
// result, 0 when other users remain.
int releaseHandle(FileState& st, bool commit = true) {
  auto& handles = sharedHandles();
  st.open = false;
  Shared* sh = sharedOf(st.handle);
  if (!sh || --sh->users > 0) return VelFile::kOk;
  void* handle = sh->handle;
  handles.erase(handles.begin() + (sh - handles.data()));
  return commit ? VelFile::file_Close(handle) : VelFile::file_Abandon(handle);
}

File openAs(const std::string& path, Mode mode, const std::u16string* wide = nullptr) {
  const char* op = mode == kCreate ? "File::create" : mode == kAppend ? "File::append" : "File::open";
  auto st = std::make_shared<FileState>();
  st->path = path;
  const Where where{st.get(), nullptr, -1};
  st->wide = wide ? *wide : toUtf16(path, op, where);
  if (path.empty()) fail(Reason::Invalid, op, where, "is an empty path");
  if (mode == kAppend && !hasUpdateExtension(st->wide))
    fail(Reason::Invalid, op, where,
         "cannot take a new section: only files whose name ends in .A01 are opened for adding one");
  Lock lock(library_mutex());
  st->handle = openHandle(*st, mode);
  st->open = true;
  st->writer = mode != kRead;
  File f;
  Access::setState(f, st);
  return f;
}

}  // namespace

File File::open(std::shared_ptr<Source> source, std::string_view name, size_t block) {
  const char* op = "File::open";
  auto st = std::make_shared<FileState>();
  st->path = std::string(name);
  if (!source) fail(Reason::Invalid, op, Where{st.get(), nullptr, -1}, "was given no source");
  // The source is reached by a name of the library's own for as long as the
  // open takes; the stream keeps it afterwards.
  const std::string key = registerSource(std::move(source), block);
  struct Unregister {
    const std::string& key;
    ~Unregister() { unregisterSource(key); }
  } unregister{key};
  st->wide = toUtf16(key, op, Where{st.get(), nullptr, -1});
  Lock lock(library_mutex());
  try {
    st->handle = openHandle(*st, kRead);
  } catch (const Error& e) {
    if (lastSourceError().empty()) throw;
    fail(Reason::Io, op, Where{st.get(), nullptr, -1}, "could not be read: " + lastSourceError());
  }
  st->open = true;
  File f;
  Access::setState(f, st);
  return f;
}

namespace {

// The byte order of a section that does, or does not, need swapping here.
ByteOrder orderOf(bool swap) {
  return (hostByteOrder() == 1) != swap ? ByteOrder::Big : ByteOrder::Little;
}

}  // namespace

bool decode_section_header(const unsigned char* raw, SectionHeaderFields* out) {
  const bool swap = sectionNeedsSwap(raw[0]);
  SectionHeader h;
  decodeHeader(raw, swap, &h);
  // The library keeps the marker and the last word as stored; they are given
  // in the section's order here, as the others are.
  auto ordered = [swap](uint32_t word) { return swap ? swap32(word) : word; };
  out->byte_order = orderOf(swap);
  out->marker = ordered(h.field[kHdrByteOrder]);
  out->version = h.field[kHdrVersion];
  out->string_format = h.field[kHdrStringFormat];
  out->entries = h.field[kHdrEntryCount];
  out->directory = h.field[kHdrDirOffset];
  out->size = h.field[kHdrSectionSize];
  out->reserved[0] = h.field[kHdrReserved];
  out->reserved[1] = ordered(h.field[kHdrReserved + 1]);
  return isSectionHeader(raw);
}

Section Access::section(const SectionFacts& f, uint32_t entries, std::string name) {
  Section s;
  s.index_ = f.index;
  s.start_ = f.start;
  s.size_ = f.size;
  s.entries_ = entries;
  s.order_ = orderOf(f.swap);
  s.format_ = f.stringFormat == 0 ? StringFormat::Narrow : StringFormat::Utf16;
  s.name_ = std::move(name);
  return s;
}

// --- File ---

File File::open(std::string_view path) {
  return openAs(std::string(path), kRead);
}
File File::create(std::string_view path) {
  return openAs(std::string(path), kCreate);
}
File File::append(std::string_view path) {
  return openAs(std::string(path), kAppend);
}
File File::open_path(const std::filesystem::path& path, int mode) {
  // UTF-16 from the path's own encoding; UTF-8 for the messages.
  const std::u16string wide = path.u16string();
  return openAs(utf16ToUtf8(wide.data(), wide.size()),
                mode == 0   ? kRead
                : mode == 1 ? kCreate
                            : kAppend,
                &wide);
}

File::File(File&& other) noexcept : state_(std::move(other.state_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    end_quietly();
    state_ = std::move(other.state_);
    exceptions_ = std::uncaught_exceptions();
  }
  return *this;
}

File::~File() {
  end_quietly();
}

// A File that goes while an exception thrown since it was made unwinds
// abandons; otherwise it closes. Failures cannot be reported here.
void File::end_quietly() noexcept {
  try {
    if (std::uncaught_exceptions() > exceptions_)
      abandon();
    else
      close();
  } catch (...) {
    // the destructor closes only as a fallback and never throws
  }
}

void File::abandon() {
  if (!state_) return;
  Lock lock(library_mutex());
  if (!state_->open) return;
  state_->streams.clear();
  const int rc = releaseHandle(*state_, !state_->writer);
  if (rc != VelFile::kOk)
    failCode(state_->writer ? "file_Abandon" : "file_Close", rc, Where{state_.get(), nullptr, -1});
}

void File::close() {
  if (!state_) return;
  Lock lock(library_mutex());
  if (!state_->open) return;
  int filled = VelFile::kOk;
  const std::string unfinished = endStreams(*state_, &filled);
  const int rc = releaseHandle(*state_);
  const Where where{state_.get(), nullptr, -1};
  if (rc != VelFile::kOk) failCode("file_Close", rc, where);
  if (filled != VelFile::kOk) failCode("gdata_WriteDataClassData", filled, where);
  if (!unfinished.empty()) fail(Reason::Invalid, "File::close", where, unfinished);
}

bool File::is_open() const {
  if (!state_) return false;
  Lock lock(library_mutex());
  return state_->open;
}

const std::string& File::path() const {
  static const std::string kNone;
  return state_ ? state_->path : kNone;
}

bool File::writable() const {
  return state_ && state_->writer;
}

void* File::handle() const {
  Lock lock(library_mutex());
  checkOpen(state_.get(), nullptr, "File::handle");
  return state_->handle;
}

std::vector<Section> File::sections() const {
  Lock lock(library_mutex());
  checkOpen(state_.get(), nullptr, "File::sections");
  std::vector<Section> out;
  const uint32_t n = VelFile::file_ItemNbrGet(state_->handle);
  for (uint32_t i = 0; i < n; ++i) {
    SectionFacts facts;
    uint32_t entries = 0;
    if (!fileSectionFacts(state_->handle, i, &facts)) break;
    int rc = VelFile::file_ItemInfo(state_->handle, i, nullptr, nullptr, &entries, nullptr, nullptr, 0);
    const std::u16string name = rc == VelFile::kOk ? itemName(state_->handle, i, &rc) : std::u16string();
    if (rc != VelFile::kOk) failCode("file_ItemInfo", rc, Where{state_.get(), nullptr, -1});
    out.push_back(Access::section(facts, entries, fromStored(name, facts.swap)));
  }
  return out;
}

namespace {

// The section group of the section at index or starting at start (lock held).
Group sectionGroup(const std::shared_ptr<FileState>& st, bool byOffset, uint32_t key, std::string step,
                   const char* op) {
  checkOpen(st.get(), nullptr, op);
  const uint32_t n = VelFile::file_ItemNbrGet(st->handle);
  SectionFacts facts;
  bool found = false;
  for (uint32_t i = 0; i < n && !found; ++i)
    found = fileSectionFacts(st->handle, i, &facts) && (byOffset ? facts.start : i) == key;
  auto node = childNode(nullptr, std::move(step));
  if (!found)
    fail(Reason::NotFound, op, Where{st.get(), nullptr, -1},
         byOffset ? "has no section starting at " + std::to_string(key)
                  : "has no section " + std::to_string(key) + " (it has " + std::to_string(n) + ")");
  void* g = nullptr;
  const int rc = VelFile::file_GroupOpen(st->handle, &g, facts.start);
  if (rc != VelFile::kOk) failCode("file_GroupOpen", rc, Where{st.get(), node.get(), -1});
  return Access::group(st, g, node);
}

}  // namespace

Group File::section_group(uint32_t index) const {
  Lock lock(library_mutex());
  return sectionGroup(state_, false, index, std::to_string(index), "File::section_group");
}

Group File::group(std::string_view pathText) const {
  const std::string path(pathText);
  GroupPath parsed = parse_group_path(path);
  const size_t slash = [&] {
    for (size_t i = 0; i < path.size(); ++i)
      if (path[i] == '/') return i;
    return path.size();
  }();
  Group g;
  {
    Lock lock(library_mutex());
    g = sectionGroup(state_, parsed.by_offset, parsed.section, path.substr(0, slash), "File::group");
  }
  return slash < path.size() ? g.group(path.substr(slash + 1)) : g;
}

Group File::create_group(std::string_view name) {
  const char* op = "File::create_group";
  Lock lock(library_mutex());
  checkOpen(state_.get(), nullptr, op);
  const Where where{state_.get(), nullptr, -1};
  const std::u16string wide = toUtf16(std::string(name), op, where);
  checkGroupName(wide, op, where);
  if (!state_->writer) fail(Reason::ReadOnly, op, where, "was opened for reading; it takes no new section");
  Shared& sh = *sharedOf(state_->handle);
  if (sh.sectionMade)
    fail(Reason::ReadOnly, op, where,
         "has its new section already: a file takes one new section per opening; add groups under it");
  void* g = nullptr;
  const int rc = VelFile::file_GroupCreate(state_->handle, &g, 0, velText(wide));
  if (rc != VelFile::kOk) failCode("file_GroupCreate", rc, where);
  sh.sectionMade = true;
  SectionFacts facts;
  sectionFacts(g, &facts);
  return Access::group(state_, g, childNode(nullptr, std::to_string(facts.index)));
}

bool walk(const File& file, const WalkEnter& enter, const WalkLeave& leave, const WalkLimits& limits) {
  bool complete = true;
  const size_t n = file.sections().size();
  for (uint32_t i = 0; i < n; ++i) {
    Group root;
    WalkNode failed;
    try {
      root = file.section_group(i);
    } catch (const Error& e) {
      if (e.reason() == Reason::Closed) throw;
      failed.state = NodeState::Error;
      failed.reason = std::string("the section group cannot be opened: ") + e.what();
      failed.index = i;
      failed.node = childNode(nullptr, std::to_string(i));
      complete = false;
      enter(failed);
      if (leave) leave(failed);
      continue;
    }
    complete = walk(root, enter, leave, limits) && complete;
  }
  return complete;
}

}  // namespace velfile
