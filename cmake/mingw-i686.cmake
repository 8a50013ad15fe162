# Cross build for 32-bit Windows with MinGW-w64; the test suites run under Wine
# (a 64-bit prefix with the 32-bit Wine installed runs them as well).
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_tavrel_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
