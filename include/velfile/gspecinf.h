// velfile: the specimen information group (three texts and one integer).
#ifndef VELFILE_GSPECINF_H
#define VELFILE_GSPECINF_H

#include <velfile/veltypes.h>

class VELFILE_API CGSpecinfTypeDescr {
 public:
  CGSpecinfTypeDescr();
  CGSpecinfTypeDescr(const CGSpecinfTypeDescr& other);
  ~CGSpecinfTypeDescr();
  // Copies everything but the layout version, which becomes 0: a copy is
  // not a record of what some group holds.
  CGSpecinfTypeDescr& operator=(const CGSpecinfTypeDescr& other);
  // Clears texts 1 and 2 over their whole length; text 3 only becomes empty.
  void initializeData();

  VelChar groupName[32];
  int32_t layoutVersion;
  VelChar item1[100];  // zero-terminated texts
  VelChar item2[500];
  int32_t item3;
  VelChar item4[100];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gspecinf_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
VELFILE_API CGSpecinfTypeDescr* gspecinf_Allocate(int flag, const VelChar* name);
VELFILE_API void gspecinf_Delete(CGSpecinfTypeDescr* descr, int flag);
VELFILE_API int gspecinf_ReadGroupInfo(void* group, CGSpecinfTypeDescr* descr);
VELFILE_API int gspecinf_WriteGroupInfo(void* group, CGSpecinfTypeDescr* previous,
                                        CGSpecinfTypeDescr* current);

#endif
