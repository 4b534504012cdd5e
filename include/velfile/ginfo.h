/// @file
/// The information group (integers and five owned texts).
/// The C++ layer calls the module @c info (velfile::find_module()).
#ifndef VELFILE_GINFO_H
#define VELFILE_GINFO_H

#include <velfile/veltypes.h>

/// The five text fields are owned by the descriptor: assignment and
/// duplication copy them into buffers of their own, so no two descriptors ever
/// share one. ginfo_Delete (or the destructor) releases them.
class VELFILE_API CGInfoTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGInfoTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGInfoTypeDescr(const CGInfoTypeDescr& other);
  /// Destroys the descriptor.
  ~CGInfoTypeDescr();
  /// Copies another descriptor: every field, signature, swap flag and
  /// group handle included.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGInfoTypeDescr& operator=(const CGInfoTypeDescr& other);
  /// Compares two descriptors field by field.
  /// Compares the text fields by address, as pointers.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGInfoTypeDescr& other) const;
  /// @copydoc module_operations::Descr::operator!=
  int operator!=(const CGInfoTypeDescr& other) const;
  /// Sets every field to its default.
  /// Back to defaults; releases the texts held before.
  void initializeData();
  /// Releases the five texts and sets them to null.
  void releaseStrings();

  /// @name Fields of CGInfoTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  int32_t layoutVersion;  ///< One of the fields of CGInfoTypeDescr (see their description).
  int32_t item15690;
  int32_t item15691;
  int32_t item15701;
  int32_t item15702;
  int32_t item2;
  int32_t item1;
  int32_t item3;
  int32_t item4;
  int32_t item15685;  ///< signed
  int32_t item15682;
  int32_t item15683;
  int32_t item15684;
  VelChar* item15687;  ///< owned texts, null or zero-terminated
  VelChar* item15688;
  VelChar* item15700;
  VelChar* item15686;
  VelChar* item15689;
  VelChar groupName[32];
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void ginfo_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelWideErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGInfoTypeDescr* ginfo_Allocate(int flag, const VelChar* name);
/// Releases the descriptor's five texts whatever @p flag is, then frees the
/// descriptor that ginfo_Allocate gave when @p flag is non-zero (with 0 it is
/// left alone, its texts null). The caller's pointer is not changed.
/// @param descr the descriptor; may be null
/// @param flag non-zero to free it
VELFILE_API void ginfo_Delete(CGInfoTypeDescr* descr, int flag);
/// @copydoc module_operations::Duplicate
VELFILE_API int ginfo_Duplicate(CGInfoTypeDescr* source, CGInfoTypeDescr* destination);
/// @copydoc module_operations::ReadGroupInfo
VELFILE_API int ginfo_ReadGroupInfo(void* group, CGInfoTypeDescr* descr);
/// Stores a descriptor in a group: the group's name from @c groupName,
/// item 9999 with the module's layout version (also stored in @p current)
/// and the module's always-written items, then each other item only when
/// @p previous is null or the field differs from
/// previous's (floats compare with ==, so a NaN always counts as changed).
/// @p previous is never updated: a host that wants later writes to store
/// only changes duplicates current into previous itself (ginfo_Duplicate).
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
VELFILE_API int ginfo_WriteGroupInfo(void* group, CGInfoTypeDescr* previous, CGInfoTypeDescr* current);

#endif
