// velfile: the specimen material group (seven floats).
#ifndef VELFILE_GSPECMAT_H
#define VELFILE_GSPECMAT_H

#include <velfile/veltypes.h>

class VELFILE_API CGSpecmatTypeDescr {
 public:
  CGSpecmatTypeDescr();
  CGSpecmatTypeDescr(const CGSpecmatTypeDescr& other) = default;
  ~CGSpecmatTypeDescr();
  CGSpecmatTypeDescr& operator=(const CGSpecmatTypeDescr& other) = default;
  // Every field takes part, the signature, swap flag and group handle
  // included; floats compare as floats, so a NaN equals nothing but the
  // descriptor itself.
  int operator==(const CGSpecmatTypeDescr& other) const;
  int operator!=(const CGSpecmatTypeDescr& other) const;
  void initializeData();

  VelChar groupName[32];
  int32_t layoutVersion;
  float item1;  // 5920.0 by default
  float item2;  // 3230.0
  float item3;  // 5920.0
  float item4;  // 7.7
  float item5;  // 1.0
  float item6;  // 0.28
  float item7;  // 4.5e7
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gspecmat_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
VELFILE_API CGSpecmatTypeDescr* gspecmat_Allocate(int flag, const VelChar* name);
VELFILE_API void gspecmat_Delete(CGSpecmatTypeDescr* descr, int flag);
VELFILE_API int gspecmat_Duplicate(CGSpecmatTypeDescr* source, CGSpecmatTypeDescr* destination);
VELFILE_API void gspecmat_InitDescr(CGSpecmatTypeDescr* descr);
VELFILE_API int gspecmat_ReadGroupInfo(void* group, CGSpecmatTypeDescr* descr);
VELFILE_API int gspecmat_WriteGroupInfo(void* group, CGSpecmatTypeDescr* previous,
                                        CGSpecmatTypeDescr* current);

#endif
