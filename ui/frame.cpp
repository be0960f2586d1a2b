// The frame window: the setup program's top-level window. In full-screen
// mode it covers the screen and paints the background (a tiled bitmap from
// the package, or a dithered blue-to-black gradient) with an optional
// shadowed title; in windowed mode it is a small captioned window fitted
// around the main dialog. Its close command ends the wizard.
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/ui.h"

namespace {

const DWORD FULL_SCREEN_STYLE = WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW;
const DWORD WINDOWED_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Each entry picks one of the band's eight sample colours.
const uint8_t DITHER[8][8] = {
    {0, 3, 1, 4, 2, 5, 3, 6}, {7, 4, 6, 3, 5, 2, 4, 1}, {2, 5, 3, 6, 4, 7, 5, 0},
    {1, 6, 0, 5, 7, 4, 6, 3}, {4, 7, 5, 0, 6, 1, 7, 2}, {3, 0, 2, 7, 1, 6, 0, 5},
    {6, 1, 7, 2, 0, 3, 1, 4}, {5, 2, 4, 1, 3, 0, 2, 7},
};

// Packed DIB of one 8 x 8 pattern: header and 8 rows of 24 bytes.
struct PatternBlock {
  BITMAPINFOHEADER header;
  uint8_t pixels[8 * 24];
};

void tile_bitmap(HDC dc, const RECT& client, const BITMAPINFOHEADER* info) {
  int w = info->biWidth, h = info->biHeight;
  if (w <= 0 || h <= 0) return;
  HPALETTE palette = palette_for_bitmap(dc, info);
  HPALETTE previous = NULL;
  if (palette) {
    previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  const void* bits = bitmap_bits(info);
  for (int y = 0; y < client.bottom; y += h)
    for (int x = 0; x < client.right; x += w)
      StretchDIBits(dc, x, y, w, h, 0, 0, w, h, bits, (const BITMAPINFO*)info, DIB_RGB_COLORS,
                    SRCCOPY);
  if (palette) {
    SelectPalette(dc, previous, TRUE);
    DeleteObject(palette);
  }
}

// Displays of more than 8 bits: bands of 8 lines, each filled with an 8 x 8
// pattern brush that mixes eight gradient colours, so that the gradient
// shows no steps. Always paints the whole client area.
void paint_dithered_gradient(HDC dc, const RECT& client) {
  int height = client.bottom;
  PatternBlock block = {};
  block.header.biSize = sizeof(BITMAPINFOHEADER);
  block.header.biWidth = 8;
  block.header.biHeight = 8;
  block.header.biPlanes = 1;
  block.header.biBitCount = 24;
  block.header.biSizeImage = 8 * 24;
  static_assert(sizeof(PatternBlock) == sizeof(BITMAPINFOHEADER) + 8 * 24, "packed DIB");
  for (int y = 0; y < height; y += 8) {
    fill_gradient_pattern(block.pixels, y, height);
    HBRUSH brush = CreateDIBPatternBrushPt(&block, DIB_RGB_COLORS);
    if (!brush) continue;
    HGDIOBJ previous = SelectObject(dc, brush);
    RECT band = {client.left, y, client.right, y + 8};
    FillRect(dc, &band, brush);
    SelectObject(dc, previous);
    DeleteObject(brush);
  }
}

// Displays of 8 bits or fewer: one solid line per client line of the update
// rectangle, a new brush only where the colour changes.
void paint_line_gradient(HDC dc, const RECT& update, int height) {
  HBRUSH brush = NULL;
  HGDIOBJ previous = NULL;
  COLORREF color = 0;
  for (int v = update.top; v <= update.bottom; v++) {
    COLORREF c = gradient_color(v < height ? v : height, height);
    if (!brush || c != color) {
      HBRUSH fresh = CreateSolidBrush(c);
      if (!fresh) continue;
      HGDIOBJ old = SelectObject(dc, fresh);
      if (brush) {
        DeleteObject(brush);
      } else {
        previous = old;
      }
      brush = fresh;
      color = c;
    }
    RECT line = {update.left, v, update.right, v + 1};
    FillRect(dc, &line, brush);
  }
  if (brush) {
    SelectObject(dc, previous);
    DeleteObject(brush);
  }
}

void paint_title(HDC dc) {
  const Buffer& title = g_package.title;
  const Buffer& font_record = g_package.title_font;
  if (!title.data || !title.data[0] || !font_record.data || font_record.size < sizeof(LOGFONTA))
    return;
  HFONT font = CreateFontIndirectA((const LOGFONTA*)font_record.data);
  HGDIOBJ previous = font ? SelectObject(dc, font) : NULL;
  SetBkMode(dc, TRANSPARENT);
  const char* text = (const char*)title.data; // NUL-terminated: checked when loaded
  int length = (int)text_length(text);
  SetTextColor(dc, RGB(0, 0, 0));
  TextOutA(dc, 14, 14, text, length);
  SetTextColor(dc, RGB(255, 255, 255));
  TextOutA(dc, 10, 10, text, length);
  if (font) {
    SelectObject(dc, previous);
    DeleteObject(font);
  }
}

void paint_background(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (!dc) {
    EndPaint(window, &ps);
    return;
  }
  const BITMAPINFOHEADER* info = bitmap_info(g_package.background.data, g_package.background.size);
  if (info) {
    tile_bitmap(dc, client, info);
  } else if (client.bottom > 0) {
    int depth = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
    if (depth > 8)
      paint_dithered_gradient(dc, client);
    else
      paint_line_gradient(dc, ps.rcPaint, client.bottom);
  }
  paint_title(dc);
  EndPaint(window, &ps);
}

bool on_paint(HWND window) {
  if (!full_screen_mode() || IsIconic(window)) return false;
  paint_background(window);
  if (g_ui.main_dialog) RedrawWindow(g_ui.main_dialog, NULL, NULL, RDW_FRAME);
  return true;
}

// Close ends the wizard through the page result; the frame itself stays
// until the end of the run destroys it.
bool on_sys_command(WPARAM wparam) {
  switch (wparam & 0xFFF0) {
  case SC_MAXIMIZE:
  case SC_RESTORE:
    if (g_ui.main_dialog) ShowWindow(g_ui.main_dialog, SW_SHOWNORMAL);
    return false;
  case SC_CLOSE:
    g_wizard.page_result = PAGE_END;
    return true;
  }
  return false;
}

// Message boxes belong to the main dialog while it exists, else to the frame.
WindowHandle message_owner() {
  return g_ui.main_dialog ? g_ui.main_dialog : g_ui.frame_window;
}

} // namespace

bool full_screen_mode() {
  return (g_package.setup_flags & SETUP_FULL_SCREEN) != 0;
}

COLORREF gradient_color(int v, int height) {
  // Start colour (0, 0, 255), end colour black: only blue changes, by
  // -255 * v^2 / h^2 rounded towards zero. Taken as (255 * (v^2 / h)) / h in
  // two exact steps of 32 bits each (for 0 <= v <= h < 65,536), so that no
  // 64-bit division is needed.
  if (height <= 0) return RGB(0, 0, 255);
  uint32_t h = (uint32_t)height, square = (uint32_t)v * (uint32_t)v;
  uint32_t q = square / h, r = square % h;
  uint32_t fall = (255 * q + 255 * r / h) / h;
  return RGB(0, 0, (uint8_t)(255 - fall));
}

void fill_gradient_pattern(uint8_t* pixels, int band_top, int height) {
  COLORREF samples[8];
  for (int i = 0; i < 8; i++) {
    int v = band_top + 8 * i; // samples 8 lines apart: one band mixes 57 lines
    samples[i] = gradient_color(v < height ? v : height, height);
  }
  for (int r = 0; r < 8; r++)
    for (int c = 0; c < 8; c++) {
      COLORREF s = samples[DITHER[r][c]];
      uint8_t* p = pixels + r * 24 + c * 3;
      p[0] = GetBValue(s);
      p[1] = GetGValue(s);
      p[2] = GetRValue(s);
    }
}

const BITMAPINFOHEADER* bitmap_info(const uint8_t* image, uint32_t size) {
  // The loader checked the headers, the colour table and the bits.
  if (!image || size < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) return nullptr;
  return (const BITMAPINFOHEADER*)(image + sizeof(BITMAPFILEHEADER));
}

const void* bitmap_bits(const BITMAPINFOHEADER* info) {
  uint64_t table = info->biClrUsed ? 4ull * info->biClrUsed : ((4ull << info->biBitCount) & 0xFFFF);
  return (const uint8_t*)info + sizeof(BITMAPINFOHEADER) + table;
}

HPALETTE palette_for_bitmap(HDC dc, const BITMAPINFOHEADER* info) {
  if (!info || info->biBitCount != 8) return NULL;
  // The colour table holds biClrUsed entries (the loader checked: at most
  // 256), or all 256 when it is 0.
  int colours = info->biClrUsed && info->biClrUsed < 256 ? (int)info->biClrUsed : 256;
  LOGPALETTE* palette = (LOGPALETTE*)heap_alloc(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
  if (!palette) return NULL;
  palette->palVersion = 0x300;
  palette->palNumEntries = (WORD)colours;
  const RGBQUAD* table = (const RGBQUAD*)((const uint8_t*)info + sizeof(BITMAPINFOHEADER));
  for (int i = 0; i < colours; i++) {
    palette->palPalEntry[i].peRed = table[i].rgbRed;
    palette->palPalEntry[i].peGreen = table[i].rgbGreen;
    palette->palPalEntry[i].peBlue = table[i].rgbBlue;
    palette->palPalEntry[i].peFlags = (i < 10 || i >= 246) ? PC_NOCOLLAPSE : 0;
  }
  // On an 8-bit palette display the twenty static colours stay as they are.
  if (colours == 256 && GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) == 8 &&
      (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE)) {
    GetSystemPaletteEntries(dc, 0, 10, palette->palPalEntry);
    GetSystemPaletteEntries(dc, 246, 10, palette->palPalEntry + 246);
  }
  HPALETTE result = CreatePalette(palette);
  heap_free(palette);
  return result;
}

ATOM register_frame_class() {
  WNDCLASSA wc = {};
  wc.style = CS_VREDRAW | CS_HREDRAW;
  wc.lpfnWndProc = frame_window_proc;
  wc.hInstance = g_app.instance;
  wc.hIcon = LoadIconA(g_app.instance, MAKEINTRESOURCEA(FRAME_ICON));
  wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);
  wc.lpszClassName = FRAME_CLASS_NAME;
  return RegisterClassA(&wc);
}

bool create_frame_window() {
  g_ui.screen_width = GetSystemMetrics(SM_CXSCREEN);
  g_ui.screen_height = GetSystemMetrics(SM_CYSCREEN);
  DWORD style = full_screen_mode() ? FULL_SCREEN_STYLE : WINDOWED_STYLE;
  HWND frame =
      CreateWindowExA(0, FRAME_CLASS_NAME, get_message(MESSAGE_TITLE), style, 0, 0,
                      g_ui.screen_width, g_ui.screen_height, NULL, NULL, g_app.instance, NULL);
  if (!frame) return false;
  g_ui.frame_window = frame;
  g_ui.center_x = g_ui.screen_width / 2;
  g_ui.center_y = g_ui.screen_height / 2;
  set_message_owner(message_owner);
  return true;
}

void destroy_frame_window() {
  if (!g_ui.frame_window) return;
  DestroyWindow(g_ui.frame_window); // its WM_DESTROY posts the quit message
  g_ui.frame_window = NULL;
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
}

void fit_frame_to_main_dialog() {
  HWND frame = g_ui.frame_window, main = g_ui.main_dialog;
  RECT r;
  GetWindowRect(main, &r);
  AdjustWindowRectEx(&r, WINDOWED_STYLE, FALSE, 0);
  SetWindowPos(frame, NULL, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
  SetWindowPos(main, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
  case WM_DESTROY:
    PostQuitMessage(0);
    break;
  case WM_PAINT:
    if (on_paint(window)) return 0;
    break;
  case WM_ACTIVATEAPP:
    // Keeps the main dialog's caption drawn active: a child is never activated.
    if (g_ui.main_dialog) PostMessageA(g_ui.main_dialog, WM_NCACTIVATE, wparam, 0);
    break;
  case WM_SYSCOMMAND:
    if (on_sys_command(wparam)) return 0;
    break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}
