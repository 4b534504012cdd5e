/// @file
/// The specimen information group (three texts and one integer).
/// The C++ layer calls the module @c specinfo (velfile::find_module()).
#ifndef VELFILE_GSPECINF_H
#define VELFILE_GSPECINF_H

#include <velfile/veltypes.h>

/// Descriptor of the specimen information group: the values of its items in memory.
class VELFILE_API CGSpecinfTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSpecinfTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGSpecinfTypeDescr(const CGSpecinfTypeDescr& other);
  /// Destroys the descriptor.
  ~CGSpecinfTypeDescr();
  /// Copies another descriptor.
  /// Copies everything but the layout version, which becomes 0: a copy is
  /// not a record of what some group holds.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGSpecinfTypeDescr& operator=(const CGSpecinfTypeDescr& other);
  /// Sets every field to its default.
  /// Clears texts 1 and 2 over their whole length; text 3 only becomes empty.
  void initializeData();

  /// @name Fields of CGSpecinfTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  VelChar groupName[32];  ///< One of the fields of CGSpecinfTypeDescr (see their description).
  int32_t layoutVersion;
  VelChar item1[100];  ///< zero-terminated texts
  VelChar item2[500];
  int32_t item3;
  VelChar item4[100];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gspecinf_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGSpecinfTypeDescr* gspecinf_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspecinf_Delete(CGSpecinfTypeDescr* descr, int flag);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int gspecinf_ReadGroupInfo(void* group, CGSpecinfTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gspecinf_WriteGroupInfo(void* group, CGSpecinfTypeDescr* previous,
                                        CGSpecinfTypeDescr* current);

#endif
