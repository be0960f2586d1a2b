// The destination page, until its own behaviour (folder validation, space
// check, folder browser) lands: it shows the install folder read-only and
// follows the wizard's navigation; Next is left to the main dialog.
#include "app/app.h"
#include "common/state.h"
#include "common/text.h"
#include "package/package.h"
#include "ui/ui.h"

enum { ID_FOLDER_EDIT = 1004, ID_BROWSE = 1005 };

INT_PTR CALLBACK destination_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG: {
    page_start(page, BUTTON_BACK | BUTTON_NEXT | BUTTON_CANCEL);
    char folder[PATH_SIZE];
    text_copy_cut(folder, sizeof folder, g_app.install_folder);
    remove_trailing_backslash(folder);
    SetDlgItemTextA(page, ID_FOLDER_EDIT, folder);
    SendDlgItemMessageA(page, ID_FOLDER_EDIT, EM_SETREADONLY, TRUE, 0);
    EnableWindow(GetDlgItem(page, ID_BROWSE), FALSE);
    return TRUE;
  }
  case WM_COMMAND:
    // Back: the language page with several languages, else the information
    // page when it has a text, else the welcome page.
    if (LOWORD(wparam) == ID_BACK && g_package.start_page == WHOLE_WIZARD) {
      go_to_page(g_package.block_count > 1 ? 2 : information_text_present() ? 1 : 0);
      return handled(page);
    }
    break;
  }
  return control_colors(message, wparam);
}
