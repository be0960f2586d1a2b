#include "common/file.h"

#ifdef _WIN32

FileHandle file_open(const char* path, int mode) {
  DWORD access = GENERIC_READ, share = FILE_SHARE_READ;
  if (mode == FILE_WRITE) {
    access = GENERIC_WRITE;
    share = 0;
  } else if (mode == FILE_READ_WRITE) {
    access = GENERIC_READ | GENERIC_WRITE;
  }
  return CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

FileHandle file_create(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

uint32_t file_read_some(FileHandle f, void* buffer, uint32_t n) {
  DWORD got = 0;
  if (!ReadFile(f, buffer, n, &got, NULL)) return 0;
  return got;
}

int file_read_exact(FileHandle f, void* buffer, uint32_t n) {
  DWORD got = 0;
  if (!ReadFile(f, buffer, n, &got, NULL) || got != n) return FILE_SHORT_READ;
  return FILE_OK;
}

int file_write_exact(FileHandle f, const void* buffer, uint32_t n) {
  DWORD put = 0;
  if (!WriteFile(f, buffer, n, &put, NULL)) {
    DWORD err = GetLastError();
    return err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? FILE_SHORT_WRITE
                                                                   : FILE_WRITE_FAILED;
  }
  return put == n ? FILE_OK : FILE_SHORT_WRITE;
}

uint32_t file_seek(FileHandle f, int32_t offset, int origin) {
  DWORD method = origin == FROM_CURRENT ? FILE_CURRENT : origin == FROM_END ? FILE_END : FILE_BEGIN;
  DWORD pos = SetFilePointer(f, offset, NULL, method);
  return pos == INVALID_SET_FILE_POINTER ? FILE_BAD_POSITION : pos;
}

uint32_t file_seek_to(FileHandle f, uint32_t position) {
  // With the high word the distance is unsigned: positions past 2 GiB.
  LONG high = 0;
  DWORD pos = SetFilePointer(f, (LONG)position, &high, FILE_BEGIN);
  // 0xFFFFFFFF is FILE_BAD_POSITION either way.
  return pos == INVALID_SET_FILE_POINTER || high != 0 ? FILE_BAD_POSITION : pos;
}

uint32_t file_tell(FileHandle f) {
  return file_seek(f, 0, FROM_CURRENT);
}

uint32_t file_size(FileHandle f) {
  DWORD size = GetFileSize(f, NULL);
  return size == INVALID_FILE_SIZE ? FILE_BAD_POSITION : size;
}

void file_close(FileHandle f) {
  if (f != INVALID_FILE) CloseHandle(f);
}

#else // POSIX

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileHandle file_open(const char* path, int mode) {
  int flags = mode == FILE_WRITE ? O_WRONLY : mode == FILE_READ_WRITE ? O_RDWR : O_RDONLY;
  int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0) return INVALID_FILE;
  struct stat st;
  int reason = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (reason) { // a folder is not a file here
    close(fd);
    errno = reason; // for the caller's message
    return INVALID_FILE;
  }
  return fd;
}

FileHandle file_create(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? INVALID_FILE : fd;
}

static uint32_t read_fully(FileHandle f, void* buffer, uint32_t n) {
  uint32_t total = 0;
  while (total < n) {
    ssize_t r = read((int)f, (char*)buffer + total, n - total);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    total += (uint32_t)r;
  }
  return total;
}

uint32_t file_read_some(FileHandle f, void* buffer, uint32_t n) {
  if (f == INVALID_FILE) return 0;
  return read_fully(f, buffer, n);
}

int file_read_exact(FileHandle f, void* buffer, uint32_t n) {
  if (f == INVALID_FILE) return FILE_SHORT_READ;
  return read_fully(f, buffer, n) == n ? FILE_OK : FILE_SHORT_READ;
}

int file_write_exact(FileHandle f, const void* buffer, uint32_t n) {
  if (f == INVALID_FILE) return FILE_WRITE_FAILED;
  uint32_t total = 0;
  while (total < n) {
    ssize_t w = write((int)f, (const char*)buffer + total, n - total);
    if (w < 0 && errno == EINTR) continue;
    // No space left (or the file size limit reached) is a full disk too.
    if (w < 0)
      return total || errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? FILE_SHORT_WRITE
                                                                           : FILE_WRITE_FAILED;
    if (w == 0) return FILE_SHORT_WRITE;
    total += (uint32_t)w;
  }
  return FILE_OK;
}

uint32_t file_seek(FileHandle f, int32_t offset, int origin) {
  int whence = origin == FROM_CURRENT ? SEEK_CUR : origin == FROM_END ? SEEK_END : SEEK_SET;
  off_t pos = lseek((int)f, (off_t)offset, whence);
  if (pos < 0 || pos > (off_t)0xFFFFFFFEu) return FILE_BAD_POSITION;
  return (uint32_t)pos;
}

uint32_t file_seek_to(FileHandle f, uint32_t position) {
  off_t pos = lseek((int)f, (off_t)position, SEEK_SET);
  return pos == (off_t)position && position != FILE_BAD_POSITION ? position : FILE_BAD_POSITION;
}

uint32_t file_tell(FileHandle f) {
  return file_seek(f, 0, FROM_CURRENT);
}

uint32_t file_size(FileHandle f) {
  struct stat st;
  if (fstat((int)f, &st) != 0 || st.st_size > (off_t)0xFFFFFFFEu) return FILE_BAD_POSITION;
  return (uint32_t)st.st_size;
}

void file_close(FileHandle f) {
  if (f != INVALID_FILE) close((int)f);
}

#endif
