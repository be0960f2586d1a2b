// Small helpers on dialog controls and painting that the frame, the main
// dialog and the pages share.
#include "ui/ui.h"

bool control_rect(HWND dialog, int id, RECT* r) {
  HWND control = GetDlgItem(dialog, id);
  if (!control || !GetWindowRect(control, r)) return false;
  MapWindowPoints(NULL, dialog, (POINT*)r, 2);
  return true;
}

void set_control_text(HWND dialog, int id, const char* text) {
  if (GetDlgItem(dialog, id)) SetDlgItemTextA(dialog, id, text);
}

void show_control(HWND dialog, int id, bool show) {
  HWND control = GetDlgItem(dialog, id);
  if (control) ShowWindow(control, show ? SW_SHOW : SW_HIDE);
}

void fill_solid(HDC dc, int x, int y, int w, int h, COLORREF color) {
  RECT r = {x, y, x + w, y + h};
  SetBkColor(dc, color);
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, NULL, 0, NULL);
}

void sunken_frame(HDC dc, const RECT& r, bool fill) {
  int w = r.right - r.left, h = r.bottom - r.top;
  COLORREF keep = GetBkColor(dc);
  if (fill) fill_solid(dc, r.left + 1, r.top + 1, w - 2, h - 2, GetSysColor(COLOR_BTNFACE));
  COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
  fill_solid(dc, r.left, r.top, w - 1, 1, shadow);
  fill_solid(dc, r.left, r.top, 1, h - 1, shadow);
  fill_solid(dc, r.left, r.bottom - 1, w, 1, light);
  fill_solid(dc, r.right - 1, r.top, 1, h, light);
  SetBkColor(dc, keep);
}
