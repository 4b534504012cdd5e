// The channel group.
#include <velfile/gchan.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGChanTypeDescr;

namespace {

const uint32_t kSignature = 0x67890123;  // shared with the DAC descriptor
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

// Item 3 is written wide but may have been stored narrow: either string type
// is widened into the field; any other type lands there as it is stored.
int readItem3(const ItemRule<D>&, ReadContext<D>& ctx) {
  VelChar* text = ctx.d->item3;
  if (ctx.type == VelFile::kTypeNarrow || ctx.type == VelFile::kTypeUtf16)
    return readText(ctx.group, ctx.index, text, 32);
  const int rc = readItemValue(ctx.group, ctx.index, ctx.type, text, sizeof ctx.d->item3, nullptr);
  text[31] = 0;
  return rc;
}

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, kU32),
    always<&D::item4>("item4", 4, kU32),
    always<&D::item5>("item5", 5, kU32),
    always<&D::item19>("item19", 19, kU32),
    version<D>(3),
    changed<&D::item18>("item18", 18, kU32),
    withRead(changed<&D::item3>("item3", 3, VelFile::kTypeUtf16), &readItem3),
    changed<&D::item6>("item6", 6, kU32),
    changed<&D::item7>("item7", 7, kF32),
    changed<&D::item8>("item8", 8, kU32),
    changed<&D::item20>("item20", 20, kF32),
    changed<&D::item9>("item9", 9, kF32),
    changed<&D::item10>("item10", 10, kF32),
    changed<&D::item11>("item11", 11, kF32),
    changed<&D::item12>("item12", 12, kU32),
    changed<&D::item13>("item13", 13, kF32),
    changed<&D::item14>("item14", 14, kF32),
    changed<&D::item15>("item15", 15, kF32),
    changed<&D::item16>("item16", 16, kU32),
    changed<&D::item21>("item21", 21, kF32),
    byteItem<&D::item22>("item22", 22, When::Changed),
    readOnly<&D::groupName>("groupName", 2, VelFile::kTypeUtf16),  // older files name the group here
};

Module<D> kChan({"private/src/gchan", kSignature, 3, Foreign::Report}, kItems);

}  // namespace

CGChanTypeDescr::CGChanTypeDescr() {
  initializeData();
}
CGChanTypeDescr::CGChanTypeDescr(CGChanTypeDescr& other) : CGChanTypeDescr() {
  *this = other;
}
CGChanTypeDescr::~CGChanTypeDescr() = default;

void CGChanTypeDescr::initializeData() {
  initializeFields(kChan, *this);
}

// The source's texts are terminated in place first.
CGChanTypeDescr& CGChanTypeDescr::operator=(CGChanTypeDescr& o) {
  if (this == &o) return *this;
  o.groupName[31] = 0;
  o.item3[31] = 0;
  assignFields(kChan, *this, o);
  return *this;
}

CGChanTypeDescr::CGChanTypeDescr(const CGChanTypeDescr& other) : CGChanTypeDescr() {
  *this = other;
}

// The copy's texts are terminated; the source is left alone.
CGChanTypeDescr& CGChanTypeDescr::operator=(const CGChanTypeDescr& o) {
  if (this == &o) return *this;
  assignFields(kChan, *this, o);
  groupName[31] = 0;
  item3[31] = 0;
  return *this;
}

int CGChanTypeDescr::operator==(const CGChanTypeDescr& o) const {
  return equalFields(kChan, *this, o);
}
int CGChanTypeDescr::operator!=(const CGChanTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gchan, D, kChan);
VELFILE_MODULE_DUPLICATE(gchan, D, kChan);
VELFILE_MODULE_INIT_DESCR(gchan, D, kChan, true);
VELFILE_MODULE_OPS(gchan, "channel", "CGChanTypeDescr", D, kChan);
