// velfile: the contour group (seven integers and two floats; no points).
#ifndef VELFILE_GCONTOUR_H
#define VELFILE_GCONTOUR_H

#include <velfile/veltypes.h>

class VELFILE_API CGContourTypeDescr {
 public:
  CGContourTypeDescr();
  CGContourTypeDescr(const CGContourTypeDescr& other) = default;
  ~CGContourTypeDescr();
  CGContourTypeDescr& operator=(const CGContourTypeDescr& other) = default;
  void initializeData();

  int32_t layoutVersion;
  int32_t item9;
  int32_t item1;
  int32_t item3;
  // Stored only by a write without a previous descriptor; a previous
  // descriptor keeps its own value across writes.
  int32_t item7;
  float item4;
  float item5;
  VelChar groupName[32];
  int32_t item8;
  int32_t item2;
  int32_t item6;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gcontour_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
VELFILE_API CGContourTypeDescr* gcontour_Allocate(int flag, const VelChar* name);
VELFILE_API void gcontour_Delete(CGContourTypeDescr* descr, int flag);
// Starts from the defaults: fields the group lacks come back at their defaults.
VELFILE_API int gcontour_ReadGroupInfo(void* group, CGContourTypeDescr* descr);
VELFILE_API int gcontour_WriteGroupInfo(void* group, CGContourTypeDescr* previous,
                                        CGContourTypeDescr* current);

#endif
