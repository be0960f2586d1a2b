// Replace-on-restart: delayed moves on the NT family, WININIT.INI on the
// Windows 95 family. Apart from the rest of the restart services, as the
// uninstaller uses it too.
#include <windows.h>

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/restart.h"

namespace {

// The short (8.3) form of `path` into `out` (260); the path itself when it
// has none.
void short_name(const char* path, char* out) {
  DWORD n = GetShortPathNameA(path, out, PATH_SIZE);
  if (n == 0 || n >= PATH_SIZE) text_copy_cut(out, PATH_SIZE, path);
}

bool wininit_path(char* out) {
  UINT n = GetWindowsDirectoryA(out, PATH_SIZE);
  return n > 0 && n < PATH_SIZE && text_append(out, PATH_SIZE, "\\WININIT.INI");
}

// The profile functions keep one value per key, so each deletion is written
// under the key "xyz" and that key is then renamed to NUL in the file itself:
// every deletion keeps a line NUL=path of its own.
void rename_xyz_to_nul(const char* wininit, const char* short_existing) {
  FileHandle f = file_open(wininit, FILE_READ_WRITE);
  if (f == INVALID_FILE) return;
  uint32_t size = file_size(f);
  char* data = size != FILE_BAD_POSITION ? (char*)heap_alloc((size_t)size + 512) : nullptr;
  if (data && file_read_exact(f, data, size) == FILE_OK) {
    size_t path_length = text_length(short_existing);
    for (uint32_t i = 0; i + 4 + path_length <= size; i++) {
      if (data[i] != 'x' || data[i + 1] != 'y' || data[i + 2] != 'z' || data[i + 3] != '=')
        continue;
      if (compare_nocase_n(data + i + 4, short_existing, path_length) != 0) continue;
      data[i] = 'N';
      data[i + 1] = 'U';
      data[i + 2] = 'L';
      if (file_seek(f, 0, FROM_START) == 0) file_write_exact(f, data, size);
      break;
    }
  }
  if (data) heap_free(data);
  file_close(f);
}

} // namespace

void schedule_replacement(const char* new_path, const char* existing) {
  if (g_app.platform_nt) {
    if (new_path)
      MoveFileExA(existing, new_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    else
      MoveFileExA(existing, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return;
  }
  char wininit[PATH_SIZE], short_existing[PATH_SIZE], short_new[PATH_SIZE];
  if (!wininit_path(wininit)) return;
  short_name(existing, short_existing);
  if (new_path) {
    short_name(new_path, short_new);
    WritePrivateProfileStringA("Rename", short_new, short_existing, wininit);
    WritePrivateProfileStringA(NULL, NULL, NULL, wininit);
    return;
  }
  WritePrivateProfileStringA("Rename", "xyz", short_existing, wininit);
  WritePrivateProfileStringA(NULL, NULL, NULL, wininit);
  rename_xyz_to_nul(wininit, short_existing);
}
