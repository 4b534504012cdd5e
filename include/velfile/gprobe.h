/// @file
/// The probe group (one integer and six floats per probe).
/// The C++ layer calls the module @c probe (velfile::find_module()).
#ifndef VELFILE_GPROBE_H
#define VELFILE_GPROBE_H

#include <velfile/veltypes.h>

/// Descriptor of the probe group: the values of its items in memory.
class VELFILE_API CGProbeTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGProbeTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGProbeTypeDescr(const CGProbeTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGProbeTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGProbeTypeDescr& operator=(const CGProbeTypeDescr& other) = default;
  /// Compares two descriptors field by field.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGProbeTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGProbeTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGProbeTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGProbeTypeDescr (see their description).
  int32_t item1;
  float item3;  ///< 1.0 by default
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gprobe_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                             VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGProbeTypeDescr* gprobe_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gprobe_Delete(CGProbeTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gprobe_Duplicate(CGProbeTypeDescr* source, CGProbeTypeDescr* destination);
/// @copydoc module_operations::InitDescrReporting
VELFILE_API void gprobe_InitDescr(CGProbeTypeDescr* descr);
/// @copydoc module_operations::ReadGroupInfo
VELFILE_API int gprobe_ReadGroupInfo(void* group, CGProbeTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gprobe_WriteGroupInfo(void* group, CGProbeTypeDescr* previous, CGProbeTypeDescr* current);

#endif
