/// @file
/// The sub-channel group (five integers and nine floats).
#ifndef VELFILE_GSUBCHAN_H
#define VELFILE_GSUBCHAN_H

#include <velfile/veltypes.h>

/// Descriptor of the sub-channel group: the values of its items in memory.
class VELFILE_API CGSubchanTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSubchanTypeDescr();
  /// Copies another descriptor, as the assignment does.
  /// @param other the descriptor copied
  CGSubchanTypeDescr(const CGSubchanTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGSubchanTypeDescr();
  /// Copies another descriptor: every field, signature, swap flag and
  /// group handle included.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGSubchanTypeDescr& operator=(const CGSubchanTypeDescr& other) = default;
  /// Compares two descriptors field by field.
  /// Every field takes part, the signature, swap flag and group handle
  /// included; a NaN equals nothing but the descriptor itself.
  /// @param other the descriptor compared
  /// @return 1 when equal (a descriptor always equals itself), 0 otherwise
  int operator==(const CGSubchanTypeDescr& other) const;
  /// The negation of operator==.
  /// @param other the descriptor compared
  /// @return 1 when different, 0 when equal
  int operator!=(const CGSubchanTypeDescr& other) const;
  /// Sets every field to its default: name empty, the module's signature,
  /// swap flag 0, group handle null.
  void initializeData();

  /// @name Fields of CGSubchanTypeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c signature is the
  /// module's descriptor signature, set by Allocate, InitDescr, initializeData
  /// and ReadGroupInfo and never checked. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
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

/// Installs the module's host hooks, replacing those installed before; any
/// may be null. Only @p enter and @p leave are ever called, around each
/// operation of the module; the others are kept and never used.
/// @param enter called at the start of every operation of the module
/// @param leave called on every way out of those operations
/// @param alloc kept, never called
/// @param free kept, never called
/// @param error kept, never called
VELFILE_API void gsubchan_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// Creates a descriptor at its defaults on the library's heap, with the
/// module's signature and @p name as its group name.
/// @param flag not used
/// @param name zero-terminated UTF-16 group name, cut to 31 code units;
///        null gives an empty name
/// @return the descriptor, to be freed with gsubchan_Delete; null when memory ran out
VELFILE_API CGSubchanTypeDescr* gsubchan_Allocate(int flag, const VelChar* name);
/// Frees a descriptor that gsubchan_Allocate gave when @p flag is non-zero; with 0
/// the descriptor is left alone. The caller's pointer is not changed.
/// @param descr the descriptor; may be null
/// @param flag non-zero to free it
VELFILE_API void gsubchan_Delete(CGSubchanTypeDescr* descr, int flag);
/// Copies one descriptor into another.
/// @param source the descriptor copied
/// @param destination the descriptor overwritten
/// @return 0 when copied, -1 (nothing copied) when either pointer is null
VELFILE_API int gsubchan_Duplicate(CGSubchanTypeDescr* source, CGSubchanTypeDescr* destination);
/// Sets a descriptor back to its defaults (initializeData) with the module's
/// signature.
/// @param descr the descriptor; null does nothing (a diagnostic report)
VELFILE_API void gsubchan_InitDescr(CGSubchanTypeDescr* descr);
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
/// @return
///   - 0: read;
///   - 1 (VelFile::kErrMemory): memory ran out;
///   - 2 (VelFile::kErrIo): the group's directory or an item's value cannot
///     be read (a damaged or cut file); fields read before keep their new
///     values (a diagnostic report);
///   - 3 (VelFile::kErrNotFound): a null @p descr.
VELFILE_API int gsubchan_ReadGroupInfo(void* group, CGSubchanTypeDescr* descr);
/// Stores a descriptor in a group: the group's name from @c groupName,
/// item 9999 with the module's layout version (also stored in @p current)
/// and the module's always-written items, then each other item only when
/// @p previous is null or the field differs from
/// previous's (floats compare with ==, so a NaN always counts as changed).
/// Then @p previous becomes a copy of @p current, so that the next call
/// stores only what changed.
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
VELFILE_API int gsubchan_WriteGroupInfo(void* group, CGSubchanTypeDescr* previous,
                                        CGSubchanTypeDescr* current);

#endif
