// The data group: the item layout of a CGDataTypeFDD.
#include <velfile/gdata.h>

#include <algorithm>
#include <limits>

#include "gdatalines.h"
#include "groupmodule.h"

using namespace velfile;
using D = CGDataTypeFDD;
using VelFile::kOk;

namespace {

const uint16_t kU16 = VelFile::kTypeUInt16;
const uint16_t kI32 = VelFile::kTypeInt32;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;
const uint16_t kF64 = VelFile::kTypeDouble;
const uint16_t kText = VelFile::kTypeUtf16;
const size_t kDepthDoubles = 64;

// --- fields behind accessors: read into a temporary handed to the setter,
// written from the getter ---

template <auto Get, auto Set, int32_t Start>
int readThrough(const ItemRule<D>& r, ReadContext<D>& ctx) {
  using T = std::decay_t<decltype((std::declval<D&>().*Get)())>;
  int32_t v = Start;
  const int rc = readItemValue(ctx.group, ctx.index, r.type, &v, sizeof v, nullptr);
  if (rc == kOk) (ctx.d->*Set)(static_cast<T>(v));
  return rc;
}

template <auto Get>
int writeThrough(const ItemRule<D>& r, WriteContext<D>& ctx) {
  if (r.when == When::Changed && ctx.prev && (ctx.prev->*Get)() == (ctx.cur->*Get)()) return kOk;
  const auto value = (ctx.cur->*Get)();
  return writeItem(ctx.group, r.id, r.type, 1, &value);
}

// For the generic descriptors: the value through the getter, and through the
// setter, refused when the setter would store something else.
template <auto Get>
void getThrough(const void* d, FieldData& out) {
  out.integer = static_cast<int64_t>((static_cast<const D*>(d)->*Get)());
}
template <auto Get, auto Set>
bool setThrough(void* d, const FieldData& in) {
  using T = std::decay_t<decltype((std::declval<D&>().*Get)())>;
  using Stored = std::conditional_t<std::is_enum_v<T>, int32_t, T>;
  if (in.integer < int64_t(std::numeric_limits<Stored>::min()) ||
      in.integer > int64_t(std::numeric_limits<Stored>::max()))
    return false;
  D& descr = *static_cast<D*>(d);
  const T value = static_cast<T>(in.integer);
  (descr.*Set)(value);
  return (descr.*Get)() == value;
}

template <auto Get, auto Set, int32_t Start = 0>
constexpr ItemRule<D> through(const char* name, uint16_t id, When when) {
  ItemRule<D> r = custom<D>(name, id, kU32, &readThrough<Get, Set, Start>, &writeThrough<Get>, nullptr,
                            &getThrough<Get>, &setThrough<Get, Set>);
  r.when = when;
  return r;
}

// A patch ID beyond the largest valid one is read as 0.
int readPatchID(const ItemRule<D>& r, ReadContext<D>& ctx) {
  uint32_t id = 0;
  const int rc = readItemValue(ctx.group, ctx.index, r.type, &id, sizeof id, nullptr);
  if (rc != kOk) return rc;
  if (id > ctx.d->GetMaxPatchIDValue()) id = 0;
  ctx.d->SetPatchID(id);
  return rc;
}

// A longer name in the file is cut to 31 characters rather than refused.
int readPatchIDName(const ItemRule<D>&, ReadContext<D>& ctx) {
  VelChar name[32] = {};
  const int rc = readText(ctx.group, ctx.index, name, 32);
  if (rc == kOk) ctx.d->SetPatchIDName(name, 31);
  return rc;
}

int writePatchIDName(const ItemRule<D>& r, WriteContext<D>& ctx) {
  const VelChar* cur = nullptr;
  ctx.cur->GetPatchIDName(&cur);
  if (ctx.prev) {
    const VelChar* prev = nullptr;
    ctx.prev->GetPatchIDName(&prev);
    if (textEqual(prev, cur, 32)) return kOk;
  }
  return writeText(ctx.group, r.id, cur, 32);
}

// --- write rules with conditions of their own ---

// The rule's plain behaviour, for particulars that only add a condition.
int writePlain(const ItemRule<D>& r, WriteContext<D>& ctx) {
  ItemRule<D> plain = r;
  plain.write = nullptr;
  return writeRule(plain, ctx);
}

// Once a group of these classes exists, its sample axis items stay as first
// written.
template <int (*Write)(const ItemRule<D>&, WriteContext<D>&)>
int writeSampleAxis(const ItemRule<D>& r, WriteContext<D>& ctx) {
  static const int32_t kKept[] = {2, 3, 5, 6, 12, 13, 17};
  if (ctx.prev && std::count(std::begin(kKept), std::end(kKept), ctx.cur->dataClass)) return kOk;
  return Write(r, ctx);
}

template <auto M>
constexpr ItemRule<D> sampleAxis(const char* name, uint16_t id, uint16_t type, double initial = 0) {
  ItemRule<D> r = changed<M>(name, id, type, initial);
  r.write = &writeSampleAxis<&writePlain>;
  return r;
}

constexpr ItemRule<D> sampleQuantity() {
  ItemRule<D> r = through<&D::GetSampleQty, &D::SetSampleQty>("sampleQty", 10430, When::Changed);
  r.write = &writeSampleAxis<&writeThrough<&D::GetSampleQty>>;
  return r;
}

float& angleIn(const ItemRule<D>& r, D* d) {
  return *static_cast<float*>(r.field(d));
}

int readAngle(const ItemRule<D>& r, ReadContext<D>& ctx) {
  const int rc = readField(r.kind, r.type, ctx.group, ctx.index, r.field(ctx.d), r.capacity);
  if (rc != kOk) return rc;
  float& angle = angleIn(r, ctx.d);
  angle = static_cast<float>(NormalizeAngle(angle));
  return rc;
}

// Angles are compared, stored and written in [0, 360).
int writeAngle(const ItemRule<D>& r, WriteContext<D>& ctx) {
  float& angle = angleIn(r, ctx.cur);
  const double normal = NormalizeAngle(angle);
  if (ctx.prev && !(normal != NormalizeAngle(angleIn(r, ctx.prev)))) return kOk;
  angle = static_cast<float>(normal);
  return writeItem(ctx.group, r.id, r.type, 1, &angle);
}

template <auto M>
constexpr ItemRule<D> angle(const char* name, uint16_t id) {
  ItemRule<D> r = changed<M>(name, id, kF32);
  r.read = &readAngle;
  r.write = &writeAngle;
  return r;
}

// The depth table travels as pairs of doubles; a block read that fails
// leaves the table as it was and does not stop the read.
int readDepthTable(const ItemRule<D>&, ReadContext<D>& ctx) {
  double values[kDepthDoubles];
  for (size_t i = 0; i < 32; ++i) {
    values[2 * i] = ctx.d->depthTable[i].firstValue;
    values[2 * i + 1] = ctx.d->depthTable[i].secondValue;
  }
  if (readItemBlock(ctx.group, ctx.index, kF64, values, kDepthDoubles) == kOk) {
    for (size_t i = 0; i < 32; ++i) {
      ctx.d->depthTable[i].firstValue = values[2 * i];
      ctx.d->depthTable[i].secondValue = values[2 * i + 1];
    }
  }
  return kOk;
}

int writeDepthTable(const ItemRule<D>& r, WriteContext<D>& ctx) {
  const size_t entries = std::min<size_t>(ctx.cur->depthEntryCount, 32);
  double values[kDepthDoubles];
  for (size_t i = 0; i < entries; ++i) {
    values[2 * i] = ctx.cur->depthTable[i].firstValue;
    values[2 * i + 1] = ctx.cur->depthTable[i].secondValue;
  }
  return writeItem(ctx.group, r.id, r.type, static_cast<uint32_t>(2 * entries), values);
}

// A one-shot flag: the file always holds 0, and writing clears it.
int readThickness(const ItemRule<D>& r, ReadContext<D>& ctx) {
  int32_t discarded = 0;
  return readItemValue(ctx.group, ctx.index, r.type, &discarded, sizeof discarded, nullptr);
}

int writeThickness(const ItemRule<D>& r, WriteContext<D>& ctx) {
  if (ctx.prev && ctx.prev->IsThicknessMeasurement() == ctx.cur->IsThicknessMeasurement()) return kOk;
  const int32_t zero = 0;
  ctx.cur->SetThicknessMeasurement(0);
  return writeItem(ctx.group, r.id, r.type, 1, &zero);
}

// Only the low half of the data reference is stored; the high half stays.
int readDataReference(const ItemRule<D>& r, ReadContext<D>& ctx) {
  uint32_t low = 0;
  const int rc = readItemValue(ctx.group, ctx.index, r.type, &low, sizeof low, nullptr);
  if (rc == kOk) ctx.d->dataReference = (ctx.d->dataReference & 0xFFFFFFFF00000000ull) | low;
  return rc;
}

// Mode non-zero stores the reference the descriptor holds; mode 0 writes the
// bulk data when the data group changed or the data is marked modified.
int writeDataReference(const ItemRule<D>& r, WriteContext<D>& ctx) {
  D& cur = *ctx.cur;
  if (ctx.arg != 0) {
    if (ctx.prev && ctx.prev->dataReference == cur.dataReference) return kOk;
    if (cur.dataReference > 0xFFFFFFFFull) VEL_DIAG("private/src/gdata");
    const uint32_t low = static_cast<uint32_t>(cur.dataReference);
    return writeItem(ctx.group, r.id, r.type, 1, &low);
  }
  if (ctx.prev && ctx.prev->GetDataGroupHandle() == cur.GetDataGroupHandle() && !cur.IsDataModified())
    return kOk;
  cur.SetDataGroupHandle(ctx.prev ? ctx.prev->GetGroupHandle() : ctx.group);
  cur.SetGroupHandle(ctx.group);
  if (ctx.extra) return static_cast<DataLines*>(ctx.extra)->reserve(cur);
  return gdata_WriteDataClassData(ctx.prev, &cur);
}

void getPatchIDName(const void* d, FieldData& out) {
  const VelChar* name = nullptr;
  const uint64_t n = static_cast<const D*>(d)->GetPatchIDName(&name);
  out.form = FieldData::Text;
  out.text.assign(reinterpret_cast<const char16_t*>(name), size_t(n));
}
bool setPatchIDName(void* d, const FieldData& in) {
  if (in.text.size() > 31) return false;
  static_cast<D*>(d)->SetPatchIDName(reinterpret_cast<const VelChar*>(in.text.c_str()),
                                     static_cast<uint32_t>(in.text.size()));
  return true;
}

// The depth table as 2 x depth entry count doubles.
void getDepthTable(const void* d, FieldData& out) {
  const D& descr = *static_cast<const D*>(d);
  out.form = FieldData::Reals;
  for (size_t i = 0; i < std::min<size_t>(descr.depthEntryCount, 32); ++i) {
    out.reals.push_back(descr.depthTable[i].firstValue);
    out.reals.push_back(descr.depthTable[i].secondValue);
  }
}
bool setDepthTable(void* d, const FieldData& in) {
  if (in.reals.size() > kDepthDoubles || in.reals.size() % 2) return false;
  D& descr = *static_cast<D*>(d);
  for (size_t i = 0; i < in.reals.size(); i += 2) {
    descr.depthTable[i / 2].firstValue = in.reals[i];
    descr.depthTable[i / 2].secondValue = in.reals[i + 1];
  }
  return true;
}

void getThickness(const void* d, FieldData& out) {
  out.integer = static_cast<const D*>(d)->IsThicknessMeasurement();
}
bool setThickness(void* d, const FieldData& in) {
  if (in.integer < INT32_MIN || in.integer > INT32_MAX) return false;
  static_cast<D*>(d)->SetThicknessMeasurement(static_cast<int>(in.integer));
  return true;
}

void getDataReference(const void* d, FieldData& out) {
  out.integer = static_cast<int64_t>(static_cast<const D*>(d)->dataReference);
}
bool setDataReference(void* d, const FieldData& in) {
  if (in.integer < 0) return false;
  static_cast<D*>(d)->dataReference = static_cast<uint64_t>(in.integer);
  return true;
}

constexpr ItemRule<D> kItems[] = {
    always<&D::dataClass>("dataClass", 10400, kU32),
    always<&D::item10200>("item10200", 10200, kU32),
    always<&D::item10418>("item10418", 10418, kU32),
    always<&D::item10206>("item10206", 10206, kU32),
    custom<D>("patchID", 10408, kU32, &readPatchID, &writeThrough<&D::GetPatchID>, nullptr,
              &getThrough<&D::GetPatchID>, &setThrough<&D::GetPatchID, &D::SetPatchID>),
    through<&D::GetDataBookmarkType, &D::SetDataBookmarkType>("bookmarkType", 10500, When::Always),
    version<D>(),
    changed<&D::item10405>("item10405", 10405, kU32),
    changed<&D::item10407>("item10407", 10407, kText),
    changed<&D::item10406>("item10406", 10406, kText),
    changed<&D::item10208>("item10208", 10208, kText),
    changed<&D::item10419>("item10419", 10419, kText),
    changed<&D::item10207>("item10207", 10207, kText),
    custom<D>("patchIDName", 10409, kText, &readPatchIDName, &writePatchIDName, nullptr, &getPatchIDName,
              &setPatchIDName, 32),
    changed<&D::item10100>("item10100", 10100, kU32),
    changed<&D::item10401>("item10401", 10401, kU32),
    changed<&D::item10402>("item10402", 10402, kU32),
    changed<&D::item10403>("item10403", 10403, kU32),
    changed<&D::item10404>("item10404", 10404, kU32),
    changed<&D::item10440>("item10440", 10440, kU32),
    changed<&D::firstPointCount>("firstPointCount", 10420, kU32, -1),
    changed<&D::firstAxisFactor>("firstAxisFactor", 10421, kF32, 1.0f),
    changed<&D::firstAxisOffset>("firstAxisOffset", 10422, kF32),
    changed<&D::firstAxisInteger>("firstAxisInteger", 10423, kU32),
    changed<&D::secondPointCount>("secondPointCount", 10410, kU32, -1),
    changed<&D::secondAxisFactor>("secondAxisFactor", 10411, kF32, 1.0f),
    changed<&D::secondAxisOffset>("secondAxisOffset", 10412, kF32),
    changed<&D::secondAxisInteger>("secondAxisInteger", 10413, kU32),
    sampleQuantity(),
    sampleAxis<&D::sampleAxisFactor>("sampleAxisFactor", 10431, kF32, 1.0f),
    sampleAxis<&D::sampleAxisOffset>("sampleAxisOffset", 10432, kF32),
    changed<&D::sampleAxisInteger>("sampleAxisInteger", 10433, kU32),
    through<&D::GetDataType, &D::SetDataType, -1>("dataType", 10450, When::Changed),
    changed<&D::item10451>("item10451", 10451, kF32, 1.0e38f),
    changed<&D::item10452>("item10452", 10452, kF32, 1.0e38f),
    through<&D::GetDataUnits, &D::SetDataUnits, -1>("dataUnits", 10453, When::Changed),
    changed<&D::item10454>("item10454", 10454, kF32, 1.0f),
    changed<&D::item10455>("item10455", 10455, kF32),
    changed<&D::item10465>("item10465", 10465, kU32, -1),
    changed<&D::item10466>("item10466", 10466, kU32),
    changed<&D::item10467>("item10467", 10467, kU32),
    changed<&D::item10468>("item10468", 10468, kU32),
    through<&D::GetDataScale, &D::SetDataScale, -1>("dataScale", 10469, When::Changed),
    through<&D::GetDataRectification, &D::SetDataRectification, -1>("dataRectification", 10459,
                                                                    When::Changed),
    changed<&D::item1007>("item1007", 1007, kF32),
    angle<&D::firstAngle>("firstAngle", 10457),
    changed<&D::item1106>("item1106", 1106, kF32),
    angle<&D::secondAngle>("secondAngle", 10458),
    changed<&D::item2604>("item2604", 2604, kF32),
    changed<&D::item10456>("item10456", 10456, kF32, 3265.0f),
    changed<&D::item10480>("item10480", 10480, kU32, -1),
    changed<&D::item10481>("item10481", 10481, kF64),
    changed<&D::depthEntryCount>("depthEntryCount", 10483, kU16),
    custom<D>("depthTable", 10482, kF64, &readDepthTable, &writeDepthTable, nullptr, &getDepthTable,
              &setDepthTable, kDepthDoubles),
    changed<&D::item10484>("item10484", 10484, kF32),
    changed<&D::item10485>("item10485", 10485, kU32, -1),
    changed<&D::item10486>("item10486", 10486, kI32),
    changed<&D::item10487>("item10487", 10487, kI32),
    changed<&D::item10488>("item10488", 10488, kI32),
    changed<&D::item10460>("item10460", 10460, kU32, 3),
    changed<&D::pointEntrySize>("pointEntrySize", 10462, kU32, -1),
    changed<&D::item10463>("item10463", 10463, kU32, 256),
    changed<&D::item1>("item1", 1, kU32),
    changed<&D::item2>("item2", 2, kU32),
    changed<&D::item3>("item3", 3, kU32),
    changed<&D::item4>("item4", 4, kF32),
    changed<&D::item5>("item5", 5, kF32),
    changed<&D::item6>("item6", 6, kU32),
    custom<D>("thicknessMeasurement", 10470, kU32, &readThickness, &writeThickness, nullptr, &getThickness,
              &setThickness),
    custom<D>("dataReference", 10461, kU32, &readDataReference, &writeDataReference, nullptr,
              &getDataReference, &setDataReference),
};

void stamp(D& d, void* group) {
  d.signature = 0x12345678;
  d.SetGroupHandle(group);
  if (d.swapFlag == 0) d.swapFlag = VelFile::file_SwapNeeded(group);
  d.SetDataGroupHandle(group);
}

void afterRead(D& d) {
  d.sampleSize = VelFile::file_SizeOf(static_cast<uint16_t>(d.GetDataType()));
  if (d.item2604 < 0.0f || d.item2604 > 5.0f) d.item2604 = 0.05f;
}

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/gdata", 0x12345678, 2, Foreign::Skip}, kItems);
  m.stamp = &stamp;
  m.afterRead = &afterRead;
  m.assignPrevious = &assignKeeping<&D::dataReference>;
  return m;
}
Module<D> kData = makeModule();

}  // namespace

const Module<D>& velfile::dataModule() {
  return kData;
}

int velfile::reserveDataLines(void* group, D& d, DataLines* lines) {
  return writeGroup(kData, group, static_cast<D*>(nullptr), &d, 0, static_cast<void*>(lines));
}

void gdata_Init() {
  kData.hooks.set(nullptr, nullptr, nullptr, nullptr, nullptr);
}

D* gdata_Allocate(int, const VelChar* name) {
  return allocateDescr(kData, name);
}

void gdata_Delete(D*& d) {
  ModuleScope scope(kData.hooks);
  try {
    delete d;
  } catch (...) {
    VEL_DIAG(kData.info.source);
  }
  d = nullptr;
}

int gdata_Duplicate(D* source, D* destination) {
  return duplicateDescr(kData, source, destination);
}

void gdata_InitDescr(D* d) {
  if (!d) VEL_DIAG(kData.info.source);
  ModuleScope scope(kData.hooks);
  if (d) d->InitializeData();  // which also stores the signature
}

int gdata_ReadGroupInfo(void* group, D* d) {
  return readGroup(kData, group, d);
}

int gdata_WriteGroupInfo(void* group, D* previous, D* current, int mode) {
  return writeGroup(kData, group, previous, current, mode);
}
// Mode 1: the layer writes bulk data through its own write_data, never from
// a data reference a generic descriptor holds.
VELFILE_MODULE_OPS_WITH(
    gdata, "data", "CGDataTypeFDD", D, kData,
    [](void* g, void* d) { return gdata_ReadGroupInfo(g, static_cast<D*>(d)); },
    [](void* g, void* p, void* d) {
      return gdata_WriteGroupInfo(g, static_cast<D*>(p), static_cast<D*>(d), 1);
    },
    [](void* d) {
      D* descr = static_cast<D*>(d);
      gdata_Delete(descr);
    });
