// The simple pages: welcome (0), information (1), language (2), ready (5)
// and the end slot (8). Their texts come from page start; what they add is
// the navigation past pages that have nothing to show, the live language
// switch and the install folder sentence.
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

void focus_next() {
  SetFocus(GetDlgItem(g_ui.main_dialog, ID_NEXT));
}

int language_count() {
  return g_package.block_count;
}

// The language page: one radio button per block, the current one checked.
void show_languages(HWND page) {
  for (int i = 0; i < language_count() && i < MAX_BLOCKS; i++) {
    HWND button = GetDlgItem(page, ID_LANGUAGE_FIRST + i);
    if (!button) continue;
    const char* name = g_package.blocks[i].language.name;
    if (name) SetWindowTextA(button, name);
    EnableWindow(button, TRUE);
    ShowWindow(button, SW_SHOWNORMAL);
  }
  CheckRadioButton(page, ID_LANGUAGE_FIRST, ID_LANGUAGE_LAST,
                   ID_LANGUAGE_FIRST + g_package.current_block);
}

// Switches to the checked language and starts the page again in it, so that
// heading, texts, button labels and captions change at once.
void switch_language(HWND page) {
  for (int i = 0; i < language_count() && i < MAX_BLOCKS; i++)
    if (IsDlgButtonChecked(page, ID_LANGUAGE_FIRST + i) == BST_CHECKED) {
      select_language_block(i);
      page_start(page, 7);
      return;
    }
}

// "Install into <folder>": string 2 of table 3 with the install folder
// (without its trailing backslash) in place of its %s.
void show_install_folder(HWND page) {
  const size_t SENTENCE_SIZE = 1024;
  char* sentence = (char*)heap_alloc(SENTENCE_SIZE);
  if (!sentence) return;
  remove_trailing_backslash(g_app.install_folder);
  format_text(sentence, SENTENCE_SIZE, get_string(3, 2), text_arg(g_app.install_folder));
  append_backslash(g_app.install_folder, PATH_SIZE);
  SetDlgItemTextA(page, ID_TEXT1, sentence);
  heap_free(sentence);
}

} // namespace

INT_PTR CALLBACK welcome_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, BUTTON_NEXT | BUTTON_CANCEL);
    return TRUE;
  case WM_COMMAND:
    if (LOWORD(wparam) == ID_NEXT && !information_text_present()) {
      go_to_page(language_count() > 1 ? 2 : 4);
      return handled(page);
    }
    break;
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK information_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, 7);
    focus_next();
    return FALSE;
  case WM_COMMAND:
    if (LOWORD(wparam) == ID_NEXT && language_count() == 1) {
      go_to_page(4);
      return handled(page);
    }
    break;
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK language_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    page_start(page, 7);
    show_languages(page);
    focus_next();
    return FALSE;
  case WM_COMMAND: {
    int id = LOWORD(wparam);
    if (id >= ID_LANGUAGE_FIRST && id <= ID_LANGUAGE_LAST) {
      switch_language(page);
    } else if (id == ID_NEXT) {
      go_to_page(4);
      return handled(page);
    } else if (id == ID_BACK && !information_text_present()) {
      go_to_page(0);
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
    page_start(page, 7);
    show_install_folder(page);
    set_button_label(2, 3);
    focus_next();
    return FALSE;
  case WM_COMMAND:
    if (LOWORD(wparam) == ID_NEXT && g_ui.read_only_files_found &&
        show_message(get_string(6, 7), MB_YESNO | MB_ICONQUESTION) != IDYES)
      return handled(page); // stay on the ready page
    break;
  }
  return control_colors(message, wparam);
}

INT_PTR CALLBACK end_slot_proc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}
