// Relaunch from a removable disk: the setup executable copies its own code
// (the stub, without the package) into the temporary folder and lets that
// copy run the wizard, reading the package from the disk, so that the disk
// may be changed for further volumes during the installation.
#include <string.h>

#include "app/app.h"
#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/restart.h"
#include "package/certificate.h"

bool temp_copy_name(char* out, size_t cap, const char* folder, int n) {
  char name[24];
  format_text(name, sizeof name, "_inst%d.exe", number_arg(n));
  return text_concat(out, cap, folder, name, nullptr);
}

namespace {

// Creates the first free "_inst%d.exe" of the temporary folder; its name is
// left in g_app.temp_path.
FileHandle create_free_copy_file() {
  char folder[PATH_SIZE];
  DWORD n = GetTempPathA(PATH_SIZE, folder);
  if (n == 0 || n >= PATH_SIZE || !append_backslash(folder, PATH_SIZE)) return INVALID_FILE;
  for (int i = 0; i <= 998; i++) {
    if (!temp_copy_name(g_app.temp_path, PATH_SIZE, folder, i)) return INVALID_FILE;
    FileHandle f = file_open(g_app.temp_path, FILE_READ);
    if (f != INVALID_FILE) { // taken: by an earlier copy, or another setup running
      file_close(f);
      continue;
    }
    f = file_create(g_app.temp_path);
    if (f != INVALID_FILE) return f;
  }
  return INVALID_FILE;
}

bool copy_stub(FileHandle from, FileHandle to) {
  uint32_t length = g_app.stub_length;
  uint8_t* buffer = (uint8_t*)heap_alloc(length);
  if (!buffer) return false;
  bool ok = file_read_exact(from, buffer, length) == FILE_OK;
  // A signed setup file names its certificate table, which lies behind the
  // package; the copy carries no table and must not name one.
  uint32_t entry = ok ? security_directory_entry(buffer, length) : 0;
  if (entry) memset(buffer + entry, 0, 8);
  ok = ok && file_write_exact(to, buffer, length) == FILE_OK;
  heap_free(buffer);
  return ok;
}

} // namespace

bool make_temp_copy() {
  // A raw stub (length 0) carries no package: there is nothing to hand over.
  if (g_app.stub_length == 0) return false;
  FileHandle copy = create_free_copy_file();
  if (copy == INVALID_FILE) return false;
  FileHandle package = file_open(g_app.package_path, FILE_READ);
  bool ok = package != INVALID_FILE && copy_stub(package, copy);
  if (package != INVALID_FILE) file_close(package);
  file_close(copy);
  // A copy that is empty or cut short would start and fail; without it the
  // run simply goes on from the disk.
  if (!ok) DeleteFileA(g_app.temp_path);
  return ok;
}

namespace {

// Two spellings of one folder: equal as they stand, or in their short forms.
bool same_folder(const char* a, const char* b) {
  if (equals_nocase(a, b)) return true;
  char short_a[PATH_SIZE], short_b[PATH_SIZE];
  DWORD m = GetShortPathNameA(a, short_a, PATH_SIZE);
  DWORD n = GetShortPathNameA(b, short_b, PATH_SIZE);
  return m && m < PATH_SIZE && n && n < PATH_SIZE && equals_nocase(short_a, short_b);
}

} // namespace

bool is_temp_copy(const char* path) {
  const char* sep = last_separator(path);
  const char* name = sep ? sep + 1 : path;
  if (compare_nocase_n(name, "_inst", 5) != 0) return false;
  const char* p = name + 5;
  int digits = 0, n = 0;
  for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++) n = 10 * n + (*p - '0');
  if (digits == 0 || digits > 3 || n > 998 || !equals_nocase(p, ".exe")) return false;
  char folder[PATH_SIZE], own[PATH_SIZE];
  DWORD t = GetTempPathA(PATH_SIZE, folder);
  if (t == 0 || t >= PATH_SIZE || !append_backslash(folder, PATH_SIZE)) return false;
  size_t length = (size_t)(name - path);
  if (length == 0 || length >= PATH_SIZE) return false;
  for (size_t i = 0; i < length; i++) own[i] = path[i];
  own[length] = 0;
  return same_folder(own, folder);
}

bool relaunch_from_removable_disk(const char* arguments, int* exit_code) {
  char* own = g_app.destination_path;
  if (!GetModuleFileNameA(NULL, own, PATH_SIZE)) return false;
  if (own[0] && own[1] == ':') own[3] = 0; // drive root, "X:\\"
  if (GetDriveTypeA(own) != DRIVE_REMOVABLE) return false;
  // The copy's own switches, then this run's whole command line (the
  // unattended switches, /D= last as it was); a line that does not fit
  // keeps the run on the disk rather than lose a switch.
  char line[5 * PATH_SIZE];
  if (!text_concat(line, sizeof line, "/S\"", g_app.package_path, "\" /DEL",
                   arguments[0] ? " " : "", arguments, nullptr) ||
      !make_temp_copy())
    return false;

  // An unattended run waits for the copy, so that whoever started it learns
  // the outcome from its exit code; it asks for no other disk, so keeping
  // this file open costs nothing. The program path is quoted: a temporary
  // folder with a space in its name would otherwise end the copy's name
  // there, and the copy would see no switch.
  uint32_t code = 0;
  if (run_and_wait(g_app.temp_path, line, &code, g_app.quiet)) {
    *exit_code = (int)code;
    return true;
  }
  // The copy did not start: run from the disk after all.
  DeleteFileA(g_app.temp_path);
  return false;
}
