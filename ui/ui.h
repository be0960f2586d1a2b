// The wizard's user interface: frame window, main dialog, page helpers and
// the page procedures. Windows only. Dialog templates and control IDs are the
// ones the builder writes (resources/template_ids.h).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "resources/template_ids.h"
#include "ui/wizard.h"

struct UiState {
  HWND frame_window;     // the frame, or null
  HWND main_dialog;      // the main dialog while the wizard runs, or null
  HWND current_page;     // page window of the running page, or null
  uint32_t button_flags; // ButtonFlags of the running page
  HBRUSH face_brush;     // button-face brush (or the stock LTGRAY_BRUSH)
  bool face_brush_is_stock;
  HFONT dialog_font; // normal-weight copy of the main dialog's font
  int screen_width, screen_height;
  int center_x, center_y;     // screen centre (the frame's)
  bool read_only_files_found; // set by the destination page's check, asked about on the ready page
  bool start_program;         // the finish page's check box: start the recorded program at the end
};
extern UiState g_ui;

// Window class of the frame; a second start finds the running copy by it.
#define FRAME_CLASS_NAME "PakwizClass"
// Icon resource of the frame (resources/stub.rc).
enum { FRAME_ICON = 800 };

// Which of the main dialog's buttons a page enables, and how Cancel acts.
enum ButtonFlags {
  BUTTON_BACK = 0x1,
  BUTTON_NEXT = 0x2,
  BUTTON_CANCEL = 0x4,
  BUTTON_ALL = BUTTON_BACK | BUTTON_NEXT | BUTTON_CANCEL,
  BUTTON_CANCEL_NO_ASK = 0x100, // Cancel ends the wizard without asking
};

// Button labels: strings of table 7.
enum ButtonLabel : unsigned {
  LABEL_BACK = 0,
  LABEL_NEXT = 1,
  LABEL_EXIT = 2,    // the main dialog's Cancel
  LABEL_INSTALL = 3, // Next on the ready page
  LABEL_OK = 4,      // the folder browser's OK
  LABEL_CANCEL = 5,  // the folder browser's Cancel, and the progress page's
  LABEL_RESTART = 6, // Back on the finish page when Windows must restart
};

// Strings of a page's table: the heading, then the standard texts that page
// start puts into IDC_TEXT1 to IDC_TEXT4; a page's own strings follow.
enum PageString : unsigned {
  PAGE_HEADING = 0,
  PAGE_TEXT1 = 1,
  PAGE_TEXT2 = 2,
  PAGE_TEXT3 = 3,
  PAGE_TEXT4 = 4,
};

// True when the package asks for the full-screen frame (setup flags bit 0).
bool full_screen_mode();

// Frame window (class "PakwizClass").
ATOM register_frame_class();
// Creates the frame over the whole screen; it owns message boxes from then on
// (the main dialog while there is one).
bool create_frame_window();
void fit_frame_to_main_dialog();
// Destroys the frame and drains the quit message its destruction posts.
void destroy_frame_window();
LRESULT CALLBACK frame_window_proc(HWND, UINT, WPARAM, LPARAM);

// Background gradient: the colour of client line v (0 <= v <= height, height
// > 0) as a COLORREF, blue 255 at the top darkening quadratically to black.
COLORREF gradient_color(int v, int height);
// Fills the 192 pixel bytes (8 rows of 8 BGR pixels, memory row 0 first) of
// the 8 x 8 pattern of the band whose top line is band_top.
void fill_gradient_pattern(uint8_t* pixels, int band_top, int height);

// BMP file image held in the package: its information header, or null when
// the buffer is absent; and where its pixel bits begin.
const BITMAPINFOHEADER* bitmap_info(const uint8_t* image, uint32_t size);
const void* bitmap_bits(const BITMAPINFOHEADER* info);
// Palette for an 8-bit BMP image (info header), or null.
HPALETTE palette_for_bitmap(HDC dc, const BITMAPINFOHEADER* info);

// The start-up check's observer (set_check_observer): a check still running
// after half a second shows a small window with the title and a bar, which
// close_check_window closes (once the frame has taken over the activation,
// or not at all: it goes with the process). check_window() is that window,
// or null.
void observe_check(uint32_t done, uint32_t total);
void close_check_window();
HWND check_window();

// Start of the run: the shared brush, and the start-program box checked.
void start_ui();
// Frees the shared brush and font.
void release_shared_gdi();
// Shows the main dialog (TPL_MAIN_FULL_SCREEN or TPL_MAIN_WINDOWED) in its
// frame and runs the wizard in it; the dialog is destroyed afterwards.
void run_main_dialog();
void apply_dialog_font(HWND window);
INT_PTR control_colors(UINT message, WPARAM wparam);
INT_PTR CALLBACK main_dialog_proc(HWND, UINT, WPARAM, LPARAM);
// Where a dialog of size w x h goes so that it is centred on (cx, cy) within
// a frame of frame_w x frame_h: never past the frame's right or bottom edge
// when it fits, never at a negative position.
POINT centred_position(int cx, int cy, int frame_w, int frame_h, int w, int h);

// Controls and painting (controls.cpp).
// The rectangle of control `id` in the client coordinates of `dialog`; false
// when the dialog has no such control.
bool control_rect(HWND dialog, int id, RECT* r);
// Sets the text of control `id` when the dialog has it.
void set_control_text(HWND dialog, int id, const char* text);
// Shows or hides control `id` when the dialog has it.
void show_control(HWND dialog, int id, bool show);
// Fills a rectangle with one colour.
void fill_solid(HDC dc, int x, int y, int w, int h, COLORREF color);
// A sunken frame: shadow at the top and left, highlight at the bottom and
// right, optionally filled with the button face colour.
void sunken_frame(HDC dc, const RECT& r, bool fill);

// Common page behaviour.
void page_start(HWND page, uint32_t button_flags);
// Labels one of the main dialog's buttons (BUTTON_BACK, BUTTON_NEXT or
// BUTTON_CANCEL) with a string of table 7.
void set_button_label(ButtonFlags button, ButtonLabel label);
INT_PTR handled(HWND page);
// String table of a page slot (page map), or -1.
int page_string_table(int slot);
// String 1 of table 1 (the information text) of the current block is not empty.
bool information_text_present();

// Page procedures of the sequencer's page table.
INT_PTR CALLBACK welcome_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK information_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK language_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK destination_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ready_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK progress_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK finish_page_proc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK end_slot_proc(HWND, UINT, WPARAM, LPARAM);

// The progress page's bar and current file (also the install observer's).
void report_progress(uint32_t percent);
void show_current_file(const char* text);
