// The progress page as a real child dialog: timer-driven steps, the bar and
// the texts it shows, and the cancel question between steps.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "common/state.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "support/install_package.h"
#include "ui/progress_page.h"
#include "ui/ui.h"
#include "win/install_page_host.h"

TEST(ProgressCompactPath, KeepsLeadingFoldersThatFitThenDotsAndTheFileName) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\Program Files\\Some Dir\\Sub\\file.txt", "C:\\Program Files\\...\\file.txt"},
      {"C:\\Program Files\\App\\x.txt", "C:\\Program Files\\App\\x.txt"}, // 30 or fewer
      {"averyveryverylongfilenamewithoutanyfolder.txt",
       "averyveryverylongfilenamewithoutanyfolder.txt"},
      {"C:\\Apps\\a-file-name-that-is-much-too-long.txt",
       "C:\\...\\a-file-name-that-is-much-too-long.txt"},
      {"C:\\abc\\def\\ghi\\jkl\\mno\\pqr\\stu\\vwx\\f.txt",
       "C:\\abc\\def\\ghi\\jkl\\mno\\...\\f.txt"},
      {"C:\\ab\\d-a-very-long-name-of-a-file.txt",
       "C:\\ab\\d-a-very-long-name-of-a-file.txt"}, // no folder run to cut
  };
  for (const Case& c : cases) {
    char s[260];
    strcpy(s, c.in);
    compact_path(s, 30);
    EXPECT_STREQ(s, c.out) << c.in;
  }
}

namespace {

std::vector<uint8_t> progress_template() {
  return dialog_template(WS_CHILD | WS_VISIBLE | DS_CONTROL, 300, 150,
                         {{1000, 0x82, 0, 5, 5, 280, 10},
                          {1008, 0x82, 0, 5, 40, 280, 10},
                          {1009, 0x82, 0, 5, 60, 280, 16},
                          {1010, 0x82, 0, 5, 80, 60, 10}});
}

class ProgressPage : public PageHostTest {
protected:
  ProgressPage() : PageHostTest(6) {}
  void load_files(int n) {
    std::vector<PackedFile> files;
    for (int i = 0; i < n; i++) {
      PackedFile f;
      f.entry.strings[0] = "folder number one\\folder two\\file" + std::to_string(i) + ".txt";
      f.content = text_bytes("content " + std::to_string(i));
      files.push_back(f);
    }
    LanguageMaker lang;
    lang.table(4, {"Installing", "Please wait"});
    lang.table(7, {"< Back", "Next >", "Cancel", "Install", "", "Stop"});
    load(files, Bytes(), &lang);
  }
  void open_page() {
    page = create_page(host, progress_template(), progress_page_proc);
    ASSERT_TRUE(page);
  }
  COLORREF bar_pixel(int x) {
    RECT r;
    GetWindowRect(GetDlgItem(page, 1009), &r);
    MapWindowPoints(NULL, page, (POINT*)&r, 2);
    HDC dc = GetDC(page);
    COLORREF c = GetPixel(dc, r.left + x, (r.top + r.bottom) / 2);
    ReleaseDC(page, dc);
    return c;
  }
};

} // namespace

TEST_F(ProgressPage, TimerStepsInstallEveryEntryThenMoveToTheFinishPage) {
  load_files(4);
  DWORD start = GetTickCount();
  open_page();
  EXPECT_EQ(control_text(host, 2), "Stop");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(host, 1)));
  EXPECT_TRUE(g_install.installing);
  EXPECT_EQ(g_install.entry_index, -1); // the first step waits for the timer
  ASSERT_TRUE(pump_until([] { return g_wizard.page_result != 0; }, 5000));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 100u + 3 * 50u - 20u); // 100 ms, then 50 ms after each step
  EXPECT_EQ(g_wizard.page_result, PAGE_NEXT);
  EXPECT_EQ(g_wizard.current_page, 6);
  EXPECT_FALSE(g_install.installing);
  for (int i = 0; i < 4; i++)
    EXPECT_TRUE(file_exists(install_folder + "folder number one\\folder two\\file" +
                            std::to_string(i) + ".txt"));
  EXPECT_EQ(control_text(page, 1010), "100%");
  std::string shown = control_text(page, 1008);
  EXPECT_EQ(shown.substr(0, 3), "C:\\") << shown;
  EXPECT_NE(shown.find("\\...\\file3.txt"), std::string::npos) << shown;
}

TEST_F(ProgressPage, BarShowsAtLeastOneSegmentAndFillsWithThePercentage) {
  load_files(1);
  open_page();
  KillTimer(page, 11); // no step: only the drawing is looked at
  UpdateWindow(page);
  COLORREF caption = GetSysColor(COLOR_ACTIVECAPTION) & 0xFFFFFF;
  RECT r;
  GetWindowRect(GetDlgItem(page, 1009), &r);
  int h = r.bottom - r.top, w = r.right - r.left, s = h / 2;
  report_progress(0);
  EXPECT_EQ(control_text(page, 1010), "0%");
  EXPECT_EQ(bar_pixel(1 + s / 2), caption);         // the first segment, always
  EXPECT_NE(bar_pixel(1 + s + 2 + s / 2), caption); // nothing more at 0%
  report_progress(150);
  EXPECT_EQ(control_text(page, 1010), "100%");
  EXPECT_EQ(progress_percent(), 100u);
  EXPECT_EQ(bar_pixel(1 + s + 2 + s / 2), caption);
  EXPECT_NE(bar_pixel(s + 1), caption); // a 2-pixel gap
  EXPECT_NE(bar_pixel(w - 1), caption); // the border stays
}

TEST_F(ProgressPage, NoStepRunsWhileTheCancelQuestionIsOpen) {
  load_files(3);
  open_page();
  ASSERT_TRUE(pump_until([] { return g_install.entry_index >= 0; }, 3000));
  int32_t index_at_question = -2;
  bool stepped_during_question = false;
  answers = {ANSWER_NO};
  while_asking = [&] {
    index_at_question = g_install.entry_index;
    pump_until([] { return false; }, 400); // timer ticks arrive meanwhile
    stepped_during_question = g_install.entry_index != index_at_question;
  };
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
  EXPECT_EQ(asked, (std::vector<std::string>{"Stop the installation?"}));
  EXPECT_FALSE(stepped_during_question);
  // After No the steps go on.
  while_asking = nullptr;
  ASSERT_TRUE(pump_until([] { return g_wizard.page_result != 0; }, 5000));
  EXPECT_EQ(g_wizard.page_result, PAGE_NEXT);
  EXPECT_EQ(g_install.entry_index, 3);
}

TEST_F(ProgressPage, YesStopsBetweenEntriesAndEndsTheWizard) {
  load_files(3);
  open_page();
  ASSERT_TRUE(pump_until([] { return g_install.entry_index >= 0; }, 3000));
  uint8_t marker = 0;
  g_install.document = g_install.program = g_install.screen_saver = &marker;
  answers = {ANSWER_YES, ANSWER_OK};
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
  int32_t index = g_install.entry_index;
  EXPECT_EQ(asked, (std::vector<std::string>{"Stop the installation?",
                                             "The installation was cancelled."}));
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  EXPECT_EQ(g_install.document, nullptr);
  EXPECT_EQ(g_install.program, nullptr);
  EXPECT_EQ(g_install.screen_saver, nullptr);
  pump_until([] { return false; }, 300);
  EXPECT_EQ(g_install.entry_index, index); // no further step
  EXPECT_TRUE(g_install.installing);       // finish installation never ran
}

// The package file is gone when the installation starts: the error naming it
// is shown (on the finish page; in a progress-only run, which has none, in a
// message box) and the user leaves without being asked to cancel.
TEST_F(ProgressPage, InstallationThatCannotStartShowsItsErrorAndLetsTheUserLeave) {
  for (int start_page : {(int)WHOLE_WIZARD, 6}) {
    SCOPED_TRACE(start_page);
    TearDown();
    SetUp();
    load_files(2);
    g_package.start_page = (uint16_t)start_page;
    std::string package = g_app.package_path;
    ASSERT_TRUE(DeleteFileA(package.c_str()));
    open_page();
    EXPECT_EQ(g_install.error_code, 16u);
    EXPECT_EQ(std::string(g_app.error_file_name), package);
    EXPECT_FALSE(g_install.installing);
    if (start_page == WHOLE_WIZARD) {
      EXPECT_TRUE(asked.empty());
      EXPECT_EQ(g_wizard.page_result, PAGE_NEXT); // on to the finish page
      EXPECT_EQ(g_wizard.current_page, 6);
    } else {
      EXPECT_EQ(asked, (std::vector<std::string>{"Cannot open " + package}));
      EXPECT_EQ(g_wizard.page_result, PAGE_END);
    }
  }
}
