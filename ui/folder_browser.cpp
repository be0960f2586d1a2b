// The folder browser: the old-style (non-explorer) save-file common dialog,
// built on template 7 of the package, which hides the file controls and
// shows the folder list, the drive list and control 101 with the folder.
// Control 101 follows the folder the user moves to and may be typed into;
// OK ends the dialog with its text as the chosen folder.
#include <windows.h>
#include <commdlg.h>
#include <stddef.h>

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "package/script.h"
#include "ui/destination_page.h"
#include "ui/ui.h"

namespace {

// The structure as it was before the explorer-era fields (76 bytes on i686):
// with it the dialog takes the old-style template and hook. On x86_64 the
// same fields make 136 bytes.
const DWORD OLD_OPENFILENAME_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(OLD_OPENFILENAME_SIZE == 76, "the old OPENFILENAMEA is 76 bytes on i686");
#endif

// One browser is open at a time; its hook finds the result buffer here.
struct BrowserState {
  char* folder;           // 260 bytes: the initial folder, then the chosen one
  bool initialised;       // set once WM_INITDIALOG has run
  UINT selection_changed; // "commdlg_LBSelChangedNotify"
};
BrowserState browser;

void centre_over_parent(HWND dialog) {
  RECT parent, self;
  HWND owner = GetParent(dialog);
  if (owner) {
    GetWindowRect(owner, &parent);
  } else {
    parent.left = parent.top = 0;
    parent.right = GetSystemMetrics(SM_CXSCREEN);
    parent.bottom = GetSystemMetrics(SM_CYSCREEN);
  }
  GetWindowRect(dialog, &self);
  int x = parent.left + ((parent.right - parent.left) - (self.right - self.left)) / 2;
  int y = parent.top + ((parent.bottom - parent.top) - (self.bottom - self.top)) / 2;
  SetWindowPos(dialog, NULL, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

UINT_PTR on_init(HWND dialog) {
  apply_dialog_font(dialog);
  set_control_text(dialog, IDC_BROWSER_FOLDER, browser.folder);
  browser.initialised = true;
  SetWindowTextA(dialog, get_message(MESSAGE_BROWSER_TITLE));
  set_control_text(dialog, IDC_BROWSER_LABEL, get_message(MESSAGE_BROWSER_FOLDER));
  set_control_text(dialog, IDC_CD_DRIVE_LABEL, get_message(MESSAGE_BROWSER_DRIVES));
  set_control_text(dialog, IDOK, get_string(TABLE_BUTTONS, LABEL_OK));
  set_control_text(dialog, IDCANCEL, get_string(TABLE_BUTTONS, LABEL_CANCEL));
  centre_over_parent(dialog);
  return TRUE;
}

// The dialog moves the process's current folder as the user walks the
// folder list; control 101 shows where it is now. The dialog lists names in
// the OEM code page, hence the conversion.
void show_current_folder(HWND dialog) {
  char folder[PATH_SIZE];
  DWORD n = GetCurrentDirectoryA(PATH_SIZE, folder);
  if (!n || n >= PATH_SIZE) return;
  OemToCharA(folder, folder);
  set_control_text(dialog, IDC_BROWSER_FOLDER, folder);
}

// OK: the folder in control 101 is the answer. IDABORT with lParam 1 ends
// the dialog as confirmed, whatever its own OK processing makes of the empty
// file name field, which runs as well.
void take_folder(HWND dialog) {
  browser.folder[0] = 0;
  GetDlgItemTextA(dialog, IDC_BROWSER_FOLDER, browser.folder, PATH_SIZE);
  if (browser.folder[0]) PostMessageA(dialog, WM_COMMAND, IDABORT, 1);
}

UINT_PTR CALLBACK browser_hook(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return on_init(dialog);
  if (message == browser.selection_changed && browser.initialised) {
    show_current_folder(dialog);
    return 0;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == IDOK) take_folder(dialog);
  return 0;
}

} // namespace

bool browse_for_folder(HWND owner, char* folder) {
  if (!browser.selection_changed)
    browser.selection_changed = RegisterWindowMessageA("commdlg_LBSelChangedNotify");
  void* dialog_template = copy_dialog_template(TPL_FOLDER_BROWSER);
  if (!dialog_template) return false;
  char* buffers = (char*)heap_alloc(2 * PATH_SIZE, true);
  if (!buffers) {
    free_dialog_template(dialog_template);
    return false;
  }
  char* file_name = buffers; // stays empty: only folders are chosen
  char* chosen = buffers + PATH_SIZE;
  text_copy_cut(chosen, PATH_SIZE, folder);

  OPENFILENAMEA ofn = {};
  ofn.lStructSize = OLD_OPENFILENAME_SIZE;
  ofn.hwndOwner = owner;
  ofn.hInstance = (HINSTANCE)dialog_template;
  ofn.lpstrFilter = "*.*\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file_name;
  ofn.nMaxFile = PATH_SIZE;
  ofn.lpstrInitialDir = chosen;
  ofn.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE;
  ofn.lpfnHook = browser_hook;

  browser.folder = chosen;
  browser.initialised = false;
  bool confirmed = GetSaveFileNameA(&ofn) != 0;
  browser.folder = nullptr;
  browser.initialised = false;
  if (confirmed) text_copy(folder, PATH_SIZE, chosen);
  heap_free(buffers);
  free_dialog_template(dialog_template);
  return confirmed;
}
