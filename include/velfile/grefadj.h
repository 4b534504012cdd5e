// velfile: the reference adjustment group (three integers, fifteen floats and a text).
#ifndef VELFILE_GREFADJ_H
#define VELFILE_GREFADJ_H

#include <velfile/veltypes.h>

class VELFILE_API CGRefadjTypeDescr {
 public:
  CGRefadjTypeDescr();
  CGRefadjTypeDescr(const CGRefadjTypeDescr& other);
  ~CGRefadjTypeDescr();
  // Copies everything but the group name, which it empties.
  CGRefadjTypeDescr& operator=(const CGRefadjTypeDescr& other);
  void initializeData();

  int32_t layoutVersion;
  int32_t item1;
  float item4;
  float item5;
  float item6;
  float item7;  // 0.1 by default
  float item8;
  float item9;
  float item10;
  float item11;  // 0.1 by default
  float item12;
  float item13;
  float item14;
  float item15;  // 0.1 by default
  float item16;
  float item17;
  float item18;
  int32_t item3;
  int32_t item19;
  VelChar groupName[32];
  VelChar text[100];  // item 2
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void grefadj_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                              VelErrorHook error);
VELFILE_API CGRefadjTypeDescr* grefadj_Allocate(int flag, const VelChar* name);
VELFILE_API void grefadj_Delete(CGRefadjTypeDescr* descr, int flag);
VELFILE_API int grefadj_ReadGroupInfo(void* group, CGRefadjTypeDescr* descr);
VELFILE_API int grefadj_WriteGroupInfo(void* group, CGRefadjTypeDescr* previous, CGRefadjTypeDescr* current);

#endif
