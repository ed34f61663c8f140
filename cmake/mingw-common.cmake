# Shared part of the two mingw-w64 toolchain files (ZELVO_MINGW_TRIPLET set by them).
set(CMAKE_C_COMPILER ${ZELVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELVO_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${ZELVO_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZELVO_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# Only the target's own folders: Linux libraries and headers must never be picked up.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL imports only Windows system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# The 64-bit build runs here under Wine (ctest, try_run); 32-bit code cannot run on these machines.
if(ZELVO_MINGW_TRIPLET MATCHES "^x86_64" AND EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()
