/// @file
/// The container file layer.
///
/// A container file is a chain of sections; each section holds a tree of named
/// groups and each group a directory of tagged items (item id, item type,
/// element count and a 4-byte value field that holds the value when it fits,
/// else the offset of the value bytes relative to the section start). Every
/// operation returns a result code (see VelFile::VelResult) unless it says
/// otherwise; what a code means depends on the operation, so each one lists
/// its own.
///
/// Handles. A *file handle* comes from file_Open, file_Create or
/// file_CreateEx and names one of the kMaxOpenFiles slots of a library-wide
/// table. A *group handle* comes from file_GroupCreate or file_GroupOpen and
/// names a section group (the root group of a section) or a sub-group. Both
/// are borrowed addresses: every handle of a file, group handles included,
/// dies with file_Close of that file; there is no per-group close.
///
/// Threads. The table is library-wide and unprotected: calls must not overlap.
/// A host that calls from several threads serialises the calls itself, for
/// example by taking a lock in the enter hook of file_Init and releasing it in
/// the leave hook.
#ifndef VELFILE_VELFILE_H
#define VELFILE_VELFILE_H

#include <velfile/veltypes.h>

/// The container operations (file_*), their result codes and item types.
namespace VelFile {

/// Result codes of the container operations. The meaning of a code depends a
/// little on the operation; these are the general ones. Each operation says
/// which codes it returns and why.
enum VelResult : int {
  kOk = 0,               ///< success
  kErrMemory = 1,        ///< memory; also index past the end, null name, format locked
  kErrIo = 2,            ///< positioning, reading or writing; damaged file
  kErrNotFound = 3,      ///< wrong handle kind, no such group or item, not a container
  kErrCannotCreate = 4,  ///< path already open, or cannot be created
  kErrCannotOpen = 5,    ///< cannot open, no free slot, free-slot handle
  kErrNoName = 6,        ///< index past the end, or no name item
  kErrReadOnly = 8,      ///< group read-only, or no writable section
};

/// Item type codes, with the size of one element (file_SizeOf) in brackets.
/// Values are stored in the writer's byte order and swapped by type on reading.
enum VelItemType : uint16_t {
  kTypeGroup = 0,    ///< group reference (1): count = entries of the sub-group, value = its directory offset
  kTypeNarrow = 1,   ///< narrow character (1), string element, terminator counted
  kTypeInt8 = 2,     ///< signed 8-bit integer (1)
  kTypeUInt8 = 3,    ///< unsigned 8-bit integer (1)
  kTypeInt16 = 4,    ///< signed 16-bit integer (2)
  kTypeUInt16 = 5,   ///< unsigned 16-bit integer (2)
  kTypeInt32 = 6,    ///< signed 32-bit integer (4)
  kTypeUInt32 = 7,   ///< unsigned 32-bit integer (4)
  kTypeQuad8 = 8,    ///< pair of 32-bit words (8), each swapped in place; never converted
  kTypeQuad9 = 9,    ///< pair of 32-bit words (8), as kTypeQuad8
  kTypeFloat = 10,   ///< 32-bit IEEE float (4)
  kTypeDouble = 11,  ///< 64-bit IEEE float (8)
  kTypeUtf16 = 12,   ///< UTF-16 code unit (2), string element, terminator counted; never swapped
  kTypeRaw = 13,     ///< raw byte (1), stored and returned unchanged
};

/// Item 9999 of every group written by a group module: the module's layout version.
const uint16_t kItemLayoutVersion = 9999;
/// Item 10000, the first item of every group: the group's name.
const uint16_t kItemName = 10000;

/// Number of files that can be open at once: the slots of the open-file table.
/// A 31st file_Open gives kErrCannotOpen, a 31st file_Create or file_CreateEx
/// kErrCannotCreate; file_IsHandleLeft tells beforehand.
const int kMaxOpenFiles = 30;

// --- hooks and the handle table ---

/// Installs the host hooks of the container layer, replacing any installed
/// before; may be called at any time, also before any other operation. Any
/// hook may be null. Only @p enter and @p leave are ever called: around every
/// container operation except file_Init, file_IsHandleLeft, file_SizeOf,
/// file_SwapNeeded, file_GetFileOffsetSection and file_UpdateContentGroup.
/// The library allocates from its own heap; the other four are only kept.
/// @param enter called, with no arguments, at the start of an operation
/// @param leave called on every way out of an operation that called @p enter
/// @param alloc kept, never called
/// @param free kept, never called
/// @param realloc kept, never called
/// @param error kept, never called
VELFILE_API void file_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                           VelReallocHook realloc, VelErrorHook error);
/// Tells whether another file can be opened or created.
/// @return true when at least one of the kMaxOpenFiles slots is free, false
///         when all of them hold open files
VELFILE_API bool file_IsHandleLeft();

// --- files ---

/// Opens an existing container file and reads the chain of its section
/// headers (not yet the directories).
///
/// A path that is already open in this library (by file_Open, file_Create or
/// file_CreateEx, compared exactly and case-sensitively as given) is not read
/// again: the call returns the handle already open with result 0. There is no
/// use count, so one file_Close of that handle closes the file for every
/// holder.
///
/// The ".A01" rule: a file whose extension is ".A01" (the letter in either
/// case) is opened for update, and its handle may receive one new section,
/// appended after the existing ones by the first file_GroupCreate on the file
/// handle. Such a file that may not be written (access denied) is opened for
/// reading only, as is one whose section chain does not end 8-aligned or
/// whose directories lie outside their sections. Any other file is opened for
/// reading only and kept from other writers; no section can be added to it.
/// Sections read from a file are never changed.
///
/// A file cut short inside its last section (an interrupted copy) opens when
/// that section's name can still be read: every group lying wholly in the file
/// stays readable, loading a directory that was cut off gives kErrIo, and no
/// section is added to it.
///
/// @param path zero-terminated UTF-16 path of 1 to 259 code units
/// @param file receives the file handle; set to null first, and left null on
///        every failure
/// @return
///   - kOk: opened, or the path was already open (the same handle);
///   - kErrMemory: memory ran out;
///   - kErrIo: the file opened but could not be read: a section header, a
///     section group's name or directory entry that cannot be read, a section
///     smaller than its header, a section cut short before its name, or a
///     first directory entry that is not a string;
///   - kErrNotFound: no section at offset 0: not a container file (also an
///     empty file);
///   - kErrCannotOpen: a null, empty or too long path, a null @p file, a file
///     that cannot be opened for reading (missing, no permission, held by a
///     writer), or no free slot (all kMaxOpenFiles files open).
VELFILE_API int file_Open(const VelChar* path, void** file);
/// Opens an existing container file for reading only, sharing it with every
/// other reader and writer (an addition of this library).
///
/// Like file_Open, but the file is never opened for update, whatever its
/// extension, and denies nothing to others: any number of readers, in any
/// processes, read one file at once, and a ".A01" file may take a new section
/// from a writer (file_Open) while it is read. Each call takes a slot of its
/// own: it never returns a handle already open for the path, and file_Open
/// never returns its handle. A reader beside a writer of the same file sees
/// the sections that were whole when it opened; a section whose header was
/// not yet written ends the chain like bytes after the last section.
/// file_Create, file_CreateEx and a create in another process are refused
/// while the file is open here. No section can be added through the handle.
/// @param path zero-terminated UTF-16 path of 1 to 259 code units
/// @param file receives the file handle; set to null first, and left null on
///        every failure
/// @return the results of file_Open; kErrCannotOpen never for another
///         opener's share mode
VELFILE_API int file_OpenRead(const VelChar* path, void** file);
/// Creates a new container file, or truncates an existing file of that path to
/// 0 bytes at once, whatever it held. The handle may receive one new section
/// (the first file_GroupCreate on the file handle). Nothing is written before
/// the first value or block that does not fit a directory entry, or before
/// file_Close; a file closed without any group is left empty (0 bytes) and
/// file_Close returns kErrNotFound.
/// @param path zero-terminated UTF-16 path of 1 to 259 code units
/// @param file receives the file handle; set to null first, and left null on
///        every failure
/// @return
///   - kOk: created;
///   - kErrMemory: memory ran out;
///   - kErrCannotCreate: the path is already open in this library (that file
///     is left untouched), a null, empty or too long path, a null @p file, no
///     free slot (all kMaxOpenFiles files open), or the file cannot be
///     created or opened for writing; also, so that nothing truncates a file
///     under its readers, a file that this library holds open under any
///     spelling of its path, in this or another process (left untouched).
VELFILE_API int file_Create(const VelChar* path, void** file);
/// Wraps an existing file of raw data as one new section, keeping its bytes.
/// The section made by the first file_GroupCreate on the file handle starts at
/// offset 0 and spans the existing bytes; its 36-byte header overwrites the
/// first 36 bytes of the file when the file is closed, so the producer of the
/// data leaves them free. Values and blocks written through the handle are
/// appended from the former size rounded up to a multiple of 8 (at least 40).
/// An existing empty file becomes an ordinary new container. This is not the
/// way to add a section to a container: an existing container given here
/// becomes the raw content of one section whose header replaces its first
/// header, so its former sections are no longer found (open a ".A01" file
/// with file_Open instead).
/// @param path zero-terminated UTF-16 path of 1 to 259 code units
/// @param file receives the file handle; set to null first, and left null on
///        every failure
/// @return
///   - kOk: opened for wrapping;
///   - kErrMemory: memory ran out;
///   - kErrIo: the file does not exist (nothing is created);
///   - kErrCannotCreate: the path is already open in this library (that file
///     is left untouched), a null, empty or too long path, a null @p file, no
///     free slot (all kMaxOpenFiles files open), a file of 2 GiB or more, or
///     one that cannot be opened for update.
VELFILE_API int file_CreateEx(const VelChar* path, void** file);
/// Closes a file: writes the directories of the groups created since it was
/// opened and the header of its new section, closes the stream and frees the
/// slot with every handle of the file, group handles included. Sections read
/// from the file are left byte for byte as they were. The slot is freed also
/// when the call fails with kErrIo or kErrNotFound for a file that held no
/// section. A second file_Open of the same path shares this handle (no use
/// count): closing it closes the file for every holder. file_Abandon closes
/// without writing the new section.
/// @param file a file handle
/// @return
///   - kOk: closed;
///   - kErrIo: positioning or writing failed (the new section is incomplete;
///     the slot is freed all the same);
///   - kErrNotFound: @p file is not an open file handle (a group handle, or a
///     file already closed; nothing changes), or the file held no section (a
///     file created and closed without any group: it is left empty).
VELFILE_API int file_Close(void* file);
/// Closes a file without committing its new section (an addition of this
/// library): as file_Close, but the directories of the groups created since
/// the file was opened and the header of its new section are not written, so
/// no reader ever finds that section. A host calls it when its work failed
/// part way, instead of file_Close, which would commit the partial section
/// for ever. The sections read from the file stay byte for byte as they
/// were, and the chain of sections ends where it ended before. The values and
/// blocks already written for the new section stay in the file past the last
/// section, where readers do not look (a check of the file notes them as
/// bytes after the last section); the next section added to a ".A01" file
/// goes over them. A file from file_Create was emptied when it was created,
/// so it is left holding no section (not a container: file_Open gives
/// kErrNotFound), with those bytes after a zeroed header's place; a file from
/// file_CreateEx keeps its raw bytes, followed by those values. A file that
/// holds no new section is simply closed. The slot is freed with every
/// handle of the file, as by file_Close.
/// @param file a file handle
/// @return
///   - kOk: closed, with no new section;
///   - kErrNotFound: @p file is not an open file handle (nothing changes).
VELFILE_API int file_Abandon(void* file);

// --- groups ---

/// Creates a section group (on a file handle) or a sub-group (on a group
/// handle), with @p name as its first item (item 10000).
///
/// On a file handle that carries the permission for a new section (from
/// file_Create, file_CreateEx or file_Open of a writable ".A01" file), the
/// call starts that section and uses the permission up; @p itemId is not used.
/// Later calls on the same file handle return that section group again with
/// kOk while it is writable, without writing another name (@p name is then
/// not used).
///
/// On a group handle the parent must have been created since the file was
/// opened: a group reference item of id @p itemId is appended to it. The new
/// sub-group's key (the value field of that reference) stays 0 until
/// file_Close writes its directory, so keep the handle returned here rather
/// than opening it by key. On failure nothing is created.
/// @param parent a file handle or a group handle
/// @param group receives the new group's handle (valid until file_Close); set
///        to null first
/// @param itemId item id of the group reference in the parent (sub-groups
///        only; file_UpdateContentGroup can change it afterwards)
/// @param name zero-terminated UTF-16 name, of any length
/// @return
///   - kOk: created, or the writable section group returned again;
///   - kErrMemory: memory ran out, or the file has 65535 sections;
///   - kErrIo: the name could not be written;
///   - kErrNotFound: a null @p group or @p name, or a name that the narrow
///     character set cannot hold in narrow mode (file_SetCharacterFormat);
///   - kErrCannotOpen: a null @p parent or a file handle already closed;
///   - kErrReadOnly: a file handle without permission and without a writable
///     section (a file opened for reading), or a parent group loaded from the
///     file (read-only).
VELFILE_API int file_GroupCreate(void* parent, void** group, uint16_t itemId, const VelChar* name);
/// Opens a section group or a sub-group by its key, loading its directory on
/// first use. Opening a group again returns the same handle; there is no
/// per-group close (the handle lives until file_Close).
/// @param parent a file handle (to open a section group) or a group handle
///        (to open one of its sub-groups)
/// @param group receives the group handle; set to null first
/// @param key which group: below a file handle, the absolute start offset of
///        the section in the file (the first section is 0; file_ItemInfo on
///        the file handle gives each section's start as its @c value);
///        below a group handle, the value field of the group reference item,
///        as file_ItemInfo on the parent returns it in @c value: the
///        sub-group's directory offset relative to the section start. Neither
///        the item id nor the index of the reference is a key. A sub-group
///        created since the file was opened has the value 0 until file_Close
///        (key 0 finds only the first of them); use the handle that
///        file_GroupCreate returned.
/// @return
///   - kOk: opened;
///   - kErrMemory: memory ran out loading the directory;
///   - kErrIo: the group's directory or a sub-group's name cannot be read
///     (a damaged or cut file), or the names of the sub-groups loaded from
///     the file so far would take more characters than the file has bytes
///     (references that repeat one name: a damaged or hostile file);
///   - kErrNotFound: a null @p group, or no section or sub-group with that key;
///   - kErrCannotOpen: a null @p parent or a file handle already closed.
VELFILE_API int file_GroupOpen(void* parent, void** group, uint32_t key);
/// Copies a group's name, with its terminator, into a buffer.
/// @param group a group handle
/// @param buffer receives the zero-terminated UTF-16 name
/// @param capacity code units @p buffer holds, terminator included
/// @return
///   - kOk: copied;
///   - kErrNotFound: not a group handle, a null @p buffer, a group that holds
///     no name (after a null file_GroupNameSet), or a @p capacity below the
///     name's length plus one (nothing is copied).
VELFILE_API int file_GroupNameGet(void* group, VelChar* buffer, uint32_t capacity);
/// Renames a group created since the file was opened: the name it holds and
/// its name item (its first item, item 10000) both change. A name of more
/// than 31 code units is cut to 31 (a diagnostic report). The bytes of an
/// earlier out-of-line name stay in the file, unreferenced.
/// @param group a group handle
/// @param name zero-terminated UTF-16 name; null removes the held name
/// @param capacity not used
/// @return
///   - kOk: renamed;
///   - kErrMemory: a null @p name (the group then holds no name);
///   - kErrIo: the new name could not be written;
///   - kErrNotFound: not a group handle, or a narrow-mode group and a name
///     that the narrow character set cannot hold;
///   - kErrNoName: the group's first item is not item 10000: the held name is
///     changed, the stored one is not;
///   - kErrReadOnly: a group loaded from the file.
VELFILE_API int file_GroupNameSet(void* group, const VelChar* name, uint32_t capacity);
/// Gives the last item of a group a new item id, keeping its type and value;
/// typically the group reference that file_GroupCreate has just appended.
/// Calls no hooks of its own.
/// @param group a group handle of a group created since the file was opened
/// @param newItemId the item id to give
/// @return
///   - kOk: changed;
///   - kErrMemory: the group has no items;
///   - kErrNotFound: not a group handle;
///   - kErrReadOnly: a group loaded from the file.
VELFILE_API int file_UpdateContentGroup(void* group, uint16_t newItemId);
/// Tells where a group's section starts in the file: the section's key for
/// file_GroupOpen on the file handle. Calls no hooks.
/// @param group a group handle
/// @param sectionStart receives the section's absolute start offset; may be null
/// @return kOk, or kErrIo when @p group is not a group handle
VELFILE_API int file_GetFileOffsetSection(void* group, uint32_t* sectionStart);
/// Counts the entries that file_ItemInfo enumerates.
/// @param handle a file handle or a group handle
/// @return the number of sections (file handle), the number of items of the
///         group's directory (group handle; for a sub-group not yet opened,
///         the entry count of its reference), or 0 for anything else
VELFILE_API uint32_t file_ItemNbrGet(void* handle);

// --- items ---

/// Describes one section of a file or one item of a group. Every
/// out-argument may be null.
/// @param handle a file handle (sections) or a group handle (items)
/// @param index which section or item: 0 to file_ItemNbrGet minus 1
/// @param id receives the item id (0 for a section)
/// @param type receives the item type, a VelItemType (0 for a section)
/// @param count receives the element count (for a group reference, the
///        entries of the sub-group's directory; for a section, the entries of
///        its section group)
/// @param value receives the value field: for a section its absolute start
///        offset, its key for file_GroupOpen on the file handle; for a group
///        reference (type 0) the sub-group's key for file_GroupOpen on this
///        group (0 for a sub-group created since the file was opened); for a
///        value of at most 4 bytes the value itself in the writer's byte
///        order; otherwise the offset of the value bytes relative to the
///        section start
/// @param name receives the section group's name (file handle), the
///        sub-group's name (group reference), or an empty string (any other
///        item); cut to @p nameCapacity minus 1 code units and terminated;
///        untouched when @p nameCapacity is 0
/// @param nameCapacity code units @p name holds, terminator included
/// @return
///   - kOk: described;
///   - kErrMemory: memory ran out loading the directory;
///   - kErrIo: the group's directory cannot be read;
///   - kErrNotFound: neither a file handle nor a group handle;
///   - kErrNoName: @p index is not below file_ItemNbrGet.
VELFILE_API int file_ItemInfo(void* handle, uint32_t index, uint16_t* id, uint16_t* type, uint32_t* count,
                              uint32_t* value, VelChar* name, uint32_t nameCapacity);
/// Appends an item and stores its value: inline when it takes at most 4
/// bytes, otherwise written at once to a new 8-aligned block of the section.
/// Items are only ever appended; an id already present is not replaced.
/// @param group a group handle of a group created since the file was opened
/// @param id the item id
/// @param type the item type, a VelItemType other than kTypeGroup (sub-groups
///        come from file_GroupCreate)
/// @param count number of elements; for a string, the code units or bytes
///        including the terminator
/// @param value @p count elements of @p type in host byte order; may be null
///        only when there are no bytes to store. In a narrow-mode group a
///        kTypeUtf16 string is converted and stored as kTypeNarrow.
/// @return
///   - kOk: appended;
///   - kErrMemory: memory ran out;
///   - kErrIo: the value could not be written, or would take the file past
///     2 GiB;
///   - kErrNotFound: not a group handle, type kTypeGroup, a null @p value with
///     bytes to store, or a narrow-mode string the narrow character set cannot
///     hold;
///   - kErrReadOnly: a group loaded from the file.
///   On failure no item is added.
VELFILE_API int file_ItemValueWrite(void* group, uint16_t id, uint16_t type, uint32_t count,
                                    const char* value);
/// Appends an item whose value lies in a block already reserved with
/// file_Allocate and filled with file_Write; nothing is written to the file.
/// @param group a group handle of a group created since the file was opened
/// @param id the item id
/// @param type the item type of the block's elements (not kTypeGroup)
/// @param count number of elements in the block
/// @param offset the block's offset relative to the section start, as
///        file_Allocate returned it
/// @return
///   - kOk: appended;
///   - kErrMemory: memory ran out;
///   - kErrNotFound: not a group handle, or type kTypeGroup;
///   - kErrReadOnly: a group loaded from the file.
VELFILE_API int file_ItemOffsetWrite(void* group, uint16_t id, uint16_t type, uint32_t count,
                                     uint32_t offset);
/// Reads one item's value. A single number is converted to the requested
/// type; longer values come as stored:
///   - one element (count 0 or 1) of a numeric type: the element converted to
///     @p type, file_SizeOf(@p type) bytes (unsigned and signed integers,
///     floats and doubles convert to each other; floats are truncated toward
///     zero into integers; a pair without a conversion, such as anything with
///     types 8 and 9, leaves the buffer untouched and makes a diagnostic
///     report); @p count receives 1;
///   - one element of a string type: an empty string (one 16-bit zero);
///   - several elements within 4 bytes: a string's bytes (@p count receives
///     the element count for kTypeNarrow, 1 for kTypeUtf16), any other type's
///     4 bytes of the value field as stored (@p count receives 1);
///   - several elements beyond 4 bytes: for kTypeNarrow, kTypeUtf16 and
///     kTypeRaw the bytes read from the file (@p count receives the byte
///     count); for any other type the 4-byte offset of the block (@p count
///     receives the element count): read its elements with
///     file_IndexBlockRead or file_Read.
/// A kTypeNarrow string asked for as kTypeUtf16 is widened to UTF-16 in
/// @p buffer. The caller sizes @p buffer from the item's type and count
/// (file_ItemInfo): the call has no capacity.
/// @param group a group handle
/// @param index the item's index (only its low 16 bits are used)
/// @param type the requested VelItemType
/// @param buffer receives the value as listed above
/// @param count receives the count listed above; 0 on failure; may be null
/// @return
///   - kOk: read (also when no conversion was possible);
///   - kErrMemory: memory ran out;
///   - kErrIo: the directory or the value bytes cannot be read;
///   - kErrNotFound: not a group handle, @p index past the end, or a null
///     @p buffer.
VELFILE_API int file_IndexValueRead(void* group, uint32_t index, uint16_t type, char* buffer,
                                    uint32_t* count);
/// Reads all elements of an item, each swapped from the writer's byte order
/// and converted to the requested type (as file_IndexValueRead converts one),
/// into @p buffer at steps of file_SizeOf(@p type). String types do not
/// convert element by element: such elements are left untouched (with a
/// diagnostic report each).
/// @param group a group handle
/// @param index the item's index (only its low 16 bits are used)
/// @param type the requested VelItemType
/// @param buffer receives the elements; must hold the item's count (from
///        file_ItemInfo) times file_SizeOf(@p type) bytes
/// @return
///   - kOk: read;
///   - kErrMemory: memory ran out;
///   - kErrIo: the directory or the elements cannot be read;
///   - kErrNotFound: not a group handle, @p index past the end, or a null
///     @p buffer.
VELFILE_API int file_IndexBlockRead(void* group, uint32_t index, uint16_t type, char* buffer);
/// Size of one element of an item type. Calls no hooks.
/// @param type a VelItemType
/// @return the element size in bytes (see VelItemType); 1 for a code without
///         meaning
VELFILE_API int32_t file_SizeOf(uint16_t type);
/// Tells whether a group's section was written in the other byte order, so
/// that raw bytes read from it (file_ReadBlock) need swapping. Calls no hooks.
/// @param group a group handle
/// @return 1 when the section's byte order differs from the host's, 0 when it
///         is the same or @p group is not a group handle
VELFILE_API int file_SwapNeeded(void* group);
/// Chooses how the strings of the next section created through a file handle
/// are stored. Only possible while the handle still carries the permission for
/// a new section, that is before the first file_GroupCreate on it.
/// @param file a file handle
/// @param format 0: UTF-16 (kTypeUtf16); any other value: narrow
///        (kTypeNarrow), in the 8-bit character set of the writing machine
///        (the C locale's on POSIX); only the low 16 bits are kept
/// @return kOk, or kErrMemory when @p file is not a file handle or carries no
///         permission (the section already made, or a file opened for
///         reading); nothing changes then
VELFILE_API int file_SetCharacterFormat(void* file, int format);

// --- bulk data blocks ---
//
// Large data is not passed through items: reserve a block with
// file_Allocate, fill it with file_Write, record it in a group with
// file_ItemOffsetWrite; a reader finds it through file_ItemInfo and reads it
// with file_Read or file_ReadBlock. A handle stands for a section: a group
// handle for its own section; a file handle for its new section once the
// first file_GroupCreate on it has made it, and for no section before that or
// when the file was opened for reading.

/// Reserves a block at the end of the file, in the section the handle stands
/// for, to be filled with file_Write. Nothing is written; the size is rounded
/// up to a multiple of 8 and the block starts 8-aligned. Blocks are handed out
/// in ascending order and never reused.
/// @param handle a group handle of a section created since the file was
///        opened, or the file handle of such a section
/// @param size bytes to reserve
/// @return the block's offset relative to the section start, or 0 when
///         nothing was reserved (a handle that stands for no section, or a
///         file that would reach 2 GiB)
VELFILE_API uint64_t file_Allocate(void* handle, uint32_t size);
/// Writes bytes into a section, byte for byte (the caller's byte order).
///
/// The call that asks for bytes to be written reports a write that cannot be
/// made: to a file opened for reading only (file_Close of that file still
/// returns kOk), past the 2 GiB limit, or refused by the system at once. To
/// turn runs of small writes into few system calls, a file's bytes may be held
/// back and written out later, at the latest by file_Close. A failure found
/// then is never lost: file_Close of that file returns kErrIo. No other call
/// reports it, except a read of the very bytes that were lost, which fails
/// with kErrIo instead of giving stale bytes. Nothing is held back for a file
/// that was given nothing to write.
/// @param handle a group handle, or a file handle standing for its new section
/// @param offset where to write, relative to the section start (a value
///        file_Allocate returned; only the low 32 bits are used)
/// @param data the bytes to write; may be null only when @p size is 0
/// @param size bytes to write
/// @param progress null for one write; otherwise the data goes in chunks of
///        256 KiB and this receives the percentage written after each chunk
///        (100 at the end)
/// @return
///   - kOk: written;
///   - kErrIo: positioning or writing failed, a null @p data, a file opened
///     for reading only, or the write would reach 2 GiB (then nothing is
///     written);
///   - kErrNotFound: the handle stands for no section.
VELFILE_API int file_Write(void* handle, uint64_t offset, const char* data, uint32_t size, int32_t* progress);
/// Reads elements of one item type from a section, each swapped from the
/// writer's byte order when the section's differs from the host's.
/// @param handle a group handle, or a file handle standing for its new section
/// @param offset where to read, relative to the section start
/// @param count number of elements
/// @param type the VelItemType of the elements: count times file_SizeOf(type)
///        bytes are read
/// @param buffer receives the elements; must hold count times
///        file_SizeOf(type) bytes
/// @param progress null for one read; otherwise the data comes in chunks of
///        256 KiB and this receives the percentage read before each chunk
/// @return
///   - kOk: read;
///   - kErrIo: positioning or reading failed, the range passes the end of the
///     file, or a null @p buffer;
///   - kErrNotFound: the handle stands for no section.
VELFILE_API int file_Read(void* handle, uint32_t offset, uint32_t count, uint16_t type, char* buffer,
                          int32_t* progress);
/// Reads raw bytes from a group's section, without any byte swapping.
/// @param group a group handle
/// @param offset where to read, relative to the section start
/// @param size bytes to read
/// @param buffer receives the bytes; must hold @p size bytes
/// @return kOk, or kErrIo for any failure: not a group handle, a null
///         @p buffer, a range past the end of the file, a failed read, or
///         memory
VELFILE_API int file_ReadBlock(void* group, uint32_t offset, uint32_t size, char* buffer);

// --- diagnostics ---

/// Sink of diagnostic reports. A diagnostic report marks a caller error that
/// the library survives (a name too long, a conversion it cannot make, ...).
/// It never changes a result. With no sink installed, a debug build prints
/// "module(line): diagnostic report" to stderr and a release build is silent.
/// The sink receives the reporting source module and the line.
typedef void (*DiagnosticHook)(const char* module, int line);
/// Installs a sink of diagnostic reports.
/// @param hook the new sink; null removes it
/// @return the sink installed before (null if none)
VELFILE_API DiagnosticHook SetDiagnosticHook(DiagnosticHook hook);

}  // namespace VelFile

#endif
