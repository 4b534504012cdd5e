/// @file
/// The 3-D specimen group and its blocks of 96-byte records.
/// The C++ layer calls the module @c specimen3d (velfile::find_module()).
#ifndef VELFILE_GSPEC3D_H
#define VELFILE_GSPEC3D_H

#include <velfile/veltypes.h>

/// A plain record: copied byte for byte, no constructor, no owned memory. The
/// fields are those of the 2-D record without items 13 and 14.
struct gspec3d_typeDescr {
  /// @name Fields of gspec3d_typeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
  ///@{
  VelChar groupName[32];  ///< One of the fields of gspec3d_typeDescr (see their description).
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
  ///@}
};

/// @copydoc module_operations::RecordAllocate
VELFILE_API gspec3d_typeDescr* gspec3d_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspec3d_Delete(gspec3d_typeDescr* descr, int flag);
/// @copydoc module_operations::RecordDuplicate
VELFILE_API int gspec3d_Duplicate(gspec3d_typeDescr* source, gspec3d_typeDescr* destination);
/// @copydoc module_operations::RecordReadGroupInfo
VELFILE_API int gspec3d_ReadGroupInfo(void* group, gspec3d_typeDescr* descr);
/// @copydoc module_operations::RecordWriteGroupInfo
VELFILE_API int gspec3d_WriteGroupInfo(void* group, gspec3d_typeDescr* descr);

/// @copydoc module_operations::RecordWriteDataInfo
/// Each record is twenty-four 32-bit words (96 bytes).
VELFILE_API uint32_t gspec3d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records);
/// @copydoc module_operations::RecordReadDataInfo
/// Each record is 96 bytes.
VELFILE_API int gspec3d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records);

#endif
