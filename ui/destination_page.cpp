// The destination page (page 4): the install folder in an edit field, the
// space the installation needs and the space free on the folder's disk, the
// folder browser, and on Next the checks that let the wizard go on: the
// folder exists (or is created with the user's consent), the disk has room,
// and every file that will be replaced can be written.
//
// While the page runs the install folder follows the edit field as typed;
// Next leaves it as a full path ending in a backslash.
#include "ui/destination_page.h"

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

enum { MESSAGE_SIZE = 1024 };

// The page's own strings of its table (TABLE_DESTINATION).
enum DestinationString : unsigned {
  DESTINATION_SPACE_NEEDED = 5, // label of the space the installation needs
  DESTINATION_SPACE_FREE = 6,   // label of the space free on the disk
  DESTINATION_MEGABYTES = 7,    // "%d MB"
};

const char* destination_string(unsigned number) {
  return get_string(TABLE_DESTINATION, number);
}

DiskFreeSpaceQuery disk_free_space = GetDiskFreeSpaceA;
// The call that reads the free bytes beyond 2 GB, where the system has it
// (looked up on first use; the first Windows 95 lacks it).
DiskFreeSpaceExQuery disk_free_space_ex;
bool disk_free_space_ex_known;

DiskFreeSpaceExQuery free_bytes_query() {
  if (!disk_free_space_ex_known) {
    disk_free_space_ex_known = true;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
      disk_free_space_ex =
          (DiskFreeSpaceExQuery)(void*)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
  }
  return disk_free_space_ex;
}

// The figures of the disk holding `path`: its cluster size and the bytes free
// to this user, in 64 bits. The cluster size is 0 when only the free bytes
// could be read.
bool disk_figures(const char* path, uint64_t* cluster_bytes, uint64_t* free_bytes) {
  char root[PATH_SIZE];
  const char* query = path;
  if (!(path[0] == '\\' && path[1] == '\\')) {
    text_copy_cut(root, sizeof root, path);
    if (root[0] && root[1] == ':') {
      root[2] = '\\';
      root[3] = 0;
    }
    query = root;
  }
  DWORD sectors = 0, bytes = 0, free = 0, total = 0;
  bool known = disk_free_space(query, &sectors, &bytes, &free, &total) != 0;
  *cluster_bytes = known ? (uint64_t)sectors * bytes : 0;
  // Counted in whole 256-byte units of a cluster, as the free space always was.
  uint64_t unit = *cluster_bytes >> 8 << 8;
  *free_bytes = unit && free > UINT64_MAX / unit ? UINT64_MAX : unit * free;
  ULARGE_INTEGER available, disk_total, disk_free;
  DiskFreeSpaceExQuery ex = free_bytes_query();
  if (ex && ex(query, &available, &disk_total, &disk_free)) {
    *free_bytes = available.QuadPart;
    known = true;
  }
  return known;
}

// KB that `bytes` take on a disk with clusters of `cluster_kb` (>= 1) KB:
// whole clusters. Counted in KB, the sums and divisions stay in 32 bits (for
// files under 4 TB) and equal the byte figures exactly, since a cluster is a
// whole number of KB.
uint32_t clusters_kb(uint64_t bytes, uint32_t cluster_kb) {
  uint64_t kb64 = (bytes + 1023) >> 10;
  uint32_t kb = kb64 < 0xFFFFFFFFu - cluster_kb ? (uint32_t)kb64 : 0xFFFFFFFFu - cluster_kb;
  return (kb + cluster_kb - 1) / cluster_kb * cluster_kb;
}

// Size of an existing file or folder; false when nothing of that name exists.
bool existing_size(const char* path, uint64_t* size) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  *size = ((uint64_t)found.nFileSizeHigh << 32) | found.nFileSizeLow;
  return true;
}

// A file that is about to be replaced must be writable. A read-only one is
// noted (the ready page asks about it) and proved changeable by clearing its
// read-only attribute for a moment; it stays read-only until it is replaced.
bool can_be_made_writable(const char* path) {
  DWORD before = GetFileAttributesA(path);
  if (before != INVALID_FILE_ATTRIBUTES && !(before & FILE_ATTRIBUTE_READONLY)) return true;
  g_ui.read_only_files_found = true;
  if (before != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(path, before & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  DWORD now = GetFileAttributesA(path);
  bool writable = now != INVALID_FILE_ATTRIBUTES && !(now & FILE_ATTRIBUTE_READONLY);
  DWORD restore = before != INVALID_FILE_ATTRIBUTES ? before : now;
  if (restore != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(path, restore | FILE_ATTRIBUTE_READONLY);
  return writable;
}

// "%d MB" with a number of megabytes.
void show_megabytes(HWND page, int id, uint64_t megabytes) {
  char text[PATH_SIZE];
  format_text(text, sizeof text, destination_string(DESTINATION_MEGABYTES),
              number_arg((long)megabytes));
  set_control_text(page, id, text);
}

// What the files of the current block take, each rounded up to 32 KB.
void show_space_needed(HWND page) {
  uint64_t sum = 0;
  uint8_t* record = g_package.first_entry;
  for (uint32_t i = 0; record && i < g_package.entry_count; i++, record = next_entry(record))
    sum += (entry_file_size(record) + 0x7FFFull) & ~0x7FFFull;
  show_megabytes(page, IDC_SPACE_NEEDED, (sum + 0xFFFFF) >> 20);
}

void show_space_free(HWND page) {
  uint32_t kb = free_space_kb(g_app.install_folder);
  if (kb == SPACE_UNKNOWN) kb = 0;
  show_megabytes(page, IDC_SPACE_FREE, ((uint64_t)kb + 1023) >> 10);
}

void read_folder_field(HWND page) {
  g_app.install_folder[0] = 0;
  GetDlgItemTextA(page, IDC_FOLDER, g_app.install_folder, PATH_SIZE);
}

// The edit field shows the folder without its trailing backslash (a drive
// root keeps it); setting it refreshes the space-free line.
void show_folder(HWND page) {
  remove_trailing_backslash(g_app.install_folder);
  SetDlgItemTextA(page, IDC_FOLDER, g_app.install_folder);
}

void set_status_lines(HWND page, const char* line1, const char* line2, const char* line3) {
  set_control_text(page, IDC_TEXT2, line1);
  set_control_text(page, IDC_TEXT3, line2);
  set_control_text(page, IDC_TEXT4, line3);
}

// A folder name component that Windows keeps for a device, with or without
// an extension (CON, nul.txt, COM1, LPT9...).
bool is_device_name(const char* name, size_t length) {
  size_t n = 0;
  while (n < length && name[n] != '.') n++;
  while (n && name[n - 1] == ' ') n--;
  static const char devices[] = "CON\0PRN\0AUX\0NUL\0COM\0LPT";
  for (const char* d = devices; d < devices + sizeof devices; d += 4) {
    bool numbered = d >= devices + 16;
    if (n == 3u + numbered && compare_nocase_n(name, d, 3) == 0 &&
        (!numbered || (name[3] >= '1' && name[3] <= '9')))
      return true;
  }
  return false;
}

// A typed folder that can name a folder: not empty, none of the characters
// that no name may hold (a colon only after a drive letter), no device name.
bool is_folder_name(const char* text) {
  if (!text[0]) return false;
  const char* part = text;
  for (const char* p = text;; p = CharNextA(p)) {
    unsigned char c = (unsigned char)*p;
    if (c == '\\' || c == '/' || !c) {
      if (is_device_name(part, (size_t)(p - part))) return false;
      if (!c) return true;
      part = p + 1;
    } else if (c < ' ' || (c == ':' && p != text + 1)) {
      return false;
    } else {
      for (const char* bad = "<>\"|?*"; *bad; bad++)
        if (c == (unsigned char)*bad) return false;
    }
  }
}

// A full path: a drive root (C:\...) or a network share (\\server\...).
bool is_full_path(const char* path) {
  if (path[0] == '\\') return path[1] == '\\' && path[2] && path[2] != '.' && path[2] != '\\';
  return path[0] && path[1] == ':' && path[2] == '\\';
}

} // namespace

bool have_install_folder() {
  char* folder = g_app.install_folder;
  if (SetCurrentDirectoryA(folder)) return true;
  if (show_message(get_message(MESSAGE_CREATE_FOLDER), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  append_backslash(folder, PATH_SIZE);
  create_folders_of_path(folder);
  remove_trailing_backslash(folder);
  if (SetCurrentDirectoryA(folder)) return true;
  show_message(get_message(MESSAGE_FOLDER_NOT_CREATED), MB_ICONINFORMATION);
  return false;
}

namespace {

// "Setup cannot install here" followed by the message of the check's result.
void show_check_failure(CheckResult result) {
  char* text = (char*)heap_alloc(MESSAGE_SIZE);
  if (!text) return;
  text_copy_cut(text, MESSAGE_SIZE, get_message(MESSAGE_CANNOT_INSTALL_HERE));
  size_t used = text_length(text);
  text_copy_cut(text + used, MESSAGE_SIZE - used, "\n\n");
  used = text_length(text);
  format_message(text + used, (unsigned)(MESSAGE_SIZE - used), (unsigned)result);
  show_message(text, MB_ICONINFORMATION);
  heap_free(text);
}

// Next: the typed folder as a full path in the install folder (without its
// trailing backslash), or false, after a message naming what was typed, when
// it is no folder name, cannot be made a full path, or leaves no room in the
// path buffers for the files' names.
bool take_typed_folder(HWND page) {
  read_folder_field(page);
  if (take_folder_name(GetWindowTextLengthA(GetDlgItem(page, IDC_FOLDER)) < PATH_SIZE)) return true;
  show_check_failure((CheckResult)MESSAGE_INVALID_FOLDER);
  return false;
}

// Next: true when the wizard may go on to the ready page.
bool validate_folder(HWND page) {
  char* folder = g_app.install_folder;
  if (!take_typed_folder(page) || !have_install_folder()) return false;

  append_backslash(folder, PATH_SIZE);
  set_status_lines(page, get_message(MESSAGE_CHECKING_FOLDER), "", "");
  CheckResult result = check_space_and_access();
  if (result == CHECK_LOW_SPACE) {
    if (show_message(get_message(MESSAGE_LOW_SPACE), MB_YESNO | MB_ICONQUESTION) == IDYES)
      result = CHECK_OK; // the user installs anyway
  } else if (result != CHECK_OK) {
    show_check_failure(result);
  }
  if (result == CHECK_OK) return true;
  set_status_lines(page, destination_string(PAGE_TEXT2), destination_string(PAGE_TEXT3),
                   destination_string(PAGE_TEXT4));
  return false;
}

void browse(HWND page) {
  read_folder_field(page);
  browse_for_folder(page, g_app.install_folder);
  show_folder(page);
}

BOOL on_init(HWND page) {
  page_start(page, BUTTON_ALL);
  show_folder(page);
  append_backslash(g_app.install_folder, PATH_SIZE);
  set_control_text(page, IDC_SPACE_NEEDED_LABEL, destination_string(DESTINATION_SPACE_NEEDED));
  set_control_text(page, IDC_SPACE_FREE_LABEL, destination_string(DESTINATION_SPACE_FREE));
  show_space_needed(page);
  show_space_free(page);
  if (g_package.current_language && (g_package.current_language->flags & LANG_FOLDER_CHANGEABLE)) {
    SetFocus(GetDlgItem(page, IDC_FOLDER));
    return FALSE;
  }
  SendDlgItemMessageA(page, IDC_FOLDER, EM_SETREADONLY, TRUE, 0);
  HWND browse_button = GetDlgItem(page, IDC_BROWSE);
  if (browse_button) EnableWindow(browse_button, FALSE);
  return TRUE;
}

// Edit notifications and Browse work in every run; Next and Back are the
// page's own only in the whole wizard: a single-page run leaves them to the
// main dialog (Next is not validated there).
INT_PTR on_command(HWND page, int id) {
  bool whole_wizard = g_package.start_page == WHOLE_WIZARD;
  switch (id) {
  case IDC_FOLDER:
    read_folder_field(page);
    show_space_free(page);
    break;
  case IDC_BROWSE:
    browse(page);
    break;
  case IDC_NEXT:
    if (whole_wizard && !validate_folder(page)) return handled(page);
    break;
  case IDC_BACK:
    if (!whole_wizard) break;
    go_to_page(g_package.block_count > 1    ? SLOT_LANGUAGE
               : information_text_present() ? SLOT_INFORMATION
                                            : SLOT_WELCOME);
    return handled(page);
  }
  return FALSE;
}

} // namespace

bool take_folder_name(bool fits) {
  char* folder = g_app.install_folder;
  remove_trailing_backslash(folder);
  char full[PATH_SIZE];
  DWORD n = fits && is_folder_name(folder) ? GetFullPathNameA(folder, PATH_SIZE, full, NULL) : 0;
  if (n && n < PATH_SIZE - 1 && is_full_path(full)) {
    text_copy(folder, PATH_SIZE, full);
    remove_trailing_backslash(folder);
    return true;
  }
  text_copy_cut(g_app.error_file_name, PATH_SIZE, folder);
  return false;
}

uint32_t free_space_kb(const char* path) {
  uint64_t cluster_bytes, free_bytes;
  if (!disk_figures(path, &cluster_bytes, &free_bytes)) return SPACE_UNKNOWN;
  uint64_t kb = free_bytes >> 10;
  return kb < SPACE_UNKNOWN ? (uint32_t)kb : SPACE_UNKNOWN - 1;
}

uint32_t cluster_size_kb(const char* path) {
  uint64_t cluster_bytes, free_bytes;
  if (!disk_figures(path, &cluster_bytes, &free_bytes) || !cluster_bytes) return 32;
  return (uint32_t)((cluster_bytes + 1023) >> 10);
}

void set_disk_free_space_query(DiskFreeSpaceQuery query, DiskFreeSpaceExQuery ex_query) {
  disk_free_space = query ? query : GetDiskFreeSpaceA;
  disk_free_space_ex = ex_query;
  disk_free_space_ex_known = query != nullptr;
}

// The largest file is counted twice: it is decoded into a temporary file
// beside its target before the two are swapped.
CheckResult check_space_and_access() {
  uint32_t free_kb = free_space_kb(g_app.install_folder);
  uint32_t cluster_kb = cluster_size_kb(g_app.install_folder);
  if (!cluster_kb) cluster_kb = 1; // a disk reporting nonsense
  g_ui.read_only_files_found = false;
  uint64_t total_kb = 0;
  uint32_t largest_kb = 0;
  uint8_t* record = g_package.first_entry;
  for (uint32_t i = 0; record && i < g_package.entry_count; i++, record = next_entry(record)) {
    const FileEntry e = file_entry(record);
    bool in_use = resolve_destination(e);
    uint32_t r = clusters_kb(e.file_size, cluster_kb);
    if (r > largest_kb) largest_kb = r;
    if (e.removal_mode() == REMOVAL_NOT_INSTALLED) continue; // stays in the source folder
    const char* path = g_app.destination_path;
    uint64_t size;
    if (!existing_size(path, &size)) {
      total_kb += r;
      continue;
    }
    uint32_t s = clusters_kb(size, cluster_kb);
    if (s < r) total_kb += r - s;
    if (e.destination == DEST_FONT) {
      // A font that was there before this installation stays at uninstall.
      if (e.removal_mode() == REMOVAL_REMOVE) e.set_removal_mode(REMOVAL_KEEP);
      continue;
    }
    if (in_use) continue; // replaced at the next start of Windows
    if (!can_be_made_writable(path)) {
      text_copy_cut(g_app.error_file_name, PATH_SIZE, path);
      return CHECK_NOT_WRITABLE;
    }
  }
  uint64_t needed_kb = total_kb + largest_kb;
  if (free_kb == SPACE_UNKNOWN || needed_kb < free_kb) return CHECK_OK;
  return CHECK_LOW_SPACE;
}

INT_PTR CALLBACK destination_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    return on_init(page);
  case WM_COMMAND:
    if (INT_PTR result = on_command(page, LOWORD(wparam))) return result;
    break;
  }
  return control_colors(message, wparam);
}
