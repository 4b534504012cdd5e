// velfile: the weld fill group.
#ifndef VELFILE_GWELDFILL_H
#define VELFILE_GWELDFILL_H

#include <velfile/veltypes.h>

// Opens with the same seven fields as CGWeldScanPlanDescr; shortText and
// longText likewise never reach a group.
class VELFILE_API CGWeldFillDescr {
 public:
  CGWeldFillDescr();
  CGWeldFillDescr(const CGWeldFillDescr& other);
  ~CGWeldFillDescr();
  // Texts and the name are copied bounded to their fields.
  CGWeldFillDescr& operator=(const CGWeldFillDescr& other);
  void initializeData();

  int32_t layoutVersion;  // 1 once written
  VelChar shortText[50];
  VelChar longText[500];
  VelChar groupName[32];
  void* groupHandle;
  uint32_t signature;
  int32_t swapFlag;
  int32_t item1;
  int32_t item2;
  double item3;
  double item4;
};

VELFILE_API void gweldFill_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                                VelErrorHook error);
VELFILE_API CGWeldFillDescr* gweldFill_Allocate(int flag, const VelChar* name);
VELFILE_API void gweldFill_Delete(CGWeldFillDescr* descr, int flag);
VELFILE_API int gweldFill_Duplicate(CGWeldFillDescr* source, CGWeldFillDescr* destination);
VELFILE_API void gweldFill_InitDescr(CGWeldFillDescr* descr);
VELFILE_API int gweldFill_ReadGroupInfo(void* group, CGWeldFillDescr* descr);
// Item 9999 every time, the others when they differ from previous.
VELFILE_API int gweldFill_WriteGroupInfo(void* group, CGWeldFillDescr* previous, CGWeldFillDescr* current);

#endif
