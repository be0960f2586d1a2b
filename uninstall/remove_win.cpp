// Removing what the uninstall log names: files, shortcuts, their empty
// folders and the uninstall key.
#include <shlobj.h>

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install_log.h"
#include "install/restart.h"
#include "uninstall/uninstall.h"

namespace {

const char SHARED_DLLS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Special folders that stay even when an uninstallation leaves them empty.
const int PROTECTED_CSIDLS[] = {
    CSIDL_DESKTOP,
    CSIDL_PROGRAMS,
    CSIDL_PERSONAL,
    CSIDL_FAVORITES,
    CSIDL_STARTUP,
    CSIDL_RECENT,
    CSIDL_SENDTO,
    CSIDL_STARTMENU,
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_NETHOOD,
    CSIDL_FONTS,
    CSIDL_TEMPLATES,
    CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_PROGRAMS,
    CSIDL_COMMON_STARTUP,
    CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_APPDATA,
    CSIDL_PRINTHOOD,
    CSIDL_LOCAL_APPDATA,
    CSIDL_COMMON_FAVORITES,
    CSIDL_INTERNET_CACHE,
    CSIDL_COOKIES,
    CSIDL_HISTORY,
    CSIDL_COMMON_APPDATA,
    CSIDL_WINDOWS,
    CSIDL_SYSTEM,
    CSIDL_PROGRAM_FILES,
    CSIDL_MYPICTURES,
    CSIDL_PROFILE,
    CSIDL_SYSTEMX86,
    CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_TEMPLATES,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_COMMON_ADMINTOOLS,
    CSIDL_ADMINTOOLS,
};
// Besides those: the Windows, system and temporary folders.
const int PROTECTED_COUNT = sizeof PROTECTED_CSIDLS / sizeof PROTECTED_CSIDLS[0] + 3;

struct ProtectedFolders {
  char (*paths)[MAX_PATH];
  int count;
};
ProtectedFolders g_protected;

void add_protected(const char* path) {
  if (!path[0] || g_protected.count >= PROTECTED_COUNT) return;
  char* slot = g_protected.paths[g_protected.count];
  if (!text_copy(slot, MAX_PATH, path)) return;
  remove_trailing_backslash(slot);
  g_protected.count++;
}

// The folder path of a special folder into out (MAX_PATH); "" when the
// system has none.
void special_folder(int csidl, char* out) {
  out[0] = 0;
  LPITEMIDLIST list = NULL;
  if (SHGetSpecialFolderLocation(NULL, csidl, &list) == S_OK && list) {
    if (!SHGetPathFromIDListA(list, out)) out[0] = 0;
    CoTaskMemFree(list);
  }
}

// "X:", "X:\" and "\\server\share" (with or without a trailing backslash).
bool is_root(const char* folder) {
  size_t n = text_length(folder);
  if (n < 4) return true;
  if (folder[0] == '\\' && folder[1] == '\\') {
    int separators = 0;
    for (size_t i = 2; i < n; i++)
      if (folder[i] == '\\' && i + 1 < n) separators++;
    return separators < 2;
  }
  return false;
}

// `path` lies strictly below `folder` (neither ends with a backslash, except
// a drive root "C:\").
bool is_below(const char* path, const char* folder) {
  size_t n = text_length(folder);
  if (n == 0 || compare_nocase_n(path, folder, n) != 0) return false;
  if (folder[n - 1] == '\\') return path[n] != 0;
  return path[n] == '\\' && path[n + 1] != 0;
}

// Cuts the last component off a folder path; false at a root.
bool cut_last_component(char* folder) {
  char* last = (char*)last_separator(folder);
  if (!last || is_root(folder)) return false;
  if (last - folder == 2 && folder[1] == ':')
    last[1] = 0; // "C:\x" -> "C:\"
  else
    *last = 0;
  return true;
}

// Starts and base folders of the shortcut folders' walk upwards.
const int START_MENU_CSIDLS[] = {CSIDL_PROGRAMS,         CSIDL_STARTMENU,
                                 CSIDL_STARTUP,          CSIDL_COMMON_PROGRAMS,
                                 CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP};

// The Start-menu folder that `folder` lies below, into base; false when none.
bool start_menu_base(const char* folder, char* base) {
  for (int csidl : START_MENU_CSIDLS) {
    special_folder(csidl, base);
    remove_trailing_backslash(base);
    if (base[0] && is_below(folder, base)) return true;
  }
  return false;
}

void broadcast_font_change() {
  DWORD_PTR result;
  SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
}

// The font's values under the Fonts keys (NT family, then 95 family): a
// value goes only when its data names this file, by its full path or, for a
// font in the fonts folder, by its bare name.
void remove_font_values(const char* path) {
  static const char* const FONT_KEYS[] = {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                                          "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"};
  char fonts[MAX_PATH];
  special_folder(CSIDL_FONTS, fonts);
  remove_trailing_backslash(fonts);
  const char* sep = last_separator(path);
  char folder[MAX_PATH];
  text_copy_cut(folder, sizeof folder, path);
  if (sep) folder[sep - path] = 0;
  const char* bare = sep && fonts[0] && equals_nocase(folder, fonts) ? sep + 1 : nullptr;
  for (const char* key_path : FONT_KEYS) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
      continue;
    char name[MAX_PATH], data[MAX_PATH];
    for (DWORD i = 0;;) {
      DWORD name_size = sizeof name, data_size = sizeof data - 1, type = 0;
      if (RegEnumValueA(key, i, name, &name_size, NULL, &type, (BYTE*)data, &data_size) !=
          ERROR_SUCCESS)
        break;
      data[data_size < sizeof data ? data_size : sizeof data - 1] = 0;
      bool names_it =
          type == REG_SZ && (equals_nocase(data, path) || (bare && equals_nocase(data, bare)));
      if (names_it && RegDeleteValueA(key, name) == ERROR_SUCCESS) continue; // the next moved up
      i++;
    }
    RegCloseKey(key);
  }
}

void unregister_library(const char* path) {
  HMODULE module = LoadLibraryA(path);
  if (!module) return;
  typedef HRESULT(WINAPI * Entry)();
  Entry entry = (Entry)(void*)GetProcAddress(module, "DllUnregisterServer");
  if (entry) entry();
  FreeLibrary(module);
}

void count(RemovalReport* report, DeleteResult result, const char* path) {
  static const char* const HEADS[] = {"file\tremoved", "file\tgone", "file\trestart",
                                      "file\tfailed"};
  install_log(HEADS[result], path, nullptr);
  if (result == DELETE_SCHEDULED)
    report->scheduled++;
  else if (result == DELETE_FAILED)
    report->failed++;
  else
    report->removed++;
}

void remove_files(const CheckedLog& log, const char* install_folder, const char* own_path,
                  char* path, RemovalReport* report) {
  bool fonts_changed = false;
  LogCursor cursor = file_entries(log);
  LogFileEntry f;
  for (uint32_t done = 0; next_file(&cursor, &f); done++) {
    if (g_removal_progress) g_removal_progress(done, log.file_count);
    if (!logged_path(path, MAX_PATH, install_folder, f.folder, f.name)) {
      report->failed++;
      continue;
    }
    if (same_file(path, own_path)) continue;
    if ((f.flags & LOGGED_SHARED) && release_shared_use(path) != SHARED_LAST_USE) {
      install_log("file\tkept", path, nullptr);
      report->kept++;
      continue;
    }
    if (f.flags & LOGGED_SELF_REGISTER) unregister_library(path);
    if (f.flags & LOGGED_FONT) {
      if (RemoveFontResourceA(path)) fonts_changed = true;
      remove_font_values(path);
    }
    count(report, delete_logged_file(path), path);
  }
  if (fonts_changed) broadcast_font_change();
}

// Each folder holding a logged file, and for relative ones their parents up to
// the install folder; a folder that still holds something stays.
void remove_file_folders(const CheckedLog& log, const char* install_folder, char* folder,
                         char* previous) {
  char* base = (char*)heap_alloc(MAX_PATH);
  if (!base) return;
  text_copy_cut(base, MAX_PATH, install_folder);
  remove_trailing_backslash(base);
  previous[0] = 0;
  LogCursor cursor = file_entries(log);
  LogFileEntry f;
  while (next_file(&cursor, &f)) {
    if (!logged_folder(folder, MAX_PATH, install_folder, f.folder)) continue;
    if (equals_nocase(folder, previous)) continue; // entries come grouped by folder
    text_copy(previous, MAX_PATH, folder);
    remove_empty_folders(folder, is_relative_folder(f.folder) ? base : nullptr);
  }
  heap_free(base);
}

void remove_shortcuts(const CheckedLog& log, char* path, char* base, RemovalReport* report) {
  LogCursor cursor = shortcut_entries(log);
  LogLinkEntry s;
  while (next_shortcut(&cursor, &s)) {
    if (logged_path(path, MAX_PATH, "", s.folder, s.name))
      count(report, delete_logged_file(path), path);
    else
      report->failed++;
  }
  cursor = shortcut_entries(log);
  while (next_shortcut(&cursor, &s)) {
    if (!logged_folder(path, MAX_PATH, "", s.folder)) continue;
    remove_empty_folders(path, start_menu_base(path, base) ? base : nullptr);
  }
}

// A log text as a terminated string; texts are at most 259 characters.
const char* terminated(LogText t, char* out) {
  uint16_t n = t.length < MAX_PATH ? t.length : MAX_PATH - 1;
  for (uint16_t i = 0; i < n; i++) out[i] = t.text[i];
  out[n] = 0;
  return out;
}

HKEY root_key(uint32_t root) {
  return (HKEY)(ULONG_PTR)(LONG)root; // the handle value, sign-extended as Windows defines it
}

bool key_is_empty(HKEY root, const char* path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 1, values = 1;
  LONG r = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL,
                            NULL);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// What the value record names: the values and INI entries first (and the
// sections they leave empty), then the
// keys that are empty now (deepest first: a pass per level, as a parent
// comes before its children in the log), then INI files without a section.
void remove_values(const CheckedLog& log, char* a, char* b, char* c, RemovalReport* report) {
  LogCursor cursor = value_entries(log);
  LogValueEntry v;
  while (next_value(&cursor, &v)) {
    if (v.kind == LOGGED_VALUE_REGISTRY) {
      HKEY key;
      if (RegOpenKeyExA(root_key(v.root), terminated(v.a, a), 0, KEY_SET_VALUE, &key) !=
          ERROR_SUCCESS)
        continue; // the key is gone, and the value with it
      LONG r = RegDeleteValueA(key, terminated(v.b, b));
      RegCloseKey(key);
      if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) report->failed++;
    } else if (v.kind == LOGGED_VALUE_INI) {
      terminated(v.a, a);
      WritePrivateProfileStringA(terminated(v.b, b), terminated(v.c, c), NULL, a);
      // A section left without any entry goes too: it holds nothing.
      if (GetPrivateProfileSectionA(b, c, 4, a) == 0) WritePrivateProfileStringA(b, NULL, NULL, a);
      WritePrivateProfileStringA(NULL, NULL, NULL, a);
    }
  }
  for (bool removed = true; removed;) {
    removed = false;
    cursor = value_entries(log);
    while (next_value(&cursor, &v)) {
      if (v.kind != LOGGED_VALUE_KEY || !key_is_empty(root_key(v.root), terminated(v.a, a)))
        continue;
      if (RegDeleteKeyA(root_key(v.root), a) == ERROR_SUCCESS) removed = true;
    }
  }
  cursor = value_entries(log);
  while (next_value(&cursor, &v)) {
    if (v.kind != LOGGED_VALUE_INI_FILE) continue;
    terminated(v.a, a);
    // A file that still holds a section keeps it: another program's entries.
    if (GetFileAttributesA(a) == INVALID_FILE_ATTRIBUTES ||
        GetPrivateProfileSectionNamesA(b, MAX_PATH, a) != 0)
      continue;
    count(report, delete_logged_file(a), a);
  }
}

} // namespace

void (*g_removal_progress)(uint32_t done, uint32_t total) = nullptr;

void load_protected_folders() {
  release_protected_folders();
  g_protected.paths = (char(*)[MAX_PATH])heap_alloc((size_t)PROTECTED_COUNT * MAX_PATH, true);
  if (!g_protected.paths) return;
  char path[MAX_PATH];
  for (int csidl : PROTECTED_CSIDLS) {
    special_folder(csidl, path);
    add_protected(path);
  }
  UINT n = GetWindowsDirectoryA(path, MAX_PATH);
  if (n && n < MAX_PATH) add_protected(path);
  n = GetSystemDirectoryA(path, MAX_PATH);
  if (n && n < MAX_PATH) add_protected(path);
  DWORD t = GetTempPathA(MAX_PATH, path);
  if (t && t < MAX_PATH) add_protected(path);
}

void release_protected_folders() {
  free_and_clear(g_protected.paths);
  g_protected.count = 0;
}

bool is_protected_folder(const char* folder) {
  if (is_root(folder)) return true;
  // Without the list nothing but the roots would be safe: keep everything.
  if (!g_protected.paths) return true;
  char trimmed[MAX_PATH];
  if (!text_copy(trimmed, sizeof trimmed, folder)) return true;
  remove_trailing_backslash(trimmed);
  for (int i = 0; i < g_protected.count; i++)
    if (equals_nocase(trimmed, g_protected.paths[i])) return true;
  return false;
}

void remove_empty_folders(char* folder, const char* base) {
  for (;;) {
    if (is_protected_folder(folder)) return;
    if (base && !is_below(folder, base)) return;
    if (!RemoveDirectoryA(folder)) return;
    if (!base || !cut_last_component(folder)) return;
  }
}

DeleteResult delete_logged_file(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? DELETE_GONE
                                                                          : DELETE_FAILED;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return DELETE_FAILED; // not a file we placed
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path)) return DELETE_REMOVED;
  if (GetLastError() == ERROR_FILE_NOT_FOUND) return DELETE_GONE;
  // In use (a running program, a loaded library, an open document): deleted
  // at the next start of Windows. On the 95 family the WININIT.INI line
  // cannot be checked afterwards; it counts as scheduled.
  if (g_app.platform_nt) {
    if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) return DELETE_SCHEDULED;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes);
    return DELETE_FAILED;
  }
  schedule_replacement(nullptr, path);
  return DELETE_SCHEDULED;
}

SharedUse release_shared_use(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    &key) != ERROR_SUCCESS)
    return SHARED_UNCOUNTED;
  DWORD count = 0, size = sizeof count, type = 0;
  SharedUse use = SHARED_UNCOUNTED;
  // A count that is missing or of another shape is not ours to interpret:
  // the file stays, as another program may rely on it.
  if (RegQueryValueExA(key, path, NULL, &type, (BYTE*)&count, &size) == ERROR_SUCCESS &&
      size == sizeof count && (type == REG_DWORD || type == REG_BINARY)) {
    if (count > 1) {
      count--;
      RegSetValueExA(key, path, 0, type, (const BYTE*)&count, sizeof count);
      use = SHARED_STILL_USED;
    } else {
      use = RegDeleteValueA(key, path) == ERROR_SUCCESS ? SHARED_LAST_USE : SHARED_STILL_USED;
    }
  }
  RegCloseKey(key);
  return use;
}

bool remove_uninstall_key(const CheckedLog& log, const char* own_path) {
  char name[MAX_PATH];
  if (!uninstall_key_name(log, name, sizeof name)) return false;
  char parent_path[sizeof UNINSTALL_KEY_PREFIX];
  text_copy(parent_path, sizeof parent_path, UNINSTALL_KEY_PREFIX);
  remove_trailing_backslash(parent_path);
  HKEY parent, key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent_path, 0, KEY_READ | KEY_WRITE, &parent) !=
      ERROR_SUCCESS)
    return false;
  bool removed = false;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    char command[MAX_PATH + 2] = "";
    DWORD size = sizeof command - 1, type = 0, subkeys = 1;
    LONG read = RegQueryValueExA(key, "UninstallString", NULL, &type, (BYTE*)command, &size);
    if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL, NULL,
                         NULL) != ERROR_SUCCESS)
      subkeys = 1;
    RegCloseKey(key);
    // A later installation of the same product may have taken the key over:
    // it stays when it names another uninstaller.
    bool ours = read != ERROR_SUCCESS || same_file(command, own_path);
    // Only this one key: on the Windows 95 family RegDeleteKeyA would take
    // subkeys with it.
    if (ours && subkeys == 0) removed = RegDeleteKeyA(parent, name) == ERROR_SUCCESS;
  }
  RegCloseKey(parent);
  return removed;
}

bool same_file(const char* a, const char* b) {
  char unquoted[MAX_PATH];
  // A hand-edited UninstallString may be quoted.
  if (a[0] == '"') {
    text_copy_cut(unquoted, sizeof unquoted, a + 1);
    size_t n = text_length(unquoted);
    if (n && unquoted[n - 1] == '"') unquoted[n - 1] = 0;
    a = unquoted;
  }
  if (equals_nocase(a, b)) return true;
  char short_a[MAX_PATH], short_b[MAX_PATH];
  DWORD na = GetShortPathNameA(a, short_a, MAX_PATH), nb = GetShortPathNameA(b, short_b, MAX_PATH);
  return na && na < MAX_PATH && nb && nb < MAX_PATH && equals_nocase(short_a, short_b);
}

void remove_logged_items(const CheckedLog& log, const char* install_folder, const char* own_path,
                         RemovalReport* report) {
  *report = RemovalReport();
  // Three path buffers for the walks.
  char* path = (char*)heap_alloc(3 * MAX_PATH);
  if (!path) {
    report->failed = log.file_count + log.shortcut_count + log.value_count;
    return;
  }
  char* second = path + MAX_PATH;
  // The values first: an INI file the installation created may lie in a
  // folder that is to be removed.
  remove_values(log, path, second, second + MAX_PATH, report);
  remove_files(log, install_folder, own_path, path, report);
  remove_file_folders(log, install_folder, path, second);
  remove_shortcuts(log, path, second, report);
  heap_free(path);
  remove_uninstall_key(log, own_path);
}
