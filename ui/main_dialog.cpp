// The main dialog: the visible wizard with its Back, Next and Cancel buttons,
// the billboard and the panel. It hosts one page at a time, turns its
// buttons into the page result (after the page had the first say), asks
// before cancelling, and owns the dialog font and colours every page uses.
#include "common/state.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

UiState g_ui = {};

namespace {

void draw_billboard(HWND dialog, HDC dc) {
  const BITMAPINFOHEADER* info = bitmap_info(g_package.billboard.data, g_package.billboard.size);
  RECT area;
  if (!info || !control_rect(dialog, IDC_BILLBOARD, &area)) return;
  int w = info->biWidth, h = info->biHeight;
  if (w <= 0 || h <= 0) return;
  // The clip region is restored with the DC at EndPaint.
  IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
  HPALETTE palette = palette_for_bitmap(dc, info);
  HPALETTE previous = NULL;
  if (palette) {
    previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  int x = area.left + (area.right - area.left - w) / 2;
  int y = area.top + (area.bottom - area.top - h) / 2;
  StretchDIBits(dc, x, y, w, h, 0, 0, w, h, bitmap_bits(info), (const BITMAPINFO*)info,
                DIB_RGB_COLORS, SRCCOPY);
  if (palette) {
    SelectPalette(dc, previous, TRUE);
    DeleteObject(palette);
  }
  RECT image = {x, y, x + w, y + h};
  sunken_frame(dc, image, false);
}

void on_init_dialog(HWND dialog) {
  // The frame still covers the whole screen here; in windowed mode it is
  // fitted around the dialog afterwards.
  RECT frame, own;
  GetWindowRect(g_ui.frame_window, &frame);
  GetWindowRect(dialog, &own);
  POINT at = centred_position(g_ui.center_x, g_ui.center_y, frame.right - frame.left,
                              frame.bottom - frame.top, own.right - own.left, own.bottom - own.top);
  SetWindowPos(dialog, NULL, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  apply_dialog_font(dialog);
  PostMessageA(dialog, WM_NCACTIVATE, 1, 0);
}

void on_paint(HWND dialog) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  if (dc) {
    RECT panel;
    if (control_rect(dialog, IDC_PANEL, &panel)) sunken_frame(dc, panel, true);
    draw_billboard(dialog, dc);
  }
  EndPaint(dialog, &ps);
}

void cancel_request() {
  if ((g_ui.button_flags & BUTTON_CANCEL_NO_ASK) || confirm_end_setup(MESSAGE_EXIT_SETUP))
    g_wizard.page_result = PAGE_END;
}

void on_command(HWND dialog, WPARAM wparam, LPARAM lparam) {
  if (g_ui.current_page && SendMessageA(g_ui.current_page, WM_COMMAND, wparam, lparam)) return;
  int id = LOWORD(wparam);
  if (id != IDC_NEXT && id != IDC_BACK && id != IDC_CANCEL) return;
  // Enter and Escape reach here even when the button they stand for is
  // disabled (the progress page's Next, for one): a user could not press it.
  HWND button = GetDlgItem(dialog, id);
  if (button && !IsWindowEnabled(button)) return;
  if (id == IDC_NEXT)
    g_wizard.page_result = PAGE_NEXT;
  else if (id == IDC_BACK)
    g_wizard.page_result = PAGE_BACK;
  else
    cancel_request();
}

// Minimize acts on the frame (a minimised child would stay an icon inside
// it); Close ends the wizard without asking. Both are then done: default
// processing would minimise the dialog itself, or turn Close into Cancel.
bool on_sys_command(WPARAM wparam) {
  switch (wparam & 0xFFF0) {
  case SC_MINIMIZE:
    ShowWindow(g_ui.frame_window, SW_MINIMIZE);
    return true;
  case SC_CLOSE:
    g_wizard.page_result = PAGE_END;
    return true;
  }
  return false;
}

} // namespace

POINT centred_position(int cx, int cy, int frame_w, int frame_h, int w, int h) {
  POINT p;
  p.x = cx - w / 2;
  p.y = cy - h / 2;
  if (p.x > frame_w - w) p.x = frame_w - w;
  if (p.y > frame_h - h) p.y = frame_h - h;
  if (p.x < 0) p.x = 0;
  if (p.y < 0) p.y = 0;
  return p;
}

void start_ui() {
  g_ui.face_brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  g_ui.face_brush_is_stock = g_ui.face_brush == NULL;
  if (!g_ui.face_brush) g_ui.face_brush = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
  g_ui.start_program = true;
}

void run_main_dialog() {
  bool full = full_screen_mode();
  void* main_template = copy_dialog_template(full ? TPL_MAIN_FULL_SCREEN : TPL_MAIN_WINDOWED);
  if (!main_template) return;
  g_ui.main_dialog = CreateDialogIndirectParamA(g_app.instance, (LPCDLGTEMPLATEA)main_template,
                                                g_ui.frame_window, main_dialog_proc, 0);
  if (g_ui.main_dialog) {
    if (!full) fit_frame_to_main_dialog();
    ShowWindow(g_ui.frame_window, SW_SHOWNORMAL);
    UpdateWindow(g_ui.frame_window);
    run_wizard();
    DestroyWindow(g_ui.main_dialog);
    g_ui.main_dialog = NULL;
  }
  free_dialog_template(main_template);
}

void release_shared_gdi() {
  if (g_ui.face_brush && !g_ui.face_brush_is_stock) DeleteObject(g_ui.face_brush);
  g_ui.face_brush = NULL;
  if (g_ui.dialog_font) DeleteObject(g_ui.dialog_font);
  g_ui.dialog_font = NULL;
}

void apply_dialog_font(HWND window) {
  if (!g_ui.dialog_font) {
    HFONT own = (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
    LOGFONTA lf;
    if (own && GetObjectA(own, sizeof lf, &lf) == sizeof lf) {
      lf.lfWeight = FW_NORMAL;
      g_ui.dialog_font = CreateFontIndirectA(&lf);
    }
  }
  if (!g_ui.dialog_font) return;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageA(child, WM_SETFONT, (WPARAM)g_ui.dialog_font, 0);
}

INT_PTR control_colors(UINT message, WPARAM wparam) {
  switch (message) {
  case WM_CTLCOLORMSGBOX:
  case WM_CTLCOLORBTN:
  case WM_CTLCOLORDLG:
  case WM_CTLCOLORSTATIC:
    SetBkColor((HDC)wparam, GetSysColor(COLOR_BTNFACE));
    return (INT_PTR)g_ui.face_brush;
  }
  return 0;
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
  case WM_INITDIALOG:
    on_init_dialog(dialog);
    return TRUE;
  case WM_PAINT:
    on_paint(dialog);
    break;
  case WM_COMMAND:
    on_command(dialog, wparam, lparam);
    break;
  case WM_SYSCOMMAND:
    if (on_sys_command(wparam)) return TRUE;
    break;
  }
  return control_colors(message, wparam);
}
