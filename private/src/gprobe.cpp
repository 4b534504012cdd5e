// The probe group.
#include <velfile/gprobe.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGProbeTypeDescr;

namespace {

const uint32_t kSignature = 0x56789012;

const ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    version<D>(),
    changed<&D::item3>("item3", 3, VelFile::kTypeFloat),
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
  layoutVersion = 0;
  item1 = 0;
  item3 = 1.0f;
  item4 = item5 = item6 = item7 = item8 = 0.0f;
  copyText(groupName, 32, nullptr);
  signature = kSignature;
  swapFlag = 0;
  groupHandle = nullptr;
}

int CGProbeTypeDescr::operator==(const CGProbeTypeDescr& o) const {
  if (this == &o) return 1;
  return textEqual(groupName, o.groupName, 32) && layoutVersion == o.layoutVersion && item1 == o.item1 &&
         item3 == o.item3 && item4 == o.item4 && item5 == o.item5 && item6 == o.item6 && item7 == o.item7 &&
         item8 == o.item8 && signature == o.signature && swapFlag == o.swapFlag &&
         groupHandle == o.groupHandle;
}
int CGProbeTypeDescr::operator!=(const CGProbeTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_API(gprobe, D, kProbe);
VELFILE_MODULE_DUPLICATE(gprobe, D, kProbe);
VELFILE_MODULE_INIT_DESCR(gprobe, D, kProbe, true);
VELFILE_MODULE_OPS(gprobe, "probe", "CGProbeTypeDescr", D, kProbe);
