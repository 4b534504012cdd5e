// The reference adjustment group.
#include <velfile/grefadj.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGRefadjTypeDescr;

namespace {

const uint32_t kSignature = 0x34567890;
const uint16_t kU32 = VelFile::kTypeUInt32;
const uint16_t kF32 = VelFile::kTypeFloat;

const ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, kU32),     version<D>(),
    changed<&D::item3>("item3", 3, kU32),    changed<&D::text>("text", 2, VelFile::kTypeUtf16),
    changed<&D::item4>("item4", 4, kF32),    changed<&D::item5>("item5", 5, kF32),
    changed<&D::item6>("item6", 6, kF32),    changed<&D::item7>("item7", 7, kF32),
    changed<&D::item8>("item8", 8, kF32),    changed<&D::item9>("item9", 9, kF32),
    changed<&D::item10>("item10", 10, kF32), changed<&D::item11>("item11", 11, kF32),
    changed<&D::item12>("item12", 12, kF32), changed<&D::item13>("item13", 13, kF32),
    changed<&D::item14>("item14", 14, kF32), changed<&D::item15>("item15", 15, kF32),
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
  layoutVersion = 0;
  item1 = 0;
  for (float* f : {&item4, &item5, &item6, &item8, &item9, &item10, &item12, &item13, &item14, &item16,
                   &item17, &item18})
    *f = 0.0f;
  item7 = item11 = item15 = 0.1f;
  item3 = item19 = 0;
  copyText(groupName, 32, nullptr);
  copyText(text, 100, nullptr);
  signature = kSignature;
  swapFlag = 0;
  groupHandle = nullptr;
}

CGRefadjTypeDescr& CGRefadjTypeDescr::operator=(const CGRefadjTypeDescr& o) {
  if (this == &o) return *this;
  copyText(groupName, 32, nullptr);  // the name stays with the descriptor it was given to
  copyText(text, 100, o.text);
  copyFields<&D::layoutVersion, &D::item1, &D::item4, &D::item5, &D::item6, &D::item7, &D::item8, &D::item9,
             &D::item10, &D::item11, &D::item12, &D::item13, &D::item14, &D::item15, &D::item16, &D::item17,
             &D::item18, &D::item3, &D::item19, &D::signature, &D::swapFlag, &D::groupHandle>(*this, o);
  return *this;
}

VELFILE_MODULE_API(grefadj, D, kRefadj);
VELFILE_MODULE_OPS(grefadj, "refadj", "CGRefadjTypeDescr", D, kRefadj);
