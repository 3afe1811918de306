# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model);
# programs run through the Wine loader when CTest starts them here.
#
# With QM_WINDOWS_PREFIX (a cache variable or the environment variable of the
# same name) naming the Windows dependency prefix that
# packaging/windows/deps/build-prefix makes, the whole program builds: its
# libraries and packages are looked up there, and programs link the C++
# runtime as DLLs, the same ones Qt's DLLs use (the prefix's bin/ has them).
# Without it only the libraries that need no dependency build, linked
# statically so that they need no mingw DLL at all.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_MINGW_PREFIX}-windres)

if(NOT QM_WINDOWS_PREFIX AND DEFINED ENV{QM_WINDOWS_PREFIX})
  set(QM_WINDOWS_PREFIX "$ENV{QM_WINDOWS_PREFIX}")
endif()
# try_compile projects read this file again: hand the prefix on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QM_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_PREFIX})
if(QM_WINDOWS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${QM_WINDOWS_PREFIX}")
  # pkg-config sees the prefix only, never the build machine's libraries.
  set(ENV{PKG_CONFIG_LIBDIR} "${QM_WINDOWS_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  # Qt's own tools (moc, rcc, uic) come from Debian's Qt of the same version.
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
else()
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs run through cmake/wine-run, which hands their output on once they
# end (Wine's background processes would hold CTest's pipe open).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
