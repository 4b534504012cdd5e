// The mesh group.
#include <velfile/gmesh.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGMeshTypeDescr;

namespace {

const uint32_t kSignature = 0x90123456;

const ItemRule<D> kItems[] = {
    version<D>(),
    always<&D::item1>(1, VelFile::kTypeFloat),
    always<&D::item2>(2, VelFile::kTypeUInt32),
    always<&D::item3>(3, VelFile::kTypeInt32),
    always<&D::item4>(4, VelFile::kTypeUInt32),
    always<&D::item5>(5, VelFile::kTypeUInt32),
};

Module<D> makeModule() {
  Module<D> m({"private/src/gmesh", kSignature, 2, Foreign::Skip}, kItems);
  m.assignPrevious = &assignKeeping<&D::item4>;
  return m;
}
Module<D> kMesh = makeModule();

}  // namespace

CGMeshTypeDescr::CGMeshTypeDescr()
    : layoutVersion(0),
      item1(0.0f),
      item2(0),
      item3(0),
      item4(0),
      item5(0),
      signature(kSignature),
      swapFlag(0),
      groupHandle(nullptr) {
  copyText(groupName, 32, nullptr);
}
CGMeshTypeDescr::~CGMeshTypeDescr() = default;

D& CGMeshTypeDescr::operator=(const D& o) {
  if (this == &o) return *this;
  copyText(groupName, 32, o.groupName);
  layoutVersion = o.layoutVersion;
  item1 = o.item1;
  item2 = o.item2;
  item3 = o.item3;
  item4 = o.item4;
  item5 = o.item5;
  signature = o.signature;
  swapFlag = o.swapFlag;
  groupHandle = o.groupHandle;
  return *this;
}

void gmesh_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                VelErrorHook error) {
  kMesh.hooks.set(enter, leave, alloc, free, reinterpret_cast<const void*>(error));
}
D* gmesh_Allocate(int, const VelChar* name) {
  return allocateDescr(kMesh, name);
}
void gmesh_Delete(D* d, int flag) {
  deleteDescr(kMesh, d, flag);
}
int gmesh_ReadGroupInfo(void* group, D* d) {
  return readGroup(kMesh, group, d);
}
int gmesh_WriteGroupInfo(void* group, D* previous, D* current) {
  return writeGroup(kMesh, group, previous, current);
}
