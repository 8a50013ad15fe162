// The few file operations the engine and tools need from the operating system.
// Paths are UTF-8 everywhere in the program; the Windows implementation converts
// them to UTF-16 for the wide-character calls.
#pragma once

#include <cstdint>

namespace platform {

// Wide enough for a Win32 HANDLE on 64-bit Windows and for a POSIX descriptor.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Opens an existing file read-only, denying other openers where the system can.
// Directories and missing files give kInvalidFile.
FileHandle OpenRead(const char* utf8Path);

// Creates the file, replacing an existing one (truncated to zero).
FileHandle CreateWrite(const char* utf8Path);

// Synchronous read of up to `size` bytes; *got receives the count delivered
// (less than `size` only at the end of the file). False on a read error.
bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* got);

// Synchronous write; *written receives the count written. A count below
// `size` is a failure (a full disk, for instance), and the result is false.
bool Write(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written);

void Close(FileHandle file);

// Deletes a file; false when it could not be deleted.
bool Remove(const char* utf8Path);

// Renames `from` to `to`, replacing `to` if it exists.
bool Rename(const char* from, const char* to);

// The functions below live in a file of their own (file_info_*), beside the
// ones a test build replaces with a file layer of its own.

// Why the last of the calls above failed on this thread: the system's code
// (errno, GetLastError), to be read right after the failure. 0 when the system
// gave no reason (a write that came up short without an error).
int LastError();

// The bytes an open file holds; false when it has no size (a pipe, a terminal).
bool FileSize(FileHandle file, std::uint64_t* bytes);

// The process's standard input and output, as handles of this layer. They
// belong to the process: nobody closes them.
FileHandle StandardInput();
FileHandle StandardOutput();

// True when the handle is a terminal (a console on Windows).
bool IsTerminal(FileHandle file);

// True when both paths name one file on disk, however they are spelt: the
// same path, another way to it, a symbolic or a hard link. A path that names
// no existing file is no other file (false).
bool SameFile(const char* utf8PathA, const char* utf8PathB);

}  // namespace platform
