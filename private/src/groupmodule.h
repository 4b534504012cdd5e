// The framework shared by every group module.
//
// A module is its descriptor type, a Module<D> (source name, signature,
// layout version, foreign-id policy, hook slots, particulars) and a table of
// ItemRule<D> in write order, each row with the field's default. The read
// loop, the write-what-changed sequence, the descriptor's defaults, copy and
// comparison, the hooks and the diagnostic reports live here once:
//
//   Module<D> kProbe({"private/src/gprobe", 0x56789012, 2, Foreign::Report}, kProbeItems);
//   int gprobe_ReadGroupInfo(void* g, D* d) { return readGroup(kProbe, g, d); }
//   void CGProbeTypeDescr::initializeData() { initializeFields(kProbe, *this); }
//
// A new item is its member in the descriptor and one row in the table. A new
// module is its header, its source (the table, the module, the exported
// operations from the macros below) and its line and include in
// <velfile/modules.h>; the module test then asks for its row.
#ifndef VELFILE_GROUPMODULE_H
#define VELFILE_GROUPMODULE_H

#include <velfile/modules.h>
#include <velfile/velfile.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "diag.h"
#include "itemio.h"

namespace velfile {

// --- hooks ---

struct ModuleHooks {
  VelEnterHook enter = nullptr;
  VelLeaveHook leave = nullptr;
  VelAllocHook alloc = nullptr;  // stored only
  VelFreeHook free = nullptr;    // stored only
  const void* error = nullptr;   // stored only; its signature differs per module
  void set(VelEnterHook e, VelLeaveHook l, VelAllocHook a, VelFreeHook f, const void* err) {
    enter = e;
    leave = l;
    alloc = a;
    free = f;
    error = err;
  }
};

// Calls the module's enter hook now and its leave hook on every way out.
class ModuleScope {
 public:
  explicit ModuleScope(const ModuleHooks& h) : hooks_(h) {
    if (hooks_.enter) hooks_.enter();
  }
  ~ModuleScope() {
    if (hooks_.leave) hooks_.leave();
  }
  ModuleScope(const ModuleScope&) = delete;
  ModuleScope& operator=(const ModuleScope&) = delete;

 private:
  const ModuleHooks& hooks_;
};

// --- text fields ---

// Length of a fixed text field, never looking past its capacity.
inline size_t textLength(const VelChar* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n]) ++n;
  return n;
}
// Bounded copy that always terminates: a longer text is cut to capacity - 1.
inline void copyText(VelChar* dst, size_t capacity, const VelChar* src) {
  if (capacity == 0) return;
  size_t n = src ? textLength(src, capacity - 1) : 0;
  if (n) std::memmove(dst, src, n * sizeof(VelChar));
  std::memset(dst + n, 0, (capacity - n) * sizeof(VelChar));
}
// Ordinal comparison of two fixed text fields.
inline bool textEqual(const VelChar* a, const VelChar* b, size_t capacity) {
  for (size_t i = 0; i < capacity; ++i) {
    if (a[i] != b[i]) return false;
    if (a[i] == 0) return true;
  }
  return true;
}
inline bool textEqual(const VelChar* a, const VelChar* b) {
  size_t i = 0;
  for (; a[i] && a[i] == b[i]; ++i) {
  }
  return a[i] == b[i];
}

// --- descriptor fields, type-erased through member pointers ---

template <typename T>
struct MemberOf;
template <typename C, typename T>
struct MemberOf<T C::*> {
  using Class = C;
  using Type = T;
};

template <auto M>
constexpr void* fieldOf(void* d) {
  using Class = typename MemberOf<decltype(M)>::Class;
  return &(static_cast<Class*>(d)->*M);
}

enum class Kind : uint8_t { Int32, Int16, Float, Double, Byte, Text, Version, Custom };
// Memory: a field without an item, kept only in the descriptor.
enum class When : uint8_t { Always, Changed, Never, WithoutPrevious, Memory };
enum class Foreign : uint8_t { Report, Skip };

template <class D>
struct Module;
template <class D>
struct ItemRule;

template <class D>
struct ReadContext {
  void* group;
  uint16_t index;
  uint16_t id;
  uint16_t type;   // stored item type
  uint32_t count;  // stored element count
  D* d;
};

template <class D>
struct WriteContext {
  const Module<D>& module;
  void* group;
  D* prev;  // may be null
  D* cur;
  int arg = 0;            // a module's own extra write argument (gdata: the data-reference mode)
  void* extra = nullptr;  // gdata: the lines its bulk data is reserved in, written later
};

// A field's value as the C++ layer's generic descriptors see it, and the
// accessors of a field the table cannot reach through its member (one kept
// behind the descriptor's accessors, an array, an owned string). A setter
// returns false for a value the field cannot hold.
struct FieldData {
  enum Form : uint8_t { Integer, Real, Text, Reals } form = Integer;
  int64_t integer = 0;
  double real = 0;
  std::u16string text;
  std::vector<double> reals;
};
using FieldGet = void (*)(const void* descr, FieldData& out);
using FieldSet = bool (*)(void* descr, const FieldData& in);

template <class D>
struct ItemRule {
  uint16_t id;
  uint16_t type;  // written, and requested when read
  Kind kind;
  When when;
  void* (*field)(void*);
  uint32_t capacity;  // text fields: units
  int (*read)(const ItemRule<D>&, ReadContext<D>&);
  int (*write)(const ItemRule<D>&, WriteContext<D>&);
  const char* name = nullptr;  // the descriptor member the item carries
  uint32_t count = 1;          // elements of the field: 1, or the capacity of an array; 0 varies
  FieldGet get = nullptr;      // for custom rules; the others go through field
  FieldSet set = nullptr;
  double initial = 0;      // the field's default; texts start empty
  bool keepsTail = false;  // a text whose default is its terminator alone, the rest left as it was

  void* in(D* d) const { return field(d); }
};

template <typename T>
constexpr Kind kindOf() {
  if constexpr (std::is_same_v<T, float>)
    return Kind::Float;
  else if constexpr (std::is_same_v<T, double>)
    return Kind::Double;
  else if constexpr (std::is_integral_v<T> && sizeof(T) == 2)
    return Kind::Int16;
  else if constexpr (std::is_integral_v<T> && sizeof(T) == 4)
    return Kind::Int32;
  else if constexpr (std::is_array_v<T>)
    return Kind::Text;
  else
    return Kind::Custom;
}

// name is the member M, as the rule builders below take it: every rule names
// its field, so that the C++ layer can offer a module's fields as data.
template <auto M>
constexpr ItemRule<typename MemberOf<decltype(M)>::Class> item(const char* name, uint16_t id, uint16_t type,
                                                               When when, double initial = 0) {
  using Type = typename MemberOf<decltype(M)>::Type;
  constexpr Kind kind = kindOf<Type>();
  static_assert(kind != Kind::Custom, "use custom() for fields of this type");
  const uint32_t capacity = std::is_array_v<Type> ? static_cast<uint32_t>(std::extent_v<Type>) : 0;
  ItemRule<typename MemberOf<decltype(M)>::Class> r{id,          type,     kind,    when,
                                                    &fieldOf<M>, capacity, nullptr, nullptr};
  r.name = name;
  r.count = capacity ? capacity : 1;
  r.initial = initial;
  return r;
}

// Rule builders, named after the write rule, the default last (0 if left
// out): changed<&D::item3>("item3", 3, kF32, 1.0f).
template <auto M>
constexpr auto always(const char* name, uint16_t id, uint16_t type, double initial = 0) {
  return item<M>(name, id, type, When::Always, initial);
}
template <auto M>
constexpr auto changed(const char* name, uint16_t id, uint16_t type, double initial = 0) {
  return item<M>(name, id, type, When::Changed, initial);
}
// Read into the field, never written.
template <auto M>
constexpr auto readOnly(const char* name, uint16_t id, uint16_t type) {
  return item<M>(name, id, type, When::Never);
}
// Written only when there is no previous descriptor.
template <auto M>
constexpr auto withoutPrevious(const char* name, uint16_t id, uint16_t type, double initial = 0) {
  return item<M>(name, id, type, When::WithoutPrevious, initial);
}
// A field without an item: never read nor written, nor offered to the C++
// layer, but set, copied and compared with the others.
template <auto M>
constexpr auto inMemory(const char* name, double initial = 0) {
  return item<M>(name, 0, 0, When::Memory, initial);
}
// A 32-bit field of which one byte (the low-order one) is stored as type 3.
template <auto M>
constexpr auto byteItem(const char* name, uint16_t id, When when, double initial = 0) {
  auto r = item<M>(name, id, VelFile::kTypeUInt8, when, initial);
  r.kind = Kind::Byte;
  return r;
}
// A text rule whose default sets the terminator alone.
template <class D>
constexpr ItemRule<D> keepingTail(ItemRule<D> r) {
  r.keepsTail = true;
  return r;
}
// Item 9999: the layout version, set to the module's constant and written;
// initial is what a fresh descriptor holds.
template <class D>
constexpr ItemRule<D> version(int32_t initial = 0) {
  ItemRule<D> r{VelFile::kItemLayoutVersion,
                VelFile::kTypeUInt32,
                Kind::Version,
                When::Always,
                &fieldOf<&D::layoutVersion>,
                0,
                nullptr,
                nullptr};
  r.name = "layoutVersion";
  r.initial = initial;
  return r;
}
// A module particular: its own read and/or write (null: not read / not
// written), and its accessors for the generic descriptors (a field behind
// the descriptor's accessors has no member pointer to go through).
template <class D>
constexpr ItemRule<D> custom(const char* name, uint16_t id, uint16_t type,
                             int (*read)(const ItemRule<D>&, ReadContext<D>&),
                             int (*write)(const ItemRule<D>&, WriteContext<D>&),
                             void* (*field)(void*) = nullptr, FieldGet get = nullptr, FieldSet set = nullptr,
                             uint32_t count = 1) {
  ItemRule<D> r{id, type, Kind::Custom, When::Always, field, 0, read, write};
  r.name = name;
  r.get = get;
  r.set = set;
  r.count = count;
  return r;
}
// A table rule whose reading (or writing) is the module's own, the other half
// staying the common one: withRead(always<&D::item1>(1, kTypeInt32), &readAsUnsigned).
template <class D>
constexpr ItemRule<D> withRead(ItemRule<D> r, int (*read)(const ItemRule<D>&, ReadContext<D>&)) {
  r.read = read;
  return r;
}
template <class D>
constexpr ItemRule<D> withWrite(ItemRule<D> r, int (*write)(const ItemRule<D>&, WriteContext<D>&)) {
  r.write = write;
  return r;
}

// --- the module ---

struct ModuleInfo {
  const char* source;  // for diagnostic reports, e.g. "private/src/gprobe"
  uint32_t signature;  // unused by the structure modules
  int32_t version;     // layout version written as item 9999
  Foreign foreign;     // what the reader does with ids outside the table
};

template <class D>
struct Module {
  ModuleInfo info;
  const ItemRule<D>* rules;
  size_t ruleCount;
  ModuleHooks hooks;
  // Particulars; null or default means the common behaviour.
  bool setsName = true;                               // file_GroupNameSet before the items
  bool updatesPrevious = true;                        // previous = current after writing
  void (*reset)(D&) = nullptr;                        // readGroup(..., reset = true) runs it first
  void (*stamp)(D&, void* group) = nullptr;           // replaces storing signature, handle, swap flag
  void (*afterRead)(D&) = nullptr;                    // runs when the walk ended without error
  void (*beforeWrite)(D&) = nullptr;                  // checks made before anything is written
  void (*assignPrevious)(D& prev, D& cur) = nullptr;  // replaces prev = cur

  // Constant: a module is ready before any descriptor is constructed.
  template <size_t N>
  constexpr Module(ModuleInfo i, const ItemRule<D> (&table)[N]) : info(i), rules(table), ruleCount(N) {}
  // A table built elsewhere (for instance shared by two twin modules); it must
  // outlive the module.
  constexpr Module(ModuleInfo i, const ItemRule<D>* table, size_t count)
      : info(i), rules(table), ruleCount(count) {}

  const ItemRule<D>* find(uint16_t id) const {
    for (size_t i = 0; i < ruleCount; ++i)
      if (rules[i].id == id && rules[i].kind != Kind::Version && rules[i].when != When::Memory)
        return &rules[i];
    return nullptr;
  }
};

// --- a module as data, for the C++ layer ---

// One rule without its descriptor type.
struct RuleView {
  const char* name;
  uint16_t id;
  uint16_t type;
  uint32_t count;
  Kind kind;
  When when;
  uint32_t capacity;
  void* (*field)(void*);
  FieldGet get;
  FieldSet set;
};

// What the layer needs of a module: its rules and its exported operations,
// behind type-erased calls (made under the layer's lock).
struct ModuleOps {
  const char* name;        // the layer's short name: "probe", "gate", ...
  const char* prefix;      // of the exported functions: "gprobe"
  const char* descriptor;  // the descriptor type's name
  uint32_t nameCapacity;   // of its group name field
  void* (*nameField)(void*);
  std::vector<RuleView> rules;
  void* (*create)();                                   // the module's Allocate, defaults in
  void (*destroy)(void*);                              // its Delete
  void (*assign)(void* to, const void* from);          // the descriptor's assignment
  int (*read)(void* group, void* descr);               // its ReadGroupInfo
  int (*write)(void* group, void* prev, void* descr);  // its WriteGroupInfo (prev may be null)
};

template <class D>
std::vector<RuleView> ruleViews(const Module<D>& m) {
  std::vector<RuleView> out;
  for (size_t i = 0; i < m.ruleCount; ++i) {
    const ItemRule<D>& r = m.rules[i];
    if (r.when == When::Memory) continue;
    out.push_back({r.name, r.id, r.type, r.count, r.kind, r.when, r.capacity, r.field, r.get, r.set});
  }
  return out;
}

// (The channel descriptor's assignment takes a non-constant source.)
template <class D>
void assignDescr(void* to, const void* from) {
  *static_cast<D*>(to) = *static_cast<D*>(const_cast<void*>(from));
}

// Each module source defines its const ModuleOps& <prefix>Ops().
#define VELFILE_DECLARE_OPS(prefix, key, D) const ModuleOps& prefix##Ops();
VELFILE_LAYER_MODULES(VELFILE_DECLARE_OPS)
#undef VELFILE_DECLARE_OPS
// The data module, whose descriptor's operations live in a source of their own.
const Module<CGDataTypeFDD>& dataModule();

// --- common fields ---

template <class D, class = void>
struct HasSignature : std::false_type {};
template <class D>
struct HasSignature<D, std::void_t<decltype(std::declval<D&>().signature)>> : std::true_type {};

// A descriptor that keeps its group handle behind an accessor stores it in
// its module's stamp instead.
template <class D, class = void>
struct HasGroupHandle : std::false_type {};
template <class D>
struct HasGroupHandle<D, std::void_t<decltype(std::declval<D&>().groupHandle)>> : std::true_type {};

template <class D>
void storeGroupHandle(D& d, void* group) {
  if constexpr (HasGroupHandle<D>::value) d.groupHandle = group;
  (void)d;
  (void)group;
}

template <class D>
void setSignature(const Module<D>& m, D& d) {
  if constexpr (HasSignature<D>::value) d.signature = m.info.signature;
  (void)m;
  (void)d;
}

// For Module::reset: the descriptor's own initializeData.
template <class D>
void initializeDescr(D& d) {
  d.initializeData();
}

// For Module::assignPrevious: previous = current, except the field M, which
// previous keeps.
template <auto M>
void assignKeeping(typename MemberOf<decltype(M)>::Class& prev, typename MemberOf<decltype(M)>::Class& cur) {
  const auto kept = prev.*M;
  prev = cur;
  prev.*M = kept;
}

template <class D>
constexpr size_t nameCapacity() {
  return std::extent_v<decltype(D::groupName)>;
}

// --- reading and writing single items (also for the modules' particulars) ---

inline int writeItem(void* group, uint16_t id, uint16_t type, uint32_t count, const void* value) {
  return VelFile::file_ItemValueWrite(group, id, type, count, static_cast<const char*>(value));
}

// Writes a text field as type 12 with count = characters + 1, cut to the field.
int writeText(void* group, uint16_t id, const VelChar* text, size_t capacity);
// Reads a text item (any stored string type) into a fixed field: cut to the
// field and terminated; the field keeps its value when the read fails.
int readText(void* group, uint16_t index, VelChar* field, size_t capacity);
// Sets a group's name from a fixed field, never reading past it.
int setGroupName(void* group, const VelChar* name, size_t capacity);

bool fieldsDiffer(Kind kind, const void* a, const void* b, uint32_t capacity);
int readField(Kind kind, uint16_t type, void* group, uint16_t index, void* field, uint32_t capacity);
int writeField(Kind kind, uint16_t id, uint16_t type, void* group, const void* field, uint32_t capacity);

// --- the descriptor's defaults, copy and comparison, from its table ---

// The rules with a member behind them; a custom rule's field is its module's.
template <class D>
bool hasMember(const ItemRule<D>& r) {
  return r.kind != Kind::Custom && r.field;
}
template <class D>
void* memberIn(const ItemRule<D>& r, const D& d) {
  return r.field(const_cast<D*>(&d));
}
// Calls f(rule) for every rule with a member, in table order; stops at the
// first that returns false.
template <class D, class F>
bool forEachMember(const Module<D>& m, F&& f) {
  for (size_t i = 0; i < m.ruleCount; ++i)
    if (hasMember(m.rules[i]) && !f(m.rules[i])) return false;
  return true;
}

void setDefault(Kind kind, void* field, double initial, uint32_t capacity, bool keepsTail);
// The bytes a field of the kind takes.
size_t fieldBytes(Kind kind, uint32_t capacity);
void copyField(Kind kind, void* to, const void* from, uint32_t capacity);

// Every field of the table at its default; the name empty, the signature
// the module's, the swap flag and handle clear.
template <class D>
void initializeFields(const Module<D>& m, D& d) {
  forEachMember(m, [&d](const ItemRule<D>& r) {
    setDefault(r.kind, r.field(&d), r.initial, r.capacity, r.keepsTail);
    return true;
  });
  copyText(d.groupName, nameCapacity<D>(), nullptr);
  setSignature(m, d);
  d.swapFlag = 0;
  storeGroupHandle(d, nullptr);
}

// A copy field by field: texts cut to their fields and terminated.
template <class D>
void assignFields(const Module<D>& m, D& d, const D& o) {
  forEachMember(m, [&](const ItemRule<D>& r) {
    copyField(r.kind, r.field(&d), memberIn(r, o), r.capacity);
    return true;
  });
  copyText(d.groupName, nameCapacity<D>(), o.groupName);
  if constexpr (HasSignature<D>::value) d.signature = o.signature;
  if constexpr (HasGroupHandle<D>::value) d.groupHandle = o.groupHandle;
  d.swapFlag = o.swapFlag;
}

// Zero bytes over every field, stored so that the optimiser keeps them even
// just before the descriptor's lifetime ends.
void wipeBytes(void* field, size_t bytes);
template <class D>
void wipeFields(const Module<D>& m, D& d) {
  forEachMember(m, [&d](const ItemRule<D>& r) {
    wipeBytes(r.field(&d), fieldBytes(r.kind, r.capacity));
    return true;
  });
  wipeBytes(d.groupName, sizeof d.groupName);
  wipeBytes(&d.signature, sizeof d.signature);
  wipeBytes(&d.swapFlag, sizeof d.swapFlag);
  wipeBytes(&d.groupHandle, sizeof d.groupHandle);
}

// Equal when every field is: floats as numbers, texts ordinally.
template <class D>
bool equalFields(const Module<D>& m, const D& a, const D& b) {
  if (&a == &b) return true;
  const bool same = forEachMember(m, [&](const ItemRule<D>& r) {
    return !fieldsDiffer(r.kind, memberIn(r, a), memberIn(r, b), r.capacity);
  });
  if (!same) return false;
  if constexpr (HasSignature<D>::value)
    if (a.signature != b.signature) return false;
  if constexpr (HasGroupHandle<D>::value)
    if (a.groupHandle != b.groupHandle) return false;
  return textEqual(a.groupName, b.groupName, nameCapacity<D>()) && a.swapFlag == b.swapFlag;
}

// --- record blocks: arrays of fixed-size records kept as raw bytes ---

// Reserves recordCount records of recordSize bytes in the handle's section and
// writes them there; returns the block's offset. Returns 0 and writes nothing
// when nothing could be reserved, or when the count is negative or its byte
// size does not fit 32 bits. A failed write is not reported.
uint32_t writeRecords(void* handle, int32_t recordCount, const void* records, uint32_t recordSize);
// Reads recordCount records of recordSize bytes at offset of the group's
// section into records; the container's result, or 2 (reading nothing) for a
// count that is negative or whose byte size does not fit 32 bits.
int readRecords(void* group, int32_t offset, int32_t recordCount, void* records, uint32_t recordSize);

// --- the common operations ---

template <class D>
D* allocateDescr(Module<D>& m, const VelChar* name) {
  ModuleScope scope(m.hooks);
  D* d = new (std::nothrow) D;
  if (d) {
    setSignature(m, *d);
    copyText(d->groupName, nameCapacity<D>(), name);
  }
  return d;
}

// A structure module's default record: zero bytes but for the table's defaults.
template <class D>
const D& defaultRecord(const Module<D>& m) {
  static const D record = [&m] {
    D d;
    std::memset(static_cast<void*>(&d), 0, sizeof d);
    forEachMember(m, [&d](const ItemRule<D>& r) {
      setDefault(r.kind, r.field(&d), r.initial, r.capacity, false);
      return true;
    });
    return d;
  }();
  return record;
}

// Structure descriptors: the default record or zero bytes, then the name.
template <class D>
D* allocateRecord(Module<D>& m, int flag, const VelChar* name) {
  static_assert(std::is_trivially_copyable_v<D>, "structure descriptors are plain records");
  ModuleScope scope(m.hooks);
  D* d = static_cast<D*>(::operator new(sizeof(D), std::nothrow));
  if (d) {
    if (flag)
      std::memcpy(static_cast<void*>(d), &defaultRecord(m), sizeof(D));
    else
      std::memset(static_cast<void*>(d), 0, sizeof(D));
    copyText(d->groupName, nameCapacity<D>(), name);
  }
  return d;
}

template <class D>
void deleteDescr(Module<D>& m, D* d, int flag) {
  ModuleScope scope(m.hooks);
  if (flag && d) {
    if constexpr (std::is_trivially_copyable_v<D>)
      ::operator delete(d);
    else
      delete d;
  }
}

template <class D>
int duplicateDescr(Module<D>& m, D* source, D* destination) {
  ModuleScope scope(m.hooks);
  if (!source || !destination) return -1;
  if constexpr (std::is_trivially_copyable_v<D>)
    std::memmove(static_cast<void*>(destination), source, sizeof(D));
  else
    *destination = *source;
  return 0;
}

template <class D>
void initDescr(Module<D>& m, D* d, bool reportNull) {
  if (!d && reportNull) VEL_DIAG(m.info.source);
  ModuleScope scope(m.hooks);
  if (d) {
    d->initializeData();
    setSignature(m, *d);
  }
}

template <class D>
int readRule(const ItemRule<D>& r, ReadContext<D>& ctx) {
  if (r.read) return r.read(r, ctx);
  if (r.kind == Kind::Custom) return VelFile::kOk;  // written only
  return readField(r.kind, r.type, ctx.group, ctx.index, r.field(ctx.d), r.capacity);
}

// The read loop: 16-bit count and index, id and count from file_ItemInfo,
// dispatch by id, stop at the first non-zero result.
template <class D>
int readGroup(Module<D>& m, void* group, D* d, bool reset = false) {
  int rc = VelFile::kOk;
  {
    ModuleScope scope(m.hooks);
    if (!d) {
      rc = VelFile::kErrNotFound;
    } else {
      if (reset && m.reset) m.reset(*d);
      if (m.stamp) {
        m.stamp(*d, group);
      } else {
        setSignature(m, *d);
        storeGroupHandle(*d, group);
        if (d->swapFlag == 0) d->swapFlag = VelFile::file_SwapNeeded(group);
      }
      const uint16_t n = static_cast<uint16_t>(VelFile::file_ItemNbrGet(group));
      for (uint16_t i = 0; i < n; ++i) {
        ReadContext<D> ctx{group, i, 0, 0, 0, d};
        rc = VelFile::file_ItemInfo(group, i, &ctx.id, &ctx.type, &ctx.count, nullptr, nullptr, 0);
        if (rc != VelFile::kOk) break;
        try {
          if (ctx.id == VelFile::kItemLayoutVersion) {
            rc = readItemValue(group, i, VelFile::kTypeUInt32, &d->layoutVersion, sizeof d->layoutVersion,
                               nullptr);
          } else if (ctx.id == VelFile::kItemName) {
            rc = readText(group, i, d->groupName, nameCapacity<D>());
          } else if (const ItemRule<D>* r = m.find(ctx.id)) {
            rc = readRule(*r, ctx);
          } else if (m.info.foreign == Foreign::Report) {
            VEL_DIAG(m.info.source);
          }
        } catch (const std::bad_alloc&) {
          rc = VelFile::kErrMemory;
        }
        if (rc != VelFile::kOk) break;
      }
      if (rc == VelFile::kOk && m.afterRead) m.afterRead(*d);
    }
  }
  if (rc != VelFile::kOk) VEL_DIAG(m.info.source);
  return rc;
}

template <class D>
bool ruleWrites(const ItemRule<D>& r, const WriteContext<D>& ctx) {
  switch (r.when) {
    case When::Always:
      return true;
    case When::Never:
    case When::Memory:
      return false;
    case When::WithoutPrevious:
      return ctx.prev == nullptr;
    case When::Changed:
      return ctx.prev == nullptr || fieldsDiffer(r.kind, r.field(ctx.prev), r.field(ctx.cur), r.capacity);
  }
  return false;
}

template <class D>
int writeRule(const ItemRule<D>& r, WriteContext<D>& ctx) {
  if (r.write) return r.write(r, ctx);
  if (r.kind == Kind::Custom) return VelFile::kOk;  // read only
  if (r.kind == Kind::Version) {
    ctx.cur->layoutVersion = ctx.module.info.version;
    return writeItem(ctx.group, r.id, r.type, 1, &ctx.cur->layoutVersion);
  }
  if (!ruleWrites(r, ctx)) return VelFile::kOk;
  return writeField(r.kind, r.id, r.type, ctx.group, r.field(ctx.cur), r.capacity);
}

// The write sequence: name, then every rule in table order, each by its
// rule; the results are OR-ed and previous is brought up to date.
// arg reaches the rules as WriteContext::arg.
template <class D>
int writeGroup(Module<D>& m, void* group, D* prev, D* cur, int arg, void* extra = nullptr) {
  int result = VelFile::kOk;
  ModuleScope scope(m.hooks);
  if (!cur) {
    VEL_DIAG(m.info.source);
    return VelFile::kErrNotFound;
  }
  if (m.beforeWrite) m.beforeWrite(*cur);
  if (m.setsName) {
    try {
      setGroupName(group, cur->groupName, nameCapacity<D>());
    } catch (const std::bad_alloc&) {
      // the name's result is not part of the write's result
    }
  }
  WriteContext<D> ctx{m, group, prev, cur, arg, extra};
  for (size_t i = 0; i < m.ruleCount; ++i) {
    try {
      result |= writeRule(m.rules[i], ctx);
    } catch (const std::bad_alloc&) {
      result |= VelFile::kErrMemory;
    }
  }
  if (prev && m.updatesPrevious && prev != cur) {
    if (m.assignPrevious)
      m.assignPrevious(*prev, *cur);
    else
      *prev = *cur;
  }
  return result;
}

template <class D>
int writeGroup(Module<D>& m, void* group, D* prev, D* cur) {
  return writeGroup(m, group, prev, cur, 0);
}

}  // namespace velfile

// --- the exported operations ---
//
// A module source defines its exported functions from its Module<D>, one
// line a set, each followed by a semicolon:
//
//   VELFILE_MODULE_API(gprobe, CGProbeTypeDescr, kProbe);          // Init, Allocate, Delete, Read, Write
//   VELFILE_MODULE_DUPLICATE(gprobe, CGProbeTypeDescr, kProbe);
//   VELFILE_MODULE_INIT_DESCR(gprobe, CGProbeTypeDescr, kProbe, true);  // true: a null one is reported
//
// An operation that differs from the common one (another signature, work of
// its own) is written out by hand next to them. The read runs the module's
// reset first where the module has one.
#define VELFILE_MODULE_INIT(prefix, module, ErrorHook)                                             \
  void prefix##_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free, \
                     ErrorHook error) {                                                            \
    module.hooks.set(enter, leave, alloc, free, reinterpret_cast<const void*>(error));             \
  }                                                                                                \
  static_assert(true, "")
#define VELFILE_MODULE_ALLOCATE(prefix, D, module) \
  D* prefix##_Allocate(int, const VelChar* name) { \
    return ::velfile::allocateDescr(module, name); \
  }                                                \
  static_assert(true, "")
#define VELFILE_MODULE_DELETE(prefix, D, module) \
  void prefix##_Delete(D* d, int flag) {         \
    ::velfile::deleteDescr(module, d, flag);     \
  }                                              \
  static_assert(true, "")
#define VELFILE_MODULE_DUPLICATE(prefix, D, module)                \
  int prefix##_Duplicate(D* source, D* destination) {              \
    return ::velfile::duplicateDescr(module, source, destination); \
  }                                                                \
  static_assert(true, "")
#define VELFILE_MODULE_INIT_DESCR(prefix, D, module, reportNull) \
  void prefix##_InitDescr(D* d) {                                \
    ::velfile::initDescr(module, d, reportNull);                 \
  }                                                              \
  static_assert(true, "")
#define VELFILE_MODULE_READ(prefix, D, module)           \
  int prefix##_ReadGroupInfo(void* group, D* d) {        \
    return ::velfile::readGroup(module, group, d, true); \
  }                                                      \
  static_assert(true, "")
#define VELFILE_MODULE_WRITE(prefix, D, module)                       \
  int prefix##_WriteGroupInfo(void* group, D* previous, D* current) { \
    return ::velfile::writeGroup(module, group, previous, current);   \
  }                                                                   \
  static_assert(true, "")
// A module's ModuleOps from its exported functions; the read and write
// calls are given for the modules whose signatures depart from the common.
#define VELFILE_MODULE_OPS_WITH(prefix, shortName, descrName, D, module, readCall, writeCall, destroyCall) \
  const ::velfile::ModuleOps& velfile::prefix##Ops() {                                                     \
    static const ModuleOps ops{shortName,                                                                  \
                               #prefix,                                                                    \
                               descrName,                                                                  \
                               static_cast<uint32_t>(nameCapacity<D>()),                                   \
                               &fieldOf<&D::groupName>,                                                    \
                               ruleViews(module),                                                          \
                               []() -> void* { return prefix##_Allocate(1, nullptr); },                    \
                               destroyCall,                                                                \
                               &assignDescr<D>,                                                            \
                               readCall,                                                                   \
                               writeCall};                                                                 \
    return ops;                                                                                            \
  }                                                                                                        \
  static_assert(true, "")
#define VELFILE_MODULE_OPS(prefix, shortName, descrName, D, module)                   \
  VELFILE_MODULE_OPS_WITH(                                                            \
      prefix, shortName, descrName, D, module,                                        \
      [](void* g, void* d) { return prefix##_ReadGroupInfo(g, static_cast<D*>(d)); }, \
      [](void* g, void* p, void* d) {                                                 \
        return prefix##_WriteGroupInfo(g, static_cast<D*>(p), static_cast<D*>(d));    \
      },                                                                              \
      [](void* d) { prefix##_Delete(static_cast<D*>(d), 1); })

// The structure modules write every item every time: no previous descriptor.
#define VELFILE_RECORD_MODULE_OPS(prefix, shortName, descrName, D, module)                    \
  VELFILE_MODULE_OPS_WITH(                                                                    \
      prefix, shortName, descrName, D, module,                                                \
      [](void* g, void* d) { return prefix##_ReadGroupInfo(g, static_cast<D*>(d)); },         \
      [](void* g, void*, void* d) { return prefix##_WriteGroupInfo(g, static_cast<D*>(d)); }, \
      [](void* d) { prefix##_Delete(static_cast<D*>(d), 1); })
// A module's blocks of records of recordSize bytes (writeRecords, readRecords).
#define VELFILE_RECORD_BLOCKS(prefix, recordSize)                                                  \
  uint32_t prefix##_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records) {    \
    return ::velfile::writeRecords(handle, recordCount, records, recordSize);                      \
  }                                                                                                \
  int prefix##_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records) { \
    return ::velfile::readRecords(group, offset, recordCount, records, recordSize);                \
  }                                                                                                \
  static_assert(true, "")

#define VELFILE_MODULE_API(prefix, D, module)        \
  VELFILE_MODULE_INIT(prefix, module, VelErrorHook); \
  VELFILE_MODULE_ALLOCATE(prefix, D, module);        \
  VELFILE_MODULE_DELETE(prefix, D, module);          \
  VELFILE_MODULE_READ(prefix, D, module);            \
  VELFILE_MODULE_WRITE(prefix, D, module)

// The structure modules: no Init; Allocate gives the defaults record (flag
// non-zero) or zero bytes, and the write takes the descriptor alone and
// writes every item every time.
#define VELFILE_RECORD_MODULE_API(prefix, D, module)            \
  D* prefix##_Allocate(int flag, const VelChar* name) {         \
    return ::velfile::allocateRecord(module, flag, name);       \
  }                                                             \
  VELFILE_MODULE_DELETE(prefix, D, module);                     \
  VELFILE_MODULE_READ(prefix, D, module);                       \
  int prefix##_WriteGroupInfo(void* group, D* d) {              \
    return ::velfile::writeGroup<D>(module, group, nullptr, d); \
  }                                                             \
  static_assert(true, "")

#endif
