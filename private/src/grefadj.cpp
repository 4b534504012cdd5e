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
    always<&D::item1>(1, kU32),    version<D>(),
    changed<&D::item3>(3, kU32),   changed<&D::text>(2, VelFile::kTypeUtf16),
    changed<&D::item4>(4, kF32),   changed<&D::item5>(5, kF32),
    changed<&D::item6>(6, kF32),   changed<&D::item7>(7, kF32),
    changed<&D::item8>(8, kF32),   changed<&D::item9>(9, kF32),
    changed<&D::item10>(10, kF32), changed<&D::item11>(11, kF32),
    changed<&D::item12>(12, kF32), changed<&D::item13>(13, kF32),
    changed<&D::item14>(14, kF32), changed<&D::item15>(15, kF32),
    changed<&D::item16>(16, kF32), changed<&D::item17>(17, kF32),
    changed<&D::item18>(18, kF32), changed<&D::item19>(19, kU32),
};

Module<D> kRefadj({"private/src/grefadj", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGRefadjTypeDescr::CGRefadjTypeDescr() {
  initializeData();
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
  layoutVersion = o.layoutVersion;
  item1 = o.item1;
  item4 = o.item4;
  item5 = o.item5;
  item6 = o.item6;
  item7 = o.item7;
  item8 = o.item8;
  item9 = o.item9;
  item10 = o.item10;
  item11 = o.item11;
  item12 = o.item12;
  item13 = o.item13;
  item14 = o.item14;
  item15 = o.item15;
  item16 = o.item16;
  item17 = o.item17;
  item18 = o.item18;
  item3 = o.item3;
  item19 = o.item19;
  copyText(groupName, 32, nullptr);  // the name stays with the descriptor it was given to
  copyText(text, 100, o.text);
  signature = o.signature;
  swapFlag = o.swapFlag;
  groupHandle = o.groupHandle;
  return *this;
}

void grefadj_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                  VelErrorHook error) {
  kRefadj.hooks.set(enter, leave, alloc, free, reinterpret_cast<const void*>(error));
}
D* grefadj_Allocate(int, const VelChar* name) {
  return allocateDescr(kRefadj, name);
}
void grefadj_Delete(D* d, int flag) {
  deleteDescr(kRefadj, d, flag);
}
int grefadj_ReadGroupInfo(void* group, D* d) {
  return readGroup(kRefadj, group, d);
}
int grefadj_WriteGroupInfo(void* group, D* previous, D* current) {
  return writeGroup(kRefadj, group, previous, current);
}
