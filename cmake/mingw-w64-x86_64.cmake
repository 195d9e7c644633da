# Cross-compiles for 64-bit Windows with mingw-w64 (Debian package
# g++-mingw-w64-x86-64), and runs what was built - the tests and their
# discovery - under Wine. The compiler is the POSIX threading variant:
# GoogleTest on Windows needs std::mutex, which the default win32 variant
# lacks; linked statically, its thread library ships inside each .exe.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Another Wine loader: -DSYNCSTATUS_WINE=/path/to/wine64, or the
# environment variable SYNCSTATUS_WINE when configuring.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps the 64-bit loader off PATH.
if(DEFINED ENV{SYNCSTATUS_WINE})
  set(wine_default "$ENV{SYNCSTATUS_WINE}")
else()
  set(wine_default /usr/lib/wine/wine64)
endif()
set(SYNCSTATUS_WINE "${wine_default}" CACHE FILEPATH "Wine loader that runs the built .exe files")
set(CMAKE_CROSSCOMPILING_EMULATOR "${SYNCSTATUS_WINE}")

# Static runtime libraries: an .exe runs with nothing installed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
