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

uint32_t gspec2d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records) {
  return writeRecords(handle, recordCount, records, kRecordSize);
}
int gspec2d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records) {
  return readRecords(group, offset, recordCount, records, kRecordSize);
}
// The structure modules write every item every time: no previous descriptor.
VELFILE_MODULE_OPS_WITH(
    gspec2d, "specimen2d", "gspec2d_typeDescr", D, kSpec2d,
    [](void* g, void* d) { return gspec2d_ReadGroupInfo(g, static_cast<D*>(d)); },
    [](void* g, void*, void* d) { return gspec2d_WriteGroupInfo(g, static_cast<D*>(d)); },
    [](void* d) { gspec2d_Delete(static_cast<D*>(d), 1); });
