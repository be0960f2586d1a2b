// The install driver: one file entry per step, driven by the progress page's
// timer, and the destination of a file entry.
#include <windows.h>
#include <shlobj.h>

#include "app/app.h"
#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/place_file.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "ui/ui.h"

namespace {

const char SHARED_DLLS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The part of `path` behind its last backslash (all of it without one).
const char* file_name_of(const char* path) {
  const char* sep = last_separator(path);
  return sep ? sep + 1 : path;
}

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

bool resolve_into(const uint8_t* entry, char* dest) {
  const char* target = entry_string(entry, STR_TARGET);
  if (!text_copy(dest, DESTINATION_SIZE, g_app.install_folder)) return false;
  if (entry_removal_mode(entry) == REMOVAL_NOT_INSTALLED) {
    // The file lies beside the package file.
    if (!text_copy(dest, DESTINATION_SIZE, g_app.package_path)) return false;
    const char* sep = last_separator(dest);
    dest[sep ? sep - dest + 1 : 0] = 0;
    return text_append(dest, DESTINATION_SIZE, target);
  }
  switch (entry_destination(entry)) {
  case DEST_WINDOWS: {
    UINT n = GetWindowsDirectoryA(dest, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE) return false;
    break;
  }
  case DEST_FONT: {
    LPITEMIDLIST list = NULL;
    if (SHGetSpecialFolderLocation(NULL, CSIDL_FONTS, &list) == S_OK && list) {
      char fonts[MAX_PATH];
      if (SHGetPathFromIDListA(list, fonts)) text_copy(dest, DESTINATION_SIZE, fonts);
      CoTaskMemFree(list);
    }
    break;
  }
  default:
    break;
  }
  return append_backslash(dest, DESTINATION_SIZE) && text_append(dest, DESTINATION_SIZE, target);
}

void self_register(const char* path) {
  HMODULE module = LoadLibraryA(path);
  if (!module) return;
  typedef HRESULT(STDAPICALLTYPE * RegisterServer)();
  RegisterServer fn = (RegisterServer)(void*)GetProcAddress(module, "DllRegisterServer");
  if (fn) fn();
  FreeLibrary(module);
}

} // namespace

bool resolve_destination(const uint8_t* entry) {
  char* dest = g_app.destination_path;
  bool in_use = false;
  bool ok;
  if (entry_removal_mode(entry) != REMOVAL_NOT_INSTALLED &&
      entry_destination(entry) == DEST_SHARED_SYSTEM) {
    ok = text_copy(dest, DESTINATION_SIZE, g_app.install_folder);
    if (ok) in_use = resolve_shared_file(entry_string(entry, STR_TARGET), dest);
    ok = ok && dest[0];
  } else {
    ok = resolve_into(entry, dest);
  }
  // No ANSI file call takes a path of MAX_PATH characters or more.
  if (!ok || text_length(dest) >= PATH_SIZE) {
    dest[0] = 0;
    return false;
  }
  return in_use;
}

void count_shared_use(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  DWORD count = 0, type = 0, size = sizeof count;
  if (RegQueryValueExA(key, path, NULL, &type, (BYTE*)&count, &size) != ERROR_SUCCESS) {
    count = 1;
    type = REG_DWORD;
  } else {
    count++;
  }
  RegSetValueExA(key, path, 0, type, (const BYTE*)&count, sizeof count);
  RegCloseKey(key);
}

int prepare_installation() {
  g_install.error_code = 0;
  g_install.entry_index = -1;
  g_install.next_entry = g_package.first_entry;
  g_app.uninstaller_path[0] = 0;
  if (g_package.setup_flags & SETUP_REMOVE_PREVIOUS) remove_previous_installations();
  int err = open_archive();
  if (err) {
    g_install.error_code = (uint32_t)err;
    return 0;
  }
  g_install.installing = true;
  return 1;
}

int install_step() {
  uint32_t count = g_package.entry_count;
  uint32_t start_percent = count ? (uint32_t)((g_install.entry_index + 1) * 100ull / count) : 0;
  g_install.entry_index++;
  if (!g_install.next_entry || (uint32_t)g_install.entry_index >= count) return 0;
  uint8_t* entry = g_install.next_entry;
  g_install.next_entry = next_entry(entry);

  set_entry_status(entry, STATUS_NONE);
  g_app.temp_path[0] = 0;
  bool in_use = resolve_destination(entry);
  const char* dest = g_app.destination_path;
  if (!dest[0]) { // the full path is too long for any file call
    g_install.error_code = PLACE_ERR_CREATE;
    text_copy_cut(g_app.error_file_name, PATH_SIZE, entry_string(entry, STR_TARGET));
    return 0;
  }
  show_current_file(dest);
  bool uninstaller = (entry_flags(entry) & ENTRY_UNINSTALLER) != 0;
  if (uninstaller) text_copy(g_app.uninstaller_path, PATH_SIZE, dest);
  uint32_t end_percent = (uint32_t)((g_install.entry_index + 1) * 100ull / count);

  if (entry_removal_mode(entry) != REMOVAL_NOT_INSTALLED) {
    if (!place_file(entry, dest, in_use, start_percent, end_percent)) {
      if (g_app.temp_path[0]) delete_file(g_app.temp_path);
      return 0;
    }
    if (uninstaller) set_entry_status(entry, STATUS_NONE); // never logged as an installed file
    if (entry_destination(entry) != DEST_INSTALL_FOLDER && entry_shared_count(entry) == 1)
      count_shared_use(dest);
    if (entry_destination(entry) == DEST_FONT && AddFontResourceA(dest))
      SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    if (entry_special(entry) == SPECIAL_SCREEN_SAVER) g_install.screen_saver = entry;
    if (entry_special(entry) == SPECIAL_SELF_REGISTER) self_register(dest);
  }
  if (entry_end_action(entry) == END_OPEN_DOCUMENT) g_install.document = entry;
  if (entry_end_action(entry) == END_START_PROGRAM) g_install.program = entry;
  if (entry_string(entry, STR_DESKTOP_NAME)[0])
    create_desktop_shortcut(dest, entry_string(entry, STR_DESKTOP_NAME),
                            entry_string(entry, STR_DESKTOP_ARGS));
  report_progress(end_percent);
  return 1;
}

void finish_installation() {
  close_archive();
  if (g_install.error_code == 0) {
    if (g_app.uninstaller_path[0])
      write_uninstall_log(g_app.uninstaller_path); // also makes the Start-menu shortcuts
    else
      create_start_menu_shortcuts();
    remove_trailing_backslash(g_app.install_folder);
    register_install_folder();
    apply_ini_list();
    apply_registry_list();
    apply_patch_list();
    append_backslash(g_app.install_folder, PATH_SIZE);
  }
  if (g_package.start_page == WHOLE_WIZARD) go_to_page(7);
  g_install.installing = false;
}
