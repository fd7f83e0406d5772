# Cross-compiles for 64-bit Windows; the programs and tests run under the
# 64-bit wine alone (package wine64), which works on hosts that run no
# 32-bit programs. Debian's `wine` command would pick the 32-bit loader
# where it is installed, so the 64-bit one is named directly.
set(PLACEHARVEST_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

find_program(PLACEHARVEST_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(PLACEHARVEST_WINE64 wine64)
if(PLACEHARVEST_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PLACEHARVEST_WINE64})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
endif()
