// The main dialog's buttons: the page has the first say on every command;
// unclaimed, Next and Back set the page result and Cancel asks first (string
// 14 of table 6), unless the page's button flags say Cancel never asks.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "common/state.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "support/package_maker.h"
#include "ui/ui.h"

namespace {

struct Asked {
  std::string text;
  unsigned style;
};
std::vector<Asked> g_asked;
int g_answer = ANSWER_NO;

int answer(const char* text, unsigned style, void*) {
  g_asked.push_back({text, style});
  return g_answer;
}

bool g_page_claims = false;
std::vector<int> g_page_saw;

LRESULT CALLBACK test_page_proc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) {
    g_page_saw.push_back(LOWORD(wparam));
    return g_page_claims ? 1 : 0;
  }
  return DefWindowProcA(w, message, wparam, lparam);
}

class MainDialogCommands : public ::testing::Test {
protected:
  void SetUp() override {
    saved_package = g_package;
    saved_ui = g_ui;
    LanguageMaker lang;
    std::vector<std::string> table6(16, "");
    table6[0] = "Title";
    table6[14] = "Really cancel?";
    table6[15] = "Setup was cancelled.";
    lang.table(6, table6);
    language = lang.bytes();
    LanguageRecord& rec = g_package.blocks[0].language;
    rec = LanguageRecord{};
    rec.data = language.data();
    rec.size = (uint32_t)language.size();
    uint32_t offset;
    memcpy(&offset, language.data() + 40 + 4 * 6, 4);
    rec.tables[6] = language.data() + offset;
    g_package.current_language = &rec;
    g_package.block_count = 1;

    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = test_page_proc;
    wc.hInstance = instance;
    wc.lpszClassName = "PakwizTestPage";
    RegisterClassA(&wc);
    frame = CreateWindowExA(0, "STATIC", "frame", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, NULL, NULL,
                            instance, NULL);
    main =
        CreateWindowExA(0, "STATIC", "main", WS_CHILD, 0, 0, 100, 100, frame, NULL, instance, NULL);
    page = CreateWindowExA(0, "PakwizTestPage", "", WS_CHILD, 0, 0, 10, 10, main, NULL, instance,
                           NULL);
    ASSERT_TRUE(frame && main && page);
    g_ui.frame_window = frame;
    g_ui.main_dialog = main;
    g_ui.current_page = page;
    g_ui.button_flags = 7;
    g_wizard.page_result = 0;
    g_asked.clear();
    g_page_saw.clear();
    g_page_claims = false;
    g_answer = ANSWER_NO;
    set_message_answerer(answer, nullptr);
  }
  void TearDown() override {
    set_message_answerer(nullptr, nullptr);
    DestroyWindow(frame);
    g_ui.frame_window = g_ui.main_dialog = NULL;
    g_package = saved_package;
    g_ui = saved_ui;
    g_wizard.page_result = 0;
  }
  void command(int id) { main_dialog_proc(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  PackageState saved_package;
  UiState saved_ui;
  Bytes language;
  HWND frame = NULL, main = NULL, page = NULL;
};

uint8_t g_entry[4];

} // namespace

TEST_F(MainDialogCommands, AClaimedCommandIsLeftToThePage) {
  g_page_claims = true;
  for (int id : {IDC_NEXT, IDC_BACK, IDC_CANCEL}) command(id);
  EXPECT_EQ(g_page_saw, (std::vector<int>{IDC_NEXT, IDC_BACK, IDC_CANCEL}));
  EXPECT_EQ(g_wizard.page_result, 0);
  EXPECT_TRUE(g_asked.empty());
}

TEST_F(MainDialogCommands, UnclaimedNextAndBackSetThePageResult) {
  command(IDC_NEXT);
  EXPECT_EQ(g_wizard.page_result, PAGE_NEXT);
  command(IDC_BACK);
  EXPECT_EQ(g_wizard.page_result, PAGE_BACK);
  g_wizard.page_result = 0;
  command(1234);
  EXPECT_EQ(g_wizard.page_result, 0);
}

TEST_F(MainDialogCommands, CancelAsksAndOnlyYesEndsTheWizardAndForgetsTheEndActions) {
  g_install.program = g_entry;
  g_install.document = g_entry;
  g_install.screen_saver = g_entry;
  command(IDC_CANCEL); // No
  ASSERT_EQ(g_asked.size(), 1u);
  EXPECT_EQ(g_asked[0].text, "Really cancel?");
  EXPECT_EQ(g_asked[0].style, (unsigned)(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(g_wizard.page_result, 0);
  EXPECT_EQ(g_install.program, g_entry);

  g_answer = ANSWER_YES;
  command(IDC_CANCEL);
  ASSERT_EQ(g_asked.size(), 3u);
  EXPECT_EQ(g_asked[2].text, "Setup was cancelled.");
  EXPECT_EQ(g_asked[2].style, (unsigned)MB_ICONINFORMATION);
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  EXPECT_EQ(g_install.program, nullptr);
  EXPECT_EQ(g_install.document, nullptr);
  EXPECT_EQ(g_install.screen_saver, nullptr);
}

TEST_F(MainDialogCommands, CancelWithBit8EndsWithoutAQuestion) {
  g_ui.button_flags = BUTTON_CANCEL | BUTTON_CANCEL_NO_ASK;
  command(IDC_CANCEL);
  EXPECT_TRUE(g_asked.empty());
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
}

TEST_F(MainDialogCommands, ADisabledButtonCannotBePressedByItsKey) {
  HWND next = CreateWindowExA(0, "BUTTON", "Next", WS_CHILD | WS_DISABLED, 0, 0, 10, 10, main,
                              (HMENU)(INT_PTR)IDC_NEXT, GetModuleHandleA(NULL), NULL);
  ASSERT_TRUE(next);
  command(IDC_NEXT);
  EXPECT_EQ(g_wizard.page_result, 0);
  EnableWindow(next, TRUE);
  command(IDC_NEXT);
  EXPECT_EQ(g_wizard.page_result, PAGE_NEXT);
}

TEST_F(MainDialogCommands, SystemMenuCloseEndsWithoutAskingAndMinimizeActsOnTheFrame) {
  EXPECT_TRUE(main_dialog_proc(main, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  EXPECT_TRUE(g_asked.empty());
  ShowWindow(frame, SW_SHOWNORMAL);
  EXPECT_TRUE(main_dialog_proc(main, WM_SYSCOMMAND, SC_MINIMIZE, 0));
  EXPECT_TRUE(IsIconic(frame));
}

TEST_F(MainDialogCommands, FrameCloseEndsTheWizardAndKeepsTheFrame) {
  EXPECT_EQ(frame_window_proc(frame, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  EXPECT_TRUE(IsWindow(frame));
}
