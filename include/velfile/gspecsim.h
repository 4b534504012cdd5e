/// @file
/// The specimen simulation group, a plain record written whole every time.
/// The C++ layer calls the module @c simulation (velfile::find_module()).
#ifndef VELFILE_GSPECSIM_H
#define VELFILE_GSPECSIM_H

#include <velfile/veltypes.h>

/// A plain record: copied byte for byte, no constructor, no owned memory.
struct gspecsim_typeDescr {
  /// @name Fields of gspecsim_typeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
  ///@{
  VelChar groupName[32];  ///< One of the fields of gspecsim_typeDescr (see their description).
  int32_t layoutVersion;  ///< 2 once written
  int32_t item1;          ///< expected non-zero
  VelChar item2[50];
  VelChar item3[500];
  float item4;  ///< checked before writing: item5 >= item4, item7 >= item6, item9 >= item8
  float item5;
  float item6;
  float item7;
  float item8;
  float item9;
  int32_t item10;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::RecordAllocate
VELFILE_API gspecsim_typeDescr* gspecsim_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspecsim_Delete(gspecsim_typeDescr* descr, int flag);
/// Back to the module's defaults, name, swap flag and group handle included.
/// @param descr the descriptor; null does nothing
VELFILE_API void gspecsim_InitDescr(gspecsim_typeDescr* descr);
/// @copydoc module_operations::RecordReadGroupInfo
VELFILE_API int gspecsim_ReadGroupInfo(void* group, gspecsim_typeDescr* descr);
/// Writes every item. An item 1 of 0 or a range whose high end is below its
/// low end (or NaN) makes a diagnostic report; the values are written as they are.
/// Stores a descriptor in a group, every item on every call: the group's
/// name, item 9999 with the module's layout version (also stored in
/// @p descr) and each item of the module.
/// Every item written is appended to the group (a reader takes the last item
/// of an id); a failing write does not stop the others.
/// @param group a group handle of a group created since the file was opened
///        (VelFile::file_GroupCreate)
/// @param descr the descriptor to store
/// @return 0, or the bitwise OR of the codes of the failed item writes:
///   1 memory, 2 a value that could not be written, 3 not a group handle or
///   a text the narrow character set cannot hold, 8 a group loaded from the
///   file (read-only); 3 alone for a null descriptor. The result of setting
///   the name is not part of it.
VELFILE_API int gspecsim_WriteGroupInfo(void* group, gspecsim_typeDescr* descr);

#endif
