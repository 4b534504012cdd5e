/// @file
/// The specimen dimension group (ten floats).
/// The C++ layer calls the module @c dimension (velfile::find_module()).
#ifndef VELFILE_GSPECDIM_H
#define VELFILE_GSPECDIM_H

#include <velfile/veltypes.h>

/// Descriptor of the specimen dimension group: the values of its items in memory.
class VELFILE_API CGSpecdimTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSpecdimTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGSpecdimTypeDescr(const CGSpecdimTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGSpecdimTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGSpecdimTypeDescr& operator=(const CGSpecdimTypeDescr& other) = default;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGSpecdimTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  VelChar groupName[32];  ///< One of the fields of CGSpecdimTypeDescr (see their description).
  int32_t layoutVersion;
  float item1;   ///< -10.0 by default
  float item2;   ///< 10.0
  float item3;   ///< -10.0
  float item4;   ///< 10.0
  float item5;   ///< -10.0
  float item6;   ///< 10.0
  float item7;   ///< 0.0
  float item8;   ///< 10.0
  float item9;   ///< 0.0
  float item10;  ///< 360.0
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gspecdim_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGSpecdimTypeDescr* gspecdim_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspecdim_Delete(CGSpecdimTypeDescr* descr, int flag);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int gspecdim_ReadGroupInfo(void* group, CGSpecdimTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gspecdim_WriteGroupInfo(void* group, CGSpecdimTypeDescr* previous,
                                        CGSpecdimTypeDescr* current);

#endif
