/// @file
/// The 2-D specimen group and its blocks of 16-byte records.
/// The C++ layer calls the module @c specimen2d (velfile::find_module()).
#ifndef VELFILE_GSPEC2D_H
#define VELFILE_GSPEC2D_H

#include <velfile/veltypes.h>

/// A plain record: copied byte for byte, no constructor, no owned memory.
struct gspec2d_typeDescr {
  /// @name Fields of gspec2d_typeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
  ///@{
  VelChar groupName[32];  ///< One of the fields of gspec2d_typeDescr (see their description).
  int32_t layoutVersion;  ///< 1 once written
  int32_t item1;
  int32_t item2;
  int32_t item3;
  int32_t item4;
  float item5;
  float item6;
  int32_t item7;  ///< stored signed
  int32_t item8;  ///< stored signed
  int32_t item9;
  int32_t item10;
  int32_t swapFlag;
  void* groupHandle;
  VelChar item11[50];
  VelChar item12[500];
  int32_t item13;
  int32_t item14;
  ///@}
};

/// @copydoc module_operations::RecordAllocate
VELFILE_API gspec2d_typeDescr* gspec2d_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspec2d_Delete(gspec2d_typeDescr* descr, int flag);
/// @copydoc module_operations::RecordDuplicate
VELFILE_API int gspec2d_Duplicate(gspec2d_typeDescr* source, gspec2d_typeDescr* destination);
/// @copydoc module_operations::RecordReadGroupInfo
VELFILE_API int gspec2d_ReadGroupInfo(void* group, gspec2d_typeDescr* descr);
/// @copydoc module_operations::RecordWriteGroupInfo
VELFILE_API int gspec2d_WriteGroupInfo(void* group, gspec2d_typeDescr* descr);

/// @copydoc module_operations::RecordWriteDataInfo
/// Each record is four 32-bit words (16 bytes).
VELFILE_API uint32_t gspec2d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records);
/// @copydoc module_operations::RecordReadDataInfo
/// Each record is 16 bytes.
VELFILE_API int gspec2d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records);

#endif
