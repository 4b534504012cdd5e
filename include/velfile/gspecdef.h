/// @file
/// The specimen definition group (one integer and seven floats).
/// The C++ layer calls the module @c specimen (velfile::find_module()).
#ifndef VELFILE_GSPECDEF_H
#define VELFILE_GSPECDEF_H

#include <velfile/veltypes.h>

/// Descriptor of the specimen definition group: the values of its items in memory.
class VELFILE_API CGSpecdefTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSpecdefTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGSpecdefTypeDescr(const CGSpecdefTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGSpecdefTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGSpecdefTypeDescr& operator=(const CGSpecdefTypeDescr& other) = default;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGSpecdefTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  VelChar groupName[32];  ///< One of the fields of CGSpecdefTypeDescr (see their description).
  int32_t layoutVersion;
  int32_t item1;
  float item2;
  float item3;
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gspecdef_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGSpecdefTypeDescr* gspecdef_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspecdef_Delete(CGSpecdefTypeDescr* descr, int flag);
/// @copydoc module_operations::ReadGroupInfoFromDefaults
VELFILE_API int gspecdef_ReadGroupInfo(void* group, CGSpecdefTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gspecdef_WriteGroupInfo(void* group, CGSpecdefTypeDescr* previous,
                                        CGSpecdefTypeDescr* current);

#endif
