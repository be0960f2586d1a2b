// A strict reader of the uninstall log for tests: every record in its place,
// every length and count consistent with the bytes, the end record last.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct LoggedFile {
  std::string folder, name;
  int flags;
  bool operator==(const LoggedFile& o) const {
    return folder == o.folder && name == o.name && flags == o.flags;
  }
};
struct LoggedLink {
  std::string folder, name;
  bool operator==(const LoggedLink& o) const { return folder == o.folder && name == o.name; }
};

struct UninstallLog {
  std::string error; // empty when the log parsed completely
  std::vector<LoggedFile> files;
  bool has_shortcuts = false;
  std::vector<LoggedLink> shortcuts;
  bool has_key = false;
  uint32_t key_root = 0;
  uint32_t key_body_length = 0;
  std::string key_path;
};

// Parses the log whose first record header lies at `offset` of `file`.
UninstallLog read_uninstall_log(const std::vector<uint8_t>& file, size_t offset);

// For failure messages: the log as text, one entry per line.
std::string describe(const UninstallLog& log);
