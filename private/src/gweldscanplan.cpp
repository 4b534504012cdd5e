// The weld scan plan group.
#include <velfile/gweldscanplan.h>

#include "gweldhead.h"

using namespace velfile;
using D = CGWeldScanPlanDescr;

namespace {

const uint32_t kSignature = 0x66A89C12;

// The two texts have no item: they stay in memory.
const ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    changed<&D::item2>("item2", 2, VelFile::kTypeUInt16),
    changed<&D::item3>("item3", 3, VelFile::kTypeUInt16),
    changed<&D::item4>("item4", 4, VelFile::kTypeUInt32),
    changed<&D::item5>("item5", 5, VelFile::kTypeDouble),
    changed<&D::item6>("item6", 6, VelFile::kTypeDouble),
    changed<&D::item7>("item7", 7, VelFile::kTypeDouble),
    changed<&D::item8>("item8", 8, VelFile::kTypeDouble),
    changed<&D::item9>("item9", 9, VelFile::kTypeDouble),
    changed<&D::item10>("item10", 10, VelFile::kTypeDouble),
};

Module<D> kScanPlan({"private/src/gweldscanplan", kSignature, 1, Foreign::Report}, kItems);

}  // namespace

CGWeldScanPlanDescr::CGWeldScanPlanDescr() {
  initializeData();
}
CGWeldScanPlanDescr::CGWeldScanPlanDescr(const CGWeldScanPlanDescr& other) : CGWeldScanPlanDescr() {
  *this = other;
}
CGWeldScanPlanDescr::~CGWeldScanPlanDescr() = default;

void CGWeldScanPlanDescr::initializeData() {
  resetWeldHead(*this, kSignature);
  item1 = item4 = 0;
  item2 = item3 = 0;
  item5 = item6 = item7 = item8 = item9 = item10 = 0.0;
}

CGWeldScanPlanDescr& CGWeldScanPlanDescr::operator=(const CGWeldScanPlanDescr& o) {
  if (this == &o) return *this;
  copyWeldHead(*this, o);
  copyFields<&D::item1, &D::item2, &D::item3, &D::item4, &D::item5, &D::item6, &D::item7, &D::item8,
             &D::item9, &D::item10>(*this, o);
  return *this;
}

VELFILE_MODULE_API(gweldsp, D, kScanPlan);
VELFILE_MODULE_DUPLICATE(gweldsp, D, kScanPlan);
VELFILE_MODULE_INIT_DESCR(gweldsp, D, kScanPlan, false);
VELFILE_MODULE_OPS(gweldsp, "scanplan", "CGWeldScanPlanDescr", D, kScanPlan);
