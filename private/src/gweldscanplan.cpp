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
    changed<&D::item1>(1, VelFile::kTypeUInt32),
    changed<&D::item2>(2, VelFile::kTypeUInt16),
    changed<&D::item3>(3, VelFile::kTypeUInt16),
    changed<&D::item4>(4, VelFile::kTypeUInt32),
    changed<&D::item5>(5, VelFile::kTypeDouble),
    changed<&D::item6>(6, VelFile::kTypeDouble),
    changed<&D::item7>(7, VelFile::kTypeDouble),
    changed<&D::item8>(8, VelFile::kTypeDouble),
    changed<&D::item9>(9, VelFile::kTypeDouble),
    changed<&D::item10>(10, VelFile::kTypeDouble),
};

Module<D> kScanPlan({"private/src/gweldscanplan", kSignature, 1, Foreign::Report}, kItems);

}  // namespace

CGWeldScanPlanDescr::CGWeldScanPlanDescr() {
  initializeData();
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
  item1 = o.item1;
  item2 = o.item2;
  item3 = o.item3;
  item4 = o.item4;
  item5 = o.item5;
  item6 = o.item6;
  item7 = o.item7;
  item8 = o.item8;
  item9 = o.item9;
  item10 = o.item10;
  return *this;
}

void gweldsp_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                  VelErrorHook error) {
  kScanPlan.hooks.set(enter, leave, alloc, free, reinterpret_cast<const void*>(error));
}
D* gweldsp_Allocate(int, const VelChar* name) {
  return allocateDescr(kScanPlan, name);
}
void gweldsp_Delete(D* d, int flag) {
  deleteDescr(kScanPlan, d, flag);
}
int gweldsp_Duplicate(D* source, D* destination) {
  return duplicateDescr(kScanPlan, source, destination);
}
void gweldsp_InitDescr(D* d) {
  initDescr(kScanPlan, d, false);
}
int gweldsp_ReadGroupInfo(void* group, D* d) {
  return readGroup(kScanPlan, group, d);
}
int gweldsp_WriteGroupInfo(void* group, D* previous, D* current) {
  return writeGroup(kScanPlan, group, previous, current);
}
