// The wizard page sequencer: nine page slots run one at a time, each page a
// modeless child dialog of the main dialog with its own message loop, which
// ends when somebody sets the page result (1 Next, 2 end, 1007 Back).
#include "app/app.h"
#include "common/state.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

const PageSlot PAGE_TABLE[PAGE_SLOT_COUNT] = {
    {5, welcome_page_proc},     // 0 welcome
    {3, information_page_proc}, // 1 information
    {8, language_page_proc},    // 2 language
    {NO_DIALOG, nullptr},       // 3 no page
    {2, destination_page_proc}, // 4 destination folder
    {5, ready_page_proc},       // 5 ready
    {4, progress_page_proc},    // 6 progress
    {6, finish_page_proc},      // 7 finish
    {NO_DIALOG, end_slot_proc}, // 8 end of the wizard
};

namespace {
const PageSlot* page_table = PAGE_TABLE;
}

void set_page_table(const PageSlot* table) {
  page_table = table ? table : PAGE_TABLE;
}

int end_page(int button) {
  switch (button) {
  case 1:
    g_wizard.page_result = PAGE_BACK;
    break;
  case 2:
    g_wizard.page_result = PAGE_NEXT;
    break;
  case 4:
    g_wizard.page_result = PAGE_END;
    break;
  }
  return button;
}

void go_to_page(int page) {
  g_wizard.current_page = page - 1;
  end_page(2);
}

int run_page(int template_index, DLGPROC proc, LPARAM param) {
  g_wizard.page_result = PAGE_RUNNING;
  if (template_index == NO_DIALOG) return PAGE_END;
  void* page_template = copy_dialog_template((unsigned)template_index);
  if (!page_template) return PAGE_NEXT; // the slot is passed over
  HWND page = CreateDialogIndirectParamA(g_app.instance, (LPCDLGTEMPLATEA)page_template,
                                         (HWND)g_app.main_dialog, proc, param);
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
    if (g_app.main_dialog && IsDialogMessageA((HWND)g_app.main_dialog, &msg)) continue;
    if (IsWindow(page) && IsDialogMessageA(page, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  DestroyWindow(page);
  if (g_ui.current_page == page) g_ui.current_page = NULL;
  free_dialog_template(page_template);
  return g_wizard.page_result;
}

// A start page value other than 0xFFFF runs that one slot. A value that names
// no page (3, 8, or beyond the table) ends the wizard at once: the package
// asked for a single page that does not exist, and running the whole wizard
// in its place could install what nobody asked for. A normal run that is
// moved outside the table (by go to page) ends the same way.
void run_wizard() {
  bool single = g_package.start_page != WHOLE_WIZARD;
  g_wizard.current_page = single ? g_package.start_page : 0;
  for (;;) {
    int slot = g_wizard.current_page;
    if (slot < 0 || slot >= PAGE_SLOT_COUNT) break;
    const PageSlot& s = page_table[slot];
    int result = run_page(s.template_index, s.proc, 0);
    if (single) break;
    if (result == PAGE_NEXT) {
      if (g_wizard.current_page >= 8) break;
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
