# Cross-building the Windows program on Linux with mingw-w64 (Debian:
# g++-mingw-w64-x86-64-win32):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELDSPAN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELDSPAN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VELDSPAN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VELDSPAN_MINGW_PREFIX}-windres)

# Headers, libraries and packages come from the cross tree only; programs
# run during the build (none so far) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELDSPAN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
