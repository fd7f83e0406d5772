# Cross-compiles for 32-bit Windows; the programs and tests run under wine,
# which needs a host that runs 32-bit programs.
set(PLACEHARVEST_MINGW_TARGET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
