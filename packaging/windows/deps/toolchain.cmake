# CMake toolchain file for building against (and into) the Windows dependency
# prefix: mingw-w64's posix-thread compilers, libraries and packages looked up
# only in the prefix and in mingw-w64's own folder, programs on the host.
# The prefix comes from -DQM_WINDOWS_PREFIX=... or the environment variable
# of the same name (build-prefix sets it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT QM_WINDOWS_PREFIX AND DEFINED ENV{QM_WINDOWS_PREFIX})
  set(QM_WINDOWS_PREFIX "$ENV{QM_WINDOWS_PREFIX}")
endif()
if(NOT QM_WINDOWS_PREFIX)
  message(FATAL_ERROR "toolchain.cmake: set QM_WINDOWS_PREFIX to the dependency prefix")
endif()
# try_compile projects read this file again: hand the prefix on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QM_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH "${QM_WINDOWS_PREFIX}" /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine; Debian keeps the 64-bit loader off the PATH.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
