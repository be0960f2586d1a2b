// The finish page: the error after a failed installation; after a successful
// one the document button, the start-program check box and, when files wait
// for the next start of Windows, the restart button (the relabelled Back).
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/restart.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

// The page's own strings of its table (TABLE_FINISH), behind the standard texts.
enum FinishString : unsigned {
  FINISH_FAILURE = 4,       // the failure line, "%s" = the error's message
  FINISH_DOCUMENT = 5,      // the document button
  FINISH_START_PROGRAM = 6, // the start-program check box
  FINISH_RESTART = 7,       // the notice that Windows must restart
};

const char* finish_string(unsigned number) {
  return get_string(TABLE_FINISH, number);
}

void show_failure(HWND page) {
  RECT main_text, last_line;
  if (control_rect(page, IDC_TEXT1, &main_text) && control_rect(page, IDC_TEXT3, &last_line))
    SetWindowPos(GetDlgItem(page, IDC_TEXT1), NULL, 0, 0, main_text.right - main_text.left,
                 last_line.bottom - main_text.top, SWP_NOMOVE | SWP_NOZORDER);
  show_control(page, IDC_TEXT2, false);
  show_control(page, IDC_TEXT3, false);
  // The last line was given the failure line's format at page start: it
  // would show a bare "%s" under the message.
  set_control_text(page, IDC_TEXT4, "");
  // The message in the buffer's second half, the formatted line in its first.
  char* buffer = (char*)heap_alloc(2048);
  if (buffer) {
    format_message(buffer + 1024, 1024, g_install.error_code);
    format_text(buffer, 1024, finish_string(FINISH_FAILURE), text_arg(buffer + 1024));
    set_control_text(page, IDC_TEXT1, buffer);
    heap_free(buffer);
  }
  clear_end_actions();
}

void show_success(HWND page) {
  bool single_page = g_package.start_page != WHOLE_WIZARD;
  bool document_offered = false, box_visible = false, box_moved = false;
  if (g_install.document || single_page) {
    const char* label = finish_string(FINISH_DOCUMENT);
    if (label[0]) {
      set_control_text(page, IDC_DOCUMENT, label);
      show_control(page, IDC_DOCUMENT, true);
      document_offered = true;
    } else {
      open_document(g_install.document);
    }
  }
  if (g_install.program || single_page) {
    const char* label = finish_string(FINISH_START_PROGRAM);
    if (label[0]) {
      set_control_text(page, IDC_START_PROGRAM, label);
      show_control(page, IDC_START_PROGRAM, true);
      box_visible = GetDlgItem(page, IDC_START_PROGRAM) != NULL;
      RECT box, button;
      if (!document_offered && !finish_string(PAGE_TEXT2)[0] &&
          control_rect(page, IDC_START_PROGRAM, &box) &&
          control_rect(page, IDC_DOCUMENT, &button)) {
        // Up into the document button's place; the left edge stays.
        SetWindowPos(GetDlgItem(page, IDC_START_PROGRAM), NULL, box.left, button.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER);
        set_control_text(page, IDC_TEXT2, finish_string(PAGE_TEXT3));
        set_control_text(page, IDC_TEXT3, "");
        box_moved = true;
      }
    }
  }
  set_control_text(page, IDC_TEXT4, "");
  if (g_install.restart_needed) {
    int line = IDC_TEXT4;
    if (!box_visible) {
      if (!finish_string(PAGE_TEXT3)[0]) line = IDC_TEXT3;
      if (!document_offered && !finish_string(PAGE_TEXT2)[0]) line = IDC_TEXT2;
    } else if (box_moved) {
      line = IDC_TEXT3;
    }
    set_control_text(page, line, finish_string(FINISH_RESTART));
  }
}

BOOL on_init(HWND page) {
  settle_install_outcome();
  page_start(page,
             BUTTON_CANCEL | BUTTON_CANCEL_NO_ASK | (g_install.restart_needed ? BUTTON_BACK : 0));
  if (g_install.restart_needed) set_button_label(BUTTON_BACK, LABEL_RESTART);
  show_control(page, IDC_DOCUMENT, false);
  CheckDlgButton(page, IDC_START_PROGRAM, g_ui.start_program ? BST_CHECKED : BST_UNCHECKED);
  show_control(page, IDC_START_PROGRAM, false);
  if (g_install.error_code)
    show_failure(page);
  else
    show_success(page);
  HWND cancel = g_ui.main_dialog ? GetDlgItem(g_ui.main_dialog, IDC_CANCEL) : NULL;
  if (cancel) SetFocus(cancel);
  return FALSE;
}

} // namespace

INT_PTR CALLBACK finish_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return on_init(page);
  if (message == WM_COMMAND) {
    switch (LOWORD(wparam)) {
    case IDC_DOCUMENT:
      open_document(g_install.document);
      return handled(page);
    case IDC_START_PROGRAM:
      g_ui.start_program = IsDlgButtonChecked(page, IDC_START_PROGRAM) == BST_CHECKED;
      return handled(page);
    case IDC_NEXT:
    case IDC_CANCEL:
      g_wizard.page_result = PAGE_END;
      return handled(page);
    case IDC_BACK:
      if (!g_install.restart_needed) break;
      restart_windows();
      return handled(page);
    }
  }
  return control_colors(message, wparam);
}
