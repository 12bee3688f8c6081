# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain.
#
# The win32 thread-model compilers are used by name: the plug-in starts no
# threads, and this variant needs no winpthread at run time. Everything the
# C++ run-time brings (libgcc, libstdc++) is linked statically, so the DLL and
# the programs built here depend on the system's own DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TARVELD_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TARVELD_MINGW_PREFIX}-gcc-win32 ${TARVELD_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TARVELD_MINGW_PREFIX}-g++-win32 ${TARVELD_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TARVELD_MINGW_PREFIX}-windres REQUIRED)
find_program(TARVELD_OBJDUMP NAMES ${TARVELD_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVELD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${static_runtime}")
unset(static_runtime)
