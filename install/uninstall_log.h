// The uninstall log: what the uninstaller is to remove, appended to the
// uninstaller file itself when the installation is complete. The format is
// shared with the uninstaller program (docs/uninstall-log.md):
//
//   [uninstaller program][UNINSTALLER_RESERVED_BYTES, overwritten by the first header]
//   file log record      LOG_TAG_FILES: u32 count, count x (folder, name, u8 LOGGED_* flags)
//   shortcut log record  LOG_TAG_SHORTCUTS: u32 count, count x (folder, name)   (optional)
//   key log record       LOG_TAG_KEY: u32 LOG_KEY_ROOT, key path               (optional)
//   end record           LOG_TAG_END, length 0
//
// Every record has the package's record header: u16 tag, u16 flags (0), u32
// length of the body behind it. A log string is a u16 character count and
// that many 8-bit characters, without a NUL. Little-endian, no padding. The
// names are those of common/package_format.h, shared with the uninstaller.
//
// The writers below pass a failing or short write over, as the installation
// does with every follow-up action: the log is then incomplete, but nothing
// is ever written before the position a record began at, and a record whose
// header cannot be completed is left as its placeholder.
#pragma once
#include <stdint.h>

#include "common/file.h"
#include "common/package_format.h"
#include "package/file_entry.h"

// Writes `length` characters of `text` as a log string.
void write_log_string_n(FileHandle f, const char* text, uint32_t length);
void write_log_string(FileHandle f, const char* text);

// A file log entry for `path`, relative to g_app.install_folder (which ends
// with a backslash, compared without regard to case): folder "." for a file
// directly in it, ".\sub\dir" for one below it, otherwise the absolute folder
// without its trailing backslash; then the file name and the flags byte.
void write_file_log_entry(FileHandle f, const char* path, uint8_t flags);

// Whether a file entry that the installation has processed belongs in the
// file log (it was put in place and is removed at uninstall), and its flags.
bool entry_is_logged(const FileEntry& entry);
uint8_t file_log_flags(const FileEntry& entry);

// A record whose length and count are known only at its end. Begin writes
// the header and a count of 0 as placeholders at the current position and
// returns that position (FILE_BAD_POSITION when the file cannot tell it).
uint32_t begin_counted_record(FileHandle f, uint16_t tag);
// Writes the header (tag, 0, length = the current position - start - 8) and
// the count at `start`, then moves to the end of the file. A record whose
// body did not even get its count is left alone.
void finish_counted_record(FileHandle f, uint32_t start, uint16_t tag, uint32_t count);

// The uninstall key path of a key name into `out` (capacity cap); false when
// it does not fit.
bool uninstall_key_path(char* out, uint32_t cap, const char* key_name);
// The key log record for that key path (body 6 + its length).
void write_key_log_record(FileHandle f, const char* key_path);
void write_end_record(FileHandle f);
