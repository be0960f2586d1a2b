// Helpers for fuzz targets: a memory-backed file that the code under test
// reads through its ordinary file handle.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "common/file.h"

// One memfd, reused by every run: holds exactly the bytes of the last put().
class MemoryFile {
public:
  FileHandle put(const uint8_t* data, size_t size) {
    if (fd_ < 0) fd_ = memfd_create("pakwiz-fuzz", 0);
    if (fd_ < 0 || ftruncate(fd_, 0) != 0) abort();
    size_t done = 0;
    while (done < size) {
      ssize_t w = pwrite(fd_, data + done, size - done, (off_t)done);
      if (w <= 0) abort();
      done += (size_t)w;
    }
    if (lseek(fd_, 0, SEEK_SET) != 0) abort();
    return (FileHandle)fd_;
  }

private:
  int fd_ = -1;
};

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) abort();                                                                     \
  } while (0)
