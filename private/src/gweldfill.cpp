// The weld fill group.
#include <velfile/gweldfill.h>

#include "gweldhead.h"

using namespace velfile;
using D = CGWeldFillDescr;

namespace {

const uint32_t kSignature = 0x54B89C72;

// The two texts have no item: they stay in memory.
const ItemRule<D> kItems[] = {
    version<D>(),
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
  resetWeldHead(*this, kSignature);
  item1 = item2 = 0;
  item3 = item4 = 0.0;
}

CGWeldFillDescr& CGWeldFillDescr::operator=(const CGWeldFillDescr& o) {
  if (this == &o) return *this;
  copyWeldHead(*this, o);
  copyFields<&D::item1, &D::item2, &D::item3, &D::item4>(*this, o);
  return *this;
}

VELFILE_MODULE_API(gweldFill, D, kFill);
VELFILE_MODULE_DUPLICATE(gweldFill, D, kFill);
VELFILE_MODULE_INIT_DESCR(gweldFill, D, kFill, false);
VELFILE_MODULE_OPS(gweldFill, "weldfill", "CGWeldFillDescr", D, kFill);
