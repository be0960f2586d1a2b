// Desktop and Start-menu shortcuts, written as shell links.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/install_log.h"
#include "install/shortcuts.h"
#include "install/uninstall_log.h"
#include "package/file_entry.h"
#include "package/package.h"

namespace {

const char LINK_EXTENSION[] = ".lnk";

// folder + backslash (when it has none) + name + ".lnk" into `link`
// (capacity 260); false when the whole path does not fit.
bool build_link_path(char* link, const char* folder, const char* name) {
  return text_copy(link, PATH_SIZE, folder) && append_backslash(link, PATH_SIZE) &&
         text_append(link, PATH_SIZE, name) && text_append(link, PATH_SIZE, LINK_EXTENSION);
}

// Makes `folder` the process's current folder, creating it (and every
// missing folder above it) when it cannot be entered. `folder` has room for
// a trailing backslash.
bool enter_or_create_folder(char* folder) {
  if (SetCurrentDirectoryA(folder)) return true;
  if (!append_backslash(folder, PATH_SIZE)) return false;
  create_folders_of_path(folder);
  return SetCurrentDirectoryA(folder) != 0;
}

// One Start-menu shortcut; with a log file, its folder (without the trailing
// backslash) and its link name are logged whatever the link's own fate.
void make_one_start_menu_shortcut(const char* target, const char* folder_text, const char* name,
                                  const char* arguments, int icon_index, FileHandle log) {
  int csidl = CSIDL_PROGRAMS;
  const char* subfolder = folder_text;
  if (equals_nocase(folder_text, "#Start Menu#")) {
    csidl = CSIDL_STARTMENU;
    subfolder = "";
  } else if (equals_nocase(folder_text, "#Startup#")) {
    csidl = CSIDL_STARTUP;
    subfolder = "";
  }
  char link[PATH_SIZE];
  if (!special_folder_path(csidl, link)) return;
  if (subfolder[0] &&
      !(append_backslash(link, PATH_SIZE) && text_append(link, PATH_SIZE, subfolder)))
    return;
  remove_trailing_backslash(link);
  // The whole link path must fit before any folder is made for it.
  char probe[PATH_SIZE];
  if (!build_link_path(probe, link, name)) return;
  if (!enter_or_create_folder(link)) return;
  append_backslash(link, PATH_SIZE);
  size_t folder_length = text_length(link);
  if (!text_append(link, PATH_SIZE, name) || !text_append(link, PATH_SIZE, LINK_EXTENSION)) return;

  create_shortcut(target, link, arguments, icon_index);
  if (log != INVALID_FILE) {
    write_log_string_n(log, link, (uint32_t)(folder_length - 1));
    write_log_string(log, link + folder_length);
  }
}

} // namespace

bool special_folder_path(int csidl, char* out) {
  out[0] = 0;
  LPITEMIDLIST list = NULL;
  if (SHGetSpecialFolderLocation(NULL, csidl, &list) != S_OK || !list) return false;
  char path[MAX_PATH] = "";
  bool ok = SHGetPathFromIDListA(list, path) && path[0];
  CoTaskMemFree(list);
  return ok && text_copy(out, PATH_SIZE, path);
}

HRESULT create_shortcut(const char* target, const char* link_path, const char* arguments,
                        int icon_index) {
  IShellLinkA* link = NULL;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link);
  if (FAILED(result)) return result;
  result = link->SetPath(target);
  const char* sep = last_separator(target);
  if (sep) {
    char folder[PATH_SIZE];
    size_t n = (size_t)(sep - target);
    if (n < PATH_SIZE) {
      for (size_t i = 0; i < n; i++) folder[i] = target[i];
      folder[n] = 0;
      result = link->SetWorkingDirectory(folder);
    }
  }
  if (arguments[0]) result = link->SetArguments(arguments);
  if (icon_index != 0) result = link->SetIconLocation(target, icon_index);
  IPersistFile* file = NULL;
  result = link->QueryInterface(IID_IPersistFile, (void**)&file);
  if (SUCCEEDED(result)) {
    WCHAR wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, MAX_PATH))
      result = file->Save(wide, TRUE);
    else
      result = E_FAIL;
    file->Release();
  }
  link->Release();
  if (SUCCEEDED(result)) install_log("shortcut\tcreated", link_path, target, nullptr);
  return result;
}

void create_desktop_shortcut(const char* target, const char* name, const char* arguments) {
  char folder[PATH_SIZE], link[PATH_SIZE];
  if (!special_folder_path(CSIDL_DESKTOP, folder)) return;
  if (!build_link_path(link, folder, name)) return;
  create_shortcut(target, link, arguments, 0);
}

void make_start_menu_shortcuts(FileHandle log) {
  uint32_t start = FILE_BAD_POSITION;
  bool record_open = false;
  uint32_t count = 0;
  char target[PATH_SIZE];
  uint8_t* record = g_package.first_entry;
  for (uint32_t i = 0; record && i < g_package.entry_count; i++, record = next_entry(record)) {
    const FileEntry e = file_entry(record);
    const char* name = e.menu_name;
    if (!name[0]) continue;
    resolve_destination(e);
    if (!text_copy(target, PATH_SIZE, g_app.destination_path) || !target[0]) continue;
    if (log != INVALID_FILE && !record_open) {
      start = begin_counted_record(log, LOG_TAG_SHORTCUTS);
      record_open = true;
    }
    FileHandle entry_log = start != FILE_BAD_POSITION ? log : INVALID_FILE;
    uint32_t before = entry_log != INVALID_FILE ? file_tell(entry_log) : 0;
    make_one_start_menu_shortcut(target, e.menu_folder, name, e.menu_args, e.icon_index, entry_log);
    if (entry_log != INVALID_FILE && file_tell(entry_log) != before) count++;
  }
  if (start != FILE_BAD_POSITION) finish_counted_record(log, start, LOG_TAG_SHORTCUTS, count);
}

void create_start_menu_shortcuts() {
  make_start_menu_shortcuts(INVALID_FILE);
}
