#include "builder/source_files.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pakwiz {

namespace fs = std::filesystem;

static std::string place(const SourcePos& pos) {
  return pos.file.empty() ? "" : pos.str() + ": ";
}

std::vector<uint8_t> read_source_file(const std::string& path, const SourcePos& pos) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) fail(place(pos) + "cannot read " + path + ": it is a folder");
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) fail(place(pos) + "cannot read " + path + ": " + strerror(errno));
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
    data.insert(data.end(), buffer, buffer + n);
    uint64_t size = data.size(); // size_t is 32 bits on i686: the test then cannot fire
    if (size > 0xFFFFFFFFull) {
      fclose(f);
      fail(place(pos) + path + " is larger than 4 GiB, more than a package can hold");
    }
  }
  bool failed = ferror(f) != 0;
  int err = errno;
  fclose(f);
  if (failed) fail(place(pos) + "cannot read " + path + ": " + strerror(err));
  return data;
}

// Seconds between 1601-01-01 and 1970-01-01.
static const uint64_t EPOCH_DIFFERENCE = 11644473600ull;

uint64_t file_modification_filetime(const std::string& path, const SourcePos& pos) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    fail(place(pos) + "cannot read " + path + ": error " + std::to_string(GetLastError()));
  return ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    fail(place(pos) + "cannot read " + path + ": " + strerror(errno));
  int64_t seconds = (int64_t)st.st_mtim.tv_sec + (int64_t)EPOCH_DIFFERENCE;
  if (seconds < 0) seconds = 0;
  return (uint64_t)seconds * 10000000ull + (uint64_t)st.st_mtim.tv_nsec / 100;
#endif
}

std::string resolve_path(const std::string& base_dir, const std::string& path) {
  fs::path p = fs::u8path(path);
  if (p.is_absolute() || base_dir.empty()) return p.u8string();
  return (fs::u8path(base_dir) / p).lexically_normal().u8string();
}

std::string file_name_of(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string own_executable_dir() {
#ifdef _WIN32
  char buffer[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return "";
  return fs::path(std::string(buffer, n)).parent_path().string();
#else
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  return self.parent_path().string();
#endif
}

bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(2) != 0;
#endif
}

} // namespace pakwiz
