// velfile: the weld group (integers, floats and two texts).
#ifndef VELFILE_GWELD_H
#define VELFILE_GWELD_H

#include <velfile/veltypes.h>

// A host works on a weld descriptor only through the gweld_* functions and
// its public fields. It needs the complete class to fill and read the fields
// in place, so the definition is here; but the member functions are the
// library's own and are deliberately not exported (no VELFILE_API): a host
// gets a descriptor from gweld_Allocate, copies it with gweld_Duplicate,
// resets it with gweld_InitDescr and frees it with gweld_Delete. Constructing
// one itself links only against the static library. The class has no
// comparison operators.
class CGWeldTypeDescr {
 public:
  CGWeldTypeDescr();
  CGWeldTypeDescr(const CGWeldTypeDescr& other) = default;
  CGWeldTypeDescr& operator=(const CGWeldTypeDescr& other) = default;
  void initializeData();

  int32_t layoutVersion;  // 2 once written
  int32_t item1;
  int32_t item26;
  float item5;
  float item6;
  float item7;
  float item8;
  float item9;
  float item10;
  float item11;
  float item12;
  float item13;
  float item14;
  float item15;
  float item16;
  float item17;
  float item18;
  float item19;
  float item23;
  float item24;
  float item25;
  int32_t item20;  // 1 by default
  int32_t item2;
  int32_t item3;
  int32_t item4;
  VelChar item21[50];
  VelChar item22[500];
  VelChar groupName[32];
  void* groupHandle;
  uint32_t signature;
  int32_t swapFlag;
};

VELFILE_API void gweld_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
VELFILE_API CGWeldTypeDescr* gweld_Allocate(int flag, const VelChar* name);
VELFILE_API void gweld_Delete(CGWeldTypeDescr* descr, int flag);
VELFILE_API int gweld_Duplicate(CGWeldTypeDescr* source, CGWeldTypeDescr* destination);
VELFILE_API void gweld_InitDescr(CGWeldTypeDescr* descr);
VELFILE_API int gweld_ReadGroupInfo(void* group, CGWeldTypeDescr* descr);
// Items 1 and 9999 every time, the others when they differ from previous.
VELFILE_API int gweld_WriteGroupInfo(void* group, CGWeldTypeDescr* previous, CGWeldTypeDescr* current);

#endif
