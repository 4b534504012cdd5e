# Cross build for 64-bit Windows with mingw-w64 (posix thread model, which
# GoogleTest needs). Test programs run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The runtime libraries (libgcc, libstdc++, winpthread) are the compiler's
# DLLs, shared by libvelfile.dll and the programs that use it, as a host
# built with the shared C runtime has them. Linked statically into each,
# every module would keep its own count of exceptions in flight, and the
# layer's File, which abandons its section when it is destroyed by an
# exception, would take an exception thrown and caught in the DLL for one
# still unwinding.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
