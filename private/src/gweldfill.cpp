// The weld fill group.
#include <velfile/gweldfill.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGWeldFillDescr;

namespace {

const uint32_t kSignature = 0x54B89C72;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    inMemory<&D::shortText>("shortText"),
    inMemory<&D::longText>("longText"),
    changed<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    changed<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    changed<&D::item3>("item3", 3, VelFile::kTypeDouble),
    changed<&D::item4>("item4", 4, VelFile::kTypeDouble),
};

Module<D> kFill({"private/src/gweldfill", kSignature, 1, Foreign::Report}, kItems);

}  // namespace

CGWeldFillDescr::CGWeldFillDescr() {
  initializeData();
}
CGWeldFillDescr::CGWeldFillDescr(const CGWeldFillDescr& other) : CGWeldFillDescr() {
  *this = other;
}
CGWeldFillDescr::~CGWeldFillDescr() = default;

void CGWeldFillDescr::initializeData() {
  initializeFields(kFill, *this);
}

CGWeldFillDescr& CGWeldFillDescr::operator=(const CGWeldFillDescr& o) {
  if (this != &o) assignFields(kFill, *this, o);
  return *this;
}

VELFILE_MODULE_API(gweldFill, D, kFill);
VELFILE_MODULE_DUPLICATE(gweldFill, D, kFill);
VELFILE_MODULE_INIT_DESCR(gweldFill, D, kFill, false);
VELFILE_MODULE_OPS(gweldFill, "weldfill", "CGWeldFillDescr", D, kFill);
