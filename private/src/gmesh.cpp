// The mesh group.
#include <velfile/gmesh.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGMeshTypeDescr;

namespace {

const uint32_t kSignature = 0x90123456;

const ItemRule<D> kItems[] = {
    version<D>(),
    always<&D::item1>("item1", 1, VelFile::kTypeFloat),
    always<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    always<&D::item3>("item3", 3, VelFile::kTypeInt32),
    always<&D::item4>("item4", 4, VelFile::kTypeUInt32),
    always<&D::item5>("item5", 5, VelFile::kTypeUInt32),
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

VELFILE_MODULE_API(gmesh, D, kMesh);
VELFILE_MODULE_OPS(gmesh, "mesh", "CGMeshTypeDescr", D, kMesh);
