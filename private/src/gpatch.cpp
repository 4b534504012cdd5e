// The patch group.
#include <velfile/gpatch.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGPatchTypeDescr;

namespace {

const uint32_t kSignature = 0x45678901;
const uint16_t kI32 = VelFile::kTypeInt32;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, kU32),
    always<&D::item16>("item16", 16, kU32),
    version<D>(),
    changed<&D::item3>("item3", 3, kU32),
    changed<&D::item5>("item5", 5, kU32),
    changed<&D::item6>("item6", 6, kF32),
    changed<&D::item7>("item7", 7, kF32),
    changed<&D::item8>("item8", 8, kF32, 1.0f),
    changed<&D::item9>("item9", 9, kI32),
    changed<&D::item11>("item11", 11, kU32),
    changed<&D::item12>("item12", 12, kF32),
    changed<&D::item13>("item13", 13, kF32),
    changed<&D::item14>("item14", 14, kF32, 1.0f),
    changed<&D::item15>("item15", 15, kI32),
    readOnly<&D::groupName>("groupName", 2, VelFile::kTypeUtf16),  // older files name the group here
};

Module<D> kPatch({"private/src/gpatch", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGPatchTypeDescr::CGPatchTypeDescr() {
  initializeData();
}
CGPatchTypeDescr::~CGPatchTypeDescr() = default;

void CGPatchTypeDescr::initializeData() {
  initializeFields(kPatch, *this);
}

int CGPatchTypeDescr::operator==(const CGPatchTypeDescr& o) const {
  return equalFields(kPatch, *this, o);
}
int CGPatchTypeDescr::operator!=(const CGPatchTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gpatch, D, kPatch);
VELFILE_MODULE_DUPLICATE(gpatch, D, kPatch);
VELFILE_MODULE_INIT_DESCR(gpatch, D, kPatch, false);
VELFILE_MODULE_OPS(gpatch, "patch", "CGPatchTypeDescr", D, kPatch);
