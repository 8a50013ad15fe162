# Cross build for 32-bit Windows with MinGW-w64; the test suites run under Wine
# (a 64-bit prefix with the 32-bit Wine installed runs them as well).
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_tavrel_triple i686-w64-mingw32)

# The posix-threads variant gives std::thread and std::mutex; the win32 variant
# of GCC 12 lacks them. Everything is linked statically, so the choice adds no
# DLL beside the executables.
find_program(_tavrel_cxx NAMES ${_tavrel_triple}-g++-posix ${_tavrel_triple}-g++ REQUIRED)
find_program(_tavrel_cc NAMES ${_tavrel_triple}-gcc-posix ${_tavrel_triple}-gcc)
find_program(_tavrel_rc NAMES ${_tavrel_triple}-windres REQUIRED)
set(CMAKE_CXX_COMPILER ${_tavrel_cxx})
if(_tavrel_cc)
  set(CMAKE_C_COMPILER ${_tavrel_cc})
endif()
set(CMAKE_RC_COMPILER ${_tavrel_rc})

set(CMAKE_FIND_ROOT_PATH /usr/${_tavrel_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and add_test run the .exe suites through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
