// The wizard's user interface: frame window, main dialog, page helpers and
// the page procedures. Windows only.
#pragma once
#include <windows.h>
#include <stdint.h>

struct UiState {
  HWND current_page;      // page window of the running page, or null
  uint32_t button_flags;  // BUTTON_* of the running page
  HBRUSH face_brush;      // button-face brush (or the stock LTGRAY_BRUSH)
  bool face_brush_is_stock;
  HFONT dialog_font;      // normal-weight copy of the main dialog's font
  int center_x, center_y; // screen centre (the frame's)
};
extern UiState g_ui;

enum ButtonFlags {
  BUTTON_BACK = 0x1,
  BUTTON_NEXT = 0x2,
  BUTTON_CANCEL = 0x4,
  BUTTON_CANCEL_NO_ASK = 0x100,
};

// Control identifiers shared by the main dialog and the pages.
enum {
  ID_NEXT = 1, ID_CANCEL = 2, ID_BACK = 1007, ID_PAGE_ANCHOR = 1006,
  ID_TEXT0 = 1000, ID_TEXT1 = 1001, ID_TEXT2 = 1002, ID_TEXT3 = 1003,
  ID_BILLBOARD = 1011, ID_PANEL = 1012,
};

// Frame window (class "PakwizClass").
ATOM register_frame_class();
bool create_frame_window();
void fit_frame_to_main_dialog();
LRESULT CALLBACK frame_window_proc(HWND, UINT, WPARAM, LPARAM);

// Main dialog and shared GDI objects.
void create_face_brush();
void release_shared_gdi();
void apply_dialog_font(HWND window);
INT_PTR control_colors(UINT message, WPARAM wparam);
void sunken_frame(HDC dc, const RECT& r, bool fill);
INT_PTR CALLBACK main_dialog_proc(HWND, UINT, WPARAM, LPARAM);
// Palette for an 8-bit BMP image (info header), or null.
HPALETTE palette_for_bitmap(HDC dc, const BITMAPINFOHEADER* info);

// Common page behaviour.
void page_start(HWND page, uint32_t button_flags);
void set_button_label(int button, unsigned string);  // button 1 Back, 2 Next, 4 Cancel
INT_PTR handled(HWND page);
// String table of a page number (page map), or -1.
int page_string_table(int page);

// Page procedures of the sequencer's page table.
INT_PTR CALLBACK welcome_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK information_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK language_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK destination_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ready_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK progress_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK finish_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK end_slot_proc(HWND, UINT, WPARAM, LPARAM);

// Progress reports from the install driver (progress page).
void report_progress(uint32_t percent);
void show_current_file(const char* text);
