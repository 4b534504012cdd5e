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

uint32_t gspec3d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records) {
  return writeRecords(handle, recordCount, records, kRecordSize);
}
int gspec3d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records) {
  return readRecords(group, offset, recordCount, records, kRecordSize);
}
// The structure modules write every item every time: no previous descriptor.
VELFILE_MODULE_OPS_WITH(
    gspec3d, "specimen3d", "gspec3d_typeDescr", D, kSpec3d,
    [](void* g, void* d) { return gspec3d_ReadGroupInfo(g, static_cast<D*>(d)); },
    [](void* g, void*, void* d) { return gspec3d_WriteGroupInfo(g, static_cast<D*>(d)); },
    [](void* d) { gspec3d_Delete(static_cast<D*>(d), 1); });
