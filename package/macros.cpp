// Expansion of folder macros: one left-to-right pass over the text, the
// result built in a work buffer of its own so that the output may be the
// buffer holding the text.
#include "package/macros.h"

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"

namespace {

struct Work {
  char* data;
  uint32_t n;
  // Appends up to `count` characters, as many as fit before the last byte
  // (kept for the NUL).
  void append(const char* s, uint32_t count) {
    for (uint32_t i = 0; i < count && n + 1 < MACRO_WORK_SIZE; i++) data[n++] = s[i];
  }
  void append(const char* s) { append(s, (uint32_t)text_length(s)); }
};

bool token_is(const char* token, uint32_t length, const char* name) {
  return text_length(name) == length && compare_nocase_n(token, name, length) == 0;
}

// The value of the token at `token` (`length` characters, both '#'
// included) into `value` (capacity 260). False when the token is to stay in
// the text unchanged.
bool token_value(const char* token, uint32_t length, char* value) {
  value[0] = 0;
  if (token_is(token, length, "#Windows#")) {
    if (!macro_folder(MACRO_WINDOWS, value, PATH_SIZE)) return false;
  } else if (token_is(token, length, "#System#")) {
    if (!macro_folder(MACRO_SYSTEM, value, PATH_SIZE)) return false;
  } else if (token_is(token, length, "#Program Files#")) {
    if (!macro_folder(MACRO_PROGRAM_FILES, value, PATH_SIZE)) return false;
  } else if (token_is(token, length, "#InstallDir#")) {
    if (g_app.install_folder) text_copy_cut(value, PATH_SIZE, g_app.install_folder);
  } else if (token_is(token, length, "#SourceDir#")) {
    if (g_app.package_path) {
      text_copy_cut(value, PATH_SIZE, g_app.package_path);
      const char* sep = last_separator(value);
      if (sep) value[sep - value] = 0;
    }
  } else if (token_is(token, length, "#Date#")) {
    unsigned y = 0, m = 0, d = 0;
    macro_utc_date(&y, &m, &d);
    format_text(value, PATH_SIZE, "%u", number_arg((long)(y * 10000 + m * 100 + d)));
  }
  remove_trailing_backslash(value);
  return true;
}

} // namespace

uint32_t expand_folder_macros(char* out, const char* text, uint32_t out_size) {
  Work work{(char*)heap_alloc(MACRO_WORK_SIZE, true), 0};
  if (!work.data) {
    if (out && out_size) text_copy_cut(out, out_size, text);
    return (uint32_t)text_length(text);
  }
  char value[PATH_SIZE];
  const char* p = text;
  for (;;) {
    const char* open = p;
    while (*open && *open != '#') open++;
    work.append(p, (uint32_t)(open - p));
    if (!*open) break;
    const char* close = open + 1;
    while (*close && *close != '#') close++;
    if (!*close) { // no second '#': the rest stays as it is
      work.append(open);
      break;
    }
    uint32_t length = (uint32_t)(close - open + 1);
    if (token_value(open, length, value))
      work.append(value);
    else
      work.append(open, length);
    p = close + 1;
  }
  uint32_t n = work.n;
  if (out && n && out_size) {
    uint32_t keep = n < out_size ? n : out_size - 1;
    for (uint32_t i = 0; i < keep; i++) out[i] = work.data[i];
    out[keep] = 0;
  }
  heap_free(work.data);
  return n;
}
