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
    changed<&D::item1>(1, VelFile::kTypeUInt32),
    changed<&D::item2>(2, VelFile::kTypeUInt32),
    changed<&D::item3>(3, VelFile::kTypeDouble),
    changed<&D::item4>(4, VelFile::kTypeDouble),
};

Module<D> kFill({"private/src/gweldfill", kSignature, 1, Foreign::Report}, kItems);

}  // namespace

CGWeldFillDescr::CGWeldFillDescr() {
  initializeData();
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
  item1 = o.item1;
  item2 = o.item2;
  item3 = o.item3;
  item4 = o.item4;
  return *this;
}

void gweldFill_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                    VelErrorHook error) {
  kFill.hooks.set(enter, leave, alloc, free, reinterpret_cast<const void*>(error));
}
D* gweldFill_Allocate(int, const VelChar* name) {
  return allocateDescr(kFill, name);
}
void gweldFill_Delete(D* d, int flag) {
  deleteDescr(kFill, d, flag);
}
int gweldFill_Duplicate(D* source, D* destination) {
  return duplicateDescr(kFill, source, destination);
}
void gweldFill_InitDescr(D* d) {
  initDescr(kFill, d, false);
}
int gweldFill_ReadGroupInfo(void* group, D* d) {
  return readGroup(kFill, group, d);
}
int gweldFill_WriteGroupInfo(void* group, D* previous, D* current) {
  return writeGroup(kFill, group, previous, current);
}
