// The 2-D specimen group.
#include <velfile/gspec2d.h>

#include "gspecitems.h"

using namespace velfile;
using D = gspec2d_typeDescr;

namespace {

const uint32_t kRecordSize = 16;

constexpr auto kItems = specimenItems<D>(always<&D::item13>("item13", 13, VelFile::kTypeUInt32, -1),
                                         always<&D::item14>("item14", 14, VelFile::kTypeUInt32, -1));

Module<D> kSpec2d({"private/src/gspec2d", 0, 1, Foreign::Skip}, kItems.data(), kItems.size());

}  // namespace

VELFILE_RECORD_MODULE_API(gspec2d, D, kSpec2d);
VELFILE_MODULE_DUPLICATE(gspec2d, D, kSpec2d);

VELFILE_RECORD_BLOCKS(gspec2d, kRecordSize);
VELFILE_RECORD_MODULE_OPS(gspec2d, "specimen2d", "gspec2d_typeDescr", D, kSpec2d);
