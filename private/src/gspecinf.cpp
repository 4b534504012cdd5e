// The specimen information group.
#include <velfile/gspecinf.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecinfTypeDescr;

namespace {

const uint32_t kSignature = 0x33456789;

// Texts are stored with their terminator (count = length + 1) and compared
// ordinally; a stored text longer than its field is cut to it.
constexpr ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeUtf16),
    changed<&D::item2>("item2", 2, VelFile::kTypeUtf16),
    changed<&D::item3>("item3", 3, VelFile::kTypeUInt32),
    keepingTail(changed<&D::item4>("item4", 4, VelFile::kTypeUtf16)),
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
  initializeFields(kSpecinf, *this);
}

D& CGSpecinfTypeDescr::operator=(const D& o) {
  if (this == &o) return *this;
  assignFields(kSpecinf, *this, o);
  layoutVersion = 0;  // a copy starts unversioned
  return *this;
}

VELFILE_MODULE_API(gspecinf, D, kSpecinf);
VELFILE_MODULE_OPS(gspecinf, "specinfo", "CGSpecinfTypeDescr", D, kSpecinf);
