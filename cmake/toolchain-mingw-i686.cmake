# Cross build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
# The win32 thread model is preferred: with it the static C++ runtime needs
# nothing but KERNEL32.dll and msvcrt.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ORVANE_MINGW_PREFIX i686-w64-mingw32)
find_program(ORVANE_MINGW_CXX NAMES ${ORVANE_MINGW_PREFIX}-g++-win32 ${ORVANE_MINGW_PREFIX}-g++ REQUIRED)
find_program(ORVANE_MINGW_CC NAMES ${ORVANE_MINGW_PREFIX}-gcc-win32 ${ORVANE_MINGW_PREFIX}-gcc REQUIRED)
set(CMAKE_C_COMPILER ${ORVANE_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows programs through Wine unless told otherwise.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ORVANE_WINE NAMES wine wine-stable)
  if(ORVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVANE_WINE})
  endif()
endif()
