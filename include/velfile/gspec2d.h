// velfile: the 2-D specimen group and its blocks of 16-byte records.
#ifndef VELFILE_GSPEC2D_H
#define VELFILE_GSPEC2D_H

#include <velfile/veltypes.h>

// A plain record: copied byte for byte, no constructor, no owned memory.
struct gspec2d_typeDescr {
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
  int32_t item13;
  int32_t item14;
};

// flag non-zero: the module's defaults; zero: all zero bytes. Then the name.
VELFILE_API gspec2d_typeDescr* gspec2d_Allocate(int flag, const VelChar* name);
VELFILE_API void gspec2d_Delete(gspec2d_typeDescr* descr, int flag);
// 0 when copied, -1 (nothing copied) when either pointer is null.
VELFILE_API int gspec2d_Duplicate(gspec2d_typeDescr* source, gspec2d_typeDescr* destination);
VELFILE_API int gspec2d_ReadGroupInfo(void* group, gspec2d_typeDescr* descr);
// Writes every item.
VELFILE_API int gspec2d_WriteGroupInfo(void* group, gspec2d_typeDescr* descr);

// A record block holds records of four 32-bit words, stored as raw bytes in
// the writer's byte order; the host keeps the offset and the count. The
// handle is a group or a file handle standing for its writable section.
// Returns the block's offset; 0 when nothing was stored (no section to store
// in, a negative count, or more than 4 GiB).
VELFILE_API uint32_t gspec2d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records);
// Reads recordCount records at offset of the group's section; records must
// hold them. 0, or 2 when they cannot be read (also for a negative count).
VELFILE_API int gspec2d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records);

#endif
