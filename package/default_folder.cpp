// Default install folder of a language record; see default_folder.h.
#include "package/default_folder.h"

#include "common/state.h"
#include "common/text.h"
#include "package/macros.h"

namespace {

// Appends `count` characters of `s` to `out` (length *n, capacity 260).
bool put(char* out, size_t* n, const char* s, size_t count) {
  if (*n + count >= PATH_SIZE) return false;
  for (size_t i = 0; i < count; i++) out[(*n)++] = s[i];
  out[*n] = 0;
  return true;
}

} // namespace

void correct_folder_name(char* path) {
  char result[PATH_SIZE];
  char name[PATH_SIZE];
  size_t n = 0;
  result[0] = 0;
  const char* p = path;
  if (p[0] && p[1] == ':') {
    put(result, &n, p, 2);
    p += 2;
  }
  while (is_path_separator(*p)) p++;
  for (;;) {
    const char* end = p;
    while (*end && !is_path_separator(*end)) end++;
    if (p == end && !*end) {
      // Nothing behind the last backslash: the folder before it was looked up
      // already and the result has no trailing backslash. A bare root cannot
      // be looked up and stays as it is.
      if (n <= 2) return;
      break;
    }
    size_t start = n;
    if (!put(result, &n, "\\", 1) || !put(result, &n, p, (size_t)(end - p))) return;
    if (!find_stored_name(result, name)) return;
    n = start + 1;
    result[n] = 0;
    if (!put(result, &n, name, text_length(name))) return;
    if (!*end) break;
    p = end + 1;
  }
  text_copy(path, PATH_SIZE, result);
}

void compute_default_install_folder(const LanguageRecord* language) {
  char* folder = g_app.install_folder;
  char* scratch = g_app.temp_path;
  if (language->default_folder) text_copy_cut(folder, PATH_SIZE, language->default_folder);

  bool found = false;
  if (language->registry_key) {
    scratch[0] = 0;
    const char* value = language->registry_value ? language->registry_value : "";
    read_registry_folder(language->registry_root, language->registry_key, value, scratch);
    if (scratch[0]) {
      text_copy(folder, PATH_SIZE, scratch);
      found = true;
    }
  } else if (language->ini_file && language->ini_section && language->ini_key) {
    // The default of the lookup is the present text, so a missing key still
    // counts as found when that text is not empty.
    text_copy(scratch, PATH_SIZE, folder);
    found = read_ini_folder(language->ini_file, language->ini_section, language->ini_key, scratch,
                            folder) != 0;
  }

  if (found) {
    size_t n = text_length(folder);
    while (n > 0 && !enter_current_folder(folder)) folder[--n] = 0;
    if (n > 0) correct_folder_name(folder);
  } else {
    expand_folder_macros(folder, folder, PATH_SIZE);
  }
}
