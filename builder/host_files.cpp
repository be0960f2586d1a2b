#include "builder/host_files.h"

#include <errno.h>
#include <string.h>

#include <filesystem>
#include <random>

#include "builder/errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pakwiz {

namespace fs = std::filesystem;

namespace {

// 12 characters from [a-z0-9]: about 62 bits that nobody can guess in advance.
std::string random_suffix() {
  static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string s;
  for (int i = 0; i < 12; i++) s += ALPHABET[device() % 36];
  return s;
}

// The name of a temporary file made for `prefix` (cut so that the whole name
// stays far below the 255 bytes a name may have).
std::string temporary_name(const std::string& prefix) {
  std::string p = prefix.substr(0, 100);
  return (p.empty() ? "" : p + ".") + random_suffix() + ".pakwiz-tmp";
}

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return (fs::u8path(folder) / fs::u8path(name)).u8string();
}

// Tries `attempt` with fresh names until one is free (a name that is taken,
// by chance or planted, is never opened).
const int NAME_ATTEMPTS = 16;

} // namespace

const char* path_kind_text(PathKind kind) {
  switch (kind) {
  case PathKind::MISSING:
    return "missing";
  case PathKind::REGULAR:
    return "a file";
  case PathKind::FOLDER:
    return "a folder";
  case PathKind::LINK:
    return "a link";
  case PathKind::DEVICE:
    return "a device";
  case PathKind::FIFO:
    return "a FIFO (named pipe)";
  case PathKind::SOCKET:
    return "a socket";
  default:
    return "not a regular file";
  }
}

HostFile::HostFile(HostFile&& o) noexcept {
  *this = std::move(o);
}

HostFile HostFile::adopt(Native native, const std::string& path) {
  HostFile f;
  f.native_ = native;
  f.path_ = path;
  return f;
}

bool windows_reserved_name(const std::string& name, bool utf8) {
  // The base name: up to the first dot, without trailing spaces.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::string upper;
  for (char c : base) upper += (char)(c >= 'a' && c <= 'z' ? c - 32 : c);
  for (const char* word : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (upper == word) return true;
  if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  std::string digit = upper.substr(3);
  if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  for (const char* superscript : {"\xB9", "\xB2", "\xB3"}) {
    std::string s = utf8 ? std::string("\xC2") + superscript : std::string(superscript);
    if (digit == s) return true;
  }
  return false;
}

void create_folders(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  fs::create_directories(fs::u8path(folder), ec);
  if (ec) fail("cannot create the folder " + folder + ": " + ec.message());
}

#ifdef _WIN32
// ---------------------------------------------------------------------------
// Windows

namespace {

std::wstring wide(const std::string& utf8) {
  return fs::u8path(utf8).wstring();
}

bool is_missing_error(DWORD e) {
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME;
}

// The last component of a path, for the device name test.
std::string last_component(const std::string& path) {
  size_t slash = path.find_last_of("/\\:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string system_error_text(int code) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, (DWORD)code, 0, (LPSTR)&buffer, 0, nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : "";
  if (buffer) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

std::string last_error_text() {
  return system_error_text((int)GetLastError());
}

static bool native_identity(HANDLE h, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  id->device = info.dwVolumeSerialNumber;
  id->inode = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
  return true;
}

PathInfo probe_path(const std::string& path) {
  PathInfo info;
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0 ||
      windows_reserved_name(last_component(path), true)) {
    info.kind = PathKind::DEVICE;
    return info;
  }
  DWORD attrs = GetFileAttributesW(wide(path).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    DWORD e = GetLastError();
    if (is_missing_error(e)) return info;
    fail("cannot examine " + path + ": " + system_error_text((int)e));
  }
  if (attrs & FILE_ATTRIBUTE_REPARSE_POINT)
    info.kind = PathKind::LINK;
  else if (attrs & FILE_ATTRIBUTE_DIRECTORY)
    info.kind = PathKind::FOLDER;
  else
    info.kind = PathKind::REGULAR;
  HANDLE h = CreateFileW(
      wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    if (info.kind == PathKind::REGULAR && GetFileType(h) != FILE_TYPE_DISK)
      info.kind = PathKind::DEVICE;
    native_identity(h, &info.identity);
    CloseHandle(h);
  }
  return info;
}

std::optional<FileIdentity> identity_of(const std::string& path) {
  HANDLE h =
      CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  FileIdentity id;
  bool ok = native_identity(h, &id);
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return id;
}

HostFile& HostFile::operator=(HostFile&& o) noexcept {
  if (this != &o) {
    if (native_) CloseHandle((HANDLE)native_);
    native_ = o.native_;
    path_ = std::move(o.path_);
    o.native_ = nullptr;
  }
  return *this;
}

HostFile::~HostFile() {
  if (native_) CloseHandle((HANDLE)native_);
}

bool HostFile::is_open() const {
  return native_ != nullptr;
}

HostFile HostFile::open_read(const std::string& path) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) fail("cannot read " + path + ": " + last_error_text());
  HostFile f;
  f.native_ = h;
  f.path_ = path;
  return f;
}

static HostFile create_new(const std::string& folder, const std::string& prefix, DWORD access,
                           DWORD flags, std::string* created) {
  for (int attempt = 0;; attempt++) {
    std::string path = joined(folder, temporary_name(prefix));
    HANDLE h = CreateFileW(wide(path).c_str(), access, 0, nullptr, CREATE_NEW, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      if (created) *created = path;
      HostFile f = HostFile::adopt(h, path);
      return f;
    }
    DWORD e = GetLastError();
    if ((e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) || attempt == NAME_ATTEMPTS)
      fail("cannot create a temporary file in " + (folder.empty() ? std::string(".") : folder) +
           ": " + system_error_text((int)e));
  }
}

HostFile HostFile::create_temporary(const std::string& folder, const std::string& prefix,
                                    std::string* created) {
  return create_new(folder, prefix, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, created);
}

HostFile HostFile::create_scratch(const std::string& folder) {
  return create_new(folder, "", GENERIC_READ | GENERIC_WRITE,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

uint64_t HostFile::size() const {
  LARGE_INTEGER n;
  if (!GetFileSizeEx((HANDLE)native_, &n)) fail("cannot read " + path_ + ": " + last_error_text());
  return (uint64_t)n.QuadPart;
}

size_t HostFile::read_some(void* buffer, size_t n) {
  DWORD got = 0;
  DWORD want = n > 0x40000000 ? 0x40000000 : (DWORD)n;
  if (!ReadFile((HANDLE)native_, buffer, want, &got, nullptr))
    fail("cannot read " + path_ + ": " + last_error_text());
  return got;
}

void HostFile::read_at(uint64_t offset, void* buffer, size_t n) {
  uint8_t* p = (uint8_t*)buffer;
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    DWORD want = n > 0x40000000 ? 0x40000000 : (DWORD)n, got = 0;
    if (!ReadFile((HANDLE)native_, p, want, &got, &at))
      fail("cannot read " + path_ + ": " + last_error_text());
    if (got == 0) fail("cannot read " + path_ + ": the file ends early");
    p += got;
    offset += got;
    n -= got;
  }
}

void HostFile::write(const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  while (n > 0) {
    DWORD want = n > 0x40000000 ? 0x40000000 : (DWORD)n, done = 0;
    if (!WriteFile((HANDLE)native_, p, want, &done, nullptr) || done == 0)
      fail("cannot write " + path_ + ": " + last_error_text());
    p += done;
    n -= done;
  }
}

void HostFile::write_at(uint64_t offset, const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    DWORD want = n > 0x40000000 ? 0x40000000 : (DWORD)n, done = 0;
    if (!WriteFile((HANDLE)native_, p, want, &done, &at) || done == 0)
      fail("cannot write " + path_ + ": " + last_error_text());
    p += done;
    offset += done;
    n -= done;
  }
}

void HostFile::set_time(uint64_t filetime) {
  FILETIME ft{(DWORD)filetime, (DWORD)(filetime >> 32)};
  if (!SetFileTime((HANDLE)native_, &ft, &ft, &ft))
    fail("cannot set the time of " + path_ + ": " + last_error_text());
}

void HostFile::close() {
  if (!native_) return;
  HANDLE h = (HANDLE)native_;
  native_ = nullptr;
  if (!CloseHandle(h)) fail("cannot write " + path_ + ": " + last_error_text());
}

void rename_over(const std::string& from, const std::string& to) {
  if (!MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING))
    fail("cannot rename " + from + " to " + to + ": " + last_error_text());
}

bool remove_file(const std::string& path) {
  if (DeleteFileW(wide(path).c_str())) return true;
  return is_missing_error(GetLastError());
}

std::string write_file_beneath(const std::string& root, const std::vector<std::string>& parts,
                               const std::function<void(HostFile&)>& fill,
                               std::optional<uint64_t> filetime) {
  create_folders(root);
  std::string path = root;
  for (size_t i = 0; i < parts.size(); i++) {
    path = joined(path, parts[i]);
    if (windows_reserved_name(parts[i], true))
      fail(path + ": '" + parts[i] + "' is a name Windows reserves for a device");
    bool last = i + 1 == parts.size();
    DWORD attrs = GetFileAttributesW(wide(path).c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES && !last) {
      if (!CreateDirectoryW(wide(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        fail("cannot create the folder " + path + ": " + last_error_text());
      attrs = GetFileAttributesW(wide(path).c_str());
    }
    if (attrs == INVALID_FILE_ATTRIBUTES) continue; // the file itself, not there yet
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT)
      fail(path + " is a link; extract does not write through links");
    if (!last && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) fail(path + " is not a folder");
    if (last && (attrs & FILE_ATTRIBUTE_DIRECTORY)) fail(path + " is a folder");
  }
  std::string folder = fs::u8path(path).parent_path().u8string();
  std::string temp;
  HostFile out = HostFile::create_temporary(folder, "", &temp);
  try {
    fill(out);
    if (filetime) out.set_time(*filetime);
    out.close();
    rename_over(temp, path);
  } catch (...) {
    out = HostFile();
    remove_file(temp);
    throw;
  }
  return path;
}

MappedFile::MappedFile(const HostFile& file) {
  uint64_t n = file.size();
  if (n == 0 || n > (uint64_t)SIZE_MAX) return;
  HANDLE mapping = CreateFileMappingW((HANDLE)file.native(), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!view) {
    CloseHandle(mapping);
    return;
  }
  mapping_ = mapping;
  data_ = (const uint8_t*)view;
  size_ = (size_t)n;
}

MappedFile::~MappedFile() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle((HANDLE)mapping_);
}

#else
// ---------------------------------------------------------------------------
// POSIX

std::string system_error_text(int code) {
  return strerror(code);
}

std::string last_error_text() {
  return strerror(errno);
}

static PathKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::REGULAR;
  if (S_ISDIR(mode)) return PathKind::FOLDER;
  if (S_ISLNK(mode)) return PathKind::LINK;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return PathKind::DEVICE;
  if (S_ISFIFO(mode)) return PathKind::FIFO;
  if (S_ISSOCK(mode)) return PathKind::SOCKET;
  return PathKind::OTHER;
}

PathInfo probe_path(const std::string& path) {
  PathInfo info;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return info;
    fail("cannot examine " + path + ": " + last_error_text());
  }
  info.kind = kind_of(st.st_mode);
  info.identity = FileIdentity{(uint64_t)st.st_dev, (uint64_t)st.st_ino};
  return info;
}

std::optional<FileIdentity> identity_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{(uint64_t)st.st_dev, (uint64_t)st.st_ino};
}

HostFile& HostFile::operator=(HostFile&& o) noexcept {
  if (this != &o) {
    if (native_ >= 0) ::close(native_);
    native_ = o.native_;
    path_ = std::move(o.path_);
    o.native_ = -1;
  }
  return *this;
}

HostFile::~HostFile() {
  if (native_ >= 0) ::close(native_);
}

bool HostFile::is_open() const {
  return native_ >= 0;
}

HostFile HostFile::open_read(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("cannot read " + path + ": " + last_error_text());
  return adopt(fd, path);
}

// Creates a fresh name in the folder open as `dir_fd` (or named `folder`):
// O_EXCL never opens an existing file and, like O_NOFOLLOW, never a link.
static int create_exclusive(int dir_fd, const std::string& folder, const std::string& prefix,
                            int flags, mode_t mode, std::string* name) {
  for (int attempt = 0;; attempt++) {
    *name = temporary_name(prefix);
    std::string path = dir_fd >= 0 ? *name : joined(folder, *name);
    int fd = openat(dir_fd >= 0 ? dir_fd : AT_FDCWD, path.c_str(),
                    flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      *name = path;
      return fd;
    }
    if (errno != EEXIST || attempt == NAME_ATTEMPTS)
      fail("cannot create a temporary file in " + (folder.empty() ? std::string(".") : folder) +
           ": " + last_error_text());
  }
}

HostFile HostFile::create_temporary(const std::string& folder, const std::string& prefix,
                                    std::string* created) {
  std::string path;
  int fd = create_exclusive(-1, folder, prefix, O_WRONLY, 0666, &path);
  if (created) *created = path;
  return adopt(fd, path);
}

HostFile HostFile::create_scratch(const std::string& folder) {
  std::string path;
  int fd = create_exclusive(-1, folder, "", O_RDWR, 0600, &path);
  unlink(path.c_str()); // nothing to clean up, whatever becomes of the process
  return adopt(fd, path);
}

uint64_t HostFile::size() const {
  struct stat st;
  if (fstat(native_, &st) != 0) fail("cannot read " + path_ + ": " + last_error_text());
  return (uint64_t)st.st_size;
}

size_t HostFile::read_some(void* buffer, size_t n) {
  for (;;) {
    ssize_t got = ::read(native_, buffer, n);
    if (got >= 0) return (size_t)got;
    if (errno != EINTR) fail("cannot read " + path_ + ": " + last_error_text());
  }
}

void HostFile::read_at(uint64_t offset, void* buffer, size_t n) {
  uint8_t* p = (uint8_t*)buffer;
  while (n > 0) {
    ssize_t got = pread(native_, p, n, (off_t)offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail("cannot read " + path_ + ": " + last_error_text());
    if (got == 0) fail("cannot read " + path_ + ": the file ends early");
    p += got;
    offset += (uint64_t)got;
    n -= (size_t)got;
  }
}

void HostFile::write(const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  while (n > 0) {
    ssize_t done = ::write(native_, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) fail("cannot write " + path_ + ": " + last_error_text());
    p += done;
    n -= (size_t)done;
  }
}

void HostFile::write_at(uint64_t offset, const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  while (n > 0) {
    ssize_t done = pwrite(native_, p, n, (off_t)offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) fail("cannot write " + path_ + ": " + last_error_text());
    p += done;
    offset += (uint64_t)done;
    n -= (size_t)done;
  }
}

void HostFile::set_time(uint64_t filetime) {
  int64_t unix100 = (int64_t)filetime - 116444736000000000ll;
  if (unix100 < 0) return; // before 1970: leave the time as it is
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = (time_t)(unix100 / 10000000);
  times[0].tv_nsec = times[1].tv_nsec = (long)(unix100 % 10000000 * 100);
  if (futimens(native_, times) != 0)
    fail("cannot set the time of " + path_ + ": " + last_error_text());
}

void HostFile::close() {
  if (native_ < 0) return;
  int fd = native_;
  native_ = -1;
  if (::close(fd) != 0) fail("cannot write " + path_ + ": " + last_error_text());
}

void rename_over(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0)
    fail("cannot rename " + from + " to " + to + ": " + last_error_text());
}

bool remove_file(const std::string& path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

namespace {

// A descriptor closed on scope exit.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

} // namespace

std::string write_file_beneath(const std::string& root, const std::vector<std::string>& parts,
                               const std::function<void(HostFile&)>& fill,
                               std::optional<uint64_t> filetime) {
  create_folders(root);
  Fd dir;
  dir.fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd < 0) fail("cannot open the folder " + root + ": " + last_error_text());
  std::string path = root;
  for (size_t i = 0; i + 1 < parts.size(); i++) {
    path = joined(path, parts[i]);
    const char* name = parts[i].c_str();
    if (mkdirat(dir.fd, name, 0777) != 0 && errno != EEXIST)
      fail("cannot create the folder " + path + ": " + last_error_text());
    int next = openat(dir.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      int err = errno;
      struct stat st;
      if (fstatat(dir.fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) fail(path + " is a link; extract does not write through links");
        if (!S_ISDIR(st.st_mode))
          fail(path + " is " + path_kind_text(kind_of(st.st_mode)) + ", not a folder");
      }
      fail("cannot open the folder " + path + ": " + system_error_text(err));
    }
    ::close(dir.fd);
    dir.fd = next;
  }
  std::string name = parts.back();
  std::string folder = path;
  path = joined(path, name);
  struct stat st;
  if (fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) fail(path + " is a link; extract does not write through links");
    if (!S_ISREG(st.st_mode))
      fail(path + " is " + path_kind_text(kind_of(st.st_mode)) + "; extract writes only files");
  }
  std::string temp;
  HostFile out = HostFile::adopt(create_exclusive(dir.fd, folder, "", O_WRONLY, 0666, &temp),
                                 joined(folder, temp));
  try {
    fill(out);
    if (filetime) out.set_time(*filetime);
    out.close();
    // renameat replaces whatever the name holds by then, a link included,
    // without following it.
    if (renameat(dir.fd, temp.c_str(), dir.fd, name.c_str()) != 0)
      fail("cannot write " + path + ": " + last_error_text());
  } catch (...) {
    out = HostFile();
    unlinkat(dir.fd, temp.c_str(), 0);
    throw;
  }
  return path;
}

MappedFile::MappedFile(const HostFile& file) {
  uint64_t n = file.size();
  if (n == 0 || n > (uint64_t)SIZE_MAX) return;
  void* p = mmap(nullptr, (size_t)n, PROT_READ, MAP_PRIVATE, file.native(), 0);
  if (p == MAP_FAILED) return;
  data_ = (const uint8_t*)p;
  size_ = (size_t)n;
}

MappedFile::~MappedFile() {
  if (data_) munmap((void*)data_, size_);
}

#endif

std::string write_file_beneath(const std::string& root, const std::vector<std::string>& parts,
                               const uint8_t* data, size_t size, std::optional<uint64_t> filetime) {
  return write_file_beneath(
      root, parts, [&](HostFile& out) { out.write(data, size); }, filetime);
}

} // namespace pakwiz
