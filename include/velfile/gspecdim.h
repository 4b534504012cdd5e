// velfile: the specimen dimension group (ten floats).
#ifndef VELFILE_GSPECDIM_H
#define VELFILE_GSPECDIM_H

#include <velfile/veltypes.h>

class VELFILE_API CGSpecdimTypeDescr {
 public:
  CGSpecdimTypeDescr();
  CGSpecdimTypeDescr(const CGSpecdimTypeDescr& other) = default;
  ~CGSpecdimTypeDescr();
  CGSpecdimTypeDescr& operator=(const CGSpecdimTypeDescr& other) = default;
  void initializeData();

  VelChar groupName[32];
  int32_t layoutVersion;
  float item1;   // -10.0 by default
  float item2;   // 10.0
  float item3;   // -10.0
  float item4;   // 10.0
  float item5;   // -10.0
  float item6;   // 10.0
  float item7;   // 0.0
  float item8;   // 10.0
  float item9;   // 0.0
  float item10;  // 360.0
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gspecdim_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
VELFILE_API CGSpecdimTypeDescr* gspecdim_Allocate(int flag, const VelChar* name);
VELFILE_API void gspecdim_Delete(CGSpecdimTypeDescr* descr, int flag);
VELFILE_API int gspecdim_ReadGroupInfo(void* group, CGSpecdimTypeDescr* descr);
VELFILE_API int gspecdim_WriteGroupInfo(void* group, CGSpecdimTypeDescr* previous,
                                        CGSpecdimTypeDescr* current);

#endif
