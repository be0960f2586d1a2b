// A stand-in main dialog (Next 1, Cancel 2, Back 1007, page anchor 1006) and
// in-memory dialog templates, for running the progress and finish pages as
// real child dialogs.
#pragma once
#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "common/state.h"
#include "support/install_package.h"
#include "ui/ui.h"

struct TemplateControl {
  uint16_t id;
  uint16_t window_class; // 0x80 button, 0x82 static
  uint32_t style;
  short x, y, cx, cy;
};

inline void put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, (uint16_t)v);
  put16(b, (uint16_t)(v >> 16));
}

// A DLGTEMPLATE without menu, class, title or font, and its controls.
inline std::vector<uint8_t> dialog_template(uint32_t style, short cx, short cy,
                                            const std::vector<TemplateControl>& controls) {
  std::vector<uint8_t> b;
  put32(b, style);
  put32(b, 0);
  put16(b, (uint16_t)controls.size());
  for (short v : {(short)0, (short)0, cx, cy}) put16(b, (uint16_t)v);
  put16(b, 0); // menu
  put16(b, 0); // class
  put16(b, 0); // title
  for (const TemplateControl& c : controls) {
    while (b.size() % 4) b.push_back(0);
    put32(b, c.style | WS_CHILD | WS_VISIBLE);
    put32(b, 0);
    for (short v : {c.x, c.y, c.cx, c.cy}) put16(b, (uint16_t)v);
    put16(b, c.id);
    put16(b, 0xFFFF);
    put16(b, c.window_class);
    put16(b, 0); // title
    put16(b, 0); // creation data
  }
  return b;
}

inline INT_PTR CALLBACK host_dialog_proc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

// The main dialog stand-in, shown at the top-left of the screen.
inline HWND create_host_dialog() {
  static std::vector<uint8_t> t = dialog_template(WS_POPUP | WS_VISIBLE, 320, 220,
                                                  {{1006, 0x82, 0, 0, 0, 10, 10},
                                                   {1007, 0x80, BS_PUSHBUTTON, 100, 200, 50, 14},
                                                   {1, 0x80, BS_PUSHBUTTON, 160, 200, 50, 14},
                                                   {2, 0x80, BS_PUSHBUTTON, 220, 200, 50, 14}});
  HWND h = CreateDialogIndirectParamA(GetModuleHandleA(NULL), (LPCDLGTEMPLATEA)t.data(), NULL,
                                      host_dialog_proc, 0);
  if (h) SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  return h;
}

inline HWND create_page(HWND host, const std::vector<uint8_t>& t, DLGPROC proc) {
  return CreateDialogIndirectParamA(GetModuleHandleA(NULL), (LPCDLGTEMPLATEA)t.data(), host, proc,
                                    0);
}

// Dispatches messages until `done` is true or `timeout_ms` have passed.
template <class Done> bool pump_until(Done done, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeout_ms) return false;
    MSG m;
    while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    Sleep(2);
  }
  return true;
}

inline std::string control_text(HWND page, int id) {
  char text[600];
  text[0] = 0;
  GetDlgItemTextA(page, id, text, sizeof text);
  return text;
}

// The installation's test fixture with the main dialog stand-in in place, for
// running page `page_number` of the wizard as a real child dialog.
class PageHostTest : public InstallTest {
protected:
  explicit PageHostTest(int page_number) : page_number_(page_number) {}
  void SetUp() override {
    InstallTest::SetUp();
    host = create_host_dialog();
    ASSERT_TRUE(host);
    g_ui.main_dialog = host;
    g_ui.start_program = true; // as start-up leaves it
    g_wizard = WizardState{page_number_, 0};
  }
  void TearDown() override {
    if (page) DestroyWindow(page);
    DestroyWindow(host);
    g_ui.main_dialog = NULL;
    g_ui.current_page = NULL;
    InstallTest::TearDown();
  }
  HWND host = NULL, page = NULL;

private:
  int page_number_;
};
