// The sub-channel group.
#include <velfile/gsubchan.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSubchanTypeDescr;

namespace {

const uint32_t kSignature = 0x55678901;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

const ItemRule<D> kItems[] = {
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
  layoutVersion = 0;
  item1 = item2 = item13 = item14 = 0;
  item3 = item4 = item5 = item6 = item7 = item8 = item9 = item11 = item12 = 0.0f;
  item10 = 0;
  copyText(groupName, 32, nullptr);
  signature = kSignature;
  swapFlag = 0;
  groupHandle = nullptr;
}

int CGSubchanTypeDescr::operator==(const CGSubchanTypeDescr& o) const {
  if (this == &o) return 1;
  return layoutVersion == o.layoutVersion && item1 == o.item1 && item2 == o.item2 && item13 == o.item13 &&
         item14 == o.item14 && item3 == o.item3 && item4 == o.item4 && item5 == o.item5 && item6 == o.item6 &&
         item7 == o.item7 && item8 == o.item8 && item9 == o.item9 && item11 == o.item11 &&
         item12 == o.item12 && item10 == o.item10 && textEqual(groupName, o.groupName, 32) &&
         signature == o.signature && swapFlag == o.swapFlag && groupHandle == o.groupHandle;
}
int CGSubchanTypeDescr::operator!=(const CGSubchanTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gsubchan, D, kSubchan);
VELFILE_MODULE_DUPLICATE(gsubchan, D, kSubchan);
VELFILE_MODULE_INIT_DESCR(gsubchan, D, kSubchan, true);
VELFILE_MODULE_OPS(gsubchan, "subchannel", "CGSubchanTypeDescr", D, kSubchan);
