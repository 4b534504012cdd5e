/// @file
/// Portable types shared by the container layer and the group modules: the
/// export macro, the UTF-16 character type and the host hooks.
#ifndef VELFILE_VELTYPES_H
#define VELFILE_VELTYPES_H

#include <cstdint>

#if defined(_WIN32)
/// Marks a symbol exported from the shared library being built.
#define VELFILE_HELPER_EXPORT __declspec(dllexport)
#define VELFILE_HELPER_IMPORT __declspec(dllimport)
#else
/// Marks a symbol exported from the shared library being built.
#define VELFILE_HELPER_EXPORT __attribute__((visibility("default")))
/// Marks a symbol that a host imports from the shared library.
#define VELFILE_HELPER_IMPORT __attribute__((visibility("default")))
#endif

#if defined(VELFILE_STATIC)
/// Exports an operation or class from the library (empty for a static
/// build: define VELFILE_STATIC when linking the static library).
#define VELFILE_API
#elif defined(VELFILE_BUILDING)
/// Exports an operation or class from the library (defined while building it).
#define VELFILE_API VELFILE_HELPER_EXPORT
#else
/// Marks an operation or class that a host imports from the shared library
/// (define VELFILE_STATIC instead when linking the static library).
#define VELFILE_API VELFILE_HELPER_IMPORT
#endif

#if defined(_WIN32)
/// One UTF-16 code unit: names, paths and texts.
typedef wchar_t VelChar;
#else
/// One UTF-16 code unit: names, paths and texts. Strings are zero-terminated
/// unless a count says otherwise.
typedef char16_t VelChar;
#endif

static_assert(sizeof(VelChar) == 2, "VelChar must be a 16-bit code unit");

/// A VelChar string or character literal, for host code that builds on every
/// platform: `VELFILE_TEXT("Probe")` is `L"Probe"` on Windows and
/// `u"Probe"` elsewhere (an addition of this library).
#if defined(_WIN32)
#define VELFILE_TEXT(s) L##s
#else
#define VELFILE_TEXT(s) u##s
#endif

// Host hooks handed to file_Init and to every module's Init. Only the enter
// and leave hooks are ever called; the others are kept and never used.

/// Called at the start of an operation (a host may take a lock here).
typedef void (*VelEnterHook)();
/// Called on every way out of an operation that called the enter hook.
typedef void (*VelLeaveHook)();
/// Allocation hook: kept, never called (the library uses its own heap).
typedef void* (*VelAllocHook)(uint64_t);
/// Release hook: kept, never called.
typedef void (*VelFreeHook)(void*);
/// Reallocation hook: kept, never called.
typedef void* (*VelReallocHook)(void*, uint64_t);
/// Error hook (a code and a narrow text): kept, never called.
typedef void (*VelErrorHook)(int, const char*);
/// Error hook of ginfo_Init (a code and a UTF-16 text): kept, never called.
typedef void (*VelWideErrorHook)(int, const VelChar*);

#endif
