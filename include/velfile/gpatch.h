// velfile: the patch group (seven integers and six floats).
#ifndef VELFILE_GPATCH_H
#define VELFILE_GPATCH_H

#include <velfile/veltypes.h>

class VELFILE_API CGPatchTypeDescr {
 public:
  CGPatchTypeDescr();
  CGPatchTypeDescr(const CGPatchTypeDescr& other) = default;
  ~CGPatchTypeDescr();
  CGPatchTypeDescr& operator=(const CGPatchTypeDescr& other) = default;
  // Every field takes part, the signature, swap flag and group handle included.
  int operator==(const CGPatchTypeDescr& other) const;
  int operator!=(const CGPatchTypeDescr& other) const;
  void initializeData();

  int32_t layoutVersion;
  int32_t item1;
  int32_t item16;
  float item6;
  float item7;
  float item8;  // 1.0 by default
  float item12;
  float item13;
  float item14;  // 1.0 by default
  int32_t item9;
  int32_t item15;
  int32_t item11;
  int32_t item3;
  int32_t item5;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gpatch_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                             VelErrorHook error);
VELFILE_API CGPatchTypeDescr* gpatch_Allocate(int flag, const VelChar* name);
VELFILE_API void gpatch_Delete(CGPatchTypeDescr* descr, int flag);
VELFILE_API int gpatch_Duplicate(CGPatchTypeDescr* source, CGPatchTypeDescr* destination);
VELFILE_API void gpatch_InitDescr(CGPatchTypeDescr* descr);
VELFILE_API int gpatch_ReadGroupInfo(void* group, CGPatchTypeDescr* descr);
VELFILE_API int gpatch_WriteGroupInfo(void* group, CGPatchTypeDescr* previous, CGPatchTypeDescr* current);

#endif
