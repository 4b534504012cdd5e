// The 3-D specimen group.
#include <velfile/gspec3d.h>

#include "gspecitems.h"

using namespace velfile;
using D = gspec3d_typeDescr;

namespace {

const uint32_t kRecordSize = 96;

constexpr auto kItems = specimenItems<D>();

Module<D> kSpec3d({"private/src/gspec3d", 0, 1, Foreign::Skip}, kItems.data(), kItems.size());

}  // namespace

VELFILE_RECORD_MODULE_API(gspec3d, D, kSpec3d);
VELFILE_MODULE_DUPLICATE(gspec3d, D, kSpec3d);

VELFILE_RECORD_BLOCKS(gspec3d, kRecordSize);
VELFILE_RECORD_MODULE_OPS(gspec3d, "specimen3d", "gspec3d_typeDescr", D, kSpec3d);
