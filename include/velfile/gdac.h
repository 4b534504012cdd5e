// velfile: the DAC group (a curve of up to 512 points and three values).
#ifndef VELFILE_GDAC_H
#define VELFILE_GDAC_H

#include <velfile/veltypes.h>

// One point of a DAC curve.
class VELFILE_API CDacPts {
 public:
  CDacPts();
  CDacPts(const CDacPts& other) = default;
  ~CDacPts();
  CDacPts& operator=(const CDacPts& other) = default;
  // Float equality of both values: a NaN equals nothing but the point itself.
  int operator==(const CDacPts& other) const;
  int operator!=(const CDacPts& other) const;
  void initializeData();

  float firstValue;
  float secondValue;
};

// Only the first pointCount points are stored in a group; the others are
// carried along, copied and compared in memory all the same.
class VELFILE_API CGDacTypeDescr {
 public:
  CGDacTypeDescr();
  CGDacTypeDescr(const CGDacTypeDescr& other) = default;
  ~CGDacTypeDescr();
  CGDacTypeDescr& operator=(const CGDacTypeDescr& other) = default;
  // Every field takes part, all 512 points (not only the first pointCount),
  // the signature, swap flag and group handle included.
  int operator==(const CGDacTypeDescr& other) const;
  int operator!=(const CGDacTypeDescr& other) const;
  void initializeData();

  int32_t layoutVersion;  // 2 by default
  int32_t item1;
  float item3;
  int32_t pointCount;  // 0 to 512; the writer limits other values to that range
  int32_t item2;
  VelChar groupName[32];
  CDacPts points[512];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gdac_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                           VelErrorHook error);
VELFILE_API CGDacTypeDescr* gdac_Allocate(int flag, const VelChar* name);
VELFILE_API void gdac_Delete(CGDacTypeDescr* descr, int flag);
VELFILE_API int gdac_Duplicate(CGDacTypeDescr* source, CGDacTypeDescr* destination);
VELFILE_API int gdac_ReadGroupInfo(void* group, CGDacTypeDescr* descr);
// Leaves the group's name as it was created, and never updates previous: a
// host that wants later writes to store only changes duplicates current into
// previous itself.
VELFILE_API int gdac_WriteGroupInfo(void* group, CGDacTypeDescr* previous, CGDacTypeDescr* current);

#endif
