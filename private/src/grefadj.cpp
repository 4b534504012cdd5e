// The reference adjustment group.
#include <velfile/grefadj.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGRefadjTypeDescr;

namespace {

const uint32_t kSignature = 0x34567890;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, kU32),     version<D>(),
    changed<&D::item3>("item3", 3, kU32),    changed<&D::text>("text", 2, VelFile::kTypeUtf16),
    changed<&D::item4>("item4", 4, kF32),    changed<&D::item5>("item5", 5, kF32),
    changed<&D::item6>("item6", 6, kF32),    changed<&D::item7>("item7", 7, kF32, 0.1f),
    changed<&D::item8>("item8", 8, kF32),    changed<&D::item9>("item9", 9, kF32),
    changed<&D::item10>("item10", 10, kF32), changed<&D::item11>("item11", 11, kF32, 0.1f),
    changed<&D::item12>("item12", 12, kF32), changed<&D::item13>("item13", 13, kF32),
    changed<&D::item14>("item14", 14, kF32), changed<&D::item15>("item15", 15, kF32, 0.1f),
    changed<&D::item16>("item16", 16, kF32), changed<&D::item17>("item17", 17, kF32),
    changed<&D::item18>("item18", 18, kF32), changed<&D::item19>("item19", 19, kU32),
};

Module<D> kRefadj({"private/src/grefadj", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGRefadjTypeDescr::CGRefadjTypeDescr() {
  initializeData();
}
CGRefadjTypeDescr::CGRefadjTypeDescr(const CGRefadjTypeDescr& other) : CGRefadjTypeDescr() {
  *this = other;
}
CGRefadjTypeDescr::~CGRefadjTypeDescr() = default;

void CGRefadjTypeDescr::initializeData() {
  initializeFields(kRefadj, *this);
}

CGRefadjTypeDescr& CGRefadjTypeDescr::operator=(const CGRefadjTypeDescr& o) {
  if (this == &o) return *this;
  assignFields(kRefadj, *this, o);
  copyText(groupName, 32, nullptr);  // the name stays with the descriptor it was given to
  return *this;
}

VELFILE_MODULE_API(grefadj, D, kRefadj);
VELFILE_MODULE_OPS(grefadj, "refadj", "CGRefadjTypeDescr", D, kRefadj);
