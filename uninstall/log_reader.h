// The uninstall log, read back by the uninstaller from behind its own image.
// Portable code: it is tested natively and under Wine.
//
// The setup program appends the log to the installed uninstaller file: the
// records LOG_TAG_FILES (first, always), LOG_TAG_SHORTCUTS and LOG_TAG_KEY
// (optional) and LOG_TAG_END, each with the package's record header, as
// common/package_format.h describes them.
//
// A folder is "." (the install folder), ".\sub\dir" (below it) or an
// absolute folder without a trailing backslash ("C:\Windows\System",
// "\\server\share\dir", "C:" for a drive root).
//
// check_uninstall_log checks the whole log before anything is removed: each
// header and count against the bytes that are there, each body consumed
// exactly, each record at most once, and each folder and name against the
// shapes above (names without separators or wildcards, no "." or ".."
// components). A log that fails any check is refused as a whole, so that a
// damaged log cannot name anything that the installation did not write.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "common/package_format.h"

// A log string: points into the log buffer, not terminated.
struct LogText {
  const char* text;
  uint16_t length;
};

struct LogFileEntry {
  LogText folder, name;
  uint8_t flags;
};
struct LogLinkEntry {
  LogText folder, name; // name ends with ".lnk"
};

// A checked log. The entries stay in the caller's buffer and are walked with
// a LogCursor; the buffer must outlive the log.
struct CheckedLog {
  const uint8_t* files; // the file entries (behind the count)
  uint32_t file_bytes, file_count;
  const uint8_t* shortcuts; // null without a shortcut log record
  uint32_t shortcut_bytes, shortcut_count;
  bool has_key;
  uint32_t key_root;
  LogText key;
  uint32_t size; // bytes from the first header to the end record's end
};

// Checks the log in data[0, size) (the first byte is the file log record's
// header) and fills `log`. False, with `log` cleared, when anything is wrong.
// Bytes behind the end record are ignored.
bool check_uninstall_log(const uint8_t* data, uint32_t size, CheckedLog* log);

// Walks the entries of a checked log: next_* fill the entry and return true
// until the entries are used up.
struct LogCursor {
  const uint8_t* at;
  const uint8_t* end;
  uint32_t left;
};
LogCursor file_entries(const CheckedLog& log);
LogCursor shortcut_entries(const CheckedLog& log);
bool next_file(LogCursor* cursor, LogFileEntry* file);
bool next_shortcut(LogCursor* cursor, LogLinkEntry* shortcut);

// "." or ".\...": a folder below the install folder.
bool is_relative_folder(LogText folder);

// The folder of a log entry as a path without a trailing backslash (a drive
// root keeps its backslash: "C:\"). Relative folders are resolved against
// install_folder, which ends with a backslash. False when it does not fit
// `cap` (out is then unspecified).
bool logged_folder(char* out, size_t cap, const char* install_folder, LogText folder);
// The full path of a logged file or shortcut: its folder, a backslash, its name.
bool logged_path(char* out, size_t cap, const char* install_folder, LogText folder, LogText name);

// The uninstall key name of the key log record, when the record names a key
// the uninstaller may delete: root HKEY_LOCAL_MACHINE, the path
// UNINSTALL_KEY_PREFIX followed by one non-empty key name (no backslash).
// False otherwise (no record, another root or path, name does not fit).
bool uninstall_key_name(const CheckedLog& log, char* out, size_t cap);
