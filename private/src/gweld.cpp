// The weld group.
#include <velfile/gweld.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGWeldTypeDescr;

namespace {

const uint32_t kSignature = 0x66789012;

constexpr ItemRule<D> kItems[] = {
    always<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    version<D>(),
    changed<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    changed<&D::item3>("item3", 3, VelFile::kTypeUInt32),
    changed<&D::item4>("item4", 4, VelFile::kTypeUInt32),
    changed<&D::item5>("item5", 5, VelFile::kTypeFloat),
    changed<&D::item6>("item6", 6, VelFile::kTypeFloat),
    changed<&D::item7>("item7", 7, VelFile::kTypeFloat),
    changed<&D::item8>("item8", 8, VelFile::kTypeFloat),
    changed<&D::item9>("item9", 9, VelFile::kTypeFloat),
    changed<&D::item10>("item10", 10, VelFile::kTypeFloat),
    changed<&D::item11>("item11", 11, VelFile::kTypeFloat),
    changed<&D::item12>("item12", 12, VelFile::kTypeFloat),
    changed<&D::item13>("item13", 13, VelFile::kTypeFloat),
    changed<&D::item14>("item14", 14, VelFile::kTypeFloat),
    changed<&D::item15>("item15", 15, VelFile::kTypeFloat),
    changed<&D::item16>("item16", 16, VelFile::kTypeFloat),
    changed<&D::item17>("item17", 17, VelFile::kTypeFloat),
    changed<&D::item18>("item18", 18, VelFile::kTypeFloat),
    changed<&D::item19>("item19", 19, VelFile::kTypeFloat),
    changed<&D::item20>("item20", 20, VelFile::kTypeUInt32, 1),
    changed<&D::item21>("item21", 21, VelFile::kTypeUtf16),
    changed<&D::item22>("item22", 22, VelFile::kTypeUtf16),
    changed<&D::item23>("item23", 23, VelFile::kTypeFloat),
    changed<&D::item24>("item24", 24, VelFile::kTypeFloat),
    changed<&D::item25>("item25", 25, VelFile::kTypeFloat),
    changed<&D::item26>("item26", 26, VelFile::kTypeUInt32),
};

Module<D> kWeld({"private/src/gweld", kSignature, 2, Foreign::Report}, kItems);

}  // namespace

CGWeldTypeDescr::CGWeldTypeDescr() {
  initializeData();
}

void CGWeldTypeDescr::initializeData() {
  initializeFields(kWeld, *this);
}

VELFILE_MODULE_API(gweld, D, kWeld);
VELFILE_MODULE_DUPLICATE(gweld, D, kWeld);
VELFILE_MODULE_INIT_DESCR(gweld, D, kWeld, false);
VELFILE_MODULE_OPS(gweld, "weld", "CGWeldTypeDescr", D, kWeld);
