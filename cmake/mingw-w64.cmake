# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model,
# which std::thread and std::mutex need):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KQ_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KQ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KQ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KQ_MINGW_PREFIX}-windres)

# Libraries and packages come from the target's trees only (the compiler's, and the
# Windows Qt named with -DCMAKE_FIND_ROOT_PATH=...); programs (windres, moc) from the
# build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${KQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here are run by Wine (tests, gtest discovery).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
