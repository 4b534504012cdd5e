// velfile: the probe group (one integer and six floats per probe).
#ifndef VELFILE_GPROBE_H
#define VELFILE_GPROBE_H

#include <velfile/veltypes.h>

class VELFILE_API CGProbeTypeDescr {
 public:
  CGProbeTypeDescr();
  CGProbeTypeDescr(const CGProbeTypeDescr& other) = default;
  ~CGProbeTypeDescr();
  CGProbeTypeDescr& operator=(const CGProbeTypeDescr& other) = default;
  int operator==(const CGProbeTypeDescr& other) const;
  int operator!=(const CGProbeTypeDescr& other) const;
  void initializeData();

  int32_t layoutVersion;
  int32_t item1;
  float item3;  // 1.0 by default
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gprobe_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                             VelErrorHook error);
VELFILE_API CGProbeTypeDescr* gprobe_Allocate(int flag, const VelChar* name);
VELFILE_API void gprobe_Delete(CGProbeTypeDescr* descr, int flag);
VELFILE_API int gprobe_Duplicate(CGProbeTypeDescr* source, CGProbeTypeDescr* destination);
VELFILE_API void gprobe_InitDescr(CGProbeTypeDescr* descr);
VELFILE_API int gprobe_ReadGroupInfo(void* group, CGProbeTypeDescr* descr);
VELFILE_API int gprobe_WriteGroupInfo(void* group, CGProbeTypeDescr* previous, CGProbeTypeDescr* current);

#endif
