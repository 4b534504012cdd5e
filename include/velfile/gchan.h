/// @file
/// The channel group (integers, floats, one byte item and a text).
/// The C++ layer calls the module @c channel (velfile::find_module()).
#ifndef VELFILE_GCHAN_H
#define VELFILE_GCHAN_H

#include <velfile/veltypes.h>

/// Descriptor of the channel group: the values of its items in memory.
class VELFILE_API CGChanTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGChanTypeDescr();
  /// Copies another descriptor, as the assignment does.
  /// @param other the descriptor copied
  CGChanTypeDescr(CGChanTypeDescr& other);
  /// Copies a descriptor that is left as it is: the copy's texts are cut to
  /// 31 characters, the source's are not touched (what containers such as
  /// std::vector need; a non-const source takes the constructor above).
  /// @param other the descriptor copied
  CGChanTypeDescr(const CGChanTypeDescr& other);
  /// Destroys the descriptor.
  ~CGChanTypeDescr();
  /// Copies another descriptor.
  /// Cuts both texts of the SOURCE to 31 characters (a zero in their last
  /// unit) before copying them, so neither side is left without a terminator.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGChanTypeDescr& operator=(CGChanTypeDescr& other);
  /// Copies a descriptor that is left as it is; only this copy's texts are
  /// cut to 31 characters (a non-const source takes the assignment above).
  /// @param other the descriptor copied
  /// @return this descriptor
  CGChanTypeDescr& operator=(const CGChanTypeDescr& other);
  /// Compares two descriptors field by field.
  /// Every field takes part: the whole 32-bit item22, the signature, swap
  /// flag and group handle included; a NaN equals nothing but the descriptor itself.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGChanTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGChanTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGChanTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  /// @c item22: only its low-order byte is stored; reading keeps the others
  ///@{
  int32_t item22;         ///< One of the fields of CGChanTypeDescr (see their description).
  int32_t layoutVersion;  ///< 3 by default
  int32_t item1;
  int32_t item18;
  int32_t item19;
  int32_t item4;
  int32_t item5;
  float item7;
  float item20;
  float item9;
  float item10;
  float item11;
  float item13;
  float item14;
  float item15;
  float item21;
  int32_t item6;
  int32_t item8;
  int32_t item12;
  int32_t item16;
  VelChar groupName[32];
  VelChar item3[32];  ///< stored wide; a narrow item 3 is widened on reading
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gchan_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGChanTypeDescr* gchan_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gchan_Delete(CGChanTypeDescr* descr, int flag);
/// Assigns with operator=, which also cuts the source's texts to 31 characters.
///
/// @param source the descriptor copied
/// @param destination the descriptor overwritten
/// @return 0 when copied, -1 (nothing copied) when either pointer is null
VELFILE_API int gchan_Duplicate(CGChanTypeDescr* source, CGChanTypeDescr* destination);
/// @copydoc module_operations::InitDescrReporting
VELFILE_API void gchan_InitDescr(CGChanTypeDescr* descr);
/// @copydoc module_operations::ReadGroupInfo
VELFILE_API int gchan_ReadGroupInfo(void* group, CGChanTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gchan_WriteGroupInfo(void* group, CGChanTypeDescr* previous, CGChanTypeDescr* current);

#endif
