# The page's engine: clang's wasm32-wasi target with Debian's wasi-libc and
# libc++ (packages clang, lld, wasi-libc, libc++-dev-wasm32,
# libclang-rt-14-dev-wasm32). That libc++ has no exceptions.
set(CMAKE_SYSTEM_NAME Generic)  # CMake knows no WASI system yet
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# Debian keeps the WASI headers and libraries under /usr, by target.
set(CMAKE_SYSROOT /usr)
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-mexec-model=reactor -Wl,--strip-all")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
