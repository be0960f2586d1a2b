// The builder's own file layer on the host (POSIX or Windows): the few calls
// whose exact semantics matter for safety, behind one small interface.
//
// - Output files are created exclusively under an unpredictable name in the
//   output's folder (O_EXCL and O_NOFOLLOW; CREATE_NEW on Windows), written,
//   and renamed over the output: a link at the output's name is replaced,
//   never followed, and whatever the name held stays whole until the rename.
// - probe_path() tells what a name holds without following a link there, so
//   that the builder can refuse to replace a folder, a device or a FIFO.
// - write_file_beneath() writes a file below a folder without passing through
//   any link below that folder (each folder is opened relative to the one
//   before it, refusing links; on Windows each component is checked for a
//   reparse point before it is used).
//
// Every failure is a BuildError whose text names the file and gives the
// system's reason (strerror, or the Windows error text).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pakwiz {

// The text of a system error: strerror(errno) on POSIX, the system's message
// for a GetLastError() code on Windows.
std::string system_error_text(int code);
// The text of the last error (errno, or GetLastError() on Windows).
std::string last_error_text();

// Which file a name leads to: device and inode numbers (volume serial and
// file index on Windows). Two names with equal identities name one file.
struct FileIdentity {
  uint64_t device = 0, inode = 0;
  bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};

enum class PathKind { MISSING, REGULAR, FOLDER, LINK, DEVICE, FIFO, SOCKET, OTHER };

struct PathInfo {
  PathKind kind = PathKind::MISSING;
  FileIdentity identity; // for REGULAR (and LINK: the link itself)
};

// What `path` names, without following a link at its last component. Names
// reserved for devices on Windows (NUL, con.txt, COM1...) count as DEVICE
// there. Throws BuildError when the name cannot be examined for another
// reason than its absence.
PathInfo probe_path(const std::string& path);

// The identity of the file `path` leads to (links followed); nothing when it
// cannot be had (a missing file, say).
std::optional<FileIdentity> identity_of(const std::string& path);

// "a folder", "a device", "a FIFO (named pipe)", ... for messages.
const char* path_kind_text(PathKind kind);

// True when `name` (one path component) is a name Windows reserves for a
// device, with any extension: CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9
// (also with the superscript digits 1, 2, 3), CONIN$, CONOUT$; case is ignored
// and so are spaces before the extension ("nul .txt"). `utf8` tells how the
// superscript digits are encoded (else Windows-1252).
bool windows_reserved_name(const std::string& name, bool utf8);

// An open host file. Movable, closed on destruction.
class HostFile {
public:
#ifdef _WIN32
  typedef void* Native; // a HANDLE
#else
  typedef int Native; // a descriptor
#endif
  HostFile() = default;
  HostFile(HostFile&& o) noexcept;
  HostFile& operator=(HostFile&& o) noexcept;
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;
  ~HostFile();

  // Opens an existing file for reading. Throws "cannot read PATH: reason".
  static HostFile open_read(const std::string& path);
  // Creates `folder`/PREFIX.RANDOM.pakwiz-tmp exclusively (never through a
  // link, never over an existing file) for writing; retries with another name
  // when one is taken. `*created` receives the name.
  static HostFile create_temporary(const std::string& folder, const std::string& prefix,
                                   std::string* created);
  // A scratch file in `folder` that disappears when it is closed or the
  // process ends (unlinked at once on POSIX, delete-on-close on Windows).
  static HostFile create_scratch(const std::string& folder);

  // Takes ownership of an open file.
  static HostFile adopt(Native native, const std::string& path);
  Native native() const {
    return native_;
  }

  bool is_open() const;
  const std::string& path() const {
    return path_;
  }
  // Size from the file system.
  uint64_t size() const;
  // Reads up to n bytes at the current position; 0 at the end.
  size_t read_some(void* buffer, size_t n);
  // Reads exactly n bytes at `offset`. The position afterwards is unspecified
  // (it moves on Windows), so reads at offsets and writes do not mix.
  void read_at(uint64_t offset, void* buffer, size_t n);
  // Writes all n bytes at the current position.
  void write(const void* data, size_t n);
  // Writes all n bytes at `offset` (a field patched once the file is
  // written). The position afterwards is unspecified, as for read_at.
  void write_at(uint64_t offset, const void* data, size_t n);
  // Sets the file's modification (and access) time, a FILETIME value.
  void set_time(uint64_t filetime);
  // Closes; a failure to close (a late write error) throws.
  void close();

private:
  std::string path_;
#ifdef _WIN32
  Native native_ = nullptr;
#else
  Native native_ = -1;
#endif
};

// Renames `from` over `to`, replacing what `to` names (a link there is
// replaced, not followed). Throws "cannot rename FROM to TO: reason".
void rename_over(const std::string& from, const std::string& to);
// Removes a file or link; false when it cannot be removed (missing is fine).
bool remove_file(const std::string& path);
// Creates `folder` and its parents. Throws "cannot create the folder F: reason".
void create_folders(const std::string& folder);

// Writes `data` to root/parts[0]/.../parts[n-1], creating the folders between
// (root itself is created when missing and may be a link). Refuses, naming
// it, a link or a non-folder at any folder below root, and a link, folder or
// device at the file's name; the file is written under a temporary name and
// renamed over its final name, so that nothing outside root is ever written.
// `filetime` sets its modification time. Returns the path written.
std::string write_file_beneath(const std::string& root, const std::vector<std::string>& parts,
                               const uint8_t* data, size_t size, std::optional<uint64_t> filetime);
// The same with the contents written by `fill` into the open temporary file;
// when `fill` throws, the temporary file is removed and the name untouched.
std::string write_file_beneath(const std::string& root, const std::vector<std::string>& parts,
                               const std::function<void(HostFile&)>& fill,
                               std::optional<uint64_t> filetime);

// A read-only view of a whole file, for parsing that needs random access
// (PE version resources) without reading a large file into memory. The view
// is a memory mapping where the platform gives one; empty when the file is
// empty or cannot be mapped.
class MappedFile {
public:
  explicit MappedFile(const HostFile& file);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
#ifdef _WIN32
  void* mapping_ = nullptr;
#endif
};

} // namespace pakwiz
