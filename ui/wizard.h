// The wizard page sequencer: nine page slots run one at a time, each page a
// modeless child dialog of the main dialog with its own message loop, which
// ends when somebody sets the page result. The sequencer owns g_wizard; the
// pages, the main dialog and the frame set the page result, nobody else.
#pragma once
#include <windows.h>

// Page results: what ends a page.
enum PageResult { PAGE_RUNNING = 0, PAGE_NEXT = 1, PAGE_END = 2, PAGE_BACK = 1007 };
struct WizardState {
  int current_page; // the slot being run; -1 once the wizard is over
  int page_result;
};
extern WizardState g_wizard;

// The slots of the page table.
enum PageSlotNumber {
  SLOT_WELCOME = 0,
  SLOT_INFORMATION = 1, // only with an information text
  SLOT_LANGUAGE = 2,    // only with two or more language blocks
  SLOT_EMPTY = 3,
  SLOT_DESTINATION = 4,
  SLOT_READY = 5,
  SLOT_PROGRESS = 6,
  SLOT_FINISH = 7,
  SLOT_END = 8, // ends the wizard
  PAGE_SLOT_COUNT = 9,
};

// A slot of the page table: the dialog template index (NO_DIALOG = no
// dialog) and the page procedure.
struct PageSlot {
  int template_index;
  DLGPROC proc;
};
enum { NO_DIALOG = 10 };
extern const PageSlot PAGE_TABLE[PAGE_SLOT_COUNT];
// Test seam: runs the wizard over another table (null = PAGE_TABLE).
void set_page_table(const PageSlot* table);

void run_wizard();
int run_page(int template_index, DLGPROC proc, LPARAM param);
// Ends the running page as button BUTTON_BACK, BUTTON_NEXT or BUTTON_CANCEL
// of the main dialog would (PAGE_BACK, PAGE_NEXT, PAGE_END); returns `button`.
int end_page(int button);
// Ends the running page so that slot `slot` runs next.
void go_to_page(int slot);
