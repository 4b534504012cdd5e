// velfile: the container file layer.
//
// A container file is a chain of sections; each section holds a tree of named
// groups and each group a directory of tagged items. Every operation returns a
// result code (see VelResult) unless it says otherwise.
#ifndef VELFILE_VELFILE_H
#define VELFILE_VELFILE_H

#include <velfile/veltypes.h>

namespace VelFile {

// Result codes of the container operations. The meaning of a code depends a
// little on the operation; these are the general ones.
enum VelResult : int {
  kOk = 0,
  kErrMemory = 1,        // memory; also index past the end, null name, format locked
  kErrIo = 2,            // positioning, reading or writing; damaged file
  kErrNotFound = 3,      // wrong handle kind, no such group or item, not a container
  kErrCannotCreate = 4,  // path already open, or cannot be created
  kErrCannotOpen = 5,    // cannot open, no free slot, free-slot handle
  kErrNoName = 6,        // index past the end, or no name item
  kErrReadOnly = 8,      // group read-only, or no writable section
};

// Item type codes.
enum VelItemType : uint16_t {
  kTypeGroup = 0,
  kTypeNarrow = 1,
  kTypeInt8 = 2,
  kTypeUInt8 = 3,
  kTypeInt16 = 4,
  kTypeUInt16 = 5,
  kTypeInt32 = 6,
  kTypeUInt32 = 7,
  kTypeQuad8 = 8,
  kTypeQuad9 = 9,
  kTypeFloat = 10,
  kTypeDouble = 11,
  kTypeUtf16 = 12,
  kTypeRaw = 13,
};

// Item ids every group shares.
const uint16_t kItemLayoutVersion = 9999;
const uint16_t kItemName = 10000;

// Number of files that can be open at once.
const int kMaxOpenFiles = 30;

// --- hooks and the handle table ---
VELFILE_API void file_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                           VelReallocHook realloc, VelErrorHook error);
VELFILE_API bool file_IsHandleLeft();

// --- files ---
// Writing. The call that asks for bytes to be written reports (with 2) a
// write that cannot be made: to a file opened for reading only (then
// file_Close of that file still returns 0), past the 2 GiB limit, or refused
// by the system at once. To turn runs of small writes into few system calls,
// a file's bytes may be held back and written out later, at the latest by
// file_Close. A failure found then is never lost: file_Close of that file
// returns 2. No other call reports it, except a read of the very bytes that
// were lost, which fails with 2 instead of giving stale bytes. Nothing is held
// back for a file that was given nothing to write.
// A file cut short inside its last section (an interrupted copy) opens when
// that section's name can still be read: every group lying wholly in the file
// stays readable, loading a directory that was cut off gives 2, and no section
// is added to it.
VELFILE_API int file_Open(const VelChar* path, void** file);
VELFILE_API int file_Create(const VelChar* path, void** file);
VELFILE_API int file_CreateEx(const VelChar* path, void** file);
VELFILE_API int file_Close(void* file);

// --- groups ---
VELFILE_API int file_GroupCreate(void* parent, void** group, uint16_t itemId, const VelChar* name);
VELFILE_API int file_GroupOpen(void* parent, void** group, uint32_t key);
VELFILE_API int file_GroupNameGet(void* group, VelChar* buffer, uint32_t capacity);
VELFILE_API int file_GroupNameSet(void* group, const VelChar* name, uint32_t capacity);
VELFILE_API int file_UpdateContentGroup(void* group, uint16_t newItemId);
VELFILE_API int file_GetFileOffsetSection(void* group, uint32_t* sectionStart);
VELFILE_API uint32_t file_ItemNbrGet(void* handle);

// --- items ---
VELFILE_API int file_ItemInfo(void* handle, uint32_t index, uint16_t* id, uint16_t* type, uint32_t* count,
                              uint32_t* value, VelChar* name, uint32_t nameCapacity);
VELFILE_API int file_ItemValueWrite(void* group, uint16_t id, uint16_t type, uint32_t count,
                                    const char* value);
VELFILE_API int file_ItemOffsetWrite(void* group, uint16_t id, uint16_t type, uint32_t count,
                                     uint32_t offset);
VELFILE_API int file_IndexValueRead(void* group, uint32_t index, uint16_t type, char* buffer,
                                    uint32_t* count);
VELFILE_API int file_IndexBlockRead(void* group, uint32_t index, uint16_t type, char* buffer);
VELFILE_API int32_t file_SizeOf(uint16_t type);
VELFILE_API int file_SwapNeeded(void* group);
VELFILE_API int file_SetCharacterFormat(void* file, int format);

// --- bulk data blocks ---
VELFILE_API uint64_t file_Allocate(void* handle, uint32_t size);
VELFILE_API int file_Write(void* handle, uint64_t offset, const char* data, uint32_t size, int32_t* progress);
VELFILE_API int file_Read(void* handle, uint32_t offset, uint32_t count, uint16_t type, char* buffer,
                          int32_t* progress);
VELFILE_API int file_ReadBlock(void* group, uint32_t offset, uint32_t size, char* buffer);

// --- diagnostics ---
// A diagnostic report marks a caller error that the library survives (a name
// too long, a conversion it cannot make, ...). It never changes a result.
// With no sink installed, a debug build prints "module(line): diagnostic
// report" to stderr and a release build is silent.
typedef void (*DiagnosticHook)(const char* module, int line);
// Installs a sink (null removes it); returns the previous one.
VELFILE_API DiagnosticHook SetDiagnosticHook(DiagnosticHook hook);

}  // namespace VelFile

#endif
