// The real file layer of this system, compiled under another namespace name
// so that file_faults.cpp can define the platform functions and call these.
#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cstdint>
#include <cstdio>
#include <string>

#define platform real_platform
#ifdef _WIN32
#include "platform/file_io_win.cpp"
#include "platform/utf8_win.cpp"
#else
#include "platform/file_io_posix.cpp"
#endif
#undef platform
