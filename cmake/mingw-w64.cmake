# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# for std::thread and std::mutex):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Without Qt for Windows only the libraries below the window and their tests
# are built (VESTREL_GUI is off by default when cross-compiling). The tests
# run under wine, which CTest starts for each of them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own run-time libraries (libstdc++, libgcc, winpthreads) go
# into each executable, so a program runs without DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(VESTREL_WINE NAMES wine wine64)
if(VESTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VESTREL_WINE})
endif()
