// The wizard page sequencer: nine page slots run one at a time, each page a
// modeless child dialog of the main dialog with its own message loop, which
// ends when somebody sets the page result (Next, end, Back).
#include "common/state.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"
#include "ui/wizard.h"

WizardState g_wizard = {};

const PageSlot PAGE_TABLE[PAGE_SLOT_COUNT] = {
    {TPL_WELCOME_READY, welcome_page_proc},   // SLOT_WELCOME
    {TPL_INFORMATION, information_page_proc}, // SLOT_INFORMATION
    {TPL_LANGUAGE, language_page_proc},       // SLOT_LANGUAGE
    {NO_DIALOG, nullptr},                     // SLOT_EMPTY
    {TPL_DESTINATION, destination_page_proc}, // SLOT_DESTINATION
    {TPL_WELCOME_READY, ready_page_proc},     // SLOT_READY
    {TPL_PROGRESS, progress_page_proc},       // SLOT_PROGRESS
    {TPL_FINISH, finish_page_proc},           // SLOT_FINISH
    {NO_DIALOG, end_slot_proc},               // SLOT_END
};

namespace {
const PageSlot* page_table = PAGE_TABLE;
}

void set_page_table(const PageSlot* table) {
  page_table = table ? table : PAGE_TABLE;
}

int end_page(int button) {
  switch (button) {
  case BUTTON_BACK:
    g_wizard.page_result = PAGE_BACK;
    break;
  case BUTTON_NEXT:
    g_wizard.page_result = PAGE_NEXT;
    break;
  case BUTTON_CANCEL:
    g_wizard.page_result = PAGE_END;
    break;
  }
  return button;
}

void go_to_page(int slot) {
  g_wizard.current_page = slot - 1; // Next moves on to `slot`
  end_page(BUTTON_NEXT);
}

int run_page(int template_index, DLGPROC proc, LPARAM param) {
  g_wizard.page_result = PAGE_RUNNING;
  if (template_index == NO_DIALOG) return PAGE_END;
  void* page_template = copy_dialog_template((unsigned)template_index);
  if (!page_template) return PAGE_NEXT; // the slot is passed over
  HWND page = CreateDialogIndirectParamA(g_app.instance, (LPCDLGTEMPLATEA)page_template,
                                         g_ui.main_dialog, proc, param);
  if (!page) {
    free_dialog_template(page_template);
    return PAGE_END;
  }
  MSG msg;
  while (g_wizard.page_result == PAGE_RUNNING) {
    // 0 is WM_QUIT, -1 a broken queue: either ends the wizard.
    if (GetMessageA(&msg, NULL, 0, 0) <= 0) {
      g_wizard.page_result = PAGE_END;
      break;
    }
    if (g_ui.main_dialog && IsDialogMessageA(g_ui.main_dialog, &msg)) continue;
    if (IsWindow(page) && IsDialogMessageA(page, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  DestroyWindow(page);
  if (g_ui.current_page == page) g_ui.current_page = NULL;
  free_dialog_template(page_template);
  return g_wizard.page_result;
}

// A start page value other than WHOLE_WIZARD runs that one slot. A value that
// names no page (3, 8, or beyond the table) ends the wizard at once: the package
// asked for a single page that does not exist, and running the whole wizard
// in its place could install what nobody asked for. A normal run that is
// moved outside the table (by go to page) ends the same way.
void run_wizard() {
  bool single = g_package.start_page != WHOLE_WIZARD;
  g_wizard.current_page = SLOT_WELCOME;
  if (single) g_wizard.current_page = g_package.start_page;
  for (;;) {
    int slot = g_wizard.current_page;
    if (slot < 0 || slot >= PAGE_SLOT_COUNT) break;
    const PageSlot& s = page_table[slot];
    int result = run_page(s.template_index, s.proc, 0);
    if (single) break;
    if (result == PAGE_NEXT) {
      if (g_wizard.current_page >= SLOT_END) break;
      g_wizard.current_page++;
    } else if (result == PAGE_END) {
      break;
    } else if (result == PAGE_BACK) {
      if (g_wizard.current_page > 0) g_wizard.current_page--;
    }
  }
  g_wizard.current_page = -1;
  // Ended while the installation ran (the close box, Alt+F4, a cancel that
  // asks nothing, WM_QUIT): as after the cancel question, nothing that the
  // half-done installation recorded is opened, started or installed.
  if (g_install.installing) clear_end_actions();
}
