// Applying the INI, registry and file patch lists of the current language
// block through the profile functions, the registry and the file helpers.
#include <windows.h>

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/lists.h"
#include "package/package.h"

namespace {

// Only-if-absent tests read at most this many bytes of an existing value.
enum { PRESENCE_PROBE_SIZE = 20 };

// A registry value counts as present when its first byte is not zero: an
// empty string, and a DWORD 0, count as absent. A value longer than the
// probe is read whole to see its first byte; when that cannot be done it
// counts as present, so that an existing value is never overwritten by
// mistake.
bool registry_value_present(HKEY root, const char* key_path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  BYTE probe[PRESENCE_PROBE_SIZE];
  probe[0] = 0;
  DWORD size = sizeof probe;
  LONG result = RegQueryValueExA(key, name, NULL, NULL, probe, &size);
  bool present = result == ERROR_SUCCESS && probe[0] != 0;
  if (result == ERROR_MORE_DATA) {
    present = true;
    BYTE* whole = (BYTE*)heap_alloc(size, true);
    DWORD whole_size = size;
    if (whole && RegQueryValueExA(key, name, NULL, NULL, whole, &whole_size) == ERROR_SUCCESS)
      present = whole[0] != 0;
    if (whole) heap_free(whole);
  }
  RegCloseKey(key);
  return present;
}

} // namespace

HKEY list_root_key(uint32_t index) {
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

void apply_ini_list() {
  const Buffer* list = current_list(REC_INI_LIST);
  if (!list) return;
  const uint8_t* p = list->data + 2;
  for (uint32_t i = read_u16(list->data); i > 0; i--) {
    IniEntry entry;
    p = read_ini_entry(p, &entry);
    resolve_file_reference(entry.file);
    const char* path = g_app.destination_path;
    if (!path[0]) continue; // the file name came to nothing
    if (entry.flags & ONLY_IF_ABSENT) {
      char probe[PRESENCE_PROBE_SIZE];
      if (GetPrivateProfileStringA(entry.section, entry.key, "", probe, sizeof probe, path))
        continue;
    }
    uint32_t n;
    char* value = list_value_text(entry.value, &n);
    if (!value) continue;
    WritePrivateProfileStringA(entry.section, entry.key, value, path);
    WritePrivateProfileStringA(NULL, NULL, NULL, path); // written out at once
    heap_free(value);
  }
}

void apply_registry_list() {
  const Buffer* list = current_list(REC_REGISTRY_LIST);
  if (!list) return;
  const uint8_t* p = list->data + 2;
  for (uint32_t i = read_u16(list->data); i > 0; i--) {
    RegistryEntry entry;
    p = read_registry_entry(p, &entry);
    HKEY root = list_root_key(entry.root);
    if (!root) continue;
    if ((entry.flags & ONLY_IF_ABSENT) && registry_value_present(root, entry.key, entry.name))
      continue;
    uint32_t n;
    char* value = list_value_text(entry.value, &n);
    if (!value) continue;
    HKEY key;
    if (RegCreateKeyA(root, entry.key, &key) == ERROR_SUCCESS) {
      RegSetValueExA(key, entry.name, 0, REG_SZ, (const BYTE*)value, n + 1);
      RegCloseKey(key);
    }
    heap_free(value);
  }
}
