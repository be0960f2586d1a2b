// The uninstall log of an installed uninstaller, read by the uninstaller's
// own reader (every record, length and shape checked) into strings for the
// tests; the end record must be the file's last bytes.
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

struct LoggedValue {
  int kind;
  uint32_t root;
  std::string a, b, c;
};

struct UninstallLog {
  std::string error; // empty when the log parsed completely
  std::vector<LoggedFile> files;
  bool has_shortcuts = false;
  std::vector<LoggedLink> shortcuts;
  bool has_key = false;
  uint32_t key_root = 0;
  std::string key_path;
  bool has_values = false;
  std::vector<LoggedValue> values;
};

// Parses the log whose first record header lies at `offset` of `file`, or
// behind the uninstaller's data record that lies there.
UninstallLog read_uninstall_log(const std::vector<uint8_t>& file, size_t offset);

// A value entry as one line: "value|HKCU\Key|Name", "regkey|HKCU\Key",
// "ini|FILE|SECTION|KEY", "inifile|FILE".
std::string value_item(const LoggedValue& v);

// For failure messages: the log as text, one entry per line.
std::string describe(const UninstallLog& log);
