// velfile: the mesh group (one float and four integers; no mesh data).
#ifndef VELFILE_GMESH_H
#define VELFILE_GMESH_H

#include <velfile/veltypes.h>

// The members belong to the module: hosts get descriptors from
// gmesh_Allocate and give them back with gmesh_Delete.
class CGMeshTypeDescr {
 public:
  CGMeshTypeDescr();
  CGMeshTypeDescr(const CGMeshTypeDescr& other) = default;
  ~CGMeshTypeDescr();
  CGMeshTypeDescr& operator=(const CGMeshTypeDescr& other) = default;

  VelChar groupName[32];
  int32_t layoutVersion;
  float item1;
  int32_t item2;
  int32_t item3;  // signed in the file
  // A previous descriptor keeps its own value across writes.
  int32_t item4;
  int32_t item5;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
};

VELFILE_API void gmesh_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
VELFILE_API CGMeshTypeDescr* gmesh_Allocate(int flag, const VelChar* name);
VELFILE_API void gmesh_Delete(CGMeshTypeDescr* descr, int flag);
VELFILE_API int gmesh_ReadGroupInfo(void* group, CGMeshTypeDescr* descr);
// Writes every item on every call; previous is only brought up to date.
VELFILE_API int gmesh_WriteGroupInfo(void* group, CGMeshTypeDescr* previous, CGMeshTypeDescr* current);

#endif
