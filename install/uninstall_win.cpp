// The uninstall record and the registrations around it: the log appended to
// the uninstaller file, the uninstall key, the install folder recorded for a
// later installation, and running the uninstallers of earlier installations.
#include <windows.h>
#include <shlobj.h>

#include "common/file.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/lists.h"
#include "install/restart.h"
#include "install/shortcuts.h"
#include "install/uninstall_log.h"
#include "package/file_entry.h"
#include "package/package.h"

namespace {

// Room for an uninstall string as Windows shows it in its own dialogs.
enum { UNINSTALL_STRING_SIZE = 360 };
const DWORD DELETE_WAIT_MS = 3000;

void set_string_value(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)text_length(text) + 1);
}

void register_uninstall_key(const char* key_path, const char* key_name,
                            const char* uninstaller_path) {
  HKEY key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return;
  set_string_value(key, "DisplayName", key_name);
  set_string_value(key, "UninstallString", uninstaller_path); // the bare path
  RegCloseKey(key);
}

// The file log record. Its header takes the place of the 8 bytes reserved at
// the end of the placed uninstaller file (E0 - 8); its body starts at E0.
void write_file_log_record(FileHandle f, uint32_t e0) {
  uint8_t zero[4] = {0, 0, 0, 0};
  file_write_exact(f, zero, 4); // the count, completed below
  uint32_t count = 0;
  char desktop[PATH_SIZE], link[PATH_SIZE];
  uint8_t* record = g_package.first_entry;
  for (uint32_t i = 0; record && i < g_package.entry_count; i++, record = next_entry(record)) {
    const FileEntry e = file_entry(record);
    resolve_destination(e);
    if (entry_is_logged(e) && g_app.destination_path[0]) {
      write_file_log_entry(f, g_app.destination_path, file_log_flags(e));
      count++;
    }
    // Desktop shortcuts are logged from the entries, whatever became of
    // the entry or its link.
    const char* desktop_name = e.desktop_name;
    if (desktop_name[0] && special_folder_path(CSIDL_DESKTOP, desktop) &&
        text_copy(link, PATH_SIZE, desktop) && append_backslash(link, PATH_SIZE) &&
        text_append(link, PATH_SIZE, desktop_name) && text_append(link, PATH_SIZE, ".lnk")) {
      write_file_log_entry(f, link, 0);
      count++;
    }
  }
  finish_counted_record(f, e0 - RECORD_HEADER_SIZE, LOG_TAG_FILES, count);
}

} // namespace

void write_uninstall_log(const char* uninstaller_path) {
  FileHandle f = file_open(uninstaller_path, FILE_READ_WRITE);
  uint32_t e0 = f != INVALID_FILE ? file_seek(f, 0, FROM_END) : FILE_BAD_POSITION;
  // A file too short to hold the first header gets no log at all; its
  // shortcuts and its key are still made.
  if (f != INVALID_FILE && (e0 == FILE_BAD_POSITION || e0 < RECORD_HEADER_SIZE)) {
    file_close(f);
    f = INVALID_FILE;
  }
  append_backslash(g_app.install_folder, PATH_SIZE);
  if (f != INVALID_FILE) write_file_log_record(f, e0);
  make_start_menu_shortcuts(f);

  const LanguageRecord* language = g_package.current_language;
  const char* key_name = language ? language->uninstall_key : nullptr;
  char key_path[PATH_SIZE];
  if (key_name && key_name[0] && uninstall_key_path(key_path, PATH_SIZE, key_name)) {
    register_uninstall_key(key_path, key_name, uninstaller_path);
    if (f != INVALID_FILE) write_key_log_record(f, key_path);
  }
  if (f != INVALID_FILE) {
    write_end_record(f);
    file_close(f);
  }
}

void register_install_folder() {
  const LanguageRecord* language = g_package.current_language;
  if (!language) return;
  const char* folder = g_app.install_folder;
  if ((language->flags & LANG_STORE_FOLDER_REGISTRY) && language->registry_key) {
    HKEY root = list_root_key(language->registry_root);
    HKEY key;
    if (root && RegCreateKeyA(root, language->registry_key, &key) == ERROR_SUCCESS) {
      set_string_value(key, language->registry_value, folder); // null: the default value
      RegCloseKey(key);
    }
  }
  if ((language->flags & LANG_STORE_FOLDER_INI) && language->ini_file && language->ini_section &&
      language->ini_key) {
    WritePrivateProfileStringA(language->ini_section, language->ini_key, folder,
                               language->ini_file);
    WritePrivateProfileStringA(NULL, NULL, NULL, language->ini_file);
  }
}

void remove_previous_installations() {
  for (int b = 0; b < g_package.block_count; b++) {
    if (b == g_package.current_block) continue;
    const LanguageBlock& block = g_package.blocks[b];
    const Buffer& list = block.file_list;
    if (!list.data || read_u32(list.data) == 0) continue;
    if (!(entry_flags(list.data + 4) & ENTRY_UNINSTALLER)) continue;
    const char* key_name = block.language.uninstall_key;
    char key_path[PATH_SIZE];
    if (!key_name || !key_name[0] || !uninstall_key_path(key_path, PATH_SIZE, key_name)) continue;

    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) continue;
    char path[UNINSTALL_STRING_SIZE] = {};
    DWORD size = UNINSTALL_STRING_SIZE - 1; // a stored value without its NUL stays terminated
    LONG read = RegQueryValueExA(key, "UninstallString", NULL, NULL, (BYTE*)path, &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) continue;
    FileHandle f = file_open(path, FILE_READ);
    if (f == INVALID_FILE) continue;
    file_close(f);

    if (!run_and_wait(path, "/X")) continue;
    // The uninstaller may still hold its own file for a moment after its
    // process has ended. The short sleep keeps the loop off the processor.
    DWORD ended = GetTickCount();
    MSG message;
    while (!DeleteFileA(path) && GetTickCount() - ended < DELETE_WAIT_MS) {
      PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
      Sleep(20);
    }
  }
}
