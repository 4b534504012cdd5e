// The gate group.
#include <velfile/ggate.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGGateTypeDescr;

namespace {

const uint32_t kSignature = 0x78901234;
constexpr float kUnset = 1.0e38f;  // bits 0x7E967699
const uint16_t kI32 = VelFile::kTypeInt32;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

// The original position is private: items reach it through its accessors.
int readOriginalPosition(const ItemRule<D>&, ReadContext<D>& ctx) {
  int32_t v = ctx.d->GetOriginalPosition();
  const int rc = readItemValue(ctx.group, ctx.index, kI32, &v, sizeof v, nullptr);
  if (rc == VelFile::kOk) ctx.d->SetOriginalPosition(v);
  return rc;
}
int writeOriginalPosition(const ItemRule<D>& r, WriteContext<D>& ctx) {
  const int32_t v = ctx.cur->GetOriginalPosition();
  if (ctx.prev && ctx.prev->GetOriginalPosition() == v) return VelFile::kOk;
  return writeItem(ctx.group, r.id, r.type, 1, &v);
}

void getOriginalPosition(const void* d, FieldData& out) {
  out.integer = static_cast<const D*>(d)->GetOriginalPosition();
}
bool setOriginalPosition(void* d, const FieldData& in) {
  if (in.integer < INT32_MIN || in.integer > INT32_MAX) return false;
  static_cast<D*>(d)->SetOriginalPosition(static_cast<int>(in.integer));
  return true;
}

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, kU32),
    always<&D::item2>("item2", 2, kU32),
    version<D>(),
    changed<&D::item4>("item4", 4, kI32),
    changed<&D::item3>("item3", 3, kU32),
    changed<&D::item5>("item5", 5, kU32, 1),
    changed<&D::item6>("item6", 6, kF32, kUnset),
    changed<&D::item7>("item7", 7, kF32, kUnset),
    changed<&D::item8>("item8", 8, kF32, kUnset),
    changed<&D::item9>("item9", 9, kF32, kUnset),
    changed<&D::item10>("item10", 10, kI32),
    changed<&D::item11>("item11", 11, kI32),
    changed<&D::item12>("item12", 12, kU32),
    changed<&D::item13>("item13", 13, kU32),
    custom<D>("originalPosition", 14, kI32, &readOriginalPosition, &writeOriginalPosition, nullptr,
              &getOriginalPosition, &setOriginalPosition),
    changed<&D::item15>("item15", 15, kU32, 1),
    byteItem<&D::item16>("item16", 16, When::Changed),
};

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/ggate", kSignature, 3, Foreign::Skip}, kItems);
  m.reset = &initializeDescr<D>;  // ggate_ReadGroupInfo with keep false
  return m;
}
Module<D> kGate = makeModule();

// Volatile, so that stores made just before the record's lifetime ends are
// not dropped by the optimiser.
template <class T>
void wipeTo(T& field, T value) {
  *static_cast<volatile T*>(&field) = value;
}

}  // namespace

CGGateTypeDescr::CGGateTypeDescr() {
  initializeData();
}
CGGateTypeDescr::CGGateTypeDescr(const CGGateTypeDescr& other) : CGGateTypeDescr() {
  *this = other;
}

// The fields are overwritten: zeros, but for the three below.
CGGateTypeDescr::~CGGateTypeDescr() {
  wipeFields(kGate, *this);
  wipeTo(item3, -1);
  wipeTo(item12, -1);
  wipeTo(item15, 1);
}

void CGGateTypeDescr::initializeData() {
  initializeFields(kGate, *this);
  SetOriginalPosition(1);
}

int CGGateTypeDescr::GetOriginalPosition() const {
  return originalPosition_;
}
void CGGateTypeDescr::SetOriginalPosition(int position) {
  originalPosition_ = position;
}

CGGateTypeDescr& CGGateTypeDescr::operator=(const CGGateTypeDescr& o) {
  if (this == &o) return *this;
  assignFields(kGate, *this, o);
  SetOriginalPosition(o.GetOriginalPosition());
  return *this;
}

int CGGateTypeDescr::operator==(const CGGateTypeDescr& o) const {
  return equalFields(kGate, *this, o) && GetOriginalPosition() == o.GetOriginalPosition();
}
int CGGateTypeDescr::operator!=(const CGGateTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_INIT(ggate, kGate, VelErrorHook);
VELFILE_MODULE_ALLOCATE(ggate, D, kGate);
VELFILE_MODULE_DELETE(ggate, D, kGate);
VELFILE_MODULE_DUPLICATE(ggate, D, kGate);
VELFILE_MODULE_INIT_DESCR(ggate, D, kGate, true);
int ggate_ReadGroupInfo(void* group, D* d, bool keep) {
  return readGroup(kGate, group, d, !keep);
}
VELFILE_MODULE_WRITE(ggate, D, kGate);
// Read as a fresh descriptor would be: keep false resets it first.
VELFILE_MODULE_OPS_WITH(
    ggate, "gate", "CGGateTypeDescr", D, kGate,
    [](void* g, void* d) { return ggate_ReadGroupInfo(g, static_cast<D*>(d), false); },
    [](void* g, void* p, void* d) { return ggate_WriteGroupInfo(g, static_cast<D*>(p), static_cast<D*>(d)); },
    [](void* d) { ggate_Delete(static_cast<D*>(d), 1); });
