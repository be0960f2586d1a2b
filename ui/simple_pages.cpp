// The simple pages: welcome, information, language, ready and the end slot. Their texts come from
// page start; what they add is the navigation past pages that have nothing to show, the live
// language switch and the install folder sentence.
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

void focus_next() {
  SetFocus(GetDlgItem(g_ui.main_dialog, IDC_NEXT));
}

int language_count() {
  return g_package.block_count;
}

// The language page: one radio button per block, the current one checked.
void show_languages(HWND page) {
  for (int i = 0; i < language_count() && i < MAX_BLOCKS; i++) {
    HWND button = GetDlgItem(page, IDC_LANGUAGE1 + i);
    if (!button) continue;
    const char* name = g_package.blocks[i].language.name;
    if (name) SetWindowTextA(button, name);
    EnableWindow(button, TRUE);
    ShowWindow(button, SW_SHOWNORMAL);
  }
  CheckRadioButton(page, IDC_LANGUAGE1, IDC_LANGUAGE6, IDC_LANGUAGE1 + g_package.current_block);
}

// Switches to the checked language and starts the page again in it, so that
// heading, texts, button labels and captions change at once.
void switch_language(HWND page) {
  for (int i = 0; i < language_count() && i < MAX_BLOCKS; i++)
    if (IsDlgButtonChecked(page, IDC_LANGUAGE1 + i) == BST_CHECKED) {
      select_language_block(i);
      page_start(page, BUTTON_ALL);
      return;
    }
}

// "Install into <folder>": text 2 of the ready page with the install folder
// (without its trailing backslash) in place of its %s.
void show_install_folder(HWND page) {
  const size_t SENTENCE_SIZE = 1024;
  char* sentence = (char*)heap_alloc(SENTENCE_SIZE);
  if (!sentence) return;
  remove_trailing_backslash(g_app.install_folder);
  format_text(sentence, SENTENCE_SIZE, get_string(TABLE_READY, PAGE_TEXT2),
              text_arg(g_app.install_folder));
  append_backslash(g_app.install_folder, PATH_SIZE);
  SetDlgItemTextA(page, IDC_TEXT2, sentence);
  heap_free(sentence);
}

} // namespace

INT_PTR CALLBACK welcome_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, BUTTON_NEXT | BUTTON_CANCEL);
    return TRUE;
  case WM_COMMAND:
    if (LOWORD(wparam) == IDC_NEXT && !information_text_present()) {
      go_to_page(language_count() > 1 ? SLOT_LANGUAGE : SLOT_DESTINATION);
      return handled(page);
    }
    break;
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK information_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, BUTTON_ALL);
    focus_next();
    return FALSE;
  case WM_COMMAND:
    if (LOWORD(wparam) == IDC_NEXT && language_count() == 1) {
      go_to_page(SLOT_DESTINATION);
      return handled(page);
    }
    break;
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK language_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, BUTTON_ALL);
    show_languages(page);
    focus_next();
    return FALSE;
  case WM_COMMAND: {
    int id = LOWORD(wparam);
    if (id >= IDC_LANGUAGE1 && id <= IDC_LANGUAGE6) {
      switch_language(page);
    } else if (id == IDC_NEXT) {
      go_to_page(SLOT_DESTINATION);
      return handled(page);
    } else if (id == IDC_BACK && !information_text_present()) {
      go_to_page(SLOT_WELCOME);
      return handled(page);
    }
    break;
  }
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK ready_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, BUTTON_ALL);
    show_install_folder(page);
    set_button_label(BUTTON_NEXT, LABEL_INSTALL);
    focus_next();
    return FALSE;
  case WM_COMMAND:
    if (LOWORD(wparam) == IDC_NEXT && g_ui.read_only_files_found &&
        show_message(get_message(MESSAGE_REPLACE_READ_ONLY), MB_YESNO | MB_ICONQUESTION) != IDYES)
      return handled(page); // stay on the ready page
    break;
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK end_slot_proc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}
