/// @file
/// The 2-D specimen group and its blocks of 16-byte records.
/// The C++ layer calls the module @c specimen2d (velfile::find_module()).
#ifndef VELFILE_GSPEC2D_H
#define VELFILE_GSPEC2D_H

#include <velfile/veltypes.h>

/// A plain record: copied byte for byte, no constructor, no owned memory.
struct gspec2d_typeDescr {
  /// @name Fields of gspec2d_typeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
  ///@{
  VelChar groupName[32];  ///< One of the fields of gspec2d_typeDescr (see their description).
  int32_t layoutVersion;  ///< 1 once written
  int32_t item1;
  int32_t item2;
  int32_t item3;
  int32_t item4;
  float item5;
  float item6;
  int32_t item7;  ///< stored signed
  int32_t item8;  ///< stored signed
  int32_t item9;
  int32_t item10;
  int32_t swapFlag;
  void* groupHandle;
  VelChar item11[50];
  VelChar item12[500];
  int32_t item13;
  int32_t item14;
  ///@}
};

/// flag non-zero: the module's defaults; zero: all zero bytes. Then the name.
/// @param flag non-zero: the module's defaults; 0: all zero bytes
/// @param name zero-terminated UTF-16 group name, cut to 31 code units;
///        null gives an empty name
/// @return the descriptor, to be freed with gspec2d_Delete; null when memory ran out
VELFILE_API gspec2d_typeDescr* gspec2d_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspec2d_Delete(gspec2d_typeDescr* descr, int flag);
/// 0 when copied, -1 (nothing copied) when either pointer is null.
///
/// @param source the descriptor copied
/// @param destination the descriptor overwritten
/// @return 0 when copied, -1 (nothing copied) when either pointer is null
VELFILE_API int gspec2d_Duplicate(gspec2d_typeDescr* source, gspec2d_typeDescr* destination);
/// Fills a descriptor from the items of a group. Stores the group handle,
/// sets the swap flag from
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
VELFILE_API int gspec2d_ReadGroupInfo(void* group, gspec2d_typeDescr* descr);
/// Writes every item.
/// Stores a descriptor in a group, every item on every call: the group's
/// name, item 9999 with the module's layout version (also stored in
/// @p descr) and each item of the module.
/// Every item written is appended to the group (a reader takes the last item
/// of an id); a failing write does not stop the others.
/// @param group a group handle of a group created since the file was opened
///        (VelFile::file_GroupCreate)
/// @param descr the descriptor to store
/// @return 0, or the bitwise OR of the codes of the failed item writes:
///   1 memory, 2 a value that could not be written, 3 not a group handle or
///   a text the narrow character set cannot hold, 8 a group loaded from the
///   file (read-only); 3 alone for a null descriptor. The result of setting
///   the name is not part of it.
VELFILE_API int gspec2d_WriteGroupInfo(void* group, gspec2d_typeDescr* descr);

/// Stores a block of records in a section, as raw bytes in the writer's byte
/// order: each record is four 32-bit words (16 bytes). The host keeps the
/// returned offset and the count (for example in items of its own) to read the
/// block back with gspec2d_ReadDataInfo. A failed write of the reserved block is
/// not reported.
/// @param handle a group handle of a section created since the file was
///        opened, or the file handle of that section (see VelFile::file_Allocate)
/// @param recordCount number of records
/// @param records recordCount records of 16 bytes each
/// @return the block's offset relative to the section start; 0 when nothing
///         was stored (a handle that stands for no section, a negative count,
///         or more than 4 GiB of records)
VELFILE_API uint32_t gspec2d_WriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records);
/// Reads a block of records that gspec2d_WriteDataInfo stored, as raw bytes
/// without byte swapping (VelFile::file_SwapNeeded tells whether the section
/// was written in the other byte order).
/// @param group a group handle of the section that holds the block
/// @param offset the block's offset relative to the section start
/// @param recordCount number of records to read
/// @param records receives the records; must hold recordCount times 16 bytes
/// @return 0, or 2 (VelFile::kErrIo) when they cannot be read (not a group
///         handle, a range past the end of the file) or for a negative count
///         (nothing is read then)
VELFILE_API int gspec2d_ReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records);

#endif
