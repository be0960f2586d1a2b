/* A stand-in for an earlier installation's uninstaller: writes its own
   command line to "<its folder>.args" (beside its folder, so that the folder
   holds nothing else) and ends with exit code 0, 2 when its file name
   begins with "refuse" (an uninstaller that would not remove anything), or
   3010 when it begins with "restart" (one that left files in use to the next
   start of Windows). */
#include <windows.h>

int main(void) {
  char path[MAX_PATH + 8];
  DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  char* name = path + n;
  while (name > path && name[-1] != '\\') name--;
  int code = 0;
  if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 6, "refuse", 6) == CSTR_EQUAL)
    code = 2;
  else if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 7, "restart", 7) == CSTR_EQUAL)
    code = 3010;
  if (name == path) return 1;
  lstrcpyA(name - 1, ".args");
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 1;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(h, line, (DWORD)lstrlenA(line), &written, NULL);
  CloseHandle(h);
  return code;
}
