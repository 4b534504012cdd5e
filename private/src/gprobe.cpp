// The probe group.
#include <velfile/gprobe.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGProbeTypeDescr;

namespace {

const uint32_t kSignature = 0x56789012;

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    version<D>(),
    changed<&D::item3>("item3", 3, VelFile::kTypeFloat, 1.0f),
    changed<&D::item4>("item4", 4, VelFile::kTypeFloat),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat),
    changed<&D::item6>("item6", 6, VelFile::kTypeFloat),
    changed<&D::item7>("item7", 7, VelFile::kTypeFloat),
    changed<&D::item8>("item8", 8, VelFile::kTypeFloat),
    readOnly<&D::groupName>("groupName", 2, VelFile::kTypeUtf16),  // older files name the group here
};

Module<D> kProbe({"private/src/gprobe", kSignature, 2, Foreign::Report}, kItems);

}  // namespace

CGProbeTypeDescr::CGProbeTypeDescr() {
  initializeData();
}
CGProbeTypeDescr::~CGProbeTypeDescr() = default;

void CGProbeTypeDescr::initializeData() {
  initializeFields(kProbe, *this);
}

int CGProbeTypeDescr::operator==(const CGProbeTypeDescr& o) const {
  return equalFields(kProbe, *this, o);
}
int CGProbeTypeDescr::operator!=(const CGProbeTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gprobe, D, kProbe);
VELFILE_MODULE_DUPLICATE(gprobe, D, kProbe);
VELFILE_MODULE_INIT_DESCR(gprobe, D, kProbe, true);
VELFILE_MODULE_OPS(gprobe, "probe", "CGProbeTypeDescr", D, kProbe);
