// velfile: the sub-channel group (five integers and nine floats).
#ifndef VELFILE_GSUBCHAN_H
#define VELFILE_GSUBCHAN_H

#include <velfile/veltypes.h>

class VELFILE_API CGSubchanTypeDescr {
 public:
  CGSubchanTypeDescr();
  CGSubchanTypeDescr(const CGSubchanTypeDescr& other) = default;
  ~CGSubchanTypeDescr();
  CGSubchanTypeDescr& operator=(const CGSubchanTypeDescr& other) = default;
  // Every field takes part, the signature, swap flag and group handle
  // included; a NaN equals nothing but the descriptor itself.
  int operator==(const CGSubchanTypeDescr& other) const;
  int operator!=(const CGSubchanTypeDescr& other) const;
  void initializeData();

  int32_t layoutVersion;
  int32_t item1;
  int32_t item2;
  int32_t item13;
  int32_t item14;
  float item3;
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  float item9;
  float item11;
  float item12;
  int32_t item10;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gsubchan_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
VELFILE_API CGSubchanTypeDescr* gsubchan_Allocate(int flag, const VelChar* name);
VELFILE_API void gsubchan_Delete(CGSubchanTypeDescr* descr, int flag);
VELFILE_API int gsubchan_Duplicate(CGSubchanTypeDescr* source, CGSubchanTypeDescr* destination);
VELFILE_API void gsubchan_InitDescr(CGSubchanTypeDescr* descr);
VELFILE_API int gsubchan_ReadGroupInfo(void* group, CGSubchanTypeDescr* descr);
VELFILE_API int gsubchan_WriteGroupInfo(void* group, CGSubchanTypeDescr* previous,
                                        CGSubchanTypeDescr* current);

#endif
