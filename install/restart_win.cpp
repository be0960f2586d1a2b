// Restarting Windows, running a program to its end and opening a document.
#include <windows.h>
#include <shellapi.h>

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/restart.h"

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

bool run_and_wait(const char* program, const char* argument, uint32_t* exit_code, bool wait) {
  // Room for the program and a relaunched setup's switches (a package path,
  // a log path and an install folder).
  const size_t size = 6 * PATH_SIZE;
  char* command = (char*)heap_alloc(size);
  if (!command) return false;
  // The program quoted: unquoted, a path with a space ("C:\Program Files\...")
  // would start "C:\Program.exe" first if there were one.
  bool fits = text_concat(command, size, "\"", program, "\" ", argument, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  bool started = fits && CreateProcessA(NULL, command, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS,
                                        NULL, NULL, &startup, &process);
  heap_free(command);
  if (!started) return false;
  if (!wait) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }
  // No message is dispatched meanwhile; peeking keeps the wizard from being
  // taken for a hung program, and the short wait keeps the loop from
  // spinning on the processor.
  // The process handle itself tells the end: an exit code of 259 would read
  // as STILL_ACTIVE forever.
  MSG message;
  while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT)
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
  DWORD code = 1;
  if (exit_code) *exit_code = GetExitCodeProcess(process.hProcess, &code) ? code : 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

namespace {

// The default value of a key under HKEY_CLASSES_ROOT, as text of at most
// cap - 1 characters (always terminated); false when there is none.
bool class_default_value(const char* key_path, char* out, DWORD cap) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = cap - 1; // one byte kept for a NUL the stored value may lack
  LONG r = RegQueryValueExA(key, NULL, NULL, NULL, (BYTE*)out, &size);
  RegCloseKey(key);
  out[r == ERROR_SUCCESS ? size : 0] = 0;
  return r == ERROR_SUCCESS;
}

} // namespace

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
  char command[PATH_SIZE + 1];
  if (!class_default_value(document_extension(path), file_class, PATH_SIZE + 1) ||
      !text_append(file_class, sizeof file_class, "\\shell\\open\\command") ||
      !class_default_value(file_class, command, sizeof command))
    return;
  char* line = (char*)heap_alloc(PATH_SIZE + DESTINATION_SIZE + 2);
  if (!line) return;
  if (build_open_command(line, PATH_SIZE + DESTINATION_SIZE + 2, command, path))
    WinExec(line, SW_SHOW);
  heap_free(line);
}
