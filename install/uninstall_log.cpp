// The byte layout of the uninstall log: log strings, file log entries and
// the record frames. The walks that decide what goes in live with the
// Windows parts (install/uninstall_win.cpp, install/shortcuts_win.cpp).
#include "install/uninstall_log.h"

#include "common/state.h"
#include "common/text.h"
#include "package/file_entry.h"

namespace {

void write_u32_field(FileHandle f, uint32_t value) {
  uint8_t b[4];
  write_u32(b, value);
  file_write_exact(f, b, 4);
}

void write_header(FileHandle f, uint16_t tag, uint32_t length) {
  uint8_t h[RECORD_HEADER_SIZE];
  write_u16(h, tag);
  write_u16(h + 2, 0);
  write_u32(h + 4, length);
  file_write_exact(f, h, RECORD_HEADER_SIZE);
}

// A log string made of two pieces (".\" and a relative folder).
void write_log_string_2(FileHandle f, const char* a, uint32_t a_length, const char* b,
                        uint32_t b_length) {
  uint32_t n = a_length + b_length;
  if (n > 0xFFFF) return; // never for a path, which fits 260 bytes
  uint8_t count[2];
  write_u16(count, (uint16_t)n);
  if (file_write_exact(f, count, 2) != FILE_OK) return;
  if (a_length) file_write_exact(f, a, a_length);
  if (b_length) file_write_exact(f, b, b_length);
}

} // namespace

void write_log_string_n(FileHandle f, const char* text, uint32_t length) {
  write_log_string_2(f, text, length, "", 0);
}

void write_log_string(FileHandle f, const char* text) {
  write_log_string_n(f, text, (uint32_t)text_length(text));
}

void write_file_log_entry(FileHandle f, const char* path, uint8_t flags) {
  const char* install = g_app.install_folder;
  size_t install_length = text_length(install);
  if (install_length && compare_nocase_n(path, install, install_length) == 0) {
    const char* rest = path + install_length;
    const char* sep = last_separator(rest);
    if (!sep) {
      write_log_string(f, ".");
      write_log_string(f, rest);
    } else {
      write_log_string_2(f, ".\\", 2, rest, (uint32_t)(sep - rest));
      write_log_string(f, sep + 1);
    }
  } else {
    const char* sep = last_separator(path);
    if (sep) {
      write_log_string_n(f, path, (uint32_t)(sep - path));
      write_log_string(f, sep + 1);
    } else {
      write_log_string(f, "");
      write_log_string(f, path);
    }
  }
  file_write_exact(f, &flags, 1);
}

bool entry_is_logged(const FileEntry& entry) {
  uint16_t status = entry.status();
  if (entry.removal_mode() != REMOVAL_REMOVE || (entry.flags & ENTRY_UNINSTALLER)) return false;
  // A shared file whose usage count this installation raised is logged
  // whatever became of the file itself (kept as identical or newer, or
  // replaced at restart): its uninstallation must give the count back.
  if (file_log_flags(entry) & LOGGED_SHARED) return status != STATUS_FAILED;
  return status == STATUS_REPLACED || status == STATUS_CREATED;
}

uint8_t file_log_flags(const FileEntry& entry) {
  uint8_t flags = 0;
  if (entry.destination != DEST_INSTALL_FOLDER && entry.shared_count == 1) flags |= LOGGED_SHARED;
  if (entry.destination == DEST_FONT) flags |= LOGGED_FONT;
  if (entry.special == SPECIAL_SELF_REGISTER) flags |= LOGGED_SELF_REGISTER;
  return flags;
}

uint32_t begin_counted_record(FileHandle f, uint16_t tag) {
  uint32_t start = file_tell(f);
  if (start == FILE_BAD_POSITION) return start;
  write_header(f, tag, 0);
  write_u32_field(f, 0);
  return start;
}

void finish_counted_record(FileHandle f, uint32_t start, uint16_t tag, uint32_t count) {
  uint32_t end = file_tell(f);
  if (start == FILE_BAD_POSITION || end == FILE_BAD_POSITION || end < start ||
      end - start < RECORD_HEADER_SIZE + 4)
    return;
  if (file_seek(f, (int32_t)start, FROM_START) != start) return;
  write_header(f, tag, end - start - RECORD_HEADER_SIZE);
  write_u32_field(f, count);
  file_seek(f, 0, FROM_END);
}

bool uninstall_key_path(char* out, uint32_t cap, const char* key_name) {
  return text_concat(out, cap, UNINSTALL_KEY_PREFIX, key_name, nullptr);
}

void write_key_log_record(FileHandle f, const char* key_path) {
  uint32_t k = (uint32_t)text_length(key_path);
  write_header(f, LOG_TAG_KEY, 6 + k);
  write_u32_field(f, LOG_KEY_ROOT);
  write_log_string_n(f, key_path, k);
}

void write_end_record(FileHandle f) {
  write_header(f, LOG_TAG_END, 0);
}
