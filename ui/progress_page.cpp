// The progress page: runs the installation one file entry per step, in
// slices of steps between which the message loop runs, so that the wizard
// stays responsive and can be cancelled between entries, and shows a
// segmented bar, the percentage and the file being installed.
#include "ui/progress_page.h"

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

enum {
  STEP_TIMER = 11,
  FIRST_STEP_DELAY = 100, // ms after the page opens
  STEP_SLICE = 15,        // ms of steps in one message before the loop runs again
  FILE_NAME_LIMIT = 30,
  WM_NEXT_STEPS = WM_APP + 11, // posted: the next slice of steps
};

struct ProgressState {
  HWND window;
  uint32_t percent;
  bool timer_running;
  bool question_open; // the cancel question is on screen: no step runs
};
ProgressState g_progress = {};

// Draws the bar with `dc`, or with a device context of its own when null.
void draw_bar(HWND page, HDC dc) {
  char text[16];
  format_text(text, sizeof text, "%d%%", number_arg((long)g_progress.percent));
  SetDlgItemTextA(page, IDC_PERCENT, text);
  RECT r;
  if (!control_rect(page, IDC_PROGRESS_BAR, &r)) return;
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;

  HDC own = dc ? NULL : GetDC(page);
  if (own) dc = own;
  if (!dc) return;
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, w, h) : NULL;
  HGDIOBJ old = bitmap ? SelectObject(memory, bitmap) : NULL;
  if (old) {
    fill_solid(memory, 0, 0, w, h, GetSysColor(COLOR_BTNFACE));
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    fill_solid(memory, 0, 0, w, 1, shadow);
    fill_solid(memory, 0, 0, 1, h, shadow);
    fill_solid(memory, w - 1, 0, 1, h, light);
    fill_solid(memory, 0, h - 1, w, 1, light);
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
    if (brush) {
      // Segments s wide with 2-pixel gaps; the first is always drawn.
      int s = h / 2;
      int filled = (int)((w * g_progress.percent) / 100);
      int x = 1;
      do {
        RECT segment = {x, 2, x + s, h - 2};
        FillRect(memory, &segment, brush);
        x += s + 2;
      } while (x + s < w && x + s < filled);
      BitBlt(dc, r.left, r.top, w, h, memory, 0, 0, SRCCOPY);
      DeleteObject(brush);
    }
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  if (own) ReleaseDC(page, own);
}

void start_timer(HWND page, UINT delay) {
  g_progress.timer_running = SetTimer(page, STEP_TIMER, delay, NULL) != 0;
}

// Without a timer the remaining steps run at once, then the installation is
// finished.
void run_to_end() {
  while (install_step()) {
  }
  finish_installation();
}

bool queue_has(UINT kinds) {
  return HIWORD(GetQueueStatus(kinds)) != 0;
}

// Paints what the steps of a slice changed (the file name, the bar) before
// the next slice, which would otherwise come before the painting.
void paint_now() {
  HWND windows[] = {g_ui.frame_window, g_ui.main_dialog, g_progress.window};
  for (HWND w : windows)
    if (w) RedrawWindow(w, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The next slice: at once by a posted message, or by the timer when input or
// painting waits, since a timer message comes only after those (a posted one
// would come before them).
void continue_steps(HWND page) {
  if (!queue_has(QS_INPUT)) {
    if (queue_has(QS_PAINT)) paint_now();
    if (!queue_has(QS_INPUT | QS_PAINT) && PostMessageA(page, WM_NEXT_STEPS, 0, 0)) return;
  }
  start_timer(page, 0);
  if (!g_progress.timer_running) run_to_end();
}

// Runs steps, one file entry each, while the slice lasts, no input waits and
// nothing has stopped the installation (the cancel question, the end of the
// wizard after a disk prompt).
void run_steps(HWND page) {
  if (!g_install.installing || g_progress.question_open) {
    // A posted slice that arrives while the question is open: the timer goes
    // on once it is answered.
    if (g_install.installing && !g_progress.timer_running) start_timer(page, FIRST_STEP_DELAY);
    return;
  }
  if (g_progress.timer_running) KillTimer(page, STEP_TIMER);
  g_progress.timer_running = false;
  DWORD start = GetTickCount();
  do {
    if (!install_step()) {
      finish_installation();
      return;
    }
    if (g_progress.question_open || g_wizard.page_result != PAGE_RUNNING) {
      start_timer(page, FIRST_STEP_DELAY);
      return;
    }
  } while (GetTickCount() - start < STEP_SLICE && !queue_has(QS_INPUT));
  continue_steps(page);
}

// The installation could not start (the package file cannot be opened):
// the error it recorded is shown the way every installation error is, on the
// finish page, whose Cancel then ends the wizard without a question. A
// single-page run has no finish page: there the error is a message box and
// the wizard ends with it.
void installation_not_started() {
  finish_installation(); // nothing was opened; moves a normal run to the finish page
  if (g_package.start_page == WHOLE_WIZARD) return;
  char* text = (char*)heap_alloc(1024);
  if (text) {
    format_message(text, 1024, g_install.error_code);
    show_message(text, MB_ICONSTOP);
    heap_free(text);
  }
  g_wizard.page_result = PAGE_END;
}

INT_PTR on_cancel(HWND page) {
  g_progress.question_open = true;
  // On Yes the question stays marked open, so that no further step runs.
  if (confirm_end_setup(MESSAGE_STOP_INSTALLATION))
    g_wizard.page_result = PAGE_END;
  else
    g_progress.question_open = false;
  return handled(page);
}

// The install observer of the page: the bar, the current file, and the
// wizard moves on when the installation has finished or ends when the user
// gave up at a disk prompt.
void observe_file(const char* path, void*) {
  show_current_file(path);
}
void observe_progress(uint32_t percent, void*) {
  report_progress(percent);
}
void observe_finished(void*) {
  if (g_package.start_page == WHOLE_WIZARD) go_to_page(SLOT_FINISH);
}
void observe_abandoned(void*) {
  g_wizard.page_result = PAGE_END;
}
const InstallObserver PROGRESS_OBSERVER = {nullptr, observe_file, observe_progress,
                                           observe_finished, observe_abandoned};

} // namespace

void compact_path(char* s, size_t limit) {
  size_t n = text_length(s);
  if (n <= limit) return;
  char* first = nullptr;
  for (char* p = s; *p && !first; p++)
    if (*p == '\\') first = p;
  char* last = (char*)last_separator(s);
  if (!first || !last || last - first < 4) return;
  size_t tail = text_length(last);
  char* c = first;
  char* k = first + 1;
  // Keep the longest run of leading folders that fits before "..." and the
  // last backslash with the file name.
  while (last - c >= 4 && (size_t)(c - s) + tail < limit) {
    k = c + 1;
    char* next = k;
    while (*next && *next != '\\') next++;
    if (!*next) break;
    c = next;
  }
  k[0] = k[1] = k[2] = '.';
  char* to = k + 3;
  for (size_t i = 0; i <= tail; i++) to[i] = last[i]; // to <= last: a forward copy is safe
}

void report_progress(uint32_t percent) {
  g_progress.percent = percent <= 100 ? percent : 100;
  if (g_progress.window) draw_bar(g_progress.window, NULL);
}

void show_current_file(const char* text) {
  char* shown = (char*)heap_alloc(PATH_SIZE);
  if (!shown) return;
  text_copy_cut(shown, PATH_SIZE, text);
  compact_path(shown, FILE_NAME_LIMIT);
  if (g_progress.window) SetDlgItemTextA(g_progress.window, IDC_CURRENT_FILE, shown);
  heap_free(shown);
}

uint32_t progress_percent() {
  return g_progress.percent;
}

INT_PTR CALLBACK progress_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    g_progress.window = page;
    g_progress.percent = 0;
    g_progress.question_open = false;
    g_progress.timer_running = false;
    page_start(page, BUTTON_CANCEL);
    set_button_label(BUTTON_CANCEL, LABEL_CANCEL);
    set_install_observer(&PROGRESS_OBSERVER);
    if (!prepare_installation()) {
      installation_not_started();
      return TRUE;
    }
    start_timer(page, FIRST_STEP_DELAY);
    if (!g_progress.timer_running) run_to_end();
    return TRUE;
  case WM_TIMER:
  case WM_NEXT_STEPS:
    run_steps(page);
    return TRUE;
  case WM_COMMAND:
    // In a single-page run the main dialog handles Cancel without asking.
    if (LOWORD(wparam) == IDC_CANCEL && g_package.start_page == WHOLE_WIZARD)
      return on_cancel(page);
    break;
  case WM_PAINT: {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(page, &paint);
    if (dc) draw_bar(page, dc);
    EndPaint(page, &paint);
    return TRUE;
  }
  case WM_DESTROY:
    if (g_progress.timer_running) KillTimer(page, STEP_TIMER);
    g_progress.timer_running = false;
    g_progress.window = NULL;
    set_install_observer(nullptr);
    break;
  }
  return control_colors(message, wparam);
}
