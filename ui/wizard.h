// The wizard page sequencer: nine page slots run one at a time, each page a
// modeless child dialog of the main dialog with its own message loop, which
// ends when somebody sets the page result. The sequencer owns g_wizard; the
// pages and the main dialog set the page result, nobody else.
#pragma once
#include <windows.h>

// Page results: what ends a page.
enum PageResult { PAGE_RUNNING = 0, PAGE_NEXT = 1, PAGE_END = 2, PAGE_BACK = 1007 };
struct WizardState {
  int current_page; // -1 once the wizard is over
  int page_result;
};
extern WizardState g_wizard;

// A slot of the page table: the dialog template index (NO_DIALOG = no
// dialog) and the page procedure.
struct PageSlot {
  int template_index;
  DLGPROC proc;
};
enum { PAGE_SLOT_COUNT = 9, NO_DIALOG = 10 };
extern const PageSlot PAGE_TABLE[PAGE_SLOT_COUNT];
// Test seam: runs the wizard over another table (null = PAGE_TABLE).
void set_page_table(const PageSlot* table);

void run_wizard();
int run_page(int template_index, DLGPROC proc, LPARAM param);
int end_page(int button); // 1 Back -> 1007, 2 Next -> 1, 4 Cancel -> 2
void go_to_page(int page);
