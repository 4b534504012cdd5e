// The container layer: items, value reading with conversion, bulk blocks.
#include <velfile/velfile.h>

#include <algorithm>
#include <cstring>

#include "conversion.h"
#include "diag.h"
#include "itemio.h"
#include "velfile_records.h"

using namespace velfile;
using namespace VelFile;

namespace {

const uint32_t kChunk = 0x40000;  // progress is reported per 256 KiB

// Elements converted per pass of a block read, bounding the scratch memory.
const size_t kConvertBatch = 8192;

ItemRec* itemAt(Handle* h, uint32_t index) {
  GroupRec& g = *h->group;
  return index < g.items.size() ? &g.items[index] : nullptr;
}

// The section a file or group handle stands for in block operations: a group's
// own, or the writable last section of a file whose new section is made.
SectionRec* blockSection(Handle* h) {
  if (isGroup(h)) return h->section;
  if (!isFile(h)) return nullptr;
  FileRec& f = *h->file;
  if (f.newSectionPermission || f.sections.empty()) return nullptr;
  SectionRec* s = f.sections.back().get();
  return s->group.writeMode != kReadOnly ? s : nullptr;
}

int appendItem(Handle* h, uint16_t id, uint16_t type, uint32_t count, uint32_t value) {
  GroupRec& g = *h->group;
  ItemRec it;
  it.id = id;
  it.type = type;
  it.count = count;
  it.value = value;
  g.items.push_back(std::move(it));
  g.itemCount = static_cast<uint32_t>(g.items.size());
  return VelFile::kOk;
}

int writableGroup(Handle* h, uint16_t type) {
  if (!isGroup(h)) return VelFile::kErrNotFound;
  if (h->group->writeMode == kReadOnly) return VelFile::kErrReadOnly;
  // Group references come only from file_GroupCreate.
  if (type == VelFile::kTypeGroup) return VelFile::kErrNotFound;
  return ensureLoaded(h);
}

}  // namespace

int velfile::itemValueWrite(Handle* h, uint16_t id, uint16_t type, uint32_t count, const char* value) {
  int rc = writableGroup(h, type);
  if (rc != VelFile::kOk) return rc;
  const uint64_t n = uint64_t(VelFile::file_SizeOf(type)) * count;
  if (n && !value) {
    VEL_DIAG(kVelfileModule);
    return VelFile::kErrNotFound;
  }
  std::vector<char> bytes;
  uint16_t stored = type;
  if (type == VelFile::kTypeUtf16) {
    rc = encodeString(*h->group, type, reinterpret_cast<const char16_t*>(value), count, &stored, &bytes);
    if (rc != VelFile::kOk) return rc;
  } else if (n >= kFileLimit) {
    return VelFile::kErrIo;
  }
  const char* src = type == VelFile::kTypeUtf16 ? bytes.data() : value;
  const uint64_t len = type == VelFile::kTypeUtf16 ? bytes.size() : n;
  // Room for the entry is made first so that a full heap fails before
  // anything is written; the entry is added only once its value is placed.
  GroupRec& g = *h->group;
  if (g.items.size() == g.items.capacity()) g.items.reserve(std::max<size_t>(16, 2 * g.items.size()));
  uint32_t field = 0;
  rc = placeValue(*h->file, *h->section, src, len, &field);
  if (rc != VelFile::kOk) return rc;
  return appendItem(h, id, stored, count, field);
}

namespace {

// Bounded output of the item readers: the public functions pass an unlimited
// capacity (the caller sized the buffer from the item's count); the group
// modules pass their field's size so that no file can make them overflow it.
struct Out {
  char* buf;
  size_t cap;
  void put(size_t offset, const void* src, size_t n) const {
    if (offset >= cap) return;
    std::memcpy(buf + offset, src, std::min(n, cap - offset));
  }
};

int indexValueRead(Handle* h, uint32_t index, uint16_t req, const Out& out, uint32_t* countOut) {
  if (!isGroup(h)) return VelFile::kErrNotFound;
  int rc = ensureLoaded(h);
  if (rc != VelFile::kOk) return rc;
  const ItemRec* it = itemAt(h, index & 0xFFFF);
  if (!it || !out.buf) return VelFile::kErrNotFound;
  const uint16_t t = it->type;
  const uint64_t s = static_cast<uint64_t>(VelFile::file_SizeOf(t));
  const uint64_t c = it->count;
  const uint64_t bytes = s * c;
  const bool isString = t == VelFile::kTypeNarrow || t == VelFile::kTypeUtf16;
  FileRec& f = *h->file;
  std::vector<char> scratch;
  const char* delivered = out.buf;  // where the narrow bytes of a string stand
  uint32_t count = 0;
  if (c > 1) {
    if (bytes <= 4) {
      out.put(0, &it->value, t == VelFile::kTypeNarrow || t == VelFile::kTypeUtf16 ? size_t(bytes) : 4);
      count = t == VelFile::kTypeNarrow ? static_cast<uint32_t>(c) : 1;
      if (t == VelFile::kTypeNarrow) {
        scratch.assign(reinterpret_cast<const char*>(&it->value),
                       reinterpret_cast<const char*>(&it->value) + bytes);
        delivered = scratch.data();
      }
    } else if (t == VelFile::kTypeRaw || isString) {
      const uint64_t position = uint64_t(h->section->start) + it->value;
      if (bytes > f.size) return VelFile::kErrIo;
      if (out.cap >= bytes) {
        if (!readAt(f, position, out.buf, static_cast<size_t>(bytes))) return VelFile::kErrIo;
      } else {
        scratch.resize(static_cast<size_t>(bytes));
        if (!readAt(f, position, scratch.data(), scratch.size())) return VelFile::kErrIo;
        out.put(0, scratch.data(), scratch.size());
        delivered = scratch.data();
      }
      count = static_cast<uint32_t>(bytes);
    } else {
      out.put(0, &it->value, 4);  // the block's offset
      count = static_cast<uint32_t>(c);
    }
  } else if (s <= 4) {
    if (isString) {
      const uint16_t zero = 0;
      out.put(0, &zero, 2);
      scratch.assign(1, 0);
      delivered = scratch.data();
    } else {
      unsigned char v[8];
      if (convertValue(req, v, t, &it->value)) out.put(0, v, static_cast<size_t>(VelFile::file_SizeOf(req)));
    }
    count = 1;
  } else {
    unsigned char raw[8];
    if (!readAt(f, uint64_t(h->section->start) + it->value, raw, 8)) return VelFile::kErrIo;
    if (h->section->swap) swapElements(t, raw, 1);
    unsigned char v[8];
    if (convertValue(req, v, t, raw)) out.put(0, v, static_cast<size_t>(VelFile::file_SizeOf(req)));
    count = 1;
  }
  if (t == VelFile::kTypeNarrow && req == VelFile::kTypeUtf16 && count > 0) {
    std::vector<char> narrow(delivered, delivered + count);
    std::vector<char16_t> wide(count);
    narrowToUtf16(narrow.data(), count, wide.data());
    out.put(0, wide.data(), size_t(count) * 2);
  }
  if (countOut) *countOut = count;
  return VelFile::kOk;
}

int indexBlockRead(Handle* h, uint32_t index, uint16_t req, char* buf, uint64_t maxElements) {
  if (!isGroup(h)) return VelFile::kErrNotFound;
  int rc = ensureLoaded(h);
  if (rc != VelFile::kOk) return rc;
  const ItemRec* it = itemAt(h, index & 0xFFFF);
  if (!it || !buf) return VelFile::kErrNotFound;
  const uint16_t t = it->type;
  const size_t s = static_cast<size_t>(VelFile::file_SizeOf(t));
  const size_t step = static_cast<size_t>(VelFile::file_SizeOf(req));
  const uint64_t stored = it->count;
  const uint64_t c = std::min(stored, maxElements);
  if (s * stored <= 4) {
    const unsigned char* src = reinterpret_cast<const unsigned char*>(&it->value);
    for (uint64_t i = 0; i < c; ++i) convertValue(req, buf + i * step, t, src + i * s);
    return VelFile::kOk;
  }
  FileRec& f = *h->file;
  uint64_t position = uint64_t(h->section->start) + it->value;
  if (s * stored > f.size) return VelFile::kErrIo;
  std::vector<unsigned char> scratch(static_cast<size_t>(std::min<uint64_t>(c, kConvertBatch) * s));
  for (uint64_t done = 0; done < c;) {
    const size_t batch = static_cast<size_t>(std::min<uint64_t>(c - done, kConvertBatch));
    if (!readAt(f, position, scratch.data(), batch * s)) return VelFile::kErrIo;
    if (h->section->swap) swapElements(t, scratch.data(), batch);
    for (size_t i = 0; i < batch; ++i) convertValue(req, buf + (done + i) * step, t, &scratch[i * s]);
    done += batch;
    position += batch * s;
  }
  return VelFile::kOk;
}

// Streams size bytes in one call, or in chunks reporting progress.
template <typename Op>
bool transfer(uint64_t size, int32_t* progress, bool reportAfter, Op op) {
  if (!progress) return op(0, size);
  for (uint64_t done = 0; done < size;) {
    const uint64_t n = std::min<uint64_t>(kChunk, size - done);
    if (!reportAfter) *progress = static_cast<int32_t>(done * 100 / size);
    if (!op(done, n)) return false;
    done += n;
    if (reportAfter) *progress = static_cast<int32_t>(done * 100 / size);
  }
  if (reportAfter) *progress = 100;
  return true;
}

}  // namespace

namespace {

void factsOf(const FileRec& f, const SectionRec& s, uint32_t index, SectionFacts* out) {
  out->index = index;
  out->start = s.start;
  out->written = s.group.writeMode != kReadOnly;
  out->size = out->written ? f.endOffset - s.start : s.header.field[kHdrSectionSize];
  out->inFile = out->written ? out->size : uint32_t(std::min<uint64_t>(out->size, f.size - s.start));
  out->stringFormat = s.header.field[kHdrStringFormat];
  out->swap = s.swap != 0;
}

}  // namespace

bool velfile::sectionFacts(void* group, SectionFacts* out) {
  Handle* h = asHandle(group);
  if (!isGroup(h)) return false;
  const FileRec& f = *h->file;
  for (uint32_t i = 0; i < f.sections.size(); ++i)
    if (f.sections[i].get() == h->section) factsOf(f, *h->section, i, out);
  out->directory = h->group->dirOffset;
  return true;
}

bool velfile::fileSectionFacts(void* file, uint32_t index, SectionFacts* out) {
  Handle* h = asHandle(file);
  if (!isFile(h) || index >= h->file->sections.size()) return false;
  factsOf(*h->file, *h->file->sections[index], index, out);
  return true;
}

int VelFile::file_ItemInfo(void* handle, uint32_t index, uint16_t* id, uint16_t* type, uint32_t* count,
                           uint32_t* value, VelChar* name, uint32_t nameCapacity) {
  HookScope hooks;
  Handle* h = asHandle(handle);
  auto putName = [&](const std::u16string& text) {
    if (!name || nameCapacity == 0) return;
    const size_t n = std::min<size_t>(text.size(), nameCapacity - 1);
    std::memcpy(name, text.data(), n * sizeof(VelChar));
    name[n] = 0;
  };
  if (isFile(h)) {
    FileRec& f = *h->file;
    if (index >= f.sections.size()) return kErrNoName;
    const SectionRec& s = *f.sections[index];
    if (id) *id = 0;
    if (type) *type = 0;
    if (count) *count = s.header.field[kHdrEntryCount];
    if (value) *value = s.start;
    putName(s.group.name);
    return kOk;
  }
  if (!isGroup(h)) return kErrNotFound;
  int rc = ensureLoaded(h);
  if (rc != kOk) return rc;
  const ItemRec* it = itemAt(h, index);
  if (!it) return kErrNoName;
  if (id) *id = it->id;
  if (type) *type = it->type;
  if (count) *count = it->count;
  if (value) *value = it->value;
  static const std::u16string kNoName;
  putName(it->type == kTypeGroup && it->sub ? it->sub->group.name : kNoName);  // no copy: nothing to allocate
  return kOk;
}

int VelFile::file_ItemValueWrite(void* group, uint16_t id, uint16_t type, uint32_t count, const char* value) {
  HookScope hooks;
  return guarded([&] { return itemValueWrite(asHandle(group), id, type, count, value); });
}

int VelFile::file_ItemOffsetWrite(void* group, uint16_t id, uint16_t type, uint32_t count, uint32_t offset) {
  HookScope hooks;
  Handle* h = asHandle(group);
  return guarded([&] {
    int rc = writableGroup(h, type);
    return rc != kOk ? rc : appendItem(h, id, type, count, offset);
  });
}

int VelFile::file_IndexValueRead(void* group, uint32_t index, uint16_t type, char* buffer, uint32_t* count) {
  HookScope hooks;
  if (count) *count = 0;
  return guarded([&] { return indexValueRead(asHandle(group), index, type, Out{buffer, SIZE_MAX}, count); });
}

int VelFile::file_IndexBlockRead(void* group, uint32_t index, uint16_t type, char* buffer) {
  HookScope hooks;
  return guarded([&] { return indexBlockRead(asHandle(group), index, type, buffer, UINT64_MAX); });
}

int velfile::readItemValue(void* group, uint32_t index, uint16_t type, void* dst, size_t capacity,
                           uint32_t* count) {
  HookScope hooks;
  if (count) *count = 0;
  return guarded([&] {
    return indexValueRead(asHandle(group), index, type, Out{static_cast<char*>(dst), capacity}, count);
  });
}

int velfile::readItemString(void* group, uint32_t index, std::u16string* text) {
  HookScope hooks;
  return guarded([&]() -> int {
    Handle* h = asHandle(group);
    if (!isGroup(h)) return kErrNotFound;
    int rc = ensureLoaded(h);
    if (rc != kOk) return rc;
    const ItemRec* it = itemAt(h, index & 0xFFFF);
    if (!it) return kErrNotFound;
    const uint64_t bytes = uint64_t(file_SizeOf(it->type)) * it->count;
    if (bytes > 4 && bytes > h->file->size) return kErrIo;  // cannot be in the file
    // Room for the value as stored, or for a narrow value widened to UTF-16.
    std::vector<char16_t> buf(static_cast<size_t>(bytes) + 4, 0);
    rc = indexValueRead(h, index, kTypeUtf16, Out{reinterpret_cast<char*>(buf.data()), buf.size() * 2},
                        nullptr);
    if (rc != kOk) return rc;
    text->assign(buf.data());
    return kOk;
  });
}

int velfile::readItemBlock(void* group, uint32_t index, uint16_t type, void* dst, size_t maxElements) {
  HookScope hooks;
  return guarded(
      [&] { return indexBlockRead(asHandle(group), index, type, static_cast<char*>(dst), maxElements); });
}

int32_t VelFile::file_SizeOf(uint16_t type) {
  switch (type) {
    case kTypeInt16:
    case kTypeUInt16:
    case kTypeUtf16:
      return 2;
    case kTypeInt32:
    case kTypeUInt32:
    case kTypeFloat:
      return 4;
    case kTypeQuad8:
    case kTypeQuad9:
    case kTypeDouble:
      return 8;
    default:
      return 1;
  }
}

int VelFile::file_SwapNeeded(void* group) {
  Handle* h = asHandle(group);
  return isGroup(h) ? h->section->swap : 0;
}

int VelFile::file_SetCharacterFormat(void* file, int format) {
  HookScope hooks;
  Handle* h = asHandle(file);
  if (!isFile(h) || !h->file->newSectionPermission) return kErrMemory;
  h->file->charFormat = static_cast<uint16_t>(format & 0xFFFF);
  return kOk;
}

uint64_t VelFile::file_Allocate(void* handle, uint32_t size) {
  HookScope hooks;
  Handle* h = asHandle(handle);
  SectionRec* s = blockSection(h);
  if (!s) return 0;
  uint32_t offset = 0;
  return reserveBlock(*h->file, *s, size, &offset) ? offset : 0;
}

int VelFile::file_Write(void* handle, uint64_t offset, const char* data, uint32_t size, int32_t* progress) {
  HookScope hooks;
  Handle* h = asHandle(handle);
  SectionRec* s = blockSection(h);
  if (!s) return kErrNotFound;
  if (size && !data) return kErrIo;
  FileRec& f = *h->file;
  const uint64_t position = uint64_t(s->start) + uint32_t(offset);
  // Refused whole, before any chunk is written, when it would pass the limit.
  if (position + size >= kFileLimit) return kErrIo;
  return guarded([&] {
    const bool ok = transfer(size, progress, true, [&](uint64_t done, uint64_t n) {
      return writeAt(f, position + done, data + done, static_cast<size_t>(n));
    });
    return ok ? kOk : kErrIo;
  });
}

int VelFile::file_Read(void* handle, uint32_t offset, uint32_t count, uint16_t type, char* buffer,
                       int32_t* progress) {
  HookScope hooks;
  Handle* h = asHandle(handle);
  SectionRec* s = blockSection(h);
  if (!s) return kErrNotFound;
  FileRec& f = *h->file;
  const uint64_t elementSize = static_cast<uint64_t>(file_SizeOf(type));
  const uint64_t n = elementSize * count;
  const uint64_t position = uint64_t(s->start) + offset;
  if (n && !buffer) return kErrIo;
  if (position > f.size || n > f.size - position) return kErrIo;
  const int rc = guarded([&] {
    const bool ok = transfer(n, progress, false, [&](uint64_t done, uint64_t len) {
      return readAt(f, position + done, buffer + done, static_cast<size_t>(len));
    });
    return ok ? kOk : kErrIo;
  });
  if (rc != kOk) return rc;
  if (elementSize >= 2 && s->swap) swapElements(type, buffer, count);
  return kOk;
}

int VelFile::file_ReadBlock(void* group, uint32_t offset, uint32_t size, char* buffer) {
  HookScope hooks;
  Handle* h = asHandle(group);
  if (!isGroup(h)) return kErrIo;
  if (size && !buffer) return kErrIo;
  // Any failure is 2 here, an exhausted heap included.
  const int rc = guarded(
      [&] { return readAt(*h->file, uint64_t(h->section->start) + offset, buffer, size) ? kOk : kErrIo; });
  return rc == kOk ? kOk : kErrIo;
}
