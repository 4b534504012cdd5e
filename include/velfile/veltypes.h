// velfile: portable types shared by the container layer and the group modules.
#ifndef VELFILE_VELTYPES_H
#define VELFILE_VELTYPES_H

#include <cstdint>

#if defined(_WIN32)
#define VELFILE_HELPER_EXPORT __declspec(dllexport)
#define VELFILE_HELPER_IMPORT __declspec(dllimport)
#else
#define VELFILE_HELPER_EXPORT __attribute__((visibility("default")))
#define VELFILE_HELPER_IMPORT __attribute__((visibility("default")))
#endif

#if defined(VELFILE_STATIC)
#define VELFILE_API
#elif defined(VELFILE_BUILDING)
#define VELFILE_API VELFILE_HELPER_EXPORT
#else
#define VELFILE_API VELFILE_HELPER_IMPORT
#endif

// One UTF-16 code unit: names, paths and texts.
#if defined(_WIN32)
typedef wchar_t VelChar;
#else
typedef char16_t VelChar;
#endif

static_assert(sizeof(VelChar) == 2, "VelChar must be a 16-bit code unit");

// Host hooks handed to file_Init and to every module's Init.
typedef void (*VelEnterHook)();
typedef void (*VelLeaveHook)();
typedef void* (*VelAllocHook)(uint64_t);
typedef void (*VelFreeHook)(void*);
typedef void* (*VelReallocHook)(void*, uint64_t);
typedef void (*VelErrorHook)(int, const char*);
typedef void (*VelWideErrorHook)(int, const VelChar*);

#endif
