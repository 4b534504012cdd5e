/// @file
/// The DAC group (a curve of up to 512 points and three values).
/// The C++ layer calls the module @c dac (velfile::find_module()).
#ifndef VELFILE_GDAC_H
#define VELFILE_GDAC_H

#include <velfile/veltypes.h>

/// One point of a DAC curve.
class VELFILE_API CDacPts {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CDacPts();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CDacPts(const CDacPts& other) = default;
  /// Destroys the descriptor.
  ~CDacPts();
  /// @copydoc module_operations::Descr::operator=
  CDacPts& operator=(const CDacPts& other) = default;
  /// Compares two descriptors field by field.
  /// Float equality of both values: a NaN equals nothing but the point itself.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CDacPts& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CDacPts& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CDacPts
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  float firstValue;  ///< One of the fields of CDacPts (see their description).
  float secondValue;
  ///@}
};

/// Only the first pointCount points are stored in a group; the others are
/// carried along, copied and compared in memory all the same.
class VELFILE_API CGDacTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGDacTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGDacTypeDescr(const CGDacTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGDacTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGDacTypeDescr& operator=(const CGDacTypeDescr& other) = default;
  /// Compares two descriptors field by field.
  /// Every field takes part, all 512 points (not only the first pointCount),
  /// the signature, swap flag and group handle included.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGDacTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGDacTypeDescr& other) const;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGDacTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  /// @c layoutVersion: 2 by default
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGDacTypeDescr (see their description).
  int32_t item1;
  float item3;
  int32_t pointCount;  ///< 0 to 512; the writer limits other values to that range
  int32_t item2;
  VelChar groupName[32];
  CDacPts points[512];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gdac_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                           VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGDacTypeDescr* gdac_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gdac_Delete(CGDacTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int gdac_Duplicate(CGDacTypeDescr* source, CGDacTypeDescr* destination);
/// @copydoc module_operations::ReadGroupInfo
VELFILE_API int gdac_ReadGroupInfo(void* group, CGDacTypeDescr* descr);
/// Stores a descriptor in a group: item 9999 with the module's layout version
/// (also stored in @p current) and the always-written items, then each other
/// item when @p previous is null or the field differs from previous's; only
/// the first @c pointCount points are stored.
/// Leaves the group's name as it was created, and never updates previous: a
/// host that wants later writes to store only changes duplicates current into
/// previous itself.
/// Every item written is appended to the group (a reader takes the last item
/// of an id); a failing write does not stop the others.
/// @param group a group handle of a group created since the file was opened
///        (VelFile::file_GroupCreate)
/// @param previous what the group already holds, or null to write every item
/// @param current the descriptor to store
/// @return 0, or the bitwise OR of the codes of the failed item writes:
///   1 memory, 2 a value that could not be written, 3 not a group handle or
///   a text the narrow character set cannot hold, 8 a group loaded from the
///   file (read-only); 3 alone for a null descriptor. The result of setting
///   the name is not part of it.
VELFILE_API int gdac_WriteGroupInfo(void* group, CGDacTypeDescr* previous, CGDacTypeDescr* current);

#endif
