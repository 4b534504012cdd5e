/// @file
/// The gate group (integers, floats, one byte item and the original position).
/// The C++ layer calls the module @c gate (velfile::find_module()).
#ifndef VELFILE_GGATE_H
#define VELFILE_GGATE_H

#include <velfile/veltypes.h>

/// Descriptor of the gate group: the values of its items in memory.
class VELFILE_API CGGateTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGGateTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGGateTypeDescr(const CGGateTypeDescr& other);
  /// Destroys the descriptor.
  /// Overwrites the record (signature 0, item3 and item12 -1, ...), so a
  /// destroyed gate no longer passes for a live one; the original position stays.
  ~CGGateTypeDescr();
  /// Copies another descriptor.
  /// Keeps at most 31 characters of the source's name.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGGateTypeDescr& operator=(const CGGateTypeDescr& other);
  /// Compares two descriptors field by field.
  /// Every field takes part, the whole 32-bit item16, the signature, swap
  /// flag, group handle and original position included.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGGateTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGGateTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// The original position, carried by item 14 (1 by default).
  /// @return the original position
  int GetOriginalPosition() const;
  /// Sets the original position, carried by item 14.
  /// @param position the new value
  void SetOriginalPosition(int position);

  /// @name Fields of CGGateTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGGateTypeDescr (see their description).
  int32_t item1;
  int32_t item2;
  float item6;  ///< the four floats are 1.0e38 by default
  float item7;
  float item8;
  float item9;
  int32_t item4;
  int32_t item10;
  int32_t item11;
  int32_t item3;
  int32_t item5;  ///< 1 by default
  int32_t item12;
  int32_t item13;
  int32_t item15;  ///< 1 by default
  int32_t item16;  ///< only its low-order byte is stored; reading keeps the others
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;

  ///@}
 private:
  /// @name Fields of CGGateTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  /// @c originalPosition_: item 14, 1 by default
  ///@{
  int32_t originalPosition_;  ///< One of the fields of CGGateTypeDescr (see their description).
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void ggate_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGGateTypeDescr* ggate_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void ggate_Delete(CGGateTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int ggate_Duplicate(CGGateTypeDescr* source, CGGateTypeDescr* destination);
/// @copydoc module_operations::InitDescrReporting
VELFILE_API void ggate_InitDescr(CGGateTypeDescr* descr);
/// keep false: the descriptor is back at its defaults before the group is
/// read; keep true: fields the group lacks keep their values.
/// Fills a descriptor from the items of a group. Stores the module's
/// signature and the group handle, sets the swap flag from
/// VelFile::file_SwapNeeded unless it is already non-zero, then reads the
/// items in file order: a field whose item the group lacks keeps its value
/// (the last item of an id wins); item ids the module does not know are
/// skipped.
/// @param group a group handle (VelFile::file_GroupOpen or
///        VelFile::file_GroupCreate); any other handle has no items, so
///        nothing is read and the result is 0
/// @param descr the descriptor to fill
/// @param keep false: the descriptor is set to its defaults first; true:
///        fields whose item the group lacks keep their values
/// @return
///   - 0: read;
///   - 1 (VelFile::kErrMemory): memory ran out;
///   - 2 (VelFile::kErrIo): the group's directory or an item's value cannot
///     be read (a damaged or cut file); fields read before keep their new
///     values (a diagnostic report);
///   - 3 (VelFile::kErrNotFound): a null @p descr.
VELFILE_API int ggate_ReadGroupInfo(void* group, CGGateTypeDescr* descr, bool keep);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int ggate_WriteGroupInfo(void* group, CGGateTypeDescr* previous, CGGateTypeDescr* current);

#endif
