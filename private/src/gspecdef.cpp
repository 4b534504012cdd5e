// The specimen definition group.
#include <velfile/gspecdef.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecdefTypeDescr;

namespace {

const uint32_t kSignature = 0x11234567;

const ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>(1, VelFile::kTypeUInt32),
    changed<&D::item2>(2, VelFile::kTypeFloat),
    changed<&D::item3>(3, VelFile::kTypeFloat),
    changed<&D::item4>(4, VelFile::kTypeFloat),
    changed<&D::item5>(5, VelFile::kTypeFloat),
    changed<&D::item6>(6, VelFile::kTypeFloat),
    changed<&D::item7>(7, VelFile::kTypeFloat),
    changed<&D::item8>(8, VelFile::kTypeFloat),
};

Module<D> makeModule() {
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
  copyText(groupName, 32, nullptr);
  layoutVersion = 0;
  item1 = 0;
  item2 = item3 = item4 = item5 = item6 = item7 = item8 = 0.0f;
  signature = kSignature;
  swapFlag = 0;
  groupHandle = nullptr;
}

D& CGSpecdefTypeDescr::operator=(const D& o) {
  if (this == &o) return *this;
  copyText(groupName, 32, o.groupName);
  layoutVersion = o.layoutVersion;
  item1 = o.item1;
  item2 = o.item2;
  item3 = o.item3;
  item4 = o.item4;
  item5 = o.item5;
  item6 = o.item6;
  item7 = o.item7;
  item8 = o.item8;
  signature = o.signature;
  swapFlag = o.swapFlag;
  groupHandle = o.groupHandle;
  return *this;
}

void gspecdef_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                   VelErrorHook error) {
  kSpecdef.hooks.set(enter, leave, alloc, free, reinterpret_cast<const void*>(error));
}
D* gspecdef_Allocate(int, const VelChar* name) {
  return allocateDescr(kSpecdef, name);
}
void gspecdef_Delete(D* d, int flag) {
  deleteDescr(kSpecdef, d, flag);
}
int gspecdef_ReadGroupInfo(void* group, D* d) {
  return readGroup(kSpecdef, group, d, true);
}
int gspecdef_WriteGroupInfo(void* group, D* previous, D* current) {
  return writeGroup(kSpecdef, group, previous, current);
}
