/// @file
/// The reference adjustment group (three integers, fifteen floats and a text).
/// The C++ layer calls the module @c refadj (velfile::find_module()).
#ifndef VELFILE_GREFADJ_H
#define VELFILE_GREFADJ_H

#include <velfile/veltypes.h>

/// Descriptor of the reference adjustment group: the values of its items in memory.
class VELFILE_API CGRefadjTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGRefadjTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGRefadjTypeDescr(const CGRefadjTypeDescr& other);
  /// Destroys the descriptor.
  ~CGRefadjTypeDescr();
  /// Copies another descriptor.
  /// Copies everything but the group name, which it empties.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGRefadjTypeDescr& operator=(const CGRefadjTypeDescr& other);
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGRefadjTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGRefadjTypeDescr (see their description).
  int32_t item1;
  float item4;
  float item5;
  float item6;
  float item7;  ///< 0.1 by default
  float item8;
  float item9;
  float item10;
  float item11;  ///< 0.1 by default
  float item12;
  float item13;
  float item14;
  float item15;  ///< 0.1 by default
  float item16;
  float item17;
  float item18;
  int32_t item3;
  int32_t item19;
  VelChar groupName[32];
  VelChar text[100];  ///< item 2
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void grefadj_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                              VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGRefadjTypeDescr* grefadj_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void grefadj_Delete(CGRefadjTypeDescr* descr, int flag);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int grefadj_ReadGroupInfo(void* group, CGRefadjTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int grefadj_WriteGroupInfo(void* group, CGRefadjTypeDescr* previous, CGRefadjTypeDescr* current);

#endif
