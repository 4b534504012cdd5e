// The C interface (velfile_c.h) over the C++ layer: a table of checked
// handles, statuses and error sentences, and the caller's buffers.
//
// Every call resolves its handles under the table's lock into copies of the
// layer's views, then calls the layer without that lock (the layer takes the
// library's lock itself), so a close on one thread and a read on another
// meet in the layer, which refuses the read with Reason::Closed.
#include <velfile/velfile_c.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <velfile/velfile.hpp>

#include "commands.h"
#include "exit_codes.h"

namespace {

using velfile::Value;
using Values = std::vector<std::pair<std::string, Value>>;

enum Kind : uint8_t { kNone = 0, kFile, kGroup, kItem, kData, kDescriptor, kWriter };
const char* const kKindNames[] = {"no", "file", "group", "item", "data group", "descriptor", "writer"};

// A file and what its handles share: the last failure on any of them.
struct FileRec {
  velfile::File file;
  std::mutex mutex;  // guards lastError
  std::string lastError;
  std::vector<uint64_t> children;  // handles made for this file (some may be released)
};

// A descriptor: its module (fixed) and its values, which calls from several
// threads may read and set at once.
struct DescRec {
  const velfile::ModuleSchema* schema = nullptr;
  std::mutex mutex;  // guards values
  Values values;
};

// A data group being written line by line: the layer's writer and the
// size of a line, kept together for calls from several threads.
struct WriterRec {
  std::mutex mutex;  // guards writer
  velfile::DataWriter writer;
  uint32_t type = 0;  // of the samples
};

// What a call works on: a handle's views, copied out of the table.
struct Target {
  std::shared_ptr<FileRec> file;
  velfile::Group group;
  velfile::Item item;
  bool isItem = false;  // item holds an item
  velfile::DataGroup data;
  std::shared_ptr<DescRec> desc;
  std::shared_ptr<WriterRec> writer;
};

struct Slot {
  uint32_t generation = 1;
  Kind kind = kNone;
  bool used = false;
  std::string closedFile;  // set when its file's close released it, until the slot is reused
  Target views;
};

// Handle: kind (8 bits), generation (24 bits), slot (32 bits); never 0.
uint64_t encode(Kind kind, uint32_t generation, uint32_t slot) {
  return (uint64_t(kind) << 56) | (uint64_t(generation & 0xFFFFFF) << 32) | slot;
}

class Table {
 public:
  uint64_t add(Kind kind, Target views) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t index;
    // Freed slots are reused oldest first, so that a stale handle stays
    // recognisable (and its file's close explainable) for long.
    if (free_.size() > 64) {
      index = free_.front();
      free_.pop_front();
    } else {
      index = uint32_t(slots_.size());
      slots_.emplace_back();
    }
    Slot& s = slots_[index];
    s.kind = kind;
    s.used = true;
    s.closedFile.clear();
    s.views = std::move(views);
    s.views.isItem = kind == kItem;
    const uint64_t h = encode(kind, s.generation, index);
    if (kind != kFile && s.views.file) noteChild(*s.views.file, h);
    return h;
  }

  // Copies the views of a handle of one kind; else a status and its text.
  velfile_status find(uint64_t h, Kind kind, Target* out, std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t index = uint32_t(h);
    const Kind hk = Kind(h >> 56);
    const char* want = kKindNames[kind];
    if (h == 0) return *why = std::string("a null ") + want + " handle", VELFILE_BAD_HANDLE;
    if (hk > kWriter || index >= slots_.size())
      return *why = "not a handle of this library", VELFILE_BAD_HANDLE;
    const Slot& s = slots_[index];
    if (hk != kind)
      return *why = std::string("a ") + kKindNames[hk] + " handle, not a " + want + " handle",
             VELFILE_BAD_HANDLE;
    if (!s.used || (s.generation & 0xFFFFFF) != ((h >> 32) & 0xFFFFFF)) {
      if (!s.used && !s.closedFile.empty() && encode(hk, s.generation - 1, index) == h)
        return *why = std::string("a ") + want + " handle of file '" + s.closedFile + "', which was closed",
               VELFILE_CLOSED;
      return *why = std::string("a ") + want + " handle that was released (or its file closed)",
             VELFILE_BAD_HANDLE;
    }
    *out = s.views;
    return VELFILE_OK;
  }

  // Frees a handle's slot; closedFile is the path of the file whose close
  // frees it, or empty.
  void release(uint64_t h, const std::string& closedFile = std::string()) {
    std::lock_guard<std::mutex> lock(mutex_);
    releaseLocked(h, closedFile);
  }

  // Frees a file's slot and those of its handles.
  void releaseFile(uint64_t h, FileRec& rec, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint64_t c : rec.children) releaseLocked(c, path);
    rec.children.clear();
    releaseLocked(h, path);
  }

 private:
  void releaseLocked(uint64_t h, const std::string& closedFile) {
    const uint32_t index = uint32_t(h);
    if (index >= slots_.size()) return;
    Slot& s = slots_[index];
    if (!s.used || encode(s.kind, s.generation, index) != h) return;
    const uint32_t next = (s.generation + 1) & 0xFFFFFF;
    s = Slot();
    s.generation = next ? next : 1;
    s.closedFile = closedFile;
    free_.push_back(index);
  }
  // Records a child of a file, dropping released ones now and then so that
  // the list follows the live handles, not every handle ever made.
  void noteChild(FileRec& rec, uint64_t h) {
    std::vector<uint64_t>& c = rec.children;
    if (c.size() >= 64 && (c.size() & (c.size() - 1)) == 0)
      c.erase(std::remove_if(c.begin(), c.end(),
                             [&](uint64_t x) {
                               const Slot& s = slots_[uint32_t(x)];
                               return !s.used || encode(s.kind, s.generation, uint32_t(x)) != x;
                             }),
              c.end());
    c.push_back(h);
  }

  std::mutex mutex_;
  std::deque<Slot> slots_;
  std::deque<uint32_t> free_;
};

Table& table() {
  static Table* t = new Table();  // never freed: handles may be used until the process ends
  return *t;
}

thread_local std::string tlsError;

// Keeps a failure's sentence for the thread and for the file.
velfile_status failed(const std::shared_ptr<FileRec>& file, velfile_status status, const std::string& text) {
  tlsError = text;
  if (file) {
    std::lock_guard<std::mutex> lock(file->mutex);
    file->lastError = text;
  }
  return status;
}

// Where a call on a handle applies, for its sentence: " (file 'x', group
// 'y')", or empty. Never throws (it runs in the handlers of guard()).
std::string where(const Target& t) noexcept {
  try {
    std::string s;
    if (t.file) s += " (file '" + t.file->file.path() + "'";
    if (t.group.valid()) s += std::string(t.file ? ", " : " (") + "group '" + t.group.path() + "'";
    if (t.isItem) s += ", item " + std::to_string(t.item.id());
    if (!s.empty()) s += ")";
    return s;
  } catch (...) {
    return std::string();
  }
}

// The status and sentence of the exception being handled. Never throws:
// when even the sentence finds no memory, the status goes back alone.
velfile_status failCurrent(const char* call, const Target& t) noexcept {
  velfile_status status = VELFILE_IO;
  try {
    try {
      throw;
    } catch (const velfile::Error& e) {
      status = velfile_status(static_cast<int>(e.reason()));
      return failed(t.file, status, e.what());
    } catch (const std::bad_alloc&) {
      status = VELFILE_MEMORY;
      return failed(t.file, status, std::string(call) + ": not enough memory" + where(t));
    } catch (const std::exception& e) {
      return failed(t.file, status, std::string(call) + ": " + e.what() + where(t));
    }
  } catch (...) {
    return status;
  }
}

// Runs a call's body, turning what it throws into a status.
template <class F>
velfile_status guard(const char* call, const Target& t, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failCurrent(call, t);
  }
}

// Resolves a handle, or records why it cannot be used.
velfile_status resolve(const char* call, uint64_t h, Kind kind, Target* out) {
  std::string why;
  const velfile_status s = table().find(h, kind, out, &why);
  return s == VELFILE_OK ? s : failed(nullptr, s, std::string(call) + ": " + why);
}

// A call on a handle of a kind: resolves it and runs body(t), turning
// what it throws into a status.
template <class Body>
velfile_status on(const char* call, uint64_t h, Kind kind, Body&& body) noexcept {
  return guard(call, Target(), [&]() -> velfile_status {
    Target t;
    const velfile_status s = resolve(call, h, kind, &t);
    return s != VELFILE_OK ? s : guard(call, t, [&]() -> velfile_status { return body(t); });
  });
}

velfile_status nullArgument(const char* call, const Target& t, const char* name) {
  return failed(t.file, VELFILE_INVALID, std::string(call) + ": " + name + " is NULL" + where(t));
}

velfile_status tooSmall(const char* call, const Target& t, size_t length, size_t needed, const char* unit,
                        const std::string& what) {
  return failed(t.file, VELFILE_BUFFER_TOO_SMALL,
                std::string(call) + ": the buffer of " + std::to_string(length) + " " + unit +
                    " is too small for " + what + ", which takes " + std::to_string(needed) + where(t));
}

// Copies text with its terminator; a short buffer gets what fits, cut at a
// character boundary. record: whether a short buffer counts as a failure.
velfile_status putText(const char* call, const Target& t, const std::string& text, char* buffer,
                       size_t length, size_t* needed, bool record = true) {
  const size_t n = text.size() + 1;
  if (needed) *needed = n;
  if (!buffer) return length == 0 ? VELFILE_OK : nullArgument(call, t, "the buffer");
  if (length >= n) {
    std::memcpy(buffer, text.c_str(), n);
    return VELFILE_OK;
  }
  if (length > 0) {
    size_t cut = length - 1;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    std::memcpy(buffer, text.data(), cut);
    buffer[cut] = '\0';
  }
  return record ? tooSmall(call, t, length, n, "bytes", "the text") : VELFILE_BUFFER_TOO_SMALL;
}

template <class E>
velfile_status putArray(const char* call, const Target& t, const std::vector<E>& v, E* buffer, size_t length,
                        size_t* needed, const std::string& what) {
  if (needed) *needed = v.size();
  if (!buffer && length == 0) return VELFILE_OK;
  if (length < v.size()) return tooSmall(call, t, length, v.size(), "elements", what);
  if (!buffer) return nullArgument(call, t, "the buffer");
  if (!v.empty()) std::memcpy(buffer, v.data(), v.size() * sizeof(E));
  return VELFILE_OK;
}

// A new handle for a view of a file.
template <class Fill>
uint64_t child(Kind kind, const Target& t, Fill fill) {
  Target v;
  v.file = t.file;
  fill(v);
  return table().add(kind, std::move(v));
}

// Hands out a new handle of a group of the file.
velfile_status giveGroup(const Target& t, const velfile::Group& g, velfile_group* out) {
  *out = child(kGroup, t, [&](Target& s) { s.group = g; });
  return VELFILE_OK;
}

size_t elementSize(int type) {
  switch (type) {
    case VELFILE_TYPE_INT8:
    case VELFILE_TYPE_UINT8:
    case VELFILE_TYPE_RAW:
      return 1;
    case VELFILE_TYPE_INT16:
    case VELFILE_TYPE_UINT16:
      return 2;
    case VELFILE_TYPE_INT32:
    case VELFILE_TYPE_UINT32:
    case VELFILE_TYPE_FLOAT32:
      return 4;
    case VELFILE_TYPE_QUAD8:
    case VELFILE_TYPE_QUAD9:
    case VELFILE_TYPE_FLOAT64:
      return 8;
    default:
      return 0;
  }
}

velfile::Range range(uint32_t start, uint32_t count) {
  return velfile::Range{start, count};
}

// The indices each range takes along its axis (second, first, samples),
// from the shape alone: a read checks the data itself, and measuring by the
// layer's bytes_needed() would walk the point table once more. A range
// outside its axis goes to the layer, which refuses it with its sentence.
std::array<uint64_t, 3> extents(const velfile::DataGroup& d, const std::array<velfile::Range, 3>& r) {
  const auto shape = d.shape();
  std::array<uint64_t, 3> out{};
  for (size_t i = 0; i < 3; ++i) {
    const uint64_t n = shape[i], start = r[i].start;
    out[i] = r[i].count == VELFILE_ALL ? (start <= n ? n - start : 0) : r[i].count;
    if (start > n || start + out[i] > n) d.bytes_needed(r[0], r[1], r[2]);
  }
  return out;
}

// The checked null pointer of an out argument.
#define VELFILE_NEED(p, t)                      \
  do {                                          \
    if (!(p)) return nullArgument(call, t, #p); \
  } while (0)

// Resolves handle h of a kind into Target t, or returns its status.
#define VELFILE_RESOLVE(h, kind, t)                       \
  Target t;                                               \
  do {                                                    \
    const velfile_status s_ = resolve(call, h, kind, &t); \
    if (s_ != VELFILE_OK) return s_;                      \
  } while (0)

// A text argument: not NULL (UTF-8 is checked by the layer).
#define VELFILE_TEXT_ARG(p, t) VELFILE_NEED(p, t)

velfile_status openWith(const char* call, velfile::File (*how)(std::string_view), const char* path,
                        velfile_file* file) {
  Target none;
  VELFILE_NEED(path, none);
  VELFILE_NEED(file, none);
  return guard(call, Target(), [&] {
    auto rec = std::make_shared<FileRec>();
    rec->file = how(path);
    Target s;
    s.file = rec;
    *file = table().add(kFile, std::move(s));
    return VELFILE_OK;
  });
}

velfile_status endFile(const char* call, velfile_file file, bool abandon) {
  VELFILE_RESOLVE(file, kFile, t);
  const std::string path = t.file->file.path();
  table().releaseFile(file, *t.file, path);
  return guard(call, Target(), [&] {
    if (abandon)
      t.file->file.abandon();
    else
      t.file->file.close();
    return VELFILE_OK;
  });
}

const char* kindName(const Value& v) {
  switch (v.index()) {
    case 0:
    case 1:
      return "a number";
    case 2:
      return "text";
    default:
      return "an array";
  }
}

// A field's value held by a descriptor; null with the status's text recorded.
const Value* heldValue(const char* call, const Target& t, const char* field, velfile_status* status) {
  for (const auto& nv : t.desc->values)
    if (nv.first == field) return &nv.second;
  const bool known = std::any_of(t.desc->schema->fields.begin(), t.desc->schema->fields.end(),
                                 [&](const velfile::Field& f) { return f.name == field; });
  *status = failed(nullptr, VELFILE_NOT_FOUND,
                   std::string(call) + ": the " + t.desc->schema->name + " descriptor " +
                       (known ? "holds no value for field '" + std::string(field) +
                                    "' (a new descriptor holds only the fields set)"
                              : "has no field '" + std::string(field) + "'"));
  return nullptr;
}

velfile_status wrongKind(const char* call, const Target& t, const char* field, const Value& v,
                         const char* asked) {
  return failed(nullptr, VELFILE_WRONG_TYPE,
                std::string(call) + ": field '" + field + "' of the " + t.desc->schema->name +
                    " descriptor holds " + kindName(v) + ", not " + asked);
}

velfile_status setField(const char* call, velfile_descriptor d, const char* field, Value v) {
  VELFILE_RESOLVE(d, kDescriptor, t);
  VELFILE_TEXT_ARG(field, t);
  const auto& fields = t.desc->schema->fields;
  if (std::none_of(fields.begin(), fields.end(), [&](const velfile::Field& f) { return f.name == field; }))
    return failed(nullptr, VELFILE_NOT_FOUND,
                  std::string(call) + ": module '" + t.desc->schema->name + "' has no field '" + field + "'");
  return guard(call, Target(), [&] {
    std::lock_guard<std::mutex> lock(t.desc->mutex);
    for (auto& nv : t.desc->values)
      if (nv.first == field) return nv.second = std::move(v), VELFILE_OK;
    t.desc->values.emplace_back(field, std::move(v));
    return VELFILE_OK;
  });
}

// The bytes of count samples of a type; else the status of a type that is
// no type of samples, or of a count too large for memory.
velfile_status samplesBytes(const char* call, const Target& t, uint32_t type, size_t count, size_t* bytes) {
  const size_t size = elementSize(int(type));
  if (!size)
    return failed(t.file, VELFILE_INVALID,
                  std::string(call) + ": sample type " + velfile::type_name(uint16_t(type)) +
                      " is not a type of samples" + where(t));
  if (count > SIZE_MAX / size)
    return failed(
        t.file, VELFILE_INVALID,
        std::string(call) + ": " + std::to_string(count) + " samples do not fit in memory" + where(t));
  *bytes = count * size;
  return VELFILE_OK;
}

// The layer's markers of a mask of 1 (data) and 0 (no data) per point.
std::vector<uint8_t> markersOf(const uint8_t* hasData, size_t points) {
  std::vector<uint8_t> markers(points);
  for (size_t i = 0; i < points; ++i) markers[i] = hasData[i] ? gdata_kPointHasData : 0;
  return markers;
}

// The layout as the layer's class 1 descriptor.
CGDataTypeFDD descriptorOf(const velfile_data_layout& l) {
  CGDataTypeFDD d;
  d.dataClass = 1;
  d.secondPointCount = int32_t(l.second_count);
  d.firstPointCount = int32_t(l.first_count);
  d.SetDataType(static_cast<zor_enumDataType>(l.sample_type));
  d.SetSampleQty(l.sample_count);
  d.secondAxisFactor = l.second_factor;
  d.secondAxisOffset = l.second_offset;
  d.firstAxisFactor = l.first_factor;
  d.firstAxisOffset = l.first_offset;
  d.sampleAxisFactor = l.sample_factor;
  d.sampleAxisOffset = l.sample_offset;
  return d;
}

}  // namespace

extern "C" {

const char* velfile_version(void) {
  return VELFILE_VERSION;
}

const char* velfile_status_name(int status) {
  if (status == VELFILE_OK) return "Ok";
  if (status > VELFILE_OK && status < VELFILE_BAD_HANDLE)
    return velfile::reason_name(static_cast<velfile::Reason>(status));
  if (status == VELFILE_BAD_HANDLE) return "BadHandle";
  if (status == VELFILE_BUFFER_TOO_SMALL) return "BufferTooSmall";
  return "Unknown";
}

velfile_status velfile_last_error(char* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    return putText(call, Target(), tlsError, buffer, length, needed, false);
  });
}

velfile_status velfile_file_last_error(velfile_file file, char* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, file, kFile, [&](Target& t) -> velfile_status {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(t.file->mutex);
      text = t.file->lastError;
    }
    return putText(call, t, text, buffer, length, needed, false);
  });
}

velfile_status velfile_open(const char* path, velfile_file* file) {
  const char* const call = __func__;
  return guard(call, Target(),
               [&]() -> velfile_status { return openWith(call, &velfile::File::open, path, file); });
}

velfile_status velfile_create(const char* path, velfile_file* file) {
  const char* const call = __func__;
  return guard(call, Target(),
               [&]() -> velfile_status { return openWith(call, &velfile::File::create, path, file); });
}

velfile_status velfile_append(const char* path, velfile_file* file) {
  const char* const call = __func__;
  return guard(call, Target(),
               [&]() -> velfile_status { return openWith(call, &velfile::File::append, path, file); });
}

velfile_status velfile_close(velfile_file file) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status { return endFile(call, file, false); });
}

velfile_status velfile_abandon(velfile_file file) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status { return endFile(call, file, true); });
}

velfile_status velfile_release(uint64_t handle) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    const Kind kind = Kind(handle >> 56);
    if (kind == kFile)
      return failed(nullptr, VELFILE_INVALID,
                    std::string(call) + ": a file handle is closed with velfile_close()");
    VELFILE_RESOLVE(handle, kind >= kGroup && kind <= kWriter ? kind : kGroup, t);
    table().release(handle);
    return VELFILE_OK;
  });
}

velfile_status velfile_section_count(velfile_file file, uint32_t* count) {
  const char* const call = __func__;
  return on(call, file, kFile, [&](Target& t) -> velfile_status {
    VELFILE_NEED(count, t);
    *count = uint32_t(t.file->file.sections().size());
    return VELFILE_OK;
  });
}

velfile_status velfile_section(velfile_file file, uint32_t index, velfile_section_info* info,
                               velfile_group* group) {
  const char* const call = __func__;
  return on(call, file, kFile, [&](Target& t) -> velfile_status {
    const velfile::Group g = t.file->file.section_group(index);
    if (info) {
      const velfile::Section s = g.section();
      *info = velfile_section_info{s.index(),
                                   s.start(),
                                   s.size(),
                                   s.entries(),
                                   s.byte_order() == velfile::ByteOrder::Big ? 1u : 0u,
                                   s.string_format() == velfile::StringFormat::Utf16 ? 1u : 0u};
    }
    return group ? giveGroup(t, g, group) : VELFILE_OK;
  });
}

velfile_status velfile_create_section(velfile_file file, const char* name, velfile_group* group) {
  const char* const call = __func__;
  return on(call, file, kFile, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(name, t);
    VELFILE_NEED(group, t);
    const velfile::Group g = t.file->file.create_group(name);
    return giveGroup(t, g, group);
  });
}

velfile_status velfile_group_by_path(velfile_file file, const char* path, velfile_group* group) {
  const char* const call = __func__;
  return on(call, file, kFile, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(path, t);
    VELFILE_NEED(group, t);
    const velfile::Group g = t.file->file.group(path);
    return giveGroup(t, g, group);
  });
}

velfile_status velfile_group_sub(velfile_group group, const char* relative, velfile_group* sub) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(relative, t);
    VELFILE_NEED(sub, t);
    const velfile::Group g = t.group.group(relative);
    return giveGroup(t, g, sub);
  });
}

velfile_status velfile_group_name(velfile_group group, char* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    return guard(call, t, [&] { return putText(call, t, t.group.name(), buffer, length, needed); });
  });
}

velfile_status velfile_group_path(velfile_group group, char* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    return guard(call, t, [&] { return putText(call, t, t.group.path(), buffer, length, needed); });
  });
}

velfile_status velfile_group_walk(velfile_group group, uint32_t max_depth, velfile_group* groups,
                                  size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    velfile::WalkLimits limits;
    if (max_depth < 1 || max_depth > uint32_t(limits.max_depth))
      return failed(t.file, VELFILE_INVALID,
                    std::string(call) + ": max_depth " + std::to_string(max_depth) + " is not within 1 to " +
                        std::to_string(limits.max_depth) + where(t));
    limits.max_depth = int(max_depth);
    std::vector<velfile::Group> found;
    velfile::walk(
        t.group,
        [&](const velfile::WalkNode& n) {
          if (n.depth > 0 && n.state == velfile::NodeState::Open) found.push_back(n.group);
          return n.depth < int(max_depth);
        },
        velfile::WalkLeave(), limits);
    if (needed) *needed = found.size();
    if (!groups && length == 0) return VELFILE_OK;
    if (length < found.size()) return tooSmall(call, t, length, found.size(), "handles", "the groups");
    if (!groups) return nullArgument(call, t, "groups");
    for (size_t i = 0; i < found.size(); ++i)
      groups[i] = child(kGroup, t, [&](Target& s) { s.group = found[i]; });
    return VELFILE_OK;
  });
}

velfile_status velfile_group_create(velfile_group parent, const char* name, uint16_t id,
                                    velfile_group* group) {
  const char* const call = __func__;
  return on(call, parent, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(name, t);
    VELFILE_NEED(group, t);
    const velfile::Group g = t.group.create_group(name, id);
    return giveGroup(t, g, group);
  });
}

velfile_status velfile_group_set_name(velfile_group group, const char* name) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(name, t);
    t.group.set_name(name);
    return VELFILE_OK;
  });
}

velfile_status velfile_item_count(velfile_group group, uint32_t* count) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_NEED(count, t);
    *count = t.group.item_count();
    return VELFILE_OK;
  });
}

velfile_status velfile_item_at(velfile_group group, uint32_t index, velfile_item* item) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_NEED(item, t);
    const velfile::Item it = t.group.item_at(index);
    *item = child(kItem, t, [&](Target& s) { s.group = t.group, s.item = it; });
    return VELFILE_OK;
  });
}

velfile_status velfile_item_by_id(velfile_group group, uint16_t id, velfile_item* item) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_NEED(item, t);
    const velfile::Item it = t.group.item(id);
    *item = child(kItem, t, [&](Target& s) { s.group = t.group, s.item = it; });
    return VELFILE_OK;
  });
}

velfile_status velfile_item_info(velfile_item item, uint16_t* id, uint16_t* type, uint32_t* count) {
  const char* const call = __func__;
  return on(call, item, kItem, [&](Target& t) -> velfile_status {
    if (id) *id = t.item.id();
    if (type) *type = t.item.type();
    if (count) *count = t.item.count();
    return VELFILE_OK;
  });
}

velfile_status velfile_item_read(velfile_item item, int type, void* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, item, kItem, [&](Target& t) -> velfile_status {
    if (type < VELFILE_TYPE_INT8 || type > VELFILE_TYPE_RAW || type == VELFILE_TYPE_UTF16)
      return failed(t.file, VELFILE_WRONG_TYPE,
                    std::string(call) + ": item " + std::to_string(t.item.id()) + " cannot be read as " +
                        velfile::type_name(uint16_t(type)) +
                        " elements: ask for a number type (text: velfile_item_text())" + where(t));
    // The count is told only of a value that lies inside its section, and
    // text or a group reference is refused as numbers, by the layer.
    if (t.item.out_of_line()) t.item.extent();
    const uint16_t stored = t.item.type();
    if (stored == VELFILE_TYPE_GROUP || stored == VELFILE_TYPE_NARROW || stored == VELFILE_TYPE_UTF16)
      velfile::visit_type(uint16_t(type), [&](auto tag) { t.item.as<std::vector<decltype(tag)>>(); });
    const size_t count = t.item.count();
    if (needed) *needed = count;
    if (!buffer && length == 0) return VELFILE_OK;
    if (length < count)
      return tooSmall(call, t, length, count, "elements",
                      "the elements of item " + std::to_string(t.item.id()));
    if (!buffer) return nullArgument(call, t, "buffer");
    return velfile::visit_type(uint16_t(type), [&](auto tag) {
      using E = decltype(tag);
      t.item.as<E>(static_cast<E*>(buffer), count);  // the layer's conversion rule
      return VELFILE_OK;
    });
  });
}

velfile_status velfile_item_text(velfile_item item, char* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, item, kItem, [&](Target& t) -> velfile_status {
    return guard(call, t, [&] { return putText(call, t, t.item.text(), buffer, length, needed); });
  });
}

velfile_status velfile_item_write(velfile_group group, uint16_t id, int type, const void* data,
                                  uint32_t count) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    if (count) VELFILE_NEED(data, t);
    t.group.write_item(id, uint16_t(type), data, count);
    return VELFILE_OK;
  });
}

velfile_status velfile_item_write_text(velfile_group group, uint16_t id, const char* text) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(text, t);
    t.group.write_text(id, text);
    return VELFILE_OK;
  });
}

velfile_status velfile_module_count(uint32_t* count) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    VELFILE_NEED(count, Target());
    *count = uint32_t(velfile::modules().size());
    return VELFILE_OK;
  });
}

velfile_status velfile_module_name(uint32_t index, char* buffer, size_t length, size_t* needed) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    const auto& all = velfile::modules();
    if (index >= all.size())
      return failed(nullptr, VELFILE_NOT_FOUND,
                    std::string(call) + ": there is no module " + std::to_string(index) + " (there are " +
                        std::to_string(all.size()) + ")");
    return putText(call, Target(), all[index].name, buffer, length, needed);
  });
}

velfile_status velfile_descriptor_read(velfile_group group, const char* module,
                                       velfile_descriptor* descriptor) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(module, t);
    VELFILE_NEED(descriptor, t);
    auto d = std::make_shared<DescRec>();
    d->schema = &velfile::find_module(module);
    d->values = t.group.read_descriptor(module);
    Target s;
    s.desc = std::move(d);
    *descriptor = table().add(kDescriptor, std::move(s));
    return VELFILE_OK;
  });
}

velfile_status velfile_descriptor_new(const char* module, velfile_descriptor* descriptor) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    VELFILE_TEXT_ARG(module, Target());
    VELFILE_NEED(descriptor, Target());
    return guard(call, Target(), [&] {
      auto d = std::make_shared<DescRec>();
      d->schema = &velfile::find_module(module);
      Target s;
      s.desc = std::move(d);
      *descriptor = table().add(kDescriptor, std::move(s));
      return VELFILE_OK;
    });
  });
}

velfile_status velfile_descriptor_write(velfile_group group, velfile_descriptor descriptor) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_RESOLVE(descriptor, kDescriptor, d);
    Values values;
    {
      std::lock_guard<std::mutex> lock(d.desc->mutex);
      values = d.desc->values;
    }
    t.group.write_descriptor(d.desc->schema->name, values);
    return VELFILE_OK;
  });
}

velfile_status velfile_descriptor_field_count(velfile_descriptor descriptor, uint32_t* count) {
  const char* const call = __func__;
  return on(call, descriptor, kDescriptor, [&](Target& t) -> velfile_status {
    VELFILE_NEED(count, t);
    *count = uint32_t(t.desc->schema->fields.size());
    return VELFILE_OK;
  });
}

velfile_status velfile_descriptor_field(velfile_descriptor descriptor, uint32_t index, char* name,
                                        size_t length, size_t* needed, int* kind, uint32_t* capacity) {
  const char* const call = __func__;
  return on(call, descriptor, kDescriptor, [&](Target& t) -> velfile_status {
    const auto& fields = t.desc->schema->fields;
    if (index >= fields.size())
      return failed(nullptr, VELFILE_NOT_FOUND,
                    std::string(call) + ": module '" + t.desc->schema->name + "' has no field " +
                        std::to_string(index) + " (it has " + std::to_string(fields.size()) + ")");
    const velfile::Field& f = fields[index];
    const bool text = f.type == VELFILE_TYPE_NARROW || f.type == VELFILE_TYPE_UTF16;
    if (kind)
      *kind = text                                                               ? VELFILE_FIELD_TEXT
              : f.count != 1                                                     ? VELFILE_FIELD_ARRAY
              : f.type == VELFILE_TYPE_FLOAT32 || f.type == VELFILE_TYPE_FLOAT64 ? VELFILE_FIELD_REAL
                                                                                 : VELFILE_FIELD_INTEGER;
    if (capacity) *capacity = f.count;
    return putText(call, t, f.name, name, length, needed);
  });
}

velfile_status velfile_descriptor_get_number(velfile_descriptor descriptor, const char* field,
                                             double* value) {
  const char* const call = __func__;
  return on(call, descriptor, kDescriptor, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(field, t);
    VELFILE_NEED(value, t);
    std::lock_guard<std::mutex> lock(t.desc->mutex);
    velfile_status status = VELFILE_OK;
    const Value* v = heldValue(call, t, field, &status);
    if (!v) return status;
    if (const int64_t* i = std::get_if<int64_t>(v)) return *value = double(*i), VELFILE_OK;
    if (const double* r = std::get_if<double>(v)) return *value = *r, VELFILE_OK;
    return wrongKind(call, t, field, *v, "a number");
  });
}

velfile_status velfile_descriptor_get_text(velfile_descriptor descriptor, const char* field, char* buffer,
                                           size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, descriptor, kDescriptor, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(field, t);
    std::lock_guard<std::mutex> lock(t.desc->mutex);
    velfile_status status = VELFILE_OK;
    const Value* v = heldValue(call, t, field, &status);
    if (!v) return status;
    const std::string* s = std::get_if<std::string>(v);
    if (!s) return wrongKind(call, t, field, *v, "text");
    return putText(call, t, *s, buffer, length, needed);
  });
}

velfile_status velfile_descriptor_get_array(velfile_descriptor descriptor, const char* field, double* values,
                                            size_t length, size_t* needed) {
  const char* const call = __func__;
  return on(call, descriptor, kDescriptor, [&](Target& t) -> velfile_status {
    VELFILE_TEXT_ARG(field, t);
    std::lock_guard<std::mutex> lock(t.desc->mutex);
    velfile_status status = VELFILE_OK;
    const Value* v = heldValue(call, t, field, &status);
    if (!v) return status;
    const std::vector<double>* a = std::get_if<std::vector<double>>(v);
    if (!a) return wrongKind(call, t, field, *v, "an array");
    return putArray(call, t, *a, values, length, needed, "field '" + std::string(field) + "'");
  });
}

velfile_status velfile_descriptor_set_number(velfile_descriptor descriptor, const char* field, double value) {
  const char* const call = __func__;
  return guard(call, Target(),
               [&]() -> velfile_status { return setField(call, descriptor, field, Value(value)); });
}

velfile_status velfile_descriptor_set_text(velfile_descriptor descriptor, const char* field,
                                           const char* text) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    if (!text) return failed(nullptr, VELFILE_INVALID, std::string(call) + ": text is NULL");
    return setField(call, descriptor, field, Value(std::string(text)));
  });
}

velfile_status velfile_descriptor_set_array(velfile_descriptor descriptor, const char* field,
                                            const double* values, size_t count) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    if (!values && count) return failed(nullptr, VELFILE_INVALID, std::string(call) + ": values is NULL");
    return setField(call, descriptor, field, Value(std::vector<double>(values, values + count)));
  });
}

velfile_status velfile_data_open(velfile_group group, velfile_data* data) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_NEED(data, t);
    const velfile::DataGroup d = t.group.data();
    *data = child(kData, t, [&](Target& s) { s.group = t.group, s.data = d; });
    return VELFILE_OK;
  });
}

velfile_status velfile_data_layout_of(velfile_data data, velfile_data_layout* layout, int32_t* data_class) {
  const char* const call = __func__;
  return on(call, data, kData, [&](Target& t) -> velfile_status {
    VELFILE_NEED(layout, t);
    const auto shape = t.data.shape();
    const auto axes = t.data.axes();
    *layout = velfile_data_layout{shape[0],       shape[1],       shape[2],       t.data.sample_type(),
                                  axes[0].factor, axes[0].offset, axes[1].factor, axes[1].offset,
                                  axes[2].factor, axes[2].offset};
    if (data_class) *data_class = t.data.data_class();
    return VELFILE_OK;
  });
}

velfile_status velfile_data_has_data(velfile_data data, uint32_t second_start, uint32_t second_count,
                                     uint32_t first_start, uint32_t first_count, uint8_t* mask, size_t length,
                                     size_t* needed) {
  const char* const call = __func__;
  return on(call, data, kData, [&](Target& t) -> velfile_status {
    const velfile::Range second = range(second_start, second_count), first = range(first_start, first_count);
    const velfile::Range none{0, 0};
    const auto n = extents(t.data, {second, first, none});
    const uint64_t points = n[0] * n[1];
    if (needed) *needed = size_t(points);
    if (!mask && length == 0) return VELFILE_OK;
    if (length < points) return tooSmall(call, t, length, size_t(points), "bytes", "the points' marks");
    if (!mask) return nullArgument(call, t, "mask");
    uint8_t unused = 0;
    t.data.read(&unused, 0, mask, second, first, none);
    for (uint64_t i = 0; i < points; ++i) mask[i] = mask[i] >= gdata_kPointHasData ? 1 : 0;
    return VELFILE_OK;
  });
}

velfile_status velfile_data_read(velfile_data data, uint32_t second_start, uint32_t second_count,
                                 uint32_t first_start, uint32_t first_count, uint32_t sample_start,
                                 uint32_t sample_count, int type, void* buffer, size_t length,
                                 size_t* needed) {
  const char* const call = __func__;
  return on(call, data, kData, [&](Target& t) -> velfile_status {
    const velfile::Range second = range(second_start, second_count), first = range(first_start, first_count),
                         samples = range(sample_start, sample_count);
    const auto n = extents(t.data, {second, first, samples});
    const bool same = type == t.data.sample_type();
    if (!same && (type < VELFILE_TYPE_INT8 || type > VELFILE_TYPE_RAW || type == VELFILE_TYPE_UTF16))
      return failed(t.file, VELFILE_WRONG_TYPE,
                    std::string(call) + ": the samples cannot be read as " +
                        velfile::type_name(uint16_t(type)) + " elements: ask for a number type" + where(t));
    const uint64_t elements = n[0] * n[1] * n[2];
    if (needed) *needed = size_t(elements);
    if (!buffer && length == 0) return VELFILE_OK;
    if (length < elements) return tooSmall(call, t, length, size_t(elements), "elements", "the range");
    if (!buffer) return nullArgument(call, t, "buffer");
    if (same) {  // straight into the caller's buffer
      t.data.read(buffer, size_t(elements * t.data.element_size()), nullptr, second, first, samples);
      return VELFILE_OK;
    }
    return velfile::visit_type(uint16_t(type), [&](auto tag) {
      using E = decltype(tag);
      const std::vector<E> v = t.data.read_as<E>(nullptr, second, first, samples);  // the conversion rule
      if (!v.empty()) std::memcpy(buffer, v.data(), v.size() * sizeof(E));
      return VELFILE_OK;
    });
  });
}

velfile_status velfile_data_write(velfile_group group, const velfile_data_layout* layout, const void* samples,
                                  size_t count, const uint8_t* has_data, size_t points, velfile_data* data) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_NEED(layout, t);
    if (count) VELFILE_NEED(samples, t);
    if (points) VELFILE_NEED(has_data, t);
    size_t bytes = 0;
    const velfile_status ok = samplesBytes(call, t, layout->sample_type, count, &bytes);
    if (ok != VELFILE_OK) return ok;
    const std::vector<uint8_t> markers = markersOf(has_data, points);
    const velfile::DataGroup d =
        t.group.write_data(descriptorOf(*layout), samples, bytes, points ? markers.data() : nullptr, points);
    if (data) *data = child(kData, t, [&](Target& s) { s.group = t.group, s.data = d; });
    return VELFILE_OK;
  });
}

velfile_status velfile_writer_begin(velfile_group group, const velfile_data_layout* layout,
                                    velfile_writer* writer) {
  const char* const call = __func__;
  return on(call, group, kGroup, [&](Target& t) -> velfile_status {
    VELFILE_NEED(layout, t);
    VELFILE_NEED(writer, t);
    auto rec = std::make_shared<WriterRec>();
    size_t none = 0;
    const velfile_status ok = samplesBytes(call, t, layout->sample_type, 0, &none);
    if (ok != VELFILE_OK) return ok;
    rec->type = layout->sample_type;
    rec->writer = t.group.data_writer(descriptorOf(*layout));
    *writer = child(kWriter, t, [&](Target& s) { s.group = t.group, s.writer = std::move(rec); });
    return VELFILE_OK;
  });
}

velfile_status velfile_writer_line(velfile_writer writer, const void* samples, size_t count,
                                   const uint8_t* has_data, size_t points) {
  const char* const call = __func__;
  return on(call, writer, kWriter, [&](Target& t) -> velfile_status {
    if (count) VELFILE_NEED(samples, t);
    if (points) VELFILE_NEED(has_data, t);
    size_t bytes = 0;
    const velfile_status ok = samplesBytes(call, t, t.writer->type, count, &bytes);
    if (ok != VELFILE_OK) return ok;
    const std::vector<uint8_t> markers = markersOf(has_data, points);
    std::lock_guard<std::mutex> lock(t.writer->mutex);
    velfile::DataWriter& w = t.writer->writer;
    w.write_line(w.next_line(), samples, bytes, points ? markers.data() : nullptr, points);
    return VELFILE_OK;
  });
}

velfile_status velfile_writer_finish(velfile_writer writer, uint32_t* unwritten, velfile_data* data) {
  const char* const call = __func__;
  return on(call, writer, kWriter, [&](Target& t) -> velfile_status {
    std::lock_guard<std::mutex> lock(t.writer->mutex);
    const uint32_t stored = t.writer->writer.finish();
    if (unwritten) *unwritten = stored;
    if (data) {
      const velfile::DataGroup d = t.writer->writer.data();
      *data = child(kData, t, [&](Target& s) { s.group = t.group, s.data = d; });
    }
    table().release(writer);
    return VELFILE_OK;
  });
}

velfile_status velfile_check(const char* path, char* buffer, size_t length, size_t* needed,
                             uint32_t* problems) {
  const char* const call = __func__;
  return guard(call, Target(), [&]() -> velfile_status {
    VELFILE_TEXT_ARG(path, Target());
    return guard(call, Target(), [&] {
      const velinspect::CheckReport report = velinspect::checkFile(path);
      if (report.code == velfile_exit::kExitUnreadable) {
        velfile::File::open(path);  // throws the reason it cannot be opened
        throw velfile::Error(velfile::Reason::Io, 0, call, path, "", -1, report.error);
      }
      std::string text;
      for (const std::string& p : report.problems) text += p + "\n";
      if (problems) *problems = uint32_t(report.problems.size());
      return putText(call, Target(), text, buffer, length, needed);
    });
  });
}

}  // extern "C"
