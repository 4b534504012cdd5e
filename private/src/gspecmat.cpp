// The specimen material group.
#include <velfile/gspecmat.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecmatTypeDescr;

namespace {

const uint32_t kSignature = 0x44567890;

const ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeFloat),
    changed<&D::item2>("item2", 2, VelFile::kTypeFloat),
    changed<&D::item3>("item3", 3, VelFile::kTypeFloat),
    changed<&D::item4>("item4", 4, VelFile::kTypeFloat),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat),
    changed<&D::item6>("item6", 6, VelFile::kTypeFloat),
    changed<&D::item7>("item7", 7, VelFile::kTypeFloat),
};

Module<D> kSpecmat({"private/src/gspecmat", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGSpecmatTypeDescr::CGSpecmatTypeDescr() {
  initializeData();
}
CGSpecmatTypeDescr::~CGSpecmatTypeDescr() = default;

void CGSpecmatTypeDescr::initializeData() {
  copyText(groupName, 32, nullptr);
  layoutVersion = 0;
  item1 = 5920.0f;
  item2 = 3230.0f;
  item3 = 5920.0f;
  item4 = 7.7f;
  item5 = 1.0f;
  item6 = 0.28f;
  item7 = 4.5e7f;
  signature = kSignature;
  swapFlag = 0;
  groupHandle = nullptr;
}

int CGSpecmatTypeDescr::operator==(const D& o) const {
  if (this == &o) return 1;
  return textEqual(groupName, o.groupName, 32) && layoutVersion == o.layoutVersion && item1 == o.item1 &&
         item2 == o.item2 && item3 == o.item3 && item4 == o.item4 && item5 == o.item5 && item6 == o.item6 &&
         item7 == o.item7 && signature == o.signature && swapFlag == o.swapFlag &&
         groupHandle == o.groupHandle;
}
int CGSpecmatTypeDescr::operator!=(const D& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gspecmat, D, kSpecmat);
// The callers pass valid pointers; a null one is refused with -1 rather than followed.
VELFILE_MODULE_DUPLICATE(gspecmat, D, kSpecmat);
VELFILE_MODULE_INIT_DESCR(gspecmat, D, kSpecmat, false);
VELFILE_MODULE_OPS(gspecmat, "material", "CGSpecmatTypeDescr", D, kSpecmat);
