// The window of the start-up check. Reading a large package once more to
// check it against its integrity record takes seconds on a slow disk or a
// network share, before any window of the setup could appear: a check that
// is still running after half a second gets a small window with the setup's
// title and a bar that fills as the archive is read, so that the setup does
// not look as if it had failed to start. A check that ends sooner shows
// nothing, so a small package does not flash a window. The window is closed
// once the wizard's frame is up: closing it before would hand the activation
// to another program's window, and the frame would open behind it.
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

enum {
  SHOW_AFTER_MS = 500,
  WINDOW_W = 328, // a client area of about 326 x 50 below the caption
  WINDOW_H = 72,
  BAR_LEFT = 14,
  BAR_TOP = 12,
  BAR_W = 298,
  BAR_H = 18,
};
const COLORREF BAR_COLOUR = RGB(51, 153, 255);

struct CheckWindow {
  HWND window;
  DWORD started;
};
CheckWindow g_check = {};

} // namespace

void observe_check(uint32_t done, uint32_t total) {
  if (done >= total) return; // the window stays until the wizard's frame is up
  HWND window = g_check.window;
  DWORD now = GetTickCount();
  if (done == 0) {
    g_check.started = now;
  } else {
    // A static control needs no class or instance of ours; as a white
    // rectangle it draws no text of its own: the title is in the caption.
    if (!window && now - g_check.started >= SHOW_AFTER_MS)
      window = CreateWindowA("STATIC", get_message(MESSAGE_TITLE),
                             WS_POPUP | WS_CAPTION | WS_VISIBLE | SS_WHITERECT,
                             (GetSystemMetrics(SM_CXSCREEN) - WINDOW_W) / 2,
                             (GetSystemMetrics(SM_CYSCREEN) - WINDOW_H) / 2, WINDOW_W, WINDOW_H,
                             NULL, NULL, NULL, NULL);
    if (window) {
      // Paint requests first (the window's own background), then the bar
      // over them: a sunken trough, filled as far as the check has come
      // (counted in kilobytes, so that 32 bits hold the product).
      MSG message;
      while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
      HDC dc = GetDC(window);
      const RECT trough = {BAR_LEFT, BAR_TOP, BAR_LEFT + BAR_W, BAR_TOP + BAR_H};
      sunken_frame(dc, trough, false);
      fill_solid(dc, BAR_LEFT + 1, BAR_TOP + 1,
                 (int)((done >> 10) * (BAR_W - 2) / ((total >> 10) | 1)), BAR_H - 2, BAR_COLOUR);
      ReleaseDC(window, dc);
    }
  }
  g_check.window = window;
}

void close_check_window() {
  DestroyWindow(g_check.window); // none: nothing happens
  g_check.window = NULL;
}

HWND check_window() {
  return g_check.window;
}
