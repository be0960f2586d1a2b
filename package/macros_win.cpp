// Token values of the folder macros on Windows.
#include <windows.h>

#include "package/macros.h"

bool macro_folder(int which, char* out, uint32_t cap) {
  out[0] = 0;
  if (which == MACRO_WINDOWS || which == MACRO_SYSTEM) {
    UINT n =
        which == MACRO_WINDOWS ? GetWindowsDirectoryA(out, cap) : GetSystemDirectoryA(out, cap);
    if (n == 0 || n >= cap) {
      out[0] = 0;
      return false;
    }
    return true;
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = cap - 1; // one byte kept for a NUL the stored value may lack
  DWORD type = 0;
  LONG r = RegQueryValueExA(key, "ProgramFilesDir", NULL, &type, (BYTE*)out, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) {
    out[0] = 0;
    return false;
  }
  out[size < cap ? size : cap - 1] = 0;
  return true;
}

void macro_utc_date(unsigned* year, unsigned* month, unsigned* day) {
  SYSTEMTIME t;
  GetSystemTime(&t);
  *year = t.wYear;
  *month = t.wMonth;
  *day = t.wDay;
}
