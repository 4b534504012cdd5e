// velfile: the information group (integers and five owned texts).
#ifndef VELFILE_GINFO_H
#define VELFILE_GINFO_H

#include <velfile/veltypes.h>

// The five text fields are owned by the descriptor: assignment and
// duplication copy them into buffers of their own, so no two descriptors ever
// share one. ginfo_Delete (or the destructor) releases them.
class VELFILE_API CGInfoTypeDescr {
 public:
  CGInfoTypeDescr();
  CGInfoTypeDescr(const CGInfoTypeDescr& other);
  ~CGInfoTypeDescr();
  CGInfoTypeDescr& operator=(const CGInfoTypeDescr& other);
  // Compares the text fields by address, as pointers.
  int operator==(const CGInfoTypeDescr& other) const;
  int operator!=(const CGInfoTypeDescr& other) const;
  // Back to defaults; releases the texts held before.
  void initializeData();
  // Releases the five texts and sets them to null.
  void releaseStrings();

  int32_t layoutVersion;
  int32_t item15690;
  int32_t item15691;
  int32_t item15701;
  int32_t item15702;
  int32_t item2;
  int32_t item1;
  int32_t item3;
  int32_t item4;
  int32_t item15685;  // signed
  int32_t item15682;
  int32_t item15683;
  int32_t item15684;
  VelChar* item15687;  // owned texts, null or zero-terminated
  VelChar* item15688;
  VelChar* item15700;
  VelChar* item15686;
  VelChar* item15689;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void ginfo_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelWideErrorHook error);
VELFILE_API CGInfoTypeDescr* ginfo_Allocate(int flag, const VelChar* name);
VELFILE_API void ginfo_Delete(CGInfoTypeDescr* descr, int flag);
VELFILE_API int ginfo_Duplicate(CGInfoTypeDescr* source, CGInfoTypeDescr* destination);
VELFILE_API int ginfo_ReadGroupInfo(void* group, CGInfoTypeDescr* descr);
VELFILE_API int ginfo_WriteGroupInfo(void* group, CGInfoTypeDescr* previous, CGInfoTypeDescr* current);

#endif
