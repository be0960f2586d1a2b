/* A stand-in for an earlier installation's uninstaller: writes its own
   command line to "<its own path>.args" and ends. */
#include <windows.h>

int main(void) {
  char path[MAX_PATH + 8];
  DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  lstrcatA(path, ".args");
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 1;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(h, line, (DWORD)lstrlenA(line), &written, NULL);
  CloseHandle(h);
  return 0;
}
