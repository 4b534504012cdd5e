// The weld scan plan group.
#include <velfile/gweldscanplan.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGWeldScanPlanDescr;

namespace {

const uint32_t kSignature = 0x66A89C12;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    inMemory<&D::shortText>("shortText"),
    inMemory<&D::longText>("longText"),
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
  initializeFields(kScanPlan, *this);
}

CGWeldScanPlanDescr& CGWeldScanPlanDescr::operator=(const CGWeldScanPlanDescr& o) {
  if (this != &o) assignFields(kScanPlan, *this, o);
  return *this;
}

VELFILE_MODULE_API(gweldsp, D, kScanPlan);
VELFILE_MODULE_DUPLICATE(gweldsp, D, kScanPlan);
VELFILE_MODULE_INIT_DESCR(gweldsp, D, kScanPlan, false);
VELFILE_MODULE_OPS(gweldsp, "scanplan", "CGWeldScanPlanDescr", D, kScanPlan);
