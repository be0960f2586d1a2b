// File placement on POSIX systems, where the portable rules are tested. A
// file is never "in use" here in the Windows sense: rename replaces an open
// file. Read-only means no write permission for the owner. Files carry no
// version resources, so every version comparison says "install".
#ifndef _WIN32
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "common/text.h"
#include "install/place_file.h"

ReplaceResult replace_file(const char* temp, const char* destination) {
  if (rename(temp, destination) == 0) return REPLACE_OK;
  return errno == EACCES || errno == EPERM || errno == EBUSY ? REPLACE_IN_USE : REPLACE_FAILED;
}

bool path_exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

bool is_read_only(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && !(st.st_mode & S_IWUSR);
}

void set_read_only(const char* path, bool read_only) {
  struct stat st;
  if (stat(path, &st) != 0) return;
  mode_t mode = st.st_mode & 07777;
  chmod(path, read_only ? (mode & ~(mode_t)0222) : (mode | S_IWUSR));
}

bool delete_file(const char* path) {
  return unlink(path) == 0;
}

// FILETIME counts 100 ns since 1601; POSIX keeps no creation time, so the
// last access and last write times are set.
void set_file_times(FileHandle file, const uint8_t* times) {
  struct timespec ts[2];
  for (int i = 0; i < 2; i++) {
    const uint8_t* t = times + 8 * (i + 1);
    uint64_t ticks = (uint64_t)read_u32(t) | ((uint64_t)read_u32(t + 4) << 32);
    int64_t since_1970 = (int64_t)(ticks - 116444736000000000ull);
    ts[i].tv_sec = (time_t)(since_1970 / 10000000);
    ts[i].tv_nsec = (long)(since_1970 % 10000000) * 100;
    if (ts[i].tv_nsec < 0) {
      ts[i].tv_sec -= 1;
      ts[i].tv_nsec += 1000000000;
    }
  }
  futimens((int)file, ts);
}

bool check_versions(const FileEntry&, const char*) {
  return true;
}

#endif
