# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix).
#
# The posix flavour is used for its std::thread support. Every program and DLL
# is linked fully static (libgcc, libstdc++, winpthread), so a built binary
# needs nothing beyond the system DLLs of Windows and runs under wine as it is.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_velmo_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_velmo_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_velmo_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_velmo_mingw}-windres)
set(CMAKE_AR ${_velmo_mingw}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_velmo_mingw}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_velmo_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# The test programs run on this machine under wine: ctest, and the discovery
# of the GoogleTest cases, start every program through the emulator. The
# caller's environment chooses the wine prefix (WINEPREFIX). Without wine
# the programs are built all the same, and only running them fails.
find_program(VELMO_WINE NAMES wine64 wine HINTS /usr/lib/wine)
if(VELMO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${VELMO_WINE}")
endif()
