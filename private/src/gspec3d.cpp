// The 3-D specimen group.
#include <velfile/gspec3d.h>

#include "gspecitems.h"

using namespace velfile;
using D = gspec3d_typeDescr;

namespace {

const uint32_t kRecordSize = 96;

const auto kItems = specimenItems<D>();

Module<D> kSpec3d({"private/src/gspec3d", 0, 1, Foreign::Skip}, kItems.data(), kItems.size());

const D kDefaults = specimenDefaults<D>();

}  // namespace

D* gspec3d_Allocate(int flag, const VelChar* name) {
  return allocateRecord(kSpec3d, flag, kDefaults, name);
}
void gspec3d_Delete(D* d, int flag) {
  deleteDescr(kSpec3d, d, flag);
}
int gspec3d_Duplicate(D* source, D* destination) {
  return duplicateDescr(kSpec3d, source, destination);
}
int gspec3d_ReadGroupInfo(void* group, D* d) {
  return readGroup(kSpec3d, group, d);
}
int gspec3d_WriteGroupInfo(void* group, D* d) {
  return writeGroup<D>(kSpec3d, group, nullptr, d);
}

uint32_t gspec3d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records) {
  return writeRecords(handle, recordCount, records, kRecordSize);
}
int gspec3d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records) {
  return readRecords(group, offset, recordCount, records, kRecordSize);
}
