# Cross build of a Windows console program with Debian's MinGW-w64; the
# including file sets ZENPO_MINGW to the target triple. Wine, where it is
# installed, runs what the build made when a test needs to; the tests set it
# up first (cmake/wine32-tests.cmake).
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${ZENPO_MINGW}-gcc-posix ${ZENPO_MINGW}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZENPO_MINGW}-g++-posix ${ZENPO_MINGW}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZENPO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZENPO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZENPO_WINE wine)
if(ZENPO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZENPO_WINE})
endif()
