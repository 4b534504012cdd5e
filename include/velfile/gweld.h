/// @file
/// The weld group (integers, floats and two texts).
/// The C++ layer calls the module @c weld (velfile::find_module()).
#ifndef VELFILE_GWELD_H
#define VELFILE_GWELD_H

#include <velfile/veltypes.h>

/// A host works on a weld descriptor only through the gweld_* functions and
/// its public fields. It needs the complete class to fill and read the fields
/// in place, so the definition is here; but the member functions are the
/// library's own and are deliberately not exported (no VELFILE_API): a host
/// gets a descriptor from gweld_Allocate, copies it with gweld_Duplicate,
/// resets it with gweld_InitDescr and frees it with gweld_Delete. Constructing
/// one itself links only against the static library. The class has no
/// comparison operators.
class CGWeldTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGWeldTypeDescr();
  /// Copies another descriptor, as the assignment does.
  /// @param other the descriptor copied
  CGWeldTypeDescr(const CGWeldTypeDescr& other) = default;
  /// Copies another descriptor: every field, signature, swap flag and
  /// group handle included.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGWeldTypeDescr& operator=(const CGWeldTypeDescr& other) = default;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGWeldTypeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c signature is the
  /// module's descriptor signature, set by Allocate, InitDescr, initializeData
  /// and ReadGroupInfo and never checked. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
  /// @c layoutVersion: 2 once written
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGWeldTypeDescr (see their description).
  int32_t item1;
  int32_t item26;
  float item5;
  float item6;
  float item7;
  float item8;
  float item9;
  float item10;
  float item11;
  float item12;
  float item13;
  float item14;
  float item15;
  float item16;
  float item17;
  float item18;
  float item19;
  float item23;
  float item24;
  float item25;
  int32_t item20;  ///< 1 by default
  int32_t item2;
  int32_t item3;
  int32_t item4;
  VelChar item21[50];
  VelChar item22[500];
  VelChar groupName[32];
  void* groupHandle;
  uint32_t signature;
  int32_t swapFlag;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gweld_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGWeldTypeDescr* gweld_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gweld_Delete(CGWeldTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gweld_Duplicate(CGWeldTypeDescr* source, CGWeldTypeDescr* destination);
/// @copydoc module_operations::InitDescr
VELFILE_API void gweld_InitDescr(CGWeldTypeDescr* descr);
/// @copydoc module_operations::ReadGroupInfo
VELFILE_API int gweld_ReadGroupInfo(void* group, CGWeldTypeDescr* descr);
/// Stores a descriptor in a group: the group\'s name from @c groupName, then
/// Items 1 and 9999 every time, the others when they differ from previous.
/// Then @p previous becomes a copy of @p current.
/// Every item written is appended to the group (a reader takes the last item
/// of an id); a failing write does not stop the others.
/// @param group a group handle of a group created since the file was opened
///        (VelFile::file_GroupCreate)
/// @param previous what the group already holds, or null to write every item
/// @param current the descriptor to store
/// @return 0, or the bitwise OR of the codes of the failed item writes:
///   1 memory, 2 a value that could not be written, 3 not a group handle or
///   a text the narrow character set cannot hold, 8 a group loaded from the
///   file (read-only); 3 alone for a null descriptor. The result of setting
///   the name is not part of it.
VELFILE_API int gweld_WriteGroupInfo(void* group, CGWeldTypeDescr* previous, CGWeldTypeDescr* current);

#endif
