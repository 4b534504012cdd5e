// velfile: the channel group (integers, floats, one byte item and a text).
#ifndef VELFILE_GCHAN_H
#define VELFILE_GCHAN_H

#include <velfile/veltypes.h>

class VELFILE_API CGChanTypeDescr {
 public:
  CGChanTypeDescr();
  CGChanTypeDescr(CGChanTypeDescr& other);
  ~CGChanTypeDescr();
  // Cuts both texts of the SOURCE to 31 characters (a zero in their last
  // unit) before copying them, so neither side is left without a terminator.
  CGChanTypeDescr& operator=(CGChanTypeDescr& other);
  // Every field takes part: the whole 32-bit item22, the signature, swap
  // flag and group handle included; a NaN equals nothing but the descriptor itself.
  int operator==(const CGChanTypeDescr& other) const;
  int operator!=(const CGChanTypeDescr& other) const;
  void initializeData();

  int32_t item22;         // only its low-order byte is stored; reading keeps the others
  int32_t layoutVersion;  // 3 by default
  int32_t item1;
  int32_t item18;
  int32_t item19;
  int32_t item4;
  int32_t item5;
  float item7;
  float item20;
  float item9;
  float item10;
  float item11;
  float item13;
  float item14;
  float item15;
  float item21;
  int32_t item6;
  int32_t item8;
  int32_t item12;
  int32_t item16;
  VelChar groupName[32];
  VelChar item3[32];  // stored wide; a narrow item 3 is widened on reading
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gchan_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
VELFILE_API CGChanTypeDescr* gchan_Allocate(int flag, const VelChar* name);
VELFILE_API void gchan_Delete(CGChanTypeDescr* descr, int flag);
// Assigns with operator=, which also cuts the source's texts to 31 characters.
VELFILE_API int gchan_Duplicate(CGChanTypeDescr* source, CGChanTypeDescr* destination);
VELFILE_API void gchan_InitDescr(CGChanTypeDescr* descr);
VELFILE_API int gchan_ReadGroupInfo(void* group, CGChanTypeDescr* descr);
VELFILE_API int gchan_WriteGroupInfo(void* group, CGChanTypeDescr* previous, CGChanTypeDescr* current);

#endif
