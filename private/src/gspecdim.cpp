// The specimen dimension group.
#include <velfile/gspecdim.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGSpecdimTypeDescr;

namespace {

const uint32_t kSignature = 0x22345678;

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item1>("item1", 1, VelFile::kTypeFloat, -10.0f),
    changed<&D::item2>("item2", 2, VelFile::kTypeFloat, 10.0f),
    changed<&D::item3>("item3", 3, VelFile::kTypeFloat, -10.0f),
    changed<&D::item4>("item4", 4, VelFile::kTypeFloat, 10.0f),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat, -10.0f),
    changed<&D::item6>("item6", 6, VelFile::kTypeFloat, 10.0f),
    changed<&D::item7>("item7", 7, VelFile::kTypeFloat),
    changed<&D::item8>("item8", 8, VelFile::kTypeFloat, 10.0f),
    changed<&D::item9>("item9", 9, VelFile::kTypeFloat),
    changed<&D::item10>("item10", 10, VelFile::kTypeFloat, 360.0f),
};

Module<D> kSpecdim({"private/src/gspecdim", kSignature, 2, Foreign::Skip}, kItems);

}  // namespace

CGSpecdimTypeDescr::CGSpecdimTypeDescr() {
  initializeData();
}
CGSpecdimTypeDescr::~CGSpecdimTypeDescr() = default;

void CGSpecdimTypeDescr::initializeData() {
  initializeFields(kSpecdim, *this);
}

VELFILE_MODULE_API(gspecdim, D, kSpecdim);
VELFILE_MODULE_OPS(gspecdim, "dimension", "CGSpecdimTypeDescr", D, kSpecdim);
