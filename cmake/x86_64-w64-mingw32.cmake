# The same program for 64-bit Windows: what Wine runs where the machine
# cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZENPO_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
