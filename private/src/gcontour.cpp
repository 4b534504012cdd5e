// The contour group.
#include <velfile/gcontour.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGContourTypeDescr;

namespace {

const uint32_t kSignature = 0x00123456;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    always<&D::item9>("item9", 9, VelFile::kTypeUInt32),
    always<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    changed<&D::item8>("item8", 8, VelFile::kTypeUInt32),
    changed<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    changed<&D::item3>("item3", 3, VelFile::kTypeUInt32),
    changed<&D::item4>("item4", 4, VelFile::kTypeFloat),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat),
    changed<&D::item6>("item6", 6, VelFile::kTypeUInt32),
    withoutPrevious<&D::item7>("item7", 7, VelFile::kTypeUInt32),
};

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/gcontour", kSignature, 2, Foreign::Skip}, kItems);
  m.reset = &initializeDescr<D>;  // a read starts from the defaults, swap flag included
  m.assignPrevious = &assignKeeping<&D::item7>;
  return m;
}
Module<D> kContour = makeModule();

}  // namespace

CGContourTypeDescr::CGContourTypeDescr() {
  initializeData();
}
CGContourTypeDescr::~CGContourTypeDescr() = default;

void CGContourTypeDescr::initializeData() {
  initializeFields(kContour, *this);
}

VELFILE_MODULE_API(gcontour, D, kContour);
VELFILE_MODULE_OPS(gcontour, "contour", "CGContourTypeDescr", D, kContour);
