// The mesh group.
#include <velfile/gmesh.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGMeshTypeDescr;

namespace {

const uint32_t kSignature = 0x90123456;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    always<&D::item1>("item1", 1, VelFile::kTypeFloat),
    always<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    always<&D::item3>("item3", 3, VelFile::kTypeInt32),
    always<&D::item4>("item4", 4, VelFile::kTypeUInt32),
    always<&D::item5>("item5", 5, VelFile::kTypeUInt32),
};

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/gmesh", kSignature, 2, Foreign::Skip}, kItems);
  m.assignPrevious = &assignKeeping<&D::item4>;
  return m;
}
Module<D> kMesh = makeModule();

}  // namespace

CGMeshTypeDescr::CGMeshTypeDescr() {
  initializeFields(kMesh, *this);
}
CGMeshTypeDescr::~CGMeshTypeDescr() = default;

VELFILE_MODULE_API(gmesh, D, kMesh);
VELFILE_MODULE_OPS(gmesh, "mesh", "CGMeshTypeDescr", D, kMesh);
