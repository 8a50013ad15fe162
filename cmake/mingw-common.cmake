# Shared by the MinGW-w64 toolchain files, which set CMAKE_SYSTEM_PROCESSOR and
# _tavrel_triple before including it.
set(CMAKE_SYSTEM_NAME Windows)

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
