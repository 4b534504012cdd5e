/// @file
/// Every group module: the 21 headers and the list of the modules.
#ifndef VELFILE_MODULES_H
#define VELFILE_MODULES_H

#include <velfile/gchan.h>
#include <velfile/gcontour.h>
#include <velfile/gdac.h>
#include <velfile/gdata.h>
#include <velfile/ggate.h>
#include <velfile/ginfo.h>
#include <velfile/gmesh.h>
#include <velfile/gpatch.h>
#include <velfile/gprobe.h>
#include <velfile/grefadj.h>
#include <velfile/gspec2d.h>
#include <velfile/gspec3d.h>
#include <velfile/gspecdef.h>
#include <velfile/gspecdim.h>
#include <velfile/gspecinf.h>
#include <velfile/gspecmat.h>
#include <velfile/gspecsim.h>
#include <velfile/gsubchan.h>
#include <velfile/gweld.h>
#include <velfile/gweldfill.h>
#include <velfile/gweldscanplan.h>

/// The 21 group modules, each as X(prefix, class key, descriptor type): the
/// one list that the typed Group::read() and Group::write(), the library's
/// own tables and its tests enumerate. A new module is one line here and an
/// include above.
#define VELFILE_LAYER_MODULES(X)          \
  X(ginfo, class, CGInfoTypeDescr)        \
  X(gdata, class, CGDataTypeFDD)          \
  X(gprobe, class, CGProbeTypeDescr)      \
  X(gchan, class, CGChanTypeDescr)        \
  X(gsubchan, class, CGSubchanTypeDescr)  \
  X(ggate, class, CGGateTypeDescr)        \
  X(gdac, class, CGDacTypeDescr)          \
  X(gpatch, class, CGPatchTypeDescr)      \
  X(grefadj, class, CGRefadjTypeDescr)    \
  X(gspecmat, class, CGSpecmatTypeDescr)  \
  X(gspecdim, class, CGSpecdimTypeDescr)  \
  X(gspecdef, class, CGSpecdefTypeDescr)  \
  X(gspecinf, class, CGSpecinfTypeDescr)  \
  X(gspecsim, struct, gspecsim_typeDescr) \
  X(gspec2d, struct, gspec2d_typeDescr)   \
  X(gspec3d, struct, gspec3d_typeDescr)   \
  X(gcontour, class, CGContourTypeDescr)  \
  X(gmesh, class, CGMeshTypeDescr)        \
  X(gweld, class, CGWeldTypeDescr)        \
  X(gweldsp, class, CGWeldScanPlanDescr)  \
  X(gweldFill, class, CGWeldFillDescr)

#ifdef VELFILE_DOXYGEN
/// The operations the group modules share, described once. A module's header
/// declares them as \c prefix_Init, \c prefix_Allocate and so on over its own
/// descriptor type, and refers here; where a module's operation departs from
/// what is said here, its header describes that operation itself.
namespace module_operations {
/// Stands for a module's descriptor type.
///
/// Its fields, as the group stores them: each @c itemN holds
/// the value of item N of the group (the module converts between the field's
/// type and the item's). @c layoutVersion is item 9999: the module's layout
/// version, which the write stores in it. @c groupName is the group's name
/// (item 10000), zero-terminated, at most 31 code units. @c signature is the
/// module's descriptor signature, set by Allocate, InitDescr, initializeData
/// and ReadGroupInfo and never checked. @c swapFlag is 0, or 1 once read from
/// a section written in the other byte order. @c groupHandle is the group the
/// descriptor was last read from (null at the defaults).
class Descr {
 public:
  /// Copies another descriptor, as the assignment does.
  /// @param other the descriptor copied
  Descr(const Descr& other);
  /// Copies another descriptor: every field, signature, swap flag and
  /// group handle included.
  /// @param other the descriptor copied
  /// @return this descriptor
  Descr& operator=(const Descr& other);
  /// The negation of operator==.
  /// @param other the descriptor compared
  /// @return 1 when different, 0 when equal
  int operator!=(const Descr& other) const;
  /// Sets every field to its default: name empty, the module's signature,
  /// swap flag 0, group handle null.
  void initializeData();
};
/// Installs the module's host hooks, replacing those installed before; any
/// may be null. Only @p enter and @p leave are ever called, around each
/// operation of the module; the others are kept and never used.
/// @param enter called at the start of every operation of the module
/// @param leave called on every way out of those operations
/// @param alloc kept, never called
/// @param free kept, never called
/// @param error kept, never called
void Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free, VelErrorHook error);
/// Creates a descriptor at its defaults on the library's heap, with the
/// module's signature and @p name as its group name.
/// @param flag not used
/// @param name zero-terminated UTF-16 group name, cut to 31 code units;
///        null gives an empty name
/// @return the descriptor, to be freed with the module's Delete; null when memory ran out
Descr* Allocate(int flag, const VelChar* name);
/// Frees a descriptor that the module's Allocate gave when @p flag is non-zero; with 0
/// the descriptor is left alone. The caller's pointer is not changed.
/// @param descr the descriptor; may be null
/// @param flag non-zero to free it
void Delete(Descr* descr, int flag);
/// Copies one descriptor into another.
/// @param source the descriptor copied
/// @param destination the descriptor overwritten
/// @return 0 when copied, -1 (nothing copied) when either pointer is null
int Duplicate(Descr* source, Descr* destination);
/// Sets a descriptor back to its defaults (initializeData) with the module's
/// signature.
/// @param descr the descriptor; null does nothing
void InitDescr(Descr* descr);
/// Fills a descriptor from the items of a group. Stores the module's
/// signature and the group handle, sets the swap flag from
/// VelFile::file_SwapNeeded unless it is already non-zero, then reads the
/// items in file order: a field whose item the group lacks keeps its value
/// (the last item of an id wins); item ids the module does not know are
/// skipped after a diagnostic report.
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
int ReadGroupInfo(void* group, Descr* descr);
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
int WriteGroupInfo(void* group, Descr* previous, Descr* current);
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
int ReadGroupInfoSkipping(void* group, Descr* descr);
/// Fills a descriptor from the items of a group, starting from the
/// defaults: a field whose item the group lacks comes back at its default.
/// Stores the module's signature and the group handle, sets the swap flag
/// from VelFile::file_SwapNeeded, then reads the items in file order (the
/// last item of an id wins); item ids the module does not know are skipped.
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
int ReadGroupInfoFromDefaults(void* group, Descr* descr);
/// Sets a descriptor back to its defaults (initializeData) with the module's
/// signature.
/// @param descr the descriptor; null does nothing (a diagnostic report)
void InitDescrReporting(Descr* descr);
/// Stands for a structure module's descriptor (gspecsim, gspec2d, gspec3d): a
/// plain record. Their operations differ from the others' where said below.
struct Record {};
/// Creates a descriptor on the library's heap: with @p flag non-zero at the
/// module's defaults, with 0 all zero bytes; then the name.
/// @param flag non-zero: the module's defaults; 0: all zero bytes
/// @param name zero-terminated UTF-16 group name, cut to 31 code units;
///        null gives an empty name
/// @return the descriptor, to be freed with the module's Delete; null when memory ran out
Record* RecordAllocate(int flag, const VelChar* name);
/// Copies one record into another, byte for byte.
/// @param source the descriptor copied
/// @param destination the descriptor overwritten
/// @return 0 when copied, -1 (nothing copied) when either pointer is null
int RecordDuplicate(Record* source, Record* destination);
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
int RecordReadGroupInfo(void* group, Record* descr);
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
int RecordWriteGroupInfo(void* group, Record* descr);
/// Stores a block of records in a section, as raw bytes in the writer's byte
/// order: each record is the module's record size, given in its header. The host keeps the
/// returned offset and the count (for example in items of its own) to read the
/// block back with the module's ReadDataInfo. A failed write of the reserved block is
/// not reported.
/// @param handle a group handle of a section created since the file was
///        opened, or the file handle of that section (see VelFile::file_Allocate)
/// @param recordCount number of records
/// @param records recordCount records
/// @return the block's offset relative to the section start; 0 when nothing
///         was stored (a handle that stands for no section, a negative count,
///         or more than 4 GiB of records)
uint32_t RecordWriteDataInfo(void* handle, int32_t recordCount, const uint32_t* records);
/// Reads a block of records that the module's WriteDataInfo stored, as raw bytes
/// without byte swapping (VelFile::file_SwapNeeded tells whether the section
/// was written in the other byte order).
/// @param group a group handle of the section that holds the block
/// @param offset the block's offset relative to the section start
/// @param recordCount number of records to read
/// @param records receives the records; must hold recordCount records
/// @return 0, or 2 (VelFile::kErrIo) when they cannot be read (not a group
///         handle, a range past the end of the file) or for a negative count
///         (nothing is read then)
int RecordReadDataInfo(void* group, int32_t offset, int32_t recordCount, uint32_t* records);
}  // namespace module_operations
#endif

#endif
