#include "uninstall/log_reader.h"

#include "common/text.h"

namespace {

// The longest folder or name an installation can have logged: paths are
// built in 260-byte buffers.
const uint16_t MAX_LOG_TEXT = 259;

// A bounded reader over one record body. Every read checks the bytes left;
// the first failure sticks, so a sequence of reads needs one check at the end.
struct Reader {
  const uint8_t* at;
  const uint8_t* end;
  bool ok;

  bool has(uint32_t n) const { return ok && (uint32_t)(end - at) >= n; }
  uint32_t left() const { return (uint32_t)(end - at); }
  uint8_t u8() {
    if (!has(1)) return ok = false, 0;
    return *at++;
  }
  uint16_t u16() {
    if (!has(2)) return ok = false, 0;
    uint16_t v = read_u16(at);
    at += 2;
    return v;
  }
  uint32_t u32() {
    if (!has(4)) return ok = false, 0;
    uint32_t v = read_u32(at);
    at += 4;
    return v;
  }
  LogText text() {
    LogText t = {nullptr, 0};
    uint16_t n = u16();
    if (!has(n)) return ok = false, t;
    t.text = (const char*)at;
    t.length = n;
    at += n;
    return t;
  }
};

bool is_forbidden_name_char(unsigned char c) {
  return c < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
         c == '<' || c == '>' || c == '|';
}

// One file or folder name: not empty, not "." or "..", no separators,
// wildcards or other characters that Windows refuses in names.
bool is_plain_name(const char* s, uint32_t n) {
  if (n == 0 || (n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.')) return false;
  for (uint32_t i = 0; i < n; i++)
    if (is_forbidden_name_char((unsigned char)s[i])) return false;
  return true;
}

// Backslash-separated plain names, each at least one character long.
bool is_name_sequence(const char* s, uint32_t n) {
  uint32_t start = 0;
  for (uint32_t i = 0; i <= n; i++) {
    if (i < n && s[i] != '\\') continue;
    if (!is_plain_name(s + start, i - start)) return false;
    start = i + 1;
  }
  return true;
}

bool is_drive_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_absolute_folder(LogText f) {
  const char* s = f.text;
  uint32_t n = f.length;
  if (n >= 2 && is_drive_letter(s[0]) && s[1] == ':') {
    if (n == 2) return true; // a file in the drive's root
    return s[2] == '\\' && is_name_sequence(s + 3, n - 3);
  }
  // \\server\share[\...]
  if (n >= 2 && s[0] == '\\' && s[1] == '\\') {
    uint32_t first = 0;
    for (uint32_t i = 2; i < n && !first; i++)
      if (s[i] == '\\') first = i;
    return first > 2 && first + 1 < n && is_name_sequence(s + 2, n - 2);
  }
  return false;
}

bool is_valid_folder(LogText f) {
  if (f.length > MAX_LOG_TEXT) return false;
  return is_relative_folder(f) || is_absolute_folder(f);
}

bool is_valid_name(LogText n) {
  return n.length <= MAX_LOG_TEXT && is_plain_name(n.text, n.length);
}

bool ends_with_lnk(LogText n) {
  return n.length > 4 && compare_nocase_n(n.text + n.length - 4, ".lnk", 4) == 0;
}

// Checks `count` entries of a list body; true when they fill it exactly.
bool check_entries(Reader r, uint32_t count, bool files) {
  // Every entry needs at least two length words (and a flags byte): a count
  // beyond that fails at once instead of after a long walk.
  uint32_t least = files ? 5 : 4;
  if (count > r.left() / least) return false;
  for (uint32_t i = 0; i < count; i++) {
    LogText folder = r.text();
    LogText name = r.text();
    uint8_t flags = files ? r.u8() : 0;
    if (!r.ok || !is_valid_folder(folder) || !is_valid_name(name)) return false;
    if (files && (flags & ~(LOGGED_SHARED | LOGGED_FONT | LOGGED_SELF_REGISTER))) return false;
    if (!files && (!is_absolute_folder(folder) || !ends_with_lnk(name))) return false;
  }
  return r.ok && r.at == r.end;
}

bool copy_text(char* out, size_t cap, size_t* used, const char* s, size_t n) {
  if (*used + n >= cap) return false;
  for (size_t i = 0; i < n; i++) out[*used + i] = s[i];
  *used += n;
  out[*used] = 0;
  return true;
}

} // namespace

bool check_uninstall_log(const uint8_t* data, uint32_t size, CheckedLog* log) {
  *log = CheckedLog();
  Reader r = {data, data + size, true};
  bool seen_shortcuts = false, seen_key = false;
  for (int index = 0;; index++) {
    uint16_t tag = r.u16();
    uint16_t flags = r.u16();
    uint32_t length = r.u32();
    if (!r.ok || flags != 0 || length > r.left()) break;
    if (index == 0 && tag != LOG_TAG_FILES) break;
    Reader body = {r.at, r.at + length, true};
    r.at += length;
    if (tag == LOG_TAG_END) {
      if (length != 0) break;
      log->size = (uint32_t)(r.at - data);
      return true;
    }
    if (tag == LOG_TAG_FILES && index == 0) {
      log->file_count = body.u32();
      log->files = body.at;
      log->file_bytes = body.left();
      if (!body.ok || !check_entries(body, log->file_count, true)) break;
    } else if (tag == LOG_TAG_SHORTCUTS && !seen_shortcuts) {
      seen_shortcuts = true;
      log->shortcut_count = body.u32();
      log->shortcuts = body.at;
      log->shortcut_bytes = body.left();
      if (!body.ok || !check_entries(body, log->shortcut_count, false)) break;
    } else if (tag == LOG_TAG_KEY && !seen_key) {
      seen_key = true;
      log->has_key = true;
      log->key_root = body.u32();
      log->key = body.text();
      if (!body.ok || body.at != body.end || log->key.length > MAX_LOG_TEXT) break;
    } else {
      break; // an unknown record, a second file log record or a repeated one
    }
  }
  *log = CheckedLog();
  return false;
}

LogCursor file_entries(const CheckedLog& log) {
  return LogCursor{log.files, log.files + log.file_bytes, log.file_count};
}

LogCursor shortcut_entries(const CheckedLog& log) {
  return LogCursor{log.shortcuts, log.shortcuts + log.shortcut_bytes, log.shortcut_count};
}

bool next_file(LogCursor* c, LogFileEntry* f) {
  if (c->left == 0) return false;
  Reader r = {c->at, c->end, true};
  f->folder = r.text();
  f->name = r.text();
  f->flags = r.u8();
  if (!r.ok) return false;
  c->at = r.at;
  c->left--;
  return true;
}

bool next_shortcut(LogCursor* c, LogLinkEntry* s) {
  if (c->left == 0) return false;
  Reader r = {c->at, c->end, true};
  s->folder = r.text();
  s->name = r.text();
  if (!r.ok) return false;
  c->at = r.at;
  c->left--;
  return true;
}

bool is_relative_folder(LogText f) {
  if (f.length == 1 && f.text[0] == '.') return true;
  return f.length > 2 && f.text[0] == '.' && f.text[1] == '\\' &&
         is_name_sequence(f.text + 2, (uint32_t)f.length - 2);
}

bool logged_folder(char* out, size_t cap, const char* install_folder, LogText f) {
  size_t used = 0;
  if (cap == 0) return false;
  out[0] = 0;
  if (!is_relative_folder(f)) {
    if (!copy_text(out, cap, &used, f.text, f.length)) return false;
    return f.length != 2 || copy_text(out, cap, &used, "\\", 1); // "C:" -> "C:\"
  }
  if (!copy_text(out, cap, &used, install_folder, text_length(install_folder))) return false;
  if (f.length > 2 && !copy_text(out, cap, &used, f.text + 2, (size_t)f.length - 2)) return false;
  remove_trailing_backslash(out);
  return true;
}

bool logged_path(char* out, size_t cap, const char* install_folder, LogText folder, LogText name) {
  if (!logged_folder(out, cap, install_folder, folder)) return false;
  size_t used = text_length(out);
  if (used == 0 || out[used - 1] != '\\') {
    if (!copy_text(out, cap, &used, "\\", 1)) return false;
  }
  return copy_text(out, cap, &used, name.text, name.length);
}

bool uninstall_key_name(const CheckedLog& log, char* out, size_t cap) {
  const size_t prefix = sizeof UNINSTALL_KEY_PREFIX - 1;
  if (!log.has_key || log.key_root != LOG_KEY_ROOT || log.key.length <= prefix) return false;
  if (compare_nocase_n(log.key.text, UNINSTALL_KEY_PREFIX, prefix) != 0) return false;
  const char* name = log.key.text + prefix;
  size_t n = log.key.length - prefix;
  for (size_t i = 0; i < n; i++)
    if (name[i] == '\\' || name[i] == 0) return false;
  size_t used = 0;
  return copy_text(out, cap, &used, name, n);
}
