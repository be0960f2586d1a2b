#include "builder/source_files.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#include "builder/host_files.h"

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

HostFile open_source_file(const std::string& path, const SourcePos& pos) {
  std::error_code ec;
  if (fs::is_directory(fs::u8path(path), ec))
    fail(place(pos) + "cannot read " + path + ": it is a folder");
  try {
    return HostFile::open_read(path);
  } catch (const BuildError& e) {
    fail(place(pos) + e.what());
  }
}

uint64_t source_file_size(const std::string& path, const SourcePos& pos) {
  std::error_code ec;
  fs::path p = fs::u8path(path);
  fs::file_status st = fs::status(p, ec); // a link is followed: its file is the source
  if (ec) fail(place(pos) + "cannot read " + path + ": " + ec.message());
  if (fs::is_directory(st)) fail(place(pos) + "cannot read " + path + ": it is a folder");
  if (!fs::is_regular_file(st))
    fail(place(pos) + "cannot read " + path + ": it is not a file (a device, FIFO or socket)");
  uint64_t n = fs::file_size(p, ec);
  if (ec) fail(place(pos) + "cannot read " + path + ": " + ec.message());
  if (n > MAX_SOURCE_SIZE) fail(place(pos) + too_large_message(path, n));
  return n;
}

std::string too_large_message(const std::string& path, uint64_t size) {
  return path + " is " + with_commas(size) + " bytes; a package holds files of at most " +
         with_commas(MAX_SOURCE_SIZE) + " bytes (4 GiB - 1)";
}

std::vector<uint8_t> read_source_file(const std::string& path, const SourcePos& pos) {
  uint64_t expected = source_file_size(path, pos); // refused before reading when too large
  HostFile f = open_source_file(path, pos);
  std::vector<uint8_t> data((size_t)expected);
  size_t got = 0;
  try {
    for (size_t n;
         got < data.size() && (n = f.read_some(data.data() + got, data.size() - got)) > 0;)
      got += n;
  } catch (const BuildError& e) {
    fail(place(pos) + e.what());
  }
  data.resize(got); // a file that shrank meanwhile; one that grew is taken as it was
  return data;
}

// Seconds between 1601-01-01 and 1970-01-01.
static const uint64_t EPOCH_DIFFERENCE = 11644473600ull;

uint64_t file_modification_filetime(const std::string& path, const SourcePos& pos) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    fail(place(pos) + "cannot read " + path + ": " + last_error_text());
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
