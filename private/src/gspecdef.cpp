// The specimen definition group.
#include <velfile/gspecdef.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecdefTypeDescr;

namespace {

const uint32_t kSignature = 0x11234567;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    changed<&D::item2>("item2", 2, VelFile::kTypeFloat),
    changed<&D::item3>("item3", 3, VelFile::kTypeFloat),
    changed<&D::item4>("item4", 4, VelFile::kTypeFloat),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat),
    changed<&D::item6>("item6", 6, VelFile::kTypeFloat),
    changed<&D::item7>("item7", 7, VelFile::kTypeFloat),
    changed<&D::item8>("item8", 8, VelFile::kTypeFloat),
};

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/gspecdef", kSignature, 2, Foreign::Skip}, kItems);
  m.reset = &initializeDescr<D>;  // a read starts from the defaults, swap flag included
  return m;
}
Module<D> kSpecdef = makeModule();

}  // namespace

CGSpecdefTypeDescr::CGSpecdefTypeDescr() {
  initializeData();
}
CGSpecdefTypeDescr::~CGSpecdefTypeDescr() = default;

void CGSpecdefTypeDescr::initializeData() {
  initializeFields(kSpecdef, *this);
}

VELFILE_MODULE_API(gspecdef, D, kSpecdef);
VELFILE_MODULE_OPS(gspecdef, "specimen", "CGSpecdefTypeDescr", D, kSpecdef);
