// The specimen simulation group.
#include <velfile/gspecsim.h>

#include "groupmodule.h"

using namespace velfile;
using D = gspecsim_typeDescr;

namespace {

const char kSource[] = "private/src/gspecsim";

constexpr ItemRule<D> kItems[] = {
    version<D>(2),
    always<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    always<&D::item2>("item2", 2, VelFile::kTypeUtf16),
    always<&D::item3>("item3", 3, VelFile::kTypeUtf16),
    always<&D::item4>("item4", 4, VelFile::kTypeFloat),
    always<&D::item5>("item5", 5, VelFile::kTypeFloat),
    always<&D::item6>("item6", 6, VelFile::kTypeFloat),
    always<&D::item7>("item7", 7, VelFile::kTypeFloat),
    always<&D::item8>("item8", 8, VelFile::kTypeFloat),
    always<&D::item9>("item9", 9, VelFile::kTypeFloat),
    always<&D::item10>("item10", 10, VelFile::kTypeUInt32),
};

// Reported, then written as they are. A NaN fails its range.
void checkConsistency(D& d) {
  if (d.item1 == 0) VEL_DIAG(kSource);
  if (!(d.item5 >= d.item4)) VEL_DIAG(kSource);
  if (!(d.item7 >= d.item6)) VEL_DIAG(kSource);
  if (!(d.item9 >= d.item8)) VEL_DIAG(kSource);
}

constexpr Module<D> makeModule() {
  Module<D> m({kSource, 0, 2, Foreign::Skip}, kItems);
  m.beforeWrite = &checkConsistency;
  return m;
}
Module<D> kSim = makeModule();

}  // namespace

VELFILE_RECORD_MODULE_API(gspecsim, D, kSim);
void gspecsim_InitDescr(D* d) {
  if (d) std::memcpy(static_cast<void*>(d), &defaultRecord(kSim), sizeof *d);
}
VELFILE_RECORD_MODULE_OPS(gspecsim, "simulation", "gspecsim_typeDescr", D, kSim);
