/// @file
/// The patch group (seven integers and six floats).
/// The C++ layer calls the module @c patch (velfile::find_module()).
#ifndef VELFILE_GPATCH_H
#define VELFILE_GPATCH_H

#include <velfile/veltypes.h>

/// Descriptor of the patch group: the values of its items in memory.
class VELFILE_API CGPatchTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGPatchTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGPatchTypeDescr(const CGPatchTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGPatchTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGPatchTypeDescr& operator=(const CGPatchTypeDescr& other) = default;
  /// Compares two descriptors field by field.
  /// Every field takes part, the signature, swap flag and group handle included.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGPatchTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGPatchTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGPatchTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGPatchTypeDescr (see their description).
  int32_t item1;
  int32_t item16;
  float item6;
  float item7;
  float item8;  ///< 1.0 by default
  float item12;
  float item13;
  float item14;  ///< 1.0 by default
  int32_t item9;
  int32_t item15;
  int32_t item11;
  int32_t item3;
  int32_t item5;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gpatch_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                             VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGPatchTypeDescr* gpatch_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gpatch_Delete(CGPatchTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gpatch_Duplicate(CGPatchTypeDescr* source, CGPatchTypeDescr* destination);
/// @copydoc module_operations::InitDescr
VELFILE_API void gpatch_InitDescr(CGPatchTypeDescr* descr);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int gpatch_ReadGroupInfo(void* group, CGPatchTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gpatch_WriteGroupInfo(void* group, CGPatchTypeDescr* previous, CGPatchTypeDescr* current);

#endif
