// The sub-channel group.
#include <velfile/gsubchan.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSubchanTypeDescr;

namespace {

const uint32_t kSignature = 0x55678901;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, kU32),     always<&D::item2>("item2", 2, kU32),
    always<&D::item14>("item14", 14, kU32),  version<D>(),
    changed<&D::item13>("item13", 13, kU32), changed<&D::item3>("item3", 3, kF32),
    changed<&D::item4>("item4", 4, kF32),    changed<&D::item5>("item5", 5, kF32),
    changed<&D::item6>("item6", 6, kF32),    changed<&D::item7>("item7", 7, kF32),
    changed<&D::item8>("item8", 8, kF32),    changed<&D::item9>("item9", 9, kF32),
    changed<&D::item10>("item10", 10, kU32), changed<&D::item11>("item11", 11, kF32),
    changed<&D::item12>("item12", 12, kF32),
};

Module<D> kSubchan({"private/src/gsubchan", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGSubchanTypeDescr::CGSubchanTypeDescr() {
  initializeData();
}
CGSubchanTypeDescr::~CGSubchanTypeDescr() = default;

void CGSubchanTypeDescr::initializeData() {
  initializeFields(kSubchan, *this);
}

int CGSubchanTypeDescr::operator==(const CGSubchanTypeDescr& o) const {
  return equalFields(kSubchan, *this, o);
}
int CGSubchanTypeDescr::operator!=(const CGSubchanTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gsubchan, D, kSubchan);
VELFILE_MODULE_DUPLICATE(gsubchan, D, kSubchan);
VELFILE_MODULE_INIT_DESCR(gsubchan, D, kSubchan, true);
VELFILE_MODULE_OPS(gsubchan, "subchannel", "CGSubchanTypeDescr", D, kSubchan);
