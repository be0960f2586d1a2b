// The install driver's Win32 layer: where shared system files and fonts go,
// the SharedDLLs usage count, font registration and self-registration.
#include <windows.h>
#include <shlobj.h>

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"

namespace {

const char SHARED_DLLS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The part of `path` behind its last backslash (all of it without one).
const char* file_name_of(const char* path) {
  const char* sep = last_separator(path);
  return sep ? sep + 1 : path;
}

} // namespace

// Shared system file: the folder that VerFindFileA names for it (the system
// folder when it names none). Returns the in-use flag.
bool resolve_shared_file(const char* target, char* dest) {
  const char* name = file_name_of(target);
  char* buffers = (char*)heap_alloc(3 * PATH_SIZE, true);
  if (!buffers) { // the install folder, as for the other kinds
    if (!append_backslash(dest, DESTINATION_SIZE) || !text_append(dest, DESTINATION_SIZE, target))
      dest[0] = 0;
    return false;
  }
  char* current = buffers;
  char* folder = buffers + PATH_SIZE;
  char* windows = buffers + 2 * PATH_SIZE;
  remove_trailing_backslash(dest); // the install folder, as the application folder
  UINT n = GetWindowsDirectoryA(windows, PATH_SIZE);
  if (n >= PATH_SIZE) windows[0] = 0;
  UINT current_length = PATH_SIZE, folder_length = PATH_SIZE;
  DWORD found = VerFindFileA(VFFF_ISSHAREDFILE, (char*)name, windows, dest, current,
                             &current_length, folder, &folder_length);
  bool in_use = (found & VFF_FILEINUSE) != 0;
  bool ok;
  if (folder[0]) {
    ok = text_copy(dest, DESTINATION_SIZE, folder);
  } else {
    UINT m = GetSystemDirectoryA(dest, PATH_SIZE);
    ok = m > 0 && m < PATH_SIZE;
  }
  ok = ok && append_backslash(dest, DESTINATION_SIZE) && text_append(dest, DESTINATION_SIZE, name);
  if (!ok) {
    dest[0] = 0;
    heap_free(buffers);
    return false;
  }
  FileHandle f = file_open(dest, FILE_READ);
  if (f != INVALID_FILE) {
    file_close(f);
  } else if (!current[0]) {
    in_use = false;
  } else {
    // The file is not where it goes: in use only when it was found there.
    in_use = append_backslash(current, PATH_SIZE) && text_append(current, PATH_SIZE, name) &&
             equals_nocase(current, dest) && in_use;
  }
  heap_free(buffers);
  return in_use;
}

void self_register(const char* path) {
  HMODULE module = LoadLibraryA(path);
  if (!module) return;
  typedef HRESULT(STDAPICALLTYPE * RegisterServer)();
  RegisterServer fn = (RegisterServer)(void*)GetProcAddress(module, "DllRegisterServer");
  if (fn) fn();
  FreeLibrary(module);
}

bool fonts_folder(char* out) {
  LPITEMIDLIST list = NULL;
  if (SHGetSpecialFolderLocation(NULL, CSIDL_FONTS, &list) != S_OK || !list) return false;
  char fonts[MAX_PATH];
  bool found = SHGetPathFromIDListA(list, fonts) && text_copy(out, PATH_SIZE, fonts);
  CoTaskMemFree(list);
  return found;
}

void register_font(const char* path) {
  if (AddFontResourceA(path)) SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
}

void count_shared_use(const char* path) {
  HKEY key;
  // Windows has this key; where it is missing it is made, as the uninstall
  // log records the count as kept and the uninstallation gives it back.
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, &key) != ERROR_SUCCESS) return;
  DWORD count = 0, type = 0, size = sizeof count;
  if (RegQueryValueExA(key, path, NULL, &type, (BYTE*)&count, &size) != ERROR_SUCCESS) {
    count = 1;
    type = REG_DWORD;
  } else if (counted_by_earlier_log(path)) {
    // A reinstallation: the installation it replaces holds one count,
    // which its log carries over.
    RegCloseKey(key);
    return;
  } else {
    count++;
  }
  RegSetValueExA(key, path, 0, type, (const BYTE*)&count, sizeof count);
  RegCloseKey(key);
}
