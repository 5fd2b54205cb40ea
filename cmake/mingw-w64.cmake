# Cross build for 64-bit Windows with Debian's mingw-w64 (the -posix variant, for std::thread).
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZELWIK_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZELWIK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELWIK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELWIK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELWIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that runs on a bare Windows: no libgcc, libstdc++ or winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run the .exe files through wine when it is there.
find_program(ZELWIK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ZELWIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELWIK_WINE})
endif()
