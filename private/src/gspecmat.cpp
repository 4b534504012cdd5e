// The specimen material group.
#include <velfile/gspecmat.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecmatTypeDescr;

namespace {

const uint32_t kSignature = 0x44567890;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeFloat, 5920.0f),
    changed<&D::item2>("item2", 2, VelFile::kTypeFloat, 3230.0f),
    changed<&D::item3>("item3", 3, VelFile::kTypeFloat, 5920.0f),
    changed<&D::item4>("item4", 4, VelFile::kTypeFloat, 7.7f),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat, 1.0f),
    changed<&D::item6>("item6", 6, VelFile::kTypeFloat, 0.28f),
    changed<&D::item7>("item7", 7, VelFile::kTypeFloat, 4.5e7f),
};

Module<D> kSpecmat({"private/src/gspecmat", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGSpecmatTypeDescr::CGSpecmatTypeDescr() {
  initializeData();
}
CGSpecmatTypeDescr::~CGSpecmatTypeDescr() = default;

void CGSpecmatTypeDescr::initializeData() {
  initializeFields(kSpecmat, *this);
}

int CGSpecmatTypeDescr::operator==(const D& o) const {
  return equalFields(kSpecmat, *this, o);
}
int CGSpecmatTypeDescr::operator!=(const D& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gspecmat, D, kSpecmat);
// The callers pass valid pointers; a null one is refused with -1 rather than followed.
VELFILE_MODULE_DUPLICATE(gspecmat, D, kSpecmat);
VELFILE_MODULE_INIT_DESCR(gspecmat, D, kSpecmat, false);
VELFILE_MODULE_OPS(gspecmat, "material", "CGSpecmatTypeDescr", D, kSpecmat);
