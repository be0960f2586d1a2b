// What every wizard page shares: page start (placement, font, captions,
// standard texts, button labels and states), button relabelling, the
// "handled" answer to a claimed command, and the page map.
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

// Page number -> string table of its texts (-1: no page).
const int PAGE_STRING_TABLES[9] = {0, 1, 9, -1, 2, 3, 4, 5, -1};

void place_at_anchor(HWND page) {
  HWND main = (HWND)g_app.main_dialog;
  HWND anchor = GetDlgItem(main, ID_PAGE_ANCHOR);
  if (!anchor) return;
  RECT r;
  GetWindowRect(anchor, &r);
  MapWindowPoints(NULL, main, (POINT*)&r, 2);
  SetWindowPos(page, NULL, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The frame shows the title; the heading goes to the main dialog's caption
// (full screen) or behind the title in the frame's caption (windowed).
void set_captions(const char* heading) {
  const char* title = get_string(6, 0);
  HWND frame = (HWND)g_app.frame_window;
  SetWindowTextA(frame, title);
  if (!*heading) return;
  if (full_screen_mode()) {
    SetWindowTextA((HWND)g_app.main_dialog, heading);
    return;
  }
  const size_t CAPTION_SIZE = 1024;
  char* caption = (char*)heap_alloc(CAPTION_SIZE);
  if (!caption) return;
  text_copy_cut(caption, CAPTION_SIZE, title);
  size_t used = text_length(caption);
  text_copy_cut(caption + used, CAPTION_SIZE - used, " - ");
  used = text_length(caption);
  text_copy_cut(caption + used, CAPTION_SIZE - used, heading);
  SetWindowTextA(frame, caption);
  heap_free(caption);
}

void enable_button(int id, bool enable) {
  HWND button = GetDlgItem((HWND)g_app.main_dialog, id);
  if (button) EnableWindow(button, enable);
}

} // namespace

int page_string_table(int page) {
  return page >= 0 && page < 9 ? PAGE_STRING_TABLES[page] : -1;
}

bool information_text_present() {
  return get_string(1, 1)[0] != 0;
}

void page_start(HWND page, uint32_t button_flags) {
  g_ui.current_page = page;
  apply_dialog_font(page);
  place_at_anchor(page);

  int table = page_string_table(g_wizard.current_page);
  set_captions(table >= 0 ? get_string((unsigned)table, 0) : "");
  if (table >= 0)
    for (int i = 0; i < 4; i++) {
      HWND text = GetDlgItem(page, ID_TEXT0 + i);
      if (text) SetWindowTextA(text, get_string((unsigned)table, (unsigned)i + 1));
    }
  set_button_label(1, 0);
  set_button_label(2, 1);
  set_button_label(4, 2);

  // A single-page run has nothing to confirm: Cancel ends it at once.
  if (g_package.start_page != WHOLE_WIZARD) button_flags |= BUTTON_CANCEL_NO_ASK;
  g_ui.button_flags = button_flags;
  enable_button(ID_BACK, (button_flags & BUTTON_BACK) != 0);
  enable_button(ID_NEXT, (button_flags & BUTTON_NEXT) != 0);
  enable_button(ID_CANCEL, (button_flags & BUTTON_CANCEL) != 0);
}

void set_button_label(int button, unsigned string) {
  int id = button == 1 ? ID_BACK : button == 2 ? ID_NEXT : button == 4 ? ID_CANCEL : 0;
  if (!id) return;
  HWND control = GetDlgItem((HWND)g_app.main_dialog, id);
  if (control) SetWindowTextA(control, get_string(7, string));
}

INT_PTR handled(HWND page) {
  SetWindowLongPtrA(page, DWLP_MSGRESULT, 1);
  return TRUE;
}
