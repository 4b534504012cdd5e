/// @file
/// The specimen material group (seven floats).
/// The C++ layer calls the module @c material (velfile::find_module()).
#ifndef VELFILE_GSPECMAT_H
#define VELFILE_GSPECMAT_H

#include <velfile/veltypes.h>

/// Descriptor of the specimen material group: the values of its items in memory.
class VELFILE_API CGSpecmatTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSpecmatTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGSpecmatTypeDescr(const CGSpecmatTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGSpecmatTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGSpecmatTypeDescr& operator=(const CGSpecmatTypeDescr& other) = default;
  /// Compares two descriptors field by field.
  /// Every field takes part, the signature, swap flag and group handle
  /// included; floats compare as floats, so a NaN equals nothing but the
  /// descriptor itself.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGSpecmatTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGSpecmatTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGSpecmatTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  VelChar groupName[32];  ///< One of the fields of CGSpecmatTypeDescr (see their description).
  int32_t layoutVersion;
  float item1;  ///< 5920.0 by default
  float item2;  ///< 3230.0
  float item3;  ///< 5920.0
  float item4;  ///< 7.7
  float item5;  ///< 1.0
  float item6;  ///< 0.28
  float item7;  ///< 4.5e7
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gspecmat_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGSpecmatTypeDescr* gspecmat_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspecmat_Delete(CGSpecmatTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gspecmat_Duplicate(CGSpecmatTypeDescr* source, CGSpecmatTypeDescr* destination);
/// @copydoc module_operations::InitDescr
VELFILE_API void gspecmat_InitDescr(CGSpecmatTypeDescr* descr);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int gspecmat_ReadGroupInfo(void* group, CGSpecmatTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gspecmat_WriteGroupInfo(void* group, CGSpecmatTypeDescr* previous,
                                        CGSpecmatTypeDescr* current);

#endif
