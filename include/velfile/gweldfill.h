/// @file
/// The weld fill group.
/// The C++ layer calls the module @c weldfill (velfile::find_module()).
#ifndef VELFILE_GWELDFILL_H
#define VELFILE_GWELDFILL_H

#include <velfile/veltypes.h>

/// Opens with the same seven fields as CGWeldScanPlanDescr; shortText and
/// longText likewise never reach a group.
class VELFILE_API CGWeldFillDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGWeldFillDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGWeldFillDescr(const CGWeldFillDescr& other);
  /// Destroys the descriptor.
  ~CGWeldFillDescr();
  /// Copies another descriptor.
  /// Texts and the name are copied bounded to their fields.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGWeldFillDescr& operator=(const CGWeldFillDescr& other);
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGWeldFillDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  /// @c layoutVersion: 1 once written
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGWeldFillDescr (see their description).
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
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gweldFill_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                                VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGWeldFillDescr* gweldFill_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gweldFill_Delete(CGWeldFillDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gweldFill_Duplicate(CGWeldFillDescr* source, CGWeldFillDescr* destination);
/// @copydoc module_operations::InitDescr
VELFILE_API void gweldFill_InitDescr(CGWeldFillDescr* descr);
/// @copydoc module_operations::ReadGroupInfo
VELFILE_API int gweldFill_ReadGroupInfo(void* group, CGWeldFillDescr* descr);
/// Stores a descriptor in a group: the group\'s name from @c groupName, then
/// Item 9999 every time, the others when they differ from previous.
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
VELFILE_API int gweldFill_WriteGroupInfo(void* group, CGWeldFillDescr* previous, CGWeldFillDescr* current);

#endif
