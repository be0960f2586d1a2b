// Registry, INI and file-system lookups of the default install folder.
#include <windows.h>

#include "common/state.h"
#include "common/text.h"
#include "package/default_folder.h"

namespace {

HKEY root_key(uint32_t index) {
  switch (index) {
  case 0:
    return HKEY_CLASSES_ROOT;
  case 1:
    return HKEY_CURRENT_USER;
  case 2:
    return HKEY_LOCAL_MACHINE;
  case 3:
    return HKEY_USERS;
  default:
    return index >= 16 ? HKEY_CURRENT_USER : NULL;
  }
}

} // namespace

bool read_registry_folder(uint32_t root, const char* key_path, const char* value, char* out) {
  out[0] = 0;
  HKEY root_handle = root_key(root);
  HKEY key;
  if (!root_handle || RegOpenKeyExA(root_handle, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = PATH_SIZE - 1; // one byte kept for a NUL the stored value may lack
  DWORD type = 0;
  if (RegQueryValueExA(key, value, NULL, &type, (BYTE*)out, &size) == ERROR_SUCCESS)
    out[size < PATH_SIZE ? size : PATH_SIZE - 1] = 0;
  else
    out[0] = 0;
  RegCloseKey(key);
  return true;
}

uint32_t read_ini_folder(const char* file, const char* section, const char* key,
                         const char* fallback, char* out) {
  return GetPrivateProfileStringA(section, key, fallback, out, PATH_SIZE, file);
}

bool enter_current_folder(const char* path) {
  return SetCurrentDirectoryA(path) != 0;
}

bool find_stored_name(const char* path, char* name) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  text_copy_cut(name, PATH_SIZE, found.cFileName);
  return true;
}
