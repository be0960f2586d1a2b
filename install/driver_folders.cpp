// Creating the folders of a path, one level at a time. Each folder is
// entered, and created only when it cannot be entered, so existing folders
// are never touched; the process's current folder ends at the deepest one.
#include <string.h>

#include "common/heap.h"
#include "common/text.h"
#include "install/install.h"

#ifdef _WIN32
#include <windows.h>
static int enter_folder(const char* path) {
  return SetCurrentDirectoryA(path) ? 0 : -1;
}
static int make_folder(const char* path) {
  return CreateDirectoryA(path, NULL) ? 0 : -1;
}
#else
#include <sys/stat.h>
#include <unistd.h>
static int enter_folder(const char* path) {
  return chdir(path);
}
static int make_folder(const char* path) {
  return mkdir(path, 0755);
}
#endif

namespace {

// Length of the root that is not created: "X:\", "\\server\share\", or a
// leading separator.
size_t root_length(const char* p) {
  if (is_path_separator(p[0]) && is_path_separator(p[1])) {
    size_t i = 2;
    for (int parts = 0; parts < 2 && p[i]; i++)
      if (is_path_separator(p[i])) parts++;
    return i;
  }
  if (p[0] && p[1] == ':' && is_path_separator(p[2])) return 3;
  if (is_path_separator(p[0])) return 1;
  return 0;
}

// Enters `folder`, creating it when needed; false when it cannot be had.
bool have_folder(const char* folder) {
  if (enter_folder(folder) == 0) return true;
  return make_folder(folder) == 0 && enter_folder(folder) == 0;
}

} // namespace

bool create_folders_of_path(const char* path) {
  size_t n = text_length(path);
  char* copy = (char*)heap_alloc(n + 4);
  if (!copy) return false;
  text_copy(copy, n + 4, path);
  const char* last = last_separator(copy);
  if (!last) { // a bare file name: it lies in the current folder
    heap_free(copy);
    return true;
  }
  copy[last - copy + 1] = 0; // the folder part with its trailing separator

  bool made = true;
  size_t root = root_length(copy);
  bool walked = false;
  for (size_t i = root; copy[i] && made; i++) {
    if (!is_path_separator(copy[i])) continue;
    walked = true;
    if (i == 0 || is_path_separator(copy[i - 1])) continue; // an empty level
    char keep = copy[i];
    copy[i] = 0;
    if (!have_folder(copy)) made = false;
    copy[i] = keep;
  }
  if (!walked) {
    remove_trailing_backslash(copy);
    if (copy[0] && !have_folder(copy)) made = false;
  }
  heap_free(copy);
  return made;
}

bool ready_folders_of_file(const char* path) {
  char* ready = g_install.ready_folder;
  const char* last = last_separator(path);
  size_t n = last ? (size_t)(last - path) + 1 : 0;
  if (n && n < PATH_SIZE && !ready[n] && memcmp(ready, path, n) == 0 && enter_folder(ready) == 0)
    return true;
  ready[0] = 0;
  bool made = create_folders_of_path(path);
  if (made && n && n < PATH_SIZE) {
    memcpy(ready, path, n);
    ready[n] = 0;
  }
  return made;
}

void forget_ready_folder() {
  g_install.ready_folder[0] = 0;
}
