// velfile: the weld scan plan group.
#ifndef VELFILE_GWELDSCANPLAN_H
#define VELFILE_GWELDSCANPLAN_H

#include <velfile/veltypes.h>

// shortText and longText belong to the host: they are reset, copied and kept
// with the descriptor but never read from or written to a group.
class VELFILE_API CGWeldScanPlanDescr {
 public:
  CGWeldScanPlanDescr();
  CGWeldScanPlanDescr(const CGWeldScanPlanDescr& other);
  ~CGWeldScanPlanDescr();
  // Texts and the name are copied bounded to their fields.
  CGWeldScanPlanDescr& operator=(const CGWeldScanPlanDescr& other);
  void initializeData();

  int32_t layoutVersion;  // 1 once written
  VelChar shortText[50];
  VelChar longText[500];
  VelChar groupName[32];
  void* groupHandle;
  uint32_t signature;
  int32_t swapFlag;
  int32_t item1;
  uint16_t item2;
  uint16_t item3;
  int32_t item4;
  double item5;
  double item6;
  double item7;
  double item8;
  double item9;
  double item10;
};

VELFILE_API void gweldsp_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                              VelErrorHook error);
VELFILE_API CGWeldScanPlanDescr* gweldsp_Allocate(int flag, const VelChar* name);
VELFILE_API void gweldsp_Delete(CGWeldScanPlanDescr* descr, int flag);
VELFILE_API int gweldsp_Duplicate(CGWeldScanPlanDescr* source, CGWeldScanPlanDescr* destination);
VELFILE_API void gweldsp_InitDescr(CGWeldScanPlanDescr* descr);
VELFILE_API int gweldsp_ReadGroupInfo(void* group, CGWeldScanPlanDescr* descr);
// Item 9999 every time, the others when they differ from previous.
VELFILE_API int gweldsp_WriteGroupInfo(void* group, CGWeldScanPlanDescr* previous,
                                       CGWeldScanPlanDescr* current);

#endif
