// The DAC group.
#include <velfile/gdac.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGDacTypeDescr;

namespace {

const uint32_t kSignature = 0x67890123;  // shared with the channel descriptor
const int32_t kMaxPoints = 512;
const uint16_t kI32 = VelFile::kTypeInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

static_assert(sizeof(CDacPts) == 2 * sizeof(float), "item 5 is the points array as it lies in memory");

// The number of points a group holds: the point count limited to the array.
int32_t storedCount(const D& d) {
  return d.pointCount < 0 ? 0 : d.pointCount > kMaxPoints ? kMaxPoints : d.pointCount;
}

bool countChanged(const WriteContext<D>& ctx) {
  return !ctx.prev || storedCount(*ctx.prev) != storedCount(*ctx.cur);
}

// Item 1 is written signed and read as unsigned.
int readItem1(const ItemRule<D>& r, ReadContext<D>& ctx) {
  return readItemValue(ctx.group, ctx.index, VelFile::kTypeUInt32, r.field(ctx.d), sizeof(int32_t), nullptr);
}

int writePointCount(const ItemRule<D>& r, WriteContext<D>& ctx) {
  if (!countChanged(ctx)) return VelFile::kOk;
  const int32_t n = storedCount(*ctx.cur);
  return writeItem(ctx.group, r.id, r.type, 1, &n);
}

// The whole item fills the array from its first point, two floats a point;
// the point count is left alone and a failed read is not the group's failure.
int readPoints(const ItemRule<D>& r, ReadContext<D>& ctx) {
  readItemBlock(ctx.group, ctx.index, r.type, ctx.d->points, 2 * kMaxPoints);
  return VelFile::kOk;
}

// Written with the count, or when one of the stored points changed.
int writePoints(const ItemRule<D>& r, WriteContext<D>& ctx) {
  const int32_t n = storedCount(*ctx.cur);
  if (!countChanged(ctx)) {
    int32_t i = 0;
    while (i < n && ctx.prev->points[i] == ctx.cur->points[i]) ++i;
    if (i == n) return VelFile::kOk;
  }
  return writeItem(ctx.group, r.id, r.type, static_cast<uint32_t>(2 * n), ctx.cur->points);
}

// The stored points as 2 x point count floats.
void getPoints(const void* d, FieldData& out) {
  const D& dac = *static_cast<const D*>(d);
  out.form = FieldData::Reals;
  for (int32_t i = 0; i < storedCount(dac); ++i) {
    out.reals.push_back(dac.points[i].firstValue);
    out.reals.push_back(dac.points[i].secondValue);
  }
}
bool setPoints(void* d, const FieldData& in) {
  if (in.reals.size() > 2 * size_t(kMaxPoints) || in.reals.size() % 2) return false;
  D& dac = *static_cast<D*>(d);
  for (size_t i = 0; i < in.reals.size(); i += 2) {
    dac.points[i / 2].firstValue = static_cast<float>(in.reals[i]);
    dac.points[i / 2].secondValue = static_cast<float>(in.reals[i + 1]);
  }
  return true;
}

constexpr ItemRule<D> kItems[] = {
    version<D>(2),
    withRead(always<&D::item1>("item1", 1, kI32), &readItem1),
    changed<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    changed<&D::item3>("item3", 3, kF32),
    withWrite(changed<&D::pointCount>("pointCount", 4, kI32), &writePointCount),
    custom<D>("points", 5, kF32, &readPoints, &writePoints, nullptr, &getPoints, &setPoints, 2 * kMaxPoints),
};

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/gdac", kSignature, 2, Foreign::Report}, kItems);
  m.setsName = false;         // the group keeps the name it was created with
  m.updatesPrevious = false;  // the host brings previous up to date itself
  return m;
}
Module<D> kDac = makeModule();

}  // namespace

CDacPts::CDacPts() {
  initializeData();
}
CDacPts::~CDacPts() = default;
void CDacPts::initializeData() {
  firstValue = secondValue = 0.0f;
}
int CDacPts::operator==(const CDacPts& o) const {
  return this == &o || (secondValue == o.secondValue && firstValue == o.firstValue);
}
int CDacPts::operator!=(const CDacPts& o) const {
  return !(*this == o);
}

CGDacTypeDescr::CGDacTypeDescr() {
  initializeData();
}
CGDacTypeDescr::~CGDacTypeDescr() = default;

void CGDacTypeDescr::initializeData() {
  initializeFields(kDac, *this);
  for (CDacPts& p : points) p.initializeData();
}

// Every point takes part, stored or not.
int CGDacTypeDescr::operator==(const CGDacTypeDescr& o) const {
  if (!equalFields(kDac, *this, o)) return 0;
  for (int32_t i = 0; i < kMaxPoints; ++i)
    if (points[i] != o.points[i]) return 0;
  return 1;
}
int CGDacTypeDescr::operator!=(const CGDacTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gdac, D, kDac);
VELFILE_MODULE_DUPLICATE(gdac, D, kDac);
VELFILE_MODULE_OPS(gdac, "dac", "CGDacTypeDescr", D, kDac);
