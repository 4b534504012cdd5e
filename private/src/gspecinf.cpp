// The specimen information group.
#include <velfile/gspecinf.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecinfTypeDescr;

namespace {

const uint32_t kSignature = 0x33456789;

// Texts are stored with their terminator (count = length + 1) and compared
// ordinally; a stored text longer than its field is cut to it.
const ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeUtf16),
    changed<&D::item2>("item2", 2, VelFile::kTypeUtf16),
    changed<&D::item3>("item3", 3, VelFile::kTypeUInt32),
    changed<&D::item4>("item4", 4, VelFile::kTypeUtf16),
};

Module<D> kSpecinf({"private/src/gspecinf", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

// Text 3 past its terminator is left alone by initializeData; start it clean.
CGSpecinfTypeDescr::CGSpecinfTypeDescr() : item4{} {
  initializeData();
}
CGSpecinfTypeDescr::CGSpecinfTypeDescr(const CGSpecinfTypeDescr& other) : CGSpecinfTypeDescr() {
  *this = other;
}
CGSpecinfTypeDescr::~CGSpecinfTypeDescr() = default;

void CGSpecinfTypeDescr::initializeData() {
  copyText(groupName, 32, nullptr);
  layoutVersion = 0;
  copyText(item1, 100, nullptr);
  copyText(item2, 500, nullptr);
  item3 = 0;
  item4[0] = 0;
  signature = kSignature;
  swapFlag = 0;
  groupHandle = nullptr;
}

D& CGSpecinfTypeDescr::operator=(const D& o) {
  if (this == &o) return *this;
  copyText(groupName, 32, o.groupName);
  layoutVersion = 0;
  copyText(item1, 100, o.item1);
  copyText(item2, 500, o.item2);
  item3 = o.item3;
  copyText(item4, 100, o.item4);
  signature = o.signature;
  swapFlag = o.swapFlag;
  groupHandle = o.groupHandle;
  return *this;
}

VELFILE_MODULE_API(gspecinf, D, kSpecinf);
VELFILE_MODULE_OPS(gspecinf, "specinfo", "CGSpecinfTypeDescr", D, kSpecinf);
