# The 32-bit Windows console program that users run, and that the tests run
# under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZENPO_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
