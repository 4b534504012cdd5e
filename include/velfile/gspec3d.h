// velfile: the 3-D specimen group and its blocks of 96-byte records.
#ifndef VELFILE_GSPEC3D_H
#define VELFILE_GSPEC3D_H

#include <velfile/veltypes.h>

// A plain record: copied byte for byte, no constructor, no owned memory. The
// fields are those of the 2-D record without items 13 and 14.
struct gspec3d_typeDescr {
  VelChar groupName[32];
  int32_t layoutVersion;  // 1 once written
  int32_t item1;
  int32_t item2;
  int32_t item3;
  int32_t item4;
  float item5;
  float item6;
  int32_t item7;  // stored signed
  int32_t item8;  // stored signed
  int32_t item9;
  int32_t item10;
  int32_t swapFlag;
  void* groupHandle;
  VelChar item11[50];
  VelChar item12[500];
};

// flag non-zero: the module's defaults; zero: all zero bytes. Then the name.
VELFILE_API gspec3d_typeDescr* gspec3d_Allocate(int flag, const VelChar* name);
VELFILE_API void gspec3d_Delete(gspec3d_typeDescr* descr, int flag);
// 0 when copied, -1 (nothing copied) when either pointer is null.
VELFILE_API int gspec3d_Duplicate(gspec3d_typeDescr* source, gspec3d_typeDescr* destination);
VELFILE_API int gspec3d_ReadGroupInfo(void* group, gspec3d_typeDescr* descr);
// Writes every item.
VELFILE_API int gspec3d_WriteGroupInfo(void* group, gspec3d_typeDescr* descr);

// Record blocks as for the 2-D group, with records of twenty-four 32-bit words.
VELFILE_API uint32_t gspec3d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records);
VELFILE_API int gspec3d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records);

#endif
