/// @file
/// The sub-channel group (five integers and nine floats).
/// The C++ layer calls the module @c subchannel (velfile::find_module()).
#ifndef VELFILE_GSUBCHAN_H
#define VELFILE_GSUBCHAN_H

#include <velfile/veltypes.h>

/// Descriptor of the sub-channel group: the values of its items in memory.
class VELFILE_API CGSubchanTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSubchanTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGSubchanTypeDescr(const CGSubchanTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGSubchanTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGSubchanTypeDescr& operator=(const CGSubchanTypeDescr& other) = default;
  /// Compares two descriptors field by field.
  /// Every field takes part, the signature, swap flag and group handle
  /// included; a NaN equals nothing but the descriptor itself.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGSubchanTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGSubchanTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGSubchanTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGSubchanTypeDescr (see their description).
  int32_t item1;
  int32_t item2;
  int32_t item13;
  int32_t item14;
  float item3;
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  float item9;
  float item11;
  float item12;
  int32_t item10;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gsubchan_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGSubchanTypeDescr* gsubchan_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gsubchan_Delete(CGSubchanTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gsubchan_Duplicate(CGSubchanTypeDescr* source, CGSubchanTypeDescr* destination);
/// @copydoc module_operations::InitDescrReporting
VELFILE_API void gsubchan_InitDescr(CGSubchanTypeDescr* descr);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int gsubchan_ReadGroupInfo(void* group, CGSubchanTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gsubchan_WriteGroupInfo(void* group, CGSubchanTypeDescr* previous,
                                        CGSubchanTypeDescr* current);

#endif
