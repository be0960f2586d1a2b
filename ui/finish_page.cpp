// The finish page: the error after a failed installation; after a successful
// one the document button, the start-program check box and, when files wait
// for the next start of Windows, the restart button (the relabelled Back).
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/restart.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

enum { ID_DOCUMENT = 1014, ID_START_PROGRAM = 1015, FINISH_TABLE = 5 };

void set_text(HWND page, int id, const char* text) {
  if (GetDlgItem(page, id)) SetDlgItemTextA(page, id, text);
}

void show_control(HWND page, int id, bool show) {
  HWND control = GetDlgItem(page, id);
  if (control) ShowWindow(control, show ? SW_SHOW : SW_HIDE);
}

// Top-left corner and size of a control in the page's client coordinates.
bool control_rect(HWND page, int id, RECT* r) {
  HWND control = GetDlgItem(page, id);
  if (!control || !GetWindowRect(control, r)) return false;
  MapWindowPoints(NULL, page, (POINT*)r, 2);
  return true;
}

void show_failure(HWND page) {
  RECT main_text, last_line;
  if (control_rect(page, ID_TEXT0, &main_text) && control_rect(page, ID_TEXT2, &last_line))
    SetWindowPos(GetDlgItem(page, ID_TEXT0), NULL, 0, 0, main_text.right - main_text.left,
                 last_line.bottom - main_text.top, SWP_NOMOVE | SWP_NOZORDER);
  show_control(page, ID_TEXT1, false);
  show_control(page, ID_TEXT2, false);
  // The message in the buffer's second half, the formatted line in its first.
  char* buffer = (char*)heap_alloc(2048);
  if (buffer) {
    format_message(buffer + 1024, 1024, g_install.error_code);
    format_text(buffer, 1024, get_string(FINISH_TABLE, 4), text_arg(buffer + 1024));
    set_text(page, ID_TEXT0, buffer);
    heap_free(buffer);
  }
  clear_end_actions();
}

void show_success(HWND page) {
  bool single_page = g_package.start_page != WHOLE_WIZARD;
  bool document_offered = false, box_visible = false, box_moved = false;
  if (g_install.document || single_page) {
    const char* label = get_string(FINISH_TABLE, 5);
    if (label[0]) {
      set_text(page, ID_DOCUMENT, label);
      show_control(page, ID_DOCUMENT, true);
      document_offered = true;
    } else {
      open_document(g_install.document);
    }
  }
  if (g_install.program || single_page) {
    const char* label = get_string(FINISH_TABLE, 6);
    if (label[0]) {
      set_text(page, ID_START_PROGRAM, label);
      show_control(page, ID_START_PROGRAM, true);
      box_visible = GetDlgItem(page, ID_START_PROGRAM) != NULL;
      RECT box, button;
      if (!document_offered && !get_string(FINISH_TABLE, 2)[0] &&
          control_rect(page, ID_START_PROGRAM, &box) && control_rect(page, ID_DOCUMENT, &button)) {
        // Up into the document button's place; the left edge stays.
        SetWindowPos(GetDlgItem(page, ID_START_PROGRAM), NULL, box.left, button.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER);
        set_text(page, ID_TEXT1, get_string(FINISH_TABLE, 3));
        set_text(page, ID_TEXT2, "");
        box_moved = true;
      }
    }
  }
  set_text(page, ID_TEXT3, "");
  if (g_install.restart_needed) {
    int line = ID_TEXT3;
    if (!box_visible) {
      if (!get_string(FINISH_TABLE, 3)[0]) line = ID_TEXT2;
      if (!document_offered && !get_string(FINISH_TABLE, 2)[0]) line = ID_TEXT1;
    } else if (box_moved) {
      line = ID_TEXT2;
    }
    set_text(page, line, get_string(FINISH_TABLE, 7));
  }
}

BOOL on_init(HWND page) {
  settle_install_outcome();
  page_start(page,
             BUTTON_CANCEL | BUTTON_CANCEL_NO_ASK | (g_install.restart_needed ? BUTTON_BACK : 0));
  if (g_install.restart_needed) set_button_label(1, 6);
  show_control(page, ID_DOCUMENT, false);
  CheckDlgButton(page, ID_START_PROGRAM, g_ui.start_program ? BST_CHECKED : BST_UNCHECKED);
  show_control(page, ID_START_PROGRAM, false);
  if (g_install.error_code)
    show_failure(page);
  else
    show_success(page);
  HWND cancel = g_ui.main_dialog ? GetDlgItem(g_ui.main_dialog, ID_CANCEL) : NULL;
  if (cancel) SetFocus(cancel);
  return FALSE;
}

} // namespace

INT_PTR CALLBACK finish_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return on_init(page);
  if (message == WM_COMMAND) {
    switch (LOWORD(wparam)) {
    case ID_DOCUMENT:
      open_document(g_install.document);
      return handled(page);
    case ID_START_PROGRAM:
      g_ui.start_program = IsDlgButtonChecked(page, ID_START_PROGRAM) == BST_CHECKED;
      return handled(page);
    case ID_NEXT:
    case ID_CANCEL:
      g_wizard.page_result = PAGE_END;
      return handled(page);
    case ID_BACK:
      if (!g_install.restart_needed) break;
      restart_windows();
      return handled(page);
    }
  }
  return control_colors(message, wparam);
}
