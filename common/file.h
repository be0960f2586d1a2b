// File helpers: thin wrappers over the platform's file calls, with the result
// codes the whole program relies on. A file is a Win32 HANDLE on Windows and a
// POSIX descriptor elsewhere; INVALID_FILE means "not open".
//
// Opening modes: FILE_READ shares reading, FILE_WRITE shares nothing,
// FILE_READ_WRITE shares reading. Opening never creates a file; file_create
// creates or truncates one for writing, sharing nothing.
#pragma once
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
typedef HANDLE FileHandle;
#define INVALID_FILE INVALID_HANDLE_VALUE
#else
typedef intptr_t FileHandle;
#define INVALID_FILE ((FileHandle)-1)
#endif

enum FileMode { FILE_READ = 0, FILE_WRITE = 1, FILE_READ_WRITE = 2 };
enum FileOrigin { FROM_START = 0, FROM_CURRENT = 1, FROM_END = 2 };

// Result codes of file_read_exact and file_write_exact.
enum FileResult { FILE_OK = 0, FILE_SHORT_READ = 1, FILE_WRITE_FAILED = 2, FILE_SHORT_WRITE = 3 };

FileHandle file_open(const char* path, int mode);
FileHandle file_create(const char* path);

// Reads exactly n bytes: FILE_OK, or FILE_SHORT_READ when the read fails or ends early.
int file_read_exact(FileHandle f, void* buffer, uint32_t n);
// Reads up to n bytes; returns the count read (0 on failure or at the end).
uint32_t file_read_some(FileHandle f, void* buffer, uint32_t n);
// Writes exactly n bytes: FILE_OK, FILE_SHORT_WRITE (disk full: a short write,
// or a write refused for lack of space), FILE_WRITE_FAILED (any other failure).
int file_write_exact(FileHandle f, const void* buffer, uint32_t n);

// Moves the position; returns the new position from the start of the file, or
// FILE_BAD_POSITION on failure (the position is then unchanged).
static const uint32_t FILE_BAD_POSITION = 0xFFFFFFFFu;
uint32_t file_seek(FileHandle f, int32_t offset, int origin);
// Moves to `position` from the start of the file, over the whole 32-bit range
// (a file may be up to 4 GiB); FILE_BAD_POSITION on failure.
uint32_t file_seek_to(FileHandle f, uint32_t position);
uint32_t file_tell(FileHandle f);
// Size of the file; the position is unchanged. FILE_BAD_POSITION on failure.
uint32_t file_size(FileHandle f);
void file_close(FileHandle f);
