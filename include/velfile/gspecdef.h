// velfile: the specimen definition group (one integer and seven floats).
#ifndef VELFILE_GSPECDEF_H
#define VELFILE_GSPECDEF_H

#include <velfile/veltypes.h>

class VELFILE_API CGSpecdefTypeDescr {
 public:
  CGSpecdefTypeDescr();
  CGSpecdefTypeDescr(const CGSpecdefTypeDescr& other) = default;
  ~CGSpecdefTypeDescr();
  CGSpecdefTypeDescr& operator=(const CGSpecdefTypeDescr& other) = default;
  void initializeData();

  VelChar groupName[32];
  int32_t layoutVersion;
  int32_t item1;
  float item2;
  float item3;
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gspecdef_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
VELFILE_API CGSpecdefTypeDescr* gspecdef_Allocate(int flag, const VelChar* name);
VELFILE_API void gspecdef_Delete(CGSpecdefTypeDescr* descr, int flag);
// Starts from the defaults: fields the group lacks come back at their defaults.
VELFILE_API int gspecdef_ReadGroupInfo(void* group, CGSpecdefTypeDescr* descr);
VELFILE_API int gspecdef_WriteGroupInfo(void* group, CGSpecdefTypeDescr* previous,
                                        CGSpecdefTypeDescr* current);

#endif
