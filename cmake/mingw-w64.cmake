# What the Windows toolchains share: Debian's mingw-w64 cross compilers
# (packages g++-mingw-w64-i686 and g++-mingw-w64-x86-64) in their
# POSIX-threads flavour, which GoogleTest needs. The including file sets
# PLACEHARVEST_MINGW_TARGET, CMAKE_SYSTEM_PROCESSOR and the wine that runs
# the programs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${PLACEHARVEST_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLACEHARVEST_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${PLACEHARVEST_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PLACEHARVEST_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
