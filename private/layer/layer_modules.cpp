// The C++ layer: the 21 modules as data, generic and typed descriptors, and
// the guess of a group's module. Everything is driven by the modules' own
// item tables (ModuleOps), never by a table of the layer's.
#include <velfile/modules.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <set>

#include "gdatalayout.h"
#include "groupmodule.h"
#include "layer.h"
#include "platform.h"

namespace velfile {

namespace {

using Values = std::vector<std::pair<std::string, Value>>;

const std::vector<const ModuleOps*>& allOps() {
#define VELFILE_OPS_ADDRESS(prefix, key, D) &prefix##Ops(),
  static const std::vector<const ModuleOps*> ops = {VELFILE_LAYER_MODULES(VELFILE_OPS_ADDRESS)};
#undef VELFILE_OPS_ADDRESS
  return ops;
}

// The rules that carry a field: every named one but those only read (older
// files' copies of the name).
bool isField(const RuleView& r) {
  return r.name && r.when != When::Never && (r.kind != Kind::Custom || r.get);
}

const ModuleOps& opsNamed(const std::string& name, const char* op) {
  for (const ModuleOps* m : allOps())
    if (name == m->name || name == m->prefix) return *m;
  std::string known;
  for (const ModuleOps* m : allOps()) known += (known.empty() ? "" : ", ") + std::string(m->name);
  fail(Reason::NotFound, op, Where(), "module '" + name + "' does not exist; the modules are " + known);
}

// A descriptor of a module, freed on every way out.
struct Descr {
  const ModuleOps& ops;
  void* d;
  explicit Descr(const ModuleOps& m) : ops(m), d(m.create()) {
    if (!d) throw std::bad_alloc();
  }
  ~Descr() { ops.destroy(d); }
  Descr(const Descr&) = delete;
  Descr& operator=(const Descr&) = delete;
};

// --- field values ---

FieldData get(const RuleView& r, const void* d) {
  FieldData out;
  const void* f = r.field ? r.field(const_cast<void*>(d)) : nullptr;
  int32_t i32 = 0;
  switch (r.kind) {
    case Kind::Int32:
    case Kind::Version:
      std::memcpy(&i32, f, 4);
      out.integer = r.type == VelFile::kTypeUInt32 ? int64_t(uint32_t(i32)) : i32;
      break;
    case Kind::Int16: {
      uint16_t u;
      std::memcpy(&u, f, 2);
      out.integer = r.type == VelFile::kTypeInt16 ? int64_t(int16_t(u)) : u;
      break;
    }
    case Kind::Byte:
      std::memcpy(&i32, f, 4);
      out.integer = i32 & 0xFF;
      break;
    case Kind::Float: {
      float v;
      std::memcpy(&v, f, 4);
      out.form = FieldData::Real;
      out.real = decimal_of(v);
      break;
    }
    case Kind::Double:
      out.form = FieldData::Real;
      std::memcpy(&out.real, f, 8);
      break;
    case Kind::Text: {
      const VelChar* t = static_cast<const VelChar*>(f);
      out.form = FieldData::Text;
      out.text = fromVel(t, textLength(t, r.capacity));
      break;
    }
    case Kind::Custom:
      r.get(d, out);
      break;
  }
  return out;
}

// The integers an integer field takes: those its item's type holds, so that
// the field reads back as written (a member of 4 bytes stored as uint32
// takes 0 to 4294967295, never -1), within what the member can keep.
bool fits(const RuleView& r, const FieldData& in, int64_t low, int64_t high) {
  int64_t typeLow = low, typeHigh = high;
  integer_bounds(r.type, &typeLow, &typeHigh);
  return in.form == FieldData::Integer && in.integer >= std::max(low, typeLow) &&
         in.integer <= std::min(high, typeHigh);
}

// Sets a field, false when the value does not fit it.
bool set(const RuleView& r, void* d, const FieldData& in) {
  void* f = r.field ? r.field(d) : nullptr;
  const int64_t v = in.integer;
  switch (r.kind) {
    case Kind::Int32:
    case Kind::Version: {
      if (!fits(r, in, INT32_MIN, UINT32_MAX)) return false;
      const uint32_t bits = uint32_t(v);
      std::memcpy(f, &bits, 4);
      return true;
    }
    case Kind::Int16: {
      if (!fits(r, in, INT16_MIN, UINT16_MAX)) return false;
      const uint16_t bits = uint16_t(v);
      std::memcpy(f, &bits, 2);
      return true;
    }
    case Kind::Byte: {
      if (in.form != FieldData::Integer || v < 0 || v > 255) return false;
      int32_t old;
      std::memcpy(&old, f, 4);
      old = int32_t((uint32_t(old) & 0xFFFFFF00u) | uint32_t(v));
      std::memcpy(f, &old, 4);
      return true;
    }
    case Kind::Float: {
      if (in.form != FieldData::Real || (std::isfinite(in.real) && std::fabs(in.real) > FLT_MAX))
        return false;
      const float x = static_cast<float>(in.real);
      std::memcpy(f, &x, 4);
      return true;
    }
    case Kind::Double:
      if (in.form != FieldData::Real) return false;
      std::memcpy(f, &in.real, 8);
      return true;
    case Kind::Text:
      if (in.form != FieldData::Text || in.text.size() >= r.capacity) return false;
      copyText(static_cast<VelChar*>(f), r.capacity, velText(in.text));
      return true;
    case Kind::Custom: {
      const FieldData::Form want = get(r, d).form;
      return in.form == want && r.set(d, in);
    }
  }
  return false;
}

// The group name: a text field of every descriptor, carried by item 10000.
RuleView nameRule(const ModuleOps& m) {
  return RuleView{"groupName",  VelFile::kItemName, VelFile::kTypeUtf16, m.nameCapacity, Kind::Text,
                  When::Always, m.nameCapacity,     m.nameField,         nullptr,        nullptr};
}

std::vector<RuleView> fieldsOf(const ModuleOps& m) {
  std::vector<RuleView> out{nameRule(m)};
  for (const RuleView& r : m.rules)
    if (isField(r)) out.push_back(r);
  return out;
}

Where whereOf(const Group& g) {
  return Where{g.file_state().get(), Access::node(g).get(), -1};
}

// Runs the module's read. The modules keep UTF-16 text as stored, so text
// read from a section in the other byte order is turned to the host's here,
// for every text field whose item was stored as UTF-16 (narrow text arrives
// converted already).
void readModule(const ModuleOps& m, const GroupFacts& f, void* d, const Group& g) {
  const int rc = m.read(f.handle, d);
  if (rc != VelFile::kOk) failCode((std::string(m.prefix) + "_ReadGroupInfo").c_str(), rc, whereOf(g));
  if (!f.section.swap) return;
  std::set<uint16_t> utf16;
  const uint32_t n = VelFile::file_ItemNbrGet(f.handle);
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t id = 0, type = 0;
    if (VelFile::file_ItemInfo(f.handle, i, &id, &type, nullptr, nullptr, nullptr, 0) == VelFile::kOk &&
        type == VelFile::kTypeUtf16)
      utf16.insert(id);
  }
  for (const RuleView& r : fieldsOf(m)) {
    if (r.kind != Kind::Text || !r.field || !utf16.count(r.id)) continue;
    VelChar* t = static_cast<VelChar*>(r.field(d));
    for (size_t k = 0, len = textLength(t, r.capacity); k < len; ++k)
      t[k] = static_cast<VelChar>(((t[k] & 0xFF) << 8) | ((t[k] >> 8) & 0xFF));
  }
}

Value toValue(const FieldData& f) {
  switch (f.form) {
    case FieldData::Integer:
      return f.integer;
    case FieldData::Real:
      return f.real;
    case FieldData::Text:
      return utf16ToUtf8(f.text.data(), f.text.size());
    case FieldData::Reals:
      return f.reals;
  }
  return f.integer;
}

// A value in the form of the field's current value: an integral real for an
// integer field and an integer for a real one are taken; text must be UTF-8.
// An integer goes into a real field only when the field holds it exactly
// (a float32 field every integer of 24 bits), as the layer's conversion rule
// has it.
bool fromValue(const Value& v, FieldData::Form form, bool float32, FieldData* out) {
  out->form = form;
  if (const int64_t* i = std::get_if<int64_t>(&v)) {
    if (form == FieldData::Integer) return out->integer = *i, true;
    const double real = double(*i);
    const bool exact =
        std::fabs(real) < 9.2e18 && int64_t(real) == *i && (!float32 || double(float(real)) == real);
    if (form == FieldData::Real && exact) return out->real = real, true;
  } else if (const double* r = std::get_if<double>(&v)) {
    if (form == FieldData::Real) return out->real = *r, true;
    if (form == FieldData::Integer && std::trunc(*r) == *r && std::fabs(*r) < 9.2e18)
      return out->integer = int64_t(*r), true;
  } else if (const std::string* t = std::get_if<std::string>(&v)) {
    return form == FieldData::Text && utf8ToUtf16(*t, &out->text);
  } else if (const std::vector<double>* a = std::get_if<std::vector<double>>(&v)) {
    return form == FieldData::Reals && (out->reals = *a, true);
  }
  return false;
}

// The range of an integer field, for a refusal ("" for another field).
std::string bounds(const RuleView& r) {
  int64_t low = 0, high = 0;
  if ((r.kind != Kind::Int32 && r.kind != Kind::Int16 && r.kind != Kind::Version) ||
      !integer_bounds(r.type, &low, &high))
    return "";
  return ": " + std::to_string(low) + " to " + std::to_string(high);
}

void apply(const ModuleOps& m, void* d, const Values& values, const char* op, const Where& where) {
  const std::vector<RuleView> fields = fieldsOf(m);
  for (const auto& nv : values) {
    auto r =
        std::find_if(fields.begin(), fields.end(), [&](const RuleView& f) { return nv.first == f.name; });
    if (r == fields.end()) {
      std::string known;
      for (const RuleView& f : fields) known += (known.empty() ? "" : ", ") + std::string(f.name);
      fail(Reason::Invalid, op, where,
           "cannot take field '" + nv.first + "': module '" + m.name + "' has no such field (it has " +
               known + ")");
    }
    FieldData in;
    if (!fromValue(nv.second, get(*r, d).form, r->kind == Kind::Float, &in) || !set(*r, d, in))
      fail(
          Reason::Invalid, op, where,
          "cannot take the value given for field '" + nv.first + "' of module '" + m.name +
              "': it is of another kind or does not fit the field (" + type_name(r->type) + bounds(*r) +
              (r->count > 1 ? ", at most " + std::to_string(r->kind == Kind::Text ? r->count - 1 : r->count) +
                                  " elements"
                            : std::string()) +
              ")");
  }
}

// A descriptor without a name keeps the group's: the modules write the name
// field as it stands, and a host that fills only the fields it cares about
// must not find its group renamed to "".
// Whether the group holds an item of the module's own (not its name or
// layout version).
bool holdsModule(const ModuleOps& m, void* handle) {
  std::set<uint16_t> own;
  for (const RuleView& r : m.rules)
    if (r.id != VelFile::kItemLayoutVersion && r.id != VelFile::kItemName) own.insert(r.id);
  const uint32_t n = VelFile::file_ItemNbrGet(handle);
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t id = 0;
    if (VelFile::file_ItemInfo(handle, i, &id, nullptr, nullptr, nullptr, nullptr, 0) == VelFile::kOk &&
        own.count(id))
      return true;
  }
  return false;
}

// The name is held to the layer's one rule either way: never cut.
void keepGroupName(const ModuleOps& m, void* d, const Group& g, const char* op) {
  const RuleView r = nameRule(m);
  const std::u16string given = get(r, d).text;
  if (!given.empty()) return checkGroupName(given, op, whereOf(g));
  FieldData name;
  name.form = FieldData::Text;
  name.text = toUtf16(g.name(), op, whereOf(g));
  checkGroupName(name.text, op, whereOf(g));
  set(r, d, name);
}

}  // namespace

const std::vector<ModuleSchema>& modules() {
  static const std::vector<ModuleSchema> all = [] {
    std::vector<ModuleSchema> out;
    for (const ModuleOps* m : allOps()) {
      ModuleSchema s{m->name, m->prefix, m->descriptor, {}};
      for (const RuleView& r : fieldsOf(*m)) s.fields.push_back(Field{r.name, r.id, r.type, r.count});
      out.push_back(std::move(s));
    }
    return out;
  }();
  return all;
}

const ModuleSchema& find_module(const std::string& name) {
  const ModuleOps& m = opsNamed(name, "find_module");
  for (const ModuleSchema& s : modules())
    if (s.prefix == m.prefix) return s;
  fail(Reason::NotFound, "find_module", Where(), "names no module");
}

std::vector<std::pair<std::string, Value>> Group::read_descriptor(const std::string& module) const {
  const char* op = "Group::read_descriptor";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const ModuleOps& m = opsNamed(module, op);
  Descr d(m);
  readModule(m, f, d.d, *this);
  Values out;
  for (const RuleView& r : fieldsOf(m)) out.emplace_back(r.name, toValue(get(r, d.d)));
  return out;
}

void Group::write_descriptor(const std::string& module,
                             const std::vector<std::pair<std::string, Value>>& values,
                             const std::vector<std::pair<std::string, Value>>* previous) {
  const char* op = "Group::write_descriptor";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, op);
  const ModuleOps& m = opsNamed(module, op);
  Descr cur(m), prev(m);
  // A group holding this module's items already has its own descriptor as
  // the previous copy and as the start of the new one: only what differs
  // (and what the module always writes) is written, never a second full
  // copy whose defaults would contradict the first (a data class 0 hiding
  // the data).
  const bool held = !previous && holdsModule(m, f.handle);
  if (held) {
    readModule(m, f, prev.d, *this);
    readModule(m, f, cur.d, *this);
  }
  apply(m, cur.d, values, op, whereOf(*this));
  if (previous) apply(m, prev.d, *previous, op, whereOf(*this));
  keepGroupName(m, cur.d, *this, op);
  // The data module writes bulk data from the address in dataReference; a
  // number from a caller, or a file position read back, is no address.
  if (std::strcmp(m.name, "data") == 0) {
    const auto* d = static_cast<const CGDataTypeFDD*>(cur.d);
    const int32_t c = d->dataClass;
    const bool bulk = c == 1 || c == 10 || isBlockClass(c);
    if (bulk &&
        d->dataReference != (previous || held ? static_cast<const CGDataTypeFDD*>(prev.d)->dataReference : 0))
      fail(Reason::Invalid, op, whereOf(*this),
           "cannot take dataReference for data of class " + std::to_string(c) +
               ": the data's place is set by write_data (read back, it is a file position, not an address)");
  }
  const int rc = m.write(f.handle, previous || held ? prev.d : nullptr, cur.d);
  if (rc != VelFile::kOk) failCode((std::string(m.prefix) + "_WriteGroupInfo").c_str(), rc, whereOf(*this));
}

ModuleGuess Group::guess_module() const {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(*this, "Group::guess_module");
  std::set<uint16_t> ids;
  const uint32_t n = VelFile::file_ItemNbrGet(f.handle);
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t id = 0;
    if (VelFile::file_ItemInfo(f.handle, i, &id, nullptr, nullptr, nullptr, nullptr, 0) == VelFile::kOk &&
        id != VelFile::kItemLayoutVersion && id != VelFile::kItemName)
      ids.insert(id);
  }
  ModuleGuess best;
  double bestCover = 0;
  for (const ModuleOps* m : allOps()) {
    std::set<uint16_t> known;
    for (const RuleView& r : m->rules) known.insert(r.id);
    known.erase(VelFile::kItemLayoutVersion);
    uint32_t matched = 0;
    for (uint16_t id : ids) matched += known.count(id) ? 1 : 0;
    const uint32_t unmatched = uint32_t(ids.size()) - matched;
    const double cover = known.empty() ? 0 : double(matched) / double(known.size());
    const int64_t score = int64_t(matched) - int64_t(unmatched);
    if (matched && (best.module.empty() || score > int64_t(best.matched) - int64_t(best.unmatched) ||
                    (score == int64_t(best.matched) - int64_t(best.unmatched) && cover > bestCover))) {
      best.module = m->name;
      best.matched = matched;
      best.unmatched = unmatched;
      bestCover = cover;
    }
  }
  best.note = best.module.empty()
                  ? "a guess found no module: none knows the group's item ids"
                  : "a guess from item ids alone (a file does not record which module wrote a group): " +
                        std::to_string(best.matched) + " of the group's " + std::to_string(ids.size()) +
                        " item ids belong to module '" + best.module + "'";
  return best;
}

// --- the typed overloads ---

namespace {

void readInto(const Group& g, const ModuleOps& m, void* d) {
  const char* op = "Group::read";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(g, op);
  {
    Descr fresh(m);
    m.assign(d, fresh.d);
  }
  readModule(m, f, d, g);
}

void writeFrom(Group& g, const ModuleOps& m, void* d, void* previous) {
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(g, "Group::write");
  keepGroupName(m, d, g, "Group::write");
  const int rc = m.write(f.handle, previous, d);
  if (rc != VelFile::kOk) failCode((std::string(m.prefix) + "_WriteGroupInfo").c_str(), rc, whereOf(g));
}

}  // namespace

#define VELFILE_LAYER_TYPED(prefix, key, D)                         \
  void read_descriptor_into(const Group& group, D& descr) {         \
    readInto(group, prefix##Ops(), &descr);                         \
  }                                                                 \
  void write_descriptor_from(Group& group, D& descr, D* previous) { \
    writeFrom(group, prefix##Ops(), &descr, previous);              \
  }
VELFILE_LAYER_MODULES(VELFILE_LAYER_TYPED)
#undef VELFILE_LAYER_TYPED

}  // namespace velfile
