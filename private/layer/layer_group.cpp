// The C++ layer: groups, items, group paths and the walk.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "byteorder.h"
#include "layer.h"
#include "platform.h"

namespace velfile {

GroupFacts groupFacts(const Group& g, const char* operation) {
  checkOpen(g.file_state().get(), Access::node(g).get(), operation);
  GroupFacts out{Access::rawHandle(g), SectionFacts()};
  if (!out.handle || !sectionFacts(out.handle, &out.section))
    fail(Reason::Invalid, operation, Where{g.file_state().get(), Access::node(g).get(), -1},
         "is not an opened group");
  return out;
}

// A name given by file_ItemInfo, whose length is not known beforehand.
std::u16string itemName(void* handle, uint32_t index, int* rc) {
  std::vector<VelChar> buf(256);
  for (;;) {
    buf.assign(buf.size(), 0);
    *rc = VelFile::file_ItemInfo(handle, index, nullptr, nullptr, nullptr, nullptr, buf.data(),
                                 static_cast<uint32_t>(buf.size()));
    size_t n = 0;
    while (n < buf.size() && buf[n]) ++n;
    if (*rc != VelFile::kOk || n + 1 < buf.size() || buf.size() >= (size_t(1) << 28))
      return fromVel(buf.data(), n);
    buf.resize(buf.size() * 4);
  }
}

namespace {

Where whereOf(const Group& g, int item = -1) {
  return Where{g.file_state().get(), Access::node(g).get(), item};
}

// Throws unless the view's File is still open.
void checkLive(const FileState* file, const PathNode* group, const char* op) {
  Lock lock(library_mutex());
  checkOpen(file, group, op);
}

// --- group paths ---

bool parseNumber(const std::string& text, uint64_t limit, uint32_t* out) {
  if (text.empty() || text.find_first_of("-+ \t") == 0) return false;
  const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, isHex ? 16 : 10);
  if (*end != 0 || v > limit) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// Length of the well-formed UTF-8 sequence at s[i] (its code point in *cp),
// or 0.
size_t utf8At(const unsigned char* s, size_t n, size_t i, char32_t* cp) {
  const unsigned char c = s[i];
  *cp = c;
  if (c < 0x80) return 1;
  const size_t len = c >= 0xC2 && c <= 0xDF ? 2 : (c >> 4) == 0xE ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || i + len > n) return 0;
  *cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] >> 6) != 0x2) return 0;
    *cp = (*cp << 6) | (s[i + k] & 0x3F);
  }
  const bool overlong = (len == 3 && *cp < 0x800) || (len == 4 && *cp < 0x10000);
  return overlong || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF) ? 0 : len;
}

// Characters shown as \uXXXX although they are valid: C1 controls, and those
// that break a line or reorder the text around them.
bool hiddenCharacter(char32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

// The value of the n hex digits at text[i], or -1.
long hexAt(const std::string& text, size_t i, size_t n) {
  if (i + n > text.size()) return -1;
  long v = 0;
  for (size_t k = 0; k < n; ++k) {
    const char c = text[i + k];
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// Reads the escape at text[i] (a backslash) into *out; returns the number of
// characters it takes: \n \r \t, \xNN (one byte), \uXXXX (a character);
// a backslash before any other character takes it literally.
size_t unescapeAt(const std::string& text, size_t i, std::string* out) {
  if (i + 1 >= text.size()) {
    out->push_back('\\');
    return 1;
  }
  const char c = text[i + 1];
  const long byte = c == 'x' ? hexAt(text, i + 2, 2) : -1;
  const long cp = c == 'u' ? hexAt(text, i + 2, 4) : -1;
  if (byte >= 0) {
    out->push_back(static_cast<char>(byte));
    return 4;
  }
  if (cp >= 0) {
    const char16_t unit = static_cast<char16_t>(cp);
    *out += utf16ToUtf8(&unit, 1);
    return 6;
  }
  out->push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
  return 2;
}

// Splits at the slashes that are not escaped; escapes stay in the parts.
std::vector<std::string> splitPath(const std::string& text) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      parts.back() += text.substr(i, 2);
      ++i;
    } else if (text[i] == '/') {
      parts.emplace_back();
    } else {
      parts.back().push_back(text[i]);
    }
  }
  return parts;
}

[[noreturn]] void badPath(const std::string& text, const std::string& why) {
  fail(Reason::BadPath, "parse_group_path", Where(), "the group path '" + text + "' cannot be used: " + why);
}

PathStep parseStep(const std::string& text, const std::string& p) {
  PathStep step;
  if (p.empty()) badPath(text, "it has an empty step");
  if (p[0] == '#') {
    step.kind = PathStep::Id;
    if (!parseNumber(p.substr(1), 0xFFFF, &step.number))
      badPath(text, "'" + p + "' is not an item id (0 to 65535)");
  } else if (p[0] == '[') {
    step.kind = PathStep::Index;
    if (p.back() != ']' || !parseNumber(p.substr(1, p.size() - 2), UINT32_MAX, &step.number))
      badPath(text, "'" + p + "' is not a directory index [N]");
  } else {
    for (size_t i = 0; i < p.size();)
      i += p[i] == '\\' ? unescapeAt(p, i, &step.name) : (step.name.push_back(p[i]), 1);
  }
  return step;
}

}  // namespace

GroupPath parse_group_path(const std::string& text) {
  const std::vector<std::string> parts = splitPath(text);
  GroupPath out;
  const std::string& first = parts[0];
  out.by_offset = !first.empty() && first[0] == '@';
  if (!parseNumber(out.by_offset ? first.substr(1) : first, UINT32_MAX, &out.section))
    badPath(text, "'" + first + "' is not a section index or @offset");
  for (size_t k = 1; k < parts.size(); ++k) out.steps.push_back(parseStep(text, parts[k]));
  return out;
}

std::vector<PathStep> parse_relative_path(const std::string& text) {
  std::vector<PathStep> out;
  for (const std::string& p : splitPath(text)) out.push_back(parseStep(text, p));
  return out;
}

std::string to_utf8(const std::u16string& text) {
  return utf16ToUtf8(text.data(), text.size());
}

bool to_utf8_strict(const std::u16string& text, std::string* out) {
  std::string utf8;
  if (!utf16ToUtf8(text.data(), text.size(), &utf8)) return false;
  *out = std::move(utf8);
  return true;
}

std::string escape_text(const std::string& text) {
  const auto* u = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  char buf[8];
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = u[i];
    char32_t cp = 0;
    const size_t len = utf8At(u, text.size(), i, &cp);
    if (len == 1 && c >= 0x20 && c != 0x7F && c != '\\' && c != '"') {
      out.push_back(static_cast<char>(c));
    } else if (len == 1 && (c == '\\' || c == '"' || c == '\n' || c == '\r' || c == '\t')) {
      out.push_back('\\');
      out.push_back(c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : static_cast<char>(c));
    } else if (len <= 1) {  // a control character, or a byte outside valid UTF-8
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else if (hiddenCharacter(cp)) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
    } else {
      out.append(text, i, len);
    }
    i += len ? len : 1;
  }
  return out;
}

std::string escape_step(const std::string& name) {
  std::string out;
  for (const char c : escape_text(name)) {
    if (c == '/' || (out.empty() && (c == '#' || c == '['))) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// --- directory listing (lock held) ---

namespace {

struct Ref {
  uint32_t index = 0;
  uint16_t id = 0;
  uint32_t count = 0;
  uint32_t value = 0;
  std::string name;
};

// The entry at index, with the sub-group's name for a group reference.
int readRef(void* handle, uint32_t index, bool swapped, uint16_t* type, Ref* r) {
  r->index = index;
  int rc = VelFile::file_ItemInfo(handle, index, &r->id, type, &r->count, &r->value, nullptr, 0);
  if (rc != VelFile::kOk || *type != VelFile::kTypeGroup) return rc;
  const std::u16string name = itemName(handle, index, &rc);
  r->name = fromStored(name, swapped);
  return rc;
}

// Counts of sibling names and ids, to name each reference by the shortest
// step that names it alone. Names are counted by hash: a collision only
// makes a step fall back to #id or [index], which still names the group.
struct StepNamer {
  std::unordered_map<size_t, uint32_t> names;
  std::unordered_map<uint16_t, uint32_t> ids;

  void count(const Ref& r) {
    ++names[std::hash<std::string>()(r.name)];
    ++ids[r.id];
  }
  std::string step(const Ref& r) const {
    if (!r.name.empty() && names.at(std::hash<std::string>()(r.name)) == 1) return escape_step(r.name);
    if (ids.at(r.id) == 1) return "#" + std::to_string(r.id);
    return "[" + std::to_string(r.index) + "]";
  }
};

// Lists the group references of a group and counts their steps.
std::vector<Ref> listRefs(const Group& g, const GroupFacts& facts, StepNamer* namer, bool toOpen = true) {
  // Sub-groups made in this opening have no directory offset yet, and the
  // library opens sub-groups by that offset.
  if (facts.section.written && toOpen)
    fail(Reason::Unsupported, "Group::groups", whereOf(g),
         "is being written: its sub-groups are reached through the groups create_group() returned");
  std::vector<Ref> refs;
  const uint32_t n = VelFile::file_ItemNbrGet(facts.handle);
  for (uint32_t i = 0; i < n; ++i) {
    Ref r;
    uint16_t type = 0;
    const int rc = readRef(facts.handle, i, facts.section.swap && facts.section.stringFormat != 0, &type, &r);
    if (rc != VelFile::kOk) failCode("file_ItemInfo", rc, whereOf(g));
    if (type != VelFile::kTypeGroup) continue;
    if (namer) namer->count(r);
    refs.push_back(std::move(r));
  }
  return refs;
}

// Whether a directory of entries entries at offset lies inside the section
// (and inside the file, when that was cut short).
bool directoryInside(const SectionFacts& s, uint32_t offset, uint32_t entries) {
  return uint64_t(offset) + uint64_t(entries) * 12 <= s.inFile && offset >= 36;
}

Group openRef(const Group& parent, void* handle, const Ref& r, std::string step) {
  auto node = childNode(Access::node(parent), std::move(step));
  void* g = nullptr;
  const int rc = VelFile::file_GroupOpen(handle, &g, r.value);
  if (rc != VelFile::kOk) failCode("file_GroupOpen", rc, Where{parent.file_state().get(), node.get(), -1});
  return Access::group(parent.file_state(), g, node);
}

}  // namespace

// --- Group ---

uint32_t Group::checked_count(size_t n) {
  if (n > UINT32_MAX)
    fail(Reason::Invalid, "Group::write_item", Where(), "an item cannot hold more than 2^32 - 1 elements");
  return static_cast<uint32_t>(n);
}

void* Group::handle() const {
  Lock lock(library_mutex());
  return groupFacts(*this, "Group::handle").handle;
}

bool Group::valid() const {
  Lock lock(library_mutex());
  return handle_ && file_ && file_->open;
}

std::string Group::path() const {
  checkLive(file_.get(), node_.get(), "Group::path");
  return joinPath(node_.get());
}

std::string Group::name() const {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, "Group::name");
  uint32_t count = 0;
  uint16_t type = 0;
  int rc = VelFile::file_ItemInfo(f.handle, 0, nullptr, &type, &count, nullptr, nullptr, 0);
  if (rc != VelFile::kOk) return std::string();
  // The library keeps the name as read (or as set), at most count units.
  std::vector<VelChar> buf(size_t(std::min<uint64_t>(count, uint64_t(f.section.inFile) + 1)) + 34, 0);
  rc = VelFile::file_GroupNameGet(f.handle, buf.data(), static_cast<uint32_t>(buf.size()));
  if (rc != VelFile::kOk) failCode("file_GroupNameGet", rc, whereOf(*this));
  return fromStored(fromVel(buf.data()), f.section.swap && type == VelFile::kTypeUtf16);
}

std::vector<Group> Group::groups() const {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, "Group::groups");
  StepNamer namer;
  const std::vector<Ref> refs = listRefs(*this, f, &namer);
  std::vector<Group> out;
  out.reserve(refs.size());
  for (const Ref& r : refs) out.push_back(openRef(*this, f.handle, r, namer.step(r)));
  return out;
}

void checkGroupName(const std::u16string& name, const char* op, const Where& where) {
  if (name.size() <= kMaxGroupName) return;
  fail(Reason::Invalid, op, where,
       "cannot take the group name '" + escape_text(utf16ToUtf8(name.data(), kMaxGroupName)) + "...': it has " +
           std::to_string(name.size()) + " characters (UTF-16 units), and a group name has at most " +
           std::to_string(kMaxGroupName));
}

struct ChildRefs {
  std::vector<Ref> refs;
  std::vector<std::string> steps;
};

Group::Children Group::children() const {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, "Group::children");
  StepNamer namer;
  auto list = std::make_shared<ChildRefs>();
  list->refs = listRefs(*this, f, &namer);
  for (Ref& r : list->refs) {
    list->steps.push_back(namer.step(r));
    std::string().swap(r.name);  // the steps are all a child needs
  }
  Children out;
  out.parent_ = *this;
  out.refs_ = std::move(list);
  return out;
}

size_t Group::Children::size() const {
  return refs_ ? refs_->refs.size() : 0;
}

Group Group::Children::at(size_t i) const {
  const char* op = "Group::children";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(parent_, op);
  if (i >= size())
    fail(Reason::NotFound, op, whereOf(parent_),
         "has no sub-group at position " + std::to_string(i) + " (it has " + std::to_string(size()) + ")");
  return openRef(parent_, f.handle, refs_->refs[i], refs_->steps[i]);
}

Group::Items Group::entries() const {
  Items out;
  out.group_ = *this;
  out.count_ = item_count();
  return out;
}

uint32_t Group::item_count() const {
  Lock lock(library_mutex());
  return VelFile::file_ItemNbrGet(groupFacts(*this, "Group::item_count").handle);
}

Item Group::item_at(uint32_t index) const {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, "Group::item_at");
  uint16_t id = 0, type = 0;
  uint32_t count = 0, value = 0;
  const int rc = VelFile::file_ItemInfo(f.handle, index, &id, &type, &count, &value, nullptr, 0);
  if (rc == VelFile::kErrNoName)
    fail(Reason::NotFound, "Group::item_at", whereOf(*this),
         "has no item at index " + std::to_string(index) + " (it has " +
             std::to_string(VelFile::file_ItemNbrGet(f.handle)) + ")");
  if (rc != VelFile::kOk) failCode("file_ItemInfo", rc, whereOf(*this));
  return Access::item(*this, index, id, type, count, value);
}

std::vector<Item> Group::items() const {
  Lock lock(library_mutex());
  const uint32_t n = VelFile::file_ItemNbrGet(groupFacts(*this, "Group::items").handle);
  std::vector<Item> out;
  out.reserve(n);
  for (uint32_t i = 0; i < n; ++i) out.push_back(item_at(i));
  return out;
}

namespace {

// The index of the first item with this id, or -1 (lock held).
int64_t findItem(const Group& g, uint16_t id, const char* op) {
  const GroupFacts f = groupFacts(g, op);
  const uint32_t n = VelFile::file_ItemNbrGet(f.handle);
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t got = 0;
    const int rc = VelFile::file_ItemInfo(f.handle, i, &got, nullptr, nullptr, nullptr, nullptr, 0);
    if (rc != VelFile::kOk) failCode("file_ItemInfo", rc, whereOf(g, id));
    if (got == id) return i;
  }
  return -1;
}

}  // namespace

bool Group::has_item(uint16_t id) const {
  Lock lock(library_mutex());
  return findItem(*this, id, "Group::has_item") >= 0;
}

Item Group::item(uint16_t id) const {
  Lock lock(library_mutex());
  const int64_t i = findItem(*this, id, "Group::item");
  if (i < 0) fail(Reason::NotFound, "Group::item", whereOf(*this, id), "does not exist in this group");
  return item_at(uint32_t(i));
}

Group Group::group(std::string_view relativeText) const {
  const std::string relative(relativeText);
  const std::vector<PathStep> steps = parse_relative_path(relative);
  const std::vector<std::string> given = splitPath(relative);
  Lock lock(library_mutex());
  Group current = *this;
  for (size_t k = 0; k < steps.size(); ++k) {
    const PathStep& step = steps[k];
    const GroupFacts f = groupFacts(current, "Group::group");
    const std::vector<Ref> refs = listRefs(current, f, nullptr);
    auto match = std::find_if(refs.begin(), refs.end(), [&](const Ref& r) {
      return step.kind == PathStep::Name ? r.name == step.name
                                         : (step.kind == PathStep::Id ? r.id : r.index) == step.number;
    });
    if (match == refs.end()) {
      const bool notRef = step.kind == PathStep::Index && step.number < VelFile::file_ItemNbrGet(f.handle);
      fail(Reason::NotFound, "Group::group", whereOf(current),
           notRef ? "has no group at " + given[k] + ": that item is not a group reference"
                  : "has no sub-group '" + given[k] + "'");
    }
    current = openRef(current, f.handle, *match, given[k]);
  }
  return current;
}

Section Group::section() const {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, "Group::section");
  uint32_t entries = 0;
  VelFile::file_ItemInfo(file_->handle, f.section.index, nullptr, nullptr, &entries, nullptr, nullptr, 0);
  int rc = 0;
  const std::u16string name = itemName(file_->handle, f.section.index, &rc);
  return Access::section(f.section, entries, fromStored(name, f.section.swap));
}

bool Group::writable() const {
  Lock lock(library_mutex());
  return groupFacts(*this, "Group::writable").section.written;
}

Group Group::create_group(std::string_view nameText, uint16_t id) {
  const char* op = "Group::create_group";
  const std::string name(nameText);
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const std::u16string wide = toUtf16(name, op, whereOf(*this));
  checkGroupName(wide, op, whereOf(*this));
  void* g = nullptr;
  const int rc = VelFile::file_GroupCreate(f.handle, &g, id, velText(wide));
  if (rc != VelFile::kOk) failCode("file_GroupCreate", rc, whereOf(*this));
  // Its step: the name, unless a sibling made earlier has it too.
  const std::vector<Ref> refs = listRefs(*this, f, nullptr, false);
  const bool unique =
      std::count_if(refs.begin(), refs.end(), [&](const Ref& r) { return r.name == name; }) == 1;
  const std::string step =
      unique && !name.empty() ? escape_step(name) : "[" + std::to_string(refs.back().index) + "]";
  return Access::group(file_, g, childNode(node_, step));
}

void Group::set_name(std::string_view name) {
  const char* op = "Group::set_name";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const std::u16string wide = toUtf16(std::string(name), op, whereOf(*this));
  checkGroupName(wide, op, whereOf(*this));
  const int rc = VelFile::file_GroupNameSet(f.handle, velText(wide), static_cast<uint32_t>(wide.size() + 1));
  if (rc != VelFile::kOk) failCode("file_GroupNameSet", rc, whereOf(*this));
}

void Group::write_item(uint16_t id, uint16_t type, const void* data, uint32_t count) {
  const char* op = "Group::write_item";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  if (type == VelFile::kTypeGroup)
    fail(Reason::WrongType, op, whereOf(*this, id),
         "cannot be written as a group reference; use create_group");
  if (count && !data) fail(Reason::Invalid, op, whereOf(*this, id), "got no data for its elements");
  const int rc = VelFile::file_ItemValueWrite(f.handle, id, type, count, static_cast<const char*>(data));
  if (rc != VelFile::kOk) failCode("file_ItemValueWrite", rc, whereOf(*this, id));
}

void Group::write_text(uint16_t id, std::string_view text) {
  std::u16string wide = toUtf16(std::string(text), "Group::write_text", whereOf(*this, id));
  write_item(id, VelFile::kTypeUtf16, wide.c_str(), checked_count(wide.size() + 1));
}

// --- Item ---

namespace {

struct ItemPlace {
  GroupFacts group;
  uint64_t bytes;  // element size x count
};

// Checks that the item's value lies inside its section (lock held).
ItemPlace placeOf(const Item& it, const std::shared_ptr<FileState>& file,
                  const std::shared_ptr<const PathNode>& node, void* handle, const char* op) {
  checkOpen(file.get(), node.get(), op);
  ItemPlace p{GroupFacts{handle, SectionFacts()}, uint64_t(VelFile::file_SizeOf(it.type())) * it.count()};
  const Where where{file.get(), node.get(), it.id()};
  if (!sectionFacts(handle, &p.group.section)) fail(Reason::Invalid, op, where, "belongs to no opened group");
  if (it.type() == VelFile::kTypeGroup)
    fail(Reason::WrongType, op, where, "is a group reference; open the sub-group instead");
  const SectionFacts& s = p.group.section;
  const uint64_t end = uint64_t(it.value_field()) + p.bytes;
  if (p.bytes > 4 && end > s.inFile)
    fail(Reason::OutsideSection, op, where,
         "cannot be read: its " + std::to_string(p.bytes) + " bytes at offset " +
             std::to_string(it.value_field()) +
             (end <= s.size
                  ? " run past the end of the file, which was cut short inside their section (" +
                        std::to_string(s.inFile) + " of " + std::to_string(s.size) + " bytes present)"
                  : " run past the end of its section (" + std::to_string(s.size) + " bytes)"));
  return p;
}

bool isText(uint16_t type) {
  return type == VelFile::kTypeNarrow || type == VelFile::kTypeUtf16;
}

}  // namespace

uint16_t Item::id() const {
  checkLive(file_.get(), group_.get(), "Item::id");
  return id_;
}
uint16_t Item::type() const {
  checkLive(file_.get(), group_.get(), "Item::type");
  return type_;
}
uint32_t Item::count() const {
  checkLive(file_.get(), group_.get(), "Item::count");
  return count_;
}
uint32_t Item::index() const {
  checkLive(file_.get(), group_.get(), "Item::index");
  return index_;
}
uint32_t Item::value_field() const {
  checkLive(file_.get(), group_.get(), "Item::value_field");
  return value_;
}

bool Item::out_of_line() const {
  checkLive(file_.get(), group_.get(), "Item::out_of_line");
  return type_ == VelFile::kTypeGroup || uint64_t(VelFile::file_SizeOf(type_)) * count_ > 4;
}

std::u16string Item::u16text() const {
  const char* op = "Item::text";
  Lock lock(library_mutex());
  const ItemPlace p = placeOf(*this, file_, group_, handle_, op);
  if (!isText(type_))
    fail(Reason::WrongType, op, Where{file_.get(), group_.get(), id_},
         "is " + type_name(type_) + ", not a string; read it with as<T>()");
  // Room for the value as stored, or widened to UTF-16 from narrow bytes.
  std::vector<char16_t> buf(size_t(p.bytes) + 4, 0);
  uint32_t got = 0;
  const int rc = VelFile::file_IndexValueRead(handle_, index_, VelFile::kTypeUtf16,
                                              reinterpret_cast<char*>(buf.data()), &got);
  if (rc != VelFile::kOk) failCode("file_IndexValueRead", rc, Where{file_.get(), group_.get(), id_});
  std::u16string text(buf.data());
  if (type_ == VelFile::kTypeUtf16 && p.group.section.swap) swapUnits(&text[0], text.size());
  return text;
}

std::string Item::text() const {
  const std::u16string units = u16text();
  return utf16ToUtf8(units.data(), units.size());
}

size_t Item::read(void* buffer, size_t capacity) const {
  const char* op = "Item::read";
  Lock lock(library_mutex());
  const ItemPlace p = placeOf(*this, file_, group_, handle_, op);
  const Where where{file_.get(), group_.get(), id_};
  if (p.bytes > capacity)
    fail(Reason::Invalid, op, where,
         "needs " + std::to_string(p.bytes) + " bytes; the buffer has " + std::to_string(capacity));
  if (p.bytes <= 4) {
    // The library hands an inline value over in host order already, but
    // reverses a foreign field of bytes (type 13, unknown types) as a word.
    uint32_t field = value_;
    if (p.group.section.swap && (type_ == VelFile::kTypeRaw || type_ > VelFile::kTypeRaw))
      field = swap32(field);
    std::memcpy(buffer, &field, size_t(p.bytes));
    if (type_ == VelFile::kTypeUtf16 && p.group.section.swap) swapUnits(buffer, size_t(p.bytes / 2));
    return size_t(p.bytes);
  }
  // file_Read swaps elements by type; UTF-16 and bytes are left as stored.
  int rc = VelFile::file_Read(handle_, value_, count_, type_, static_cast<char*>(buffer), nullptr);
  if (rc != VelFile::kOk) failCode("file_Read", rc, where);
  if (type_ == VelFile::kTypeUtf16 && p.group.section.swap) swapUnits(buffer, size_t(p.bytes / 2));
  return size_t(p.bytes);
}

Extent Item::extent() const {
  const char* op = "Item::extent";
  Lock lock(library_mutex());
  const ItemPlace p = placeOf(*this, file_, group_, handle_, op);
  if (p.bytes <= 4)
    fail(Reason::Invalid, op, Where{file_.get(), group_.get(), id_},
         "is held in its directory entry, not in the file");
  return Extent{uint64_t(p.group.section.start) + value_, p.bytes, !p.group.section.swap};
}

uint32_t Item::checked_elements() const {
  Lock lock(library_mutex());
  placeOf(*this, file_, group_, handle_, "Item::as");
  return count_;
}

std::vector<uint8_t> Item::bytes() const {
  std::vector<uint8_t> out(size_t(uint64_t(VelFile::file_SizeOf(type_)) * checked_elements()));
  if (!out.empty()) read(out.data(), out.size());
  return out;
}

// --- the walk ---

const char* state_name(NodeState state) {
  switch (state) {
    case NodeState::Open:
      return "open";
    case NodeState::Cycle:
      return "cycle";
    case NodeState::Shared:
      return "shared";
    case NodeState::TooDeep:
      return "too deep";
    case NodeState::Limit:
      return "limit";
    case NodeState::Error:
      return "error";
  }
  return "error";
}

std::string WalkNode::path() const {
  return joinPath(node.get());
}

namespace {

// One level of the walk: a group and its references, taken one at a time.
struct Frame {
  WalkNode node;
  uint64_t key = 0;  // absolute position of its directory
  std::vector<Ref> refs;
  StepNamer namer;
  size_t next = 0;
};

// Lists an opened node's references; a failure makes it an error node.
void listFrame(Frame& fr) {
  try {
    const GroupFacts f = groupFacts(fr.node.group, "walk");
    fr.refs = listRefs(fr.node.group, f, &fr.namer);
    // A level keeps no names: a directory of many long-named sub-groups
    // would otherwise hold all of them at once. Each is read again when its
    // turn comes.
    for (Ref& r : fr.refs) std::string().swap(r.name);
  } catch (const Error& e) {
    fr.node.state = NodeState::Error;
    fr.node.reason = std::string("its items cannot be listed: ") + e.what();
  }
}

}  // namespace

bool walk(const Group& root, const WalkEnter& enter, const WalkLeave& leave, const WalkLimits& limits) {
  const char* op = "walk";
  bool complete = true;
  std::vector<Frame> stack;
  std::unordered_set<uint64_t> seen;  // directories entered: at most max_groups
  uint64_t groups = 0, items = 0;
  Frame fr;
  {
    Lock lock(library_mutex());
    const GroupFacts f = groupFacts(root, op);
    fr.node.group = root;
    fr.node.node = Access::node(root);
    fr.node.entries = VelFile::file_ItemNbrGet(f.handle);
    fr.node.name = root.name();
    fr.node.directory = f.section.directory;
    fr.node.section_start = f.section.start;
    fr.key = uint64_t(f.section.start) + f.section.directory;
    seen.insert(fr.key);
    ++groups;
    items += fr.node.entries;
    listFrame(fr);
  }
  for (;;) {
    // fr is a node just met: report it, and go down into it when it is open.
    complete = complete && fr.node.state == NodeState::Open;
    const bool descend = enter(fr.node) && fr.node.state == NodeState::Open;
    if (descend) {
      stack.push_back(std::move(fr));
    } else if (leave) {
      leave(fr.node);
    }
    // The next reference, leaving the levels that have none left.
    while (!stack.empty() && stack.back().next >= stack.back().refs.size()) {
      if (leave) leave(stack.back().node);
      stack.pop_back();
    }
    if (stack.empty()) break;
    Frame& top = stack.back();
    fr = Frame();
    Lock lock(library_mutex());
    Ref r = top.refs[top.next++];
    const GroupFacts pf = groupFacts(top.node.group, op);
    uint16_t type = 0;
    readRef(pf.handle, r.index, pf.section.swap && pf.section.stringFormat != 0, &type, &r);
    WalkNode& n = fr.node;
    n.depth = top.node.depth + 1;
    n.index = r.index;
    n.id = r.id;
    n.entries = r.count;
    n.directory = r.value;
    n.section_start = pf.section.start;
    n.name = r.name;
    n.node = childNode(top.node.node, top.namer.step(r));
    fr.key = uint64_t(pf.section.start) + r.value;
    const auto ancestor =
        std::find_if(stack.begin(), stack.end(), [&](const Frame& f) { return f.key == fr.key; });
    if (ancestor != stack.end()) {
      n.state = NodeState::Cycle;
      // The ancestor by its depth, not its path: many references back to a
      // deep group would otherwise each repeat a path of every name above.
      n.reason =
          "reference cycle: leads back to its ancestor at depth " + std::to_string(ancestor->node.depth);
    } else if (seen.count(fr.key)) {
      n.state = NodeState::Shared;
      n.reason = "shared sub-group: its directory was reached before by another path";
    } else if (n.depth > limits.max_depth) {
      n.state = NodeState::TooDeep;
      n.reason = "nested more than " + std::to_string(limits.max_depth) + " levels deep";
    } else if (!directoryInside(pf.section, r.value, r.count)) {
      n.state = NodeState::Error;
      n.reason = "its directory (" + std::to_string(r.count) + " entries at offset " +
                 std::to_string(r.value) + ") lies outside its section";
    } else if (groups >= limits.max_groups || items + r.count > limits.max_items) {
      n.state = NodeState::Limit;
      n.reason = "walk stopped: more than " + std::to_string(limits.max_groups) + " groups or " +
                 std::to_string(limits.max_items) + " items";
    } else {
      void* g = nullptr;
      const int rc = VelFile::file_GroupOpen(pf.handle, &g, r.value);
      if (rc != VelFile::kOk) {
        n.state = NodeState::Error;
        n.reason = rc == VelFile::kErrIo
                       ? "it cannot be opened: its directory or its name lies outside the file"
                       : "it cannot be opened (result " + std::to_string(rc) + ")";
      } else {
        n.group = Access::group(root.file_state(), g, n.node);
        n.entries = VelFile::file_ItemNbrGet(g);
        seen.insert(fr.key);
        ++groups;
        items += n.entries;
        listFrame(fr);
      }
    }
  }
  return complete;
}

}  // namespace velfile
