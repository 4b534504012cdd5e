/// @file
/// The contour group (seven integers and two floats; no points).
/// The C++ layer calls the module @c contour (velfile::find_module()).
#ifndef VELFILE_GCONTOUR_H
#define VELFILE_GCONTOUR_H

#include <velfile/veltypes.h>

/// Descriptor of the contour group: the values of its items in memory.
class VELFILE_API CGContourTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGContourTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGContourTypeDescr(const CGContourTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGContourTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGContourTypeDescr& operator=(const CGContourTypeDescr& other) = default;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGContourTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGContourTypeDescr (see their description).
  int32_t item9;
  int32_t item1;
  int32_t item3;
  /// Stored only by a write without a previous descriptor; a previous
  /// descriptor keeps its own value across writes.
  int32_t item7;
  float item4;
  float item5;
  VelChar groupName[32];
  int32_t item8;
  int32_t item2;
  int32_t item6;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gcontour_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGContourTypeDescr* gcontour_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gcontour_Delete(CGContourTypeDescr* descr, int flag);
/// @copydoc module_operations::ReadGroupInfoFromDefaults
VELFILE_API int gcontour_ReadGroupInfo(void* group, CGContourTypeDescr* descr);
/// Stores a descriptor in a group: the group's name from @c groupName,
/// item 9999 with the module's layout version (also stored in @p current)
/// and the module's always-written items, then each other item only when
/// @p previous is null or the field differs from
/// previous's (floats compare with ==, so a NaN always counts as changed).
/// Then @p previous becomes a copy of @p current, so that the next call
/// stores only what changed, except that it keeps its own @c item7.
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
VELFILE_API int gcontour_WriteGroupInfo(void* group, CGContourTypeDescr* previous,
                                        CGContourTypeDescr* current);

#endif
