// Arbitrary bytes as the uninstaller's own file: the PE image end, the
// uninstaller's data record and its texts, and the log found behind them;
// and arbitrary bytes as a log.
// Checks beyond the sanitizers: a log that is accepted walks exactly its
// counts of entries; it ends within the bytes and reads the same from its
// own bytes alone; every path it names below the install folder stays
// below it (no "." or ".." part); the uninstall key name has no backslash.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "uninstall/log_reader.h"
#include "uninstall/pe_image.h"

namespace {

const char INSTALL[] = "C:\\Install\\";

void check(bool ok) {
  if (!ok) abort();
}

bool has_dot_part(const char* path) {
  for (const char* p = path; *p; p++) {
    bool start = p == path || p[-1] == '\\';
    if (!start || *p != '.') continue;
    if (p[1] == '\\' || p[1] == 0 || (p[1] == '.' && (p[2] == '\\' || p[2] == 0))) return true;
  }
  return false;
}

void check_log(const uint8_t* data, uint32_t size) {
  CheckedLog log;
  if (!check_uninstall_log(data, size, &log)) {
    check(log.files == nullptr && log.file_count == 0 && log.value_count == 0);
    return;
  }
  check(log.size > 0 && log.size <= size);
  CheckedLog again;
  check(check_uninstall_log(data, log.size, &again) && again.size == log.size);

  char path[300];
  uint32_t n = 0;
  LogCursor c = file_entries(log);
  for (LogFileEntry f; next_file(&c, &f); n++) {
    if (!logged_path(path, sizeof path, INSTALL, f.folder, f.name)) continue;
    check(!has_dot_part(path + 3));
    if (is_relative_folder(f.folder))
      check(strncmp(path, INSTALL, sizeof INSTALL - 1) == 0 && path[sizeof INSTALL - 1] != 0);
  }
  check(n == log.file_count);
  n = 0;
  c = shortcut_entries(log);
  for (LogLinkEntry s; next_shortcut(&c, &s); n++)
    if (logged_path(path, sizeof path, "", s.folder, s.name)) check(!has_dot_part(path + 2));
  check(n == log.shortcut_count);
  n = 0;
  c = value_entries(log);
  for (LogValueEntry v; next_value(&c, &v); n++) {
    check(v.kind >= LOGGED_VALUE_REGISTRY && v.kind <= LOGGED_VALUE_INI_FILE);
    if (v.kind == LOGGED_VALUE_REGISTRY || v.kind == LOGGED_VALUE_KEY)
      check(v.root >= LOG_FIRST_ROOT && v.root <= LOG_LAST_ROOT && v.a.length > 0);
  }
  check(n == log.value_count);
  char name[300];
  if (uninstall_key_name(log, name, sizeof name)) check(name[0] && !strchr(name, '\\'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  uint32_t n = (uint32_t)size;
  check_log(data, n);
  uint32_t at = find_uninstall_log(data, n);
  if (at) {
    // Right behind the image, or behind the uninstaller's data record there.
    uint32_t end = pe_image_end(data, n), length = 0;
    uint32_t body = find_uninstaller_data(data, n, &length);
    check(at <= n - 8 && at == (body ? body + length : end));
    check_log(data + at, n - at);
  }
  uint32_t length = 0;
  uint32_t body = find_uninstaller_data(data, n, &length);
  if (body) {
    check(body <= n && length <= n - body);
    LogText texts[UNINSTALL_TEXT_COUNT];
    if (read_uninstaller_texts(data + body, length, texts))
      for (const LogText& t : texts)
        check(!t.text || ((const uint8_t*)t.text >= data + body &&
                          (const uint8_t*)t.text + t.length <= data + body + length &&
                          t.length <= UNINSTALL_TEXT_MAX && !memchr(t.text, 0, t.length)));
  }
  return 0;
}
