// Token values of the folder macros on Windows, and file references.
#include <windows.h>

#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/macros.h"
#include "package/file_entry.h"
#include "package/package.h"

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
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", &key) !=
      ERROR_SUCCESS)
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

void resolve_file_reference(const char* text) {
  uint8_t* e = g_package.first_entry;
  for (uint32_t i = 0; e && i < g_package.entry_count; i++, e = next_entry(e)) {
    if (equals_nocase(entry_string(e, STR_TARGET), text)) {
      resolve_destination(e);
      return;
    }
  }
  g_app.destination_path[0] = 0; // an empty expansion leaves the buffer as it is
  expand_folder_macros(g_app.destination_path, text, PATH_SIZE);
}
