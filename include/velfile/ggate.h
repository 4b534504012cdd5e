// velfile: the gate group (integers, floats, one byte item and the original position).
#ifndef VELFILE_GGATE_H
#define VELFILE_GGATE_H

#include <velfile/veltypes.h>

class VELFILE_API CGGateTypeDescr {
 public:
  CGGateTypeDescr();
  CGGateTypeDescr(const CGGateTypeDescr& other);
  // Overwrites the record (signature 0, item3 and item12 -1, ...), so a
  // destroyed gate no longer passes for a live one; the original position stays.
  ~CGGateTypeDescr();
  // Keeps at most 31 characters of the source's name.
  CGGateTypeDescr& operator=(const CGGateTypeDescr& other);
  // Every field takes part, the whole 32-bit item16, the signature, swap
  // flag, group handle and original position included.
  int operator==(const CGGateTypeDescr& other) const;
  int operator!=(const CGGateTypeDescr& other) const;
  void initializeData();

  int GetOriginalPosition() const;
  void SetOriginalPosition(int position);

  int32_t layoutVersion;
  int32_t item1;
  int32_t item2;
  float item6;  // the four floats are 1.0e38 by default
  float item7;
  float item8;
  float item9;
  int32_t item4;
  int32_t item10;
  int32_t item11;
  int32_t item3;
  int32_t item5;  // 1 by default
  int32_t item12;
  int32_t item13;
  int32_t item15;  // 1 by default
  int32_t item16;  // only its low-order byte is stored; reading keeps the others
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;

 private:
  int32_t originalPosition_;  // item 14, 1 by default
};

VELFILE_API void ggate_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
VELFILE_API CGGateTypeDescr* ggate_Allocate(int flag, const VelChar* name);
VELFILE_API void ggate_Delete(CGGateTypeDescr* descr, int flag);
VELFILE_API int ggate_Duplicate(CGGateTypeDescr* source, CGGateTypeDescr* destination);
VELFILE_API void ggate_InitDescr(CGGateTypeDescr* descr);
// keep false: the descriptor is back at its defaults before the group is
// read; keep true: fields the group lacks keep their values.
VELFILE_API int ggate_ReadGroupInfo(void* group, CGGateTypeDescr* descr, bool keep);
VELFILE_API int ggate_WriteGroupInfo(void* group, CGGateTypeDescr* previous, CGGateTypeDescr* current);

#endif
