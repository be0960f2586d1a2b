// Replace-on-restart, restarting Windows, running a program to its end and
// opening a document.
#include <windows.h>
#include <shellapi.h>

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
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

void restart_windows() {
  if (g_app.platform_nt) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
      return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
  }
  ExitWindowsEx(EWX_REBOOT, 0);
}

bool run_and_wait(const char* program, const char* argument) {
  char* command = (char*)heap_alloc(DESTINATION_SIZE);
  if (!command) return false;
  // The program quoted: unquoted, a path with a space ("C:\Program Files\...")
  // would start "C:\Program.exe" first if there were one.
  bool fits = text_copy(command, DESTINATION_SIZE, "\"") &&
              text_append(command, DESTINATION_SIZE, program) &&
              text_append(command, DESTINATION_SIZE, "\" ") &&
              text_append(command, DESTINATION_SIZE, argument);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  bool started = fits && CreateProcessA(NULL, command, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS,
                                        NULL, NULL, &startup, &process);
  heap_free(command);
  if (!started) return false;
  // No message is dispatched meanwhile; peeking keeps the wizard from being
  // taken for a hung program, and the short wait keeps the loop from
  // spinning on the processor.
  DWORD code;
  MSG message;
  while (GetExitCodeProcess(process.hProcess, &code) && code == STILL_ACTIVE) {
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
    WaitForSingleObject(process.hProcess, 50);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void open_document(uint8_t* record) {
  if (!record) return;
  resolve_destination(file_entry(record));
  const char* path = g_app.destination_path;
  FileHandle f = file_open(path, FILE_READ);
  if (f == INVALID_FILE) return;
  file_close(f);
  if ((INT_PTR)ShellExecuteA(NULL, "open", path, NULL, NULL, SW_SHOW) > 32) return;

  // No handler through the shell: the class's registered open command.
  char file_class[PATH_SIZE + 24];
  char command[PATH_SIZE];
  HKEY key;
  LONG size = PATH_SIZE;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, document_extension(path), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return;
  LONG r = RegQueryValueA(key, NULL, file_class, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || !text_append(file_class, sizeof file_class, "\\shell\\open\\command"))
    return;
  size = PATH_SIZE;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, file_class, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return;
  r = RegQueryValueA(key, NULL, command, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return;
  char* line = (char*)heap_alloc(PATH_SIZE + DESTINATION_SIZE + 2);
  if (!line) return;
  if (build_open_command(line, PATH_SIZE + DESTINATION_SIZE + 2, command, path))
    WinExec(line, SW_SHOW);
  heap_free(line);
}
