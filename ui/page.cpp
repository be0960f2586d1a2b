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

// Page slot -> string table of its texts (-1: no page).
const int PAGE_STRING_TABLES[PAGE_SLOT_COUNT] = {
    TABLE_WELCOME, TABLE_INFORMATION, TABLE_LANGUAGE, -1, TABLE_DESTINATION,
    TABLE_READY,   TABLE_PROGRESS,    TABLE_FINISH,   -1,
};

void place_at_anchor(HWND page) {
  RECT r;
  if (!control_rect(g_ui.main_dialog, IDC_PAGE_ANCHOR, &r)) return;
  SetWindowPos(page, NULL, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The frame shows the title; the heading goes to the main dialog's caption
// (full screen) or behind the title in the frame's caption (windowed).
void set_captions(const char* heading) {
  const char* title = get_message(MESSAGE_TITLE);
  HWND frame = g_ui.frame_window;
  SetWindowTextA(frame, title);
  if (!*heading) return;
  if (full_screen_mode()) {
    SetWindowTextA(g_ui.main_dialog, heading);
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
  HWND button = GetDlgItem(g_ui.main_dialog, id);
  if (button) EnableWindow(button, enable);
}

} // namespace

int page_string_table(int slot) {
  return slot >= 0 && slot < PAGE_SLOT_COUNT ? PAGE_STRING_TABLES[slot] : -1;
}

bool information_text_present() {
  return get_string(TABLE_INFORMATION, PAGE_TEXT1)[0] != 0;
}

void page_start(HWND page, uint32_t button_flags) {
  g_ui.current_page = page;
  apply_dialog_font(page);
  place_at_anchor(page);

  int table = page_string_table(g_wizard.current_page);
  set_captions(table >= 0 ? get_string((unsigned)table, PAGE_HEADING) : "");
  if (table >= 0)
    for (int i = 0; i < 4; i++) {
      HWND text = GetDlgItem(page, IDC_TEXT1 + i);
      if (text) SetWindowTextA(text, get_string((unsigned)table, PAGE_TEXT1 + (unsigned)i));
    }
  set_button_label(BUTTON_BACK, LABEL_BACK);
  set_button_label(BUTTON_NEXT, LABEL_NEXT);
  set_button_label(BUTTON_CANCEL, LABEL_EXIT);

  // A single-page run has nothing to confirm: Cancel ends it at once.
  if (g_package.start_page != WHOLE_WIZARD) button_flags |= BUTTON_CANCEL_NO_ASK;
  g_ui.button_flags = button_flags;
  enable_button(IDC_BACK, (button_flags & BUTTON_BACK) != 0);
  enable_button(IDC_NEXT, (button_flags & BUTTON_NEXT) != 0);
  enable_button(IDC_CANCEL, (button_flags & BUTTON_CANCEL) != 0);
}

void set_button_label(ButtonFlags button, ButtonLabel label) {
  int id = button == BUTTON_BACK     ? IDC_BACK
           : button == BUTTON_NEXT   ? IDC_NEXT
           : button == BUTTON_CANCEL ? IDC_CANCEL
                                     : 0;
  if (!id) return;
  HWND control = GetDlgItem(g_ui.main_dialog, id);
  if (control) SetWindowTextA(control, get_string(TABLE_BUTTONS, label));
}

INT_PTR handled(HWND page) {
  SetWindowLongPtrA(page, DWLP_MSGRESULT, 1);
  return TRUE;
}
