// The finish page as a real child dialog: the failure layout, the success
// layout with its document button, start-program check box and restart
// notice, and the commands that end the wizard.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "common/state.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/script.h"
#include "support/install_package.h"
#include "ui/ui.h"
#include "win/install_page_host.h"

namespace {

std::vector<uint8_t> finish_template() {
  return dialog_template(WS_CHILD | WS_VISIBLE | DS_CONTROL, 300, 160,
                         {{1000, 0x82, 0, 5, 5, 280, 20},
                          {1001, 0x82, 0, 5, 30, 280, 10},
                          {1002, 0x82, 0, 5, 45, 280, 10},
                          {1003, 0x82, 0, 5, 60, 280, 10},
                          {1014, 0x80, BS_PUSHBUTTON, 5, 80, 100, 14},
                          {1015, 0x80, BS_AUTOCHECKBOX, 5, 110, 200, 10}});
}

struct Texts {
  std::string line2 = "Line two", line3 = "Line three", document = "Open the readme",
              program = "Start the program";
};

class FinishPage : public PageHostTest {
protected:
  FinishPage() : PageHostTest(7) {}
  void load_package(const Texts& t = Texts()) {
    LanguageMaker lang;
    lang.table(5, {"Finished", "Setup is complete.", t.line2, t.line3, "Setup failed: %s",
                   t.document, t.program, "Restart Windows to finish."});
    lang.table(7, {"< Back", "Next >", "Cancel", "Install", "", "Stop", "Restart"});
    PackedFile doc;
    doc.entry.strings[0] = "readme.pwzdoc";
    PackedFile program;
    program.entry.strings[0] = "app.exe";
    load({doc, program}, Bytes(), &lang);
  }
  void open_page() {
    page = create_page(host, finish_template(), finish_page_proc);
    ASSERT_TRUE(page);
  }
  bool visible(int id) {
    return (GetWindowLongA(GetDlgItem(page, id), GWL_STYLE) & WS_VISIBLE) != 0;
  }
  RECT rect(int id) {
    RECT r;
    GetWindowRect(GetDlgItem(page, id), &r);
    MapWindowPoints(NULL, page, (POINT*)&r, 2);
    return r;
  }
};

} // namespace

TEST_F(FinishPage, ErrorShowsTheFailureLayoutAndCancelsEverythingAtTheEnd) {
  load_package();
  g_install.error_code = 21;
  strcpy(g_app.error_file_name, "C:\\App\\data.bin");
  g_install.restart_needed = true;
  g_install.document = entry(0);
  g_install.program = entry(1);
  RECT bottom_line;
  open_page();
  bottom_line = rect(1002);
  EXPECT_EQ(control_text(page, 1000), "Setup failed: Damaged data for C:\\App\\data.bin");
  EXPECT_EQ(rect(1000).bottom, bottom_line.bottom);
  EXPECT_FALSE(visible(1001));
  EXPECT_FALSE(visible(1002));
  // Not the failure line's bare format under the message.
  EXPECT_EQ(control_text(page, 1003), "");
  EXPECT_FALSE(visible(1014));
  EXPECT_FALSE(visible(1015));
  EXPECT_EQ(g_install.document, nullptr);
  EXPECT_EQ(g_install.program, nullptr);
  EXPECT_FALSE(g_install.restart_needed);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(host, IDC_BACK))); // no restart offered
  EXPECT_EQ(control_text(host, IDC_BACK), "< Back");
}

TEST_F(FinishPage, FailedEntryTurnsASuccessIntoError22) {
  load_package();
  set_entry_status(entry(1), STATUS_FAILED);
  strcpy(g_app.error_file_name, "C:\\App\\app.exe");
  open_page();
  EXPECT_EQ(g_install.error_code, 22u);
  EXPECT_EQ(control_text(page, 1000), "Setup failed: Cannot replace C:\\App\\app.exe");
}

TEST_F(FinishPage, SuccessOffersDocumentProgramAndRestart) {
  load_package();
  g_install.document = entry(0);
  g_install.program = entry(1);
  g_install.restart_needed = true;
  open_page();
  EXPECT_TRUE(visible(1014));
  EXPECT_EQ(control_text(page, 1014), "Open the readme");
  EXPECT_TRUE(visible(1015));
  EXPECT_EQ(control_text(page, 1015), "Start the program");
  EXPECT_EQ(IsDlgButtonChecked(page, 1015), (UINT)BST_CHECKED);
  EXPECT_EQ(control_text(page, 1001), "Line two");
  EXPECT_EQ(control_text(page, 1003), "Restart Windows to finish.");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(host, IDC_BACK)));
  EXPECT_EQ(control_text(host, IDC_BACK), "Restart");
  EXPECT_EQ(GetFocus(), GetDlgItem(host, IDC_CANCEL));

  // Unchecking keeps the program from being started; Next ends the wizard.
  SendMessageA(GetDlgItem(page, 1015), BM_CLICK, 0, 0);
  EXPECT_FALSE(g_ui.start_program);
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_NEXT, BN_CLICKED), 0);
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  EXPECT_EQ(GetWindowLongPtrA(page, DWLP_MSGRESULT), 1);
}

TEST_F(FinishPage, CheckBoxMovesUpWhenNoDocumentIsOfferedAndLineTwoIsEmpty) {
  Texts t;
  t.line2 = "";
  load_package(t);
  g_install.program = entry(1);
  g_install.restart_needed = true;
  open_page();
  EXPECT_FALSE(visible(1014));
  EXPECT_TRUE(visible(1015));
  EXPECT_EQ(rect(1015).top, rect(1014).top);
  EXPECT_EQ(rect(1015).left, rect(1014).left);
  EXPECT_EQ(control_text(page, 1001), "Line three");
  EXPECT_EQ(control_text(page, 1002), "Restart Windows to finish."); // moved box: line 1002
  EXPECT_EQ(control_text(page, 1003), "");
}

TEST_F(FinishPage, WithoutLabelsNothingIsShownYetTheProgramStillStarts) {
  Texts t;
  t.program = "";
  t.line3 = "";
  load_package(t);
  g_install.program = entry(1);
  g_install.restart_needed = true;
  open_page();
  EXPECT_FALSE(visible(1015));
  EXPECT_TRUE(g_ui.start_program);
  // No box and an empty string 3: the notice goes to line 1002.
  EXPECT_EQ(control_text(page, 1002), "Restart Windows to finish.");
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
  EXPECT_EQ(g_wizard.page_result, PAGE_END);
  EXPECT_EQ(g_install.program, entry(1));
}

TEST_F(FinishPage, DocumentWithoutButtonLabelIsOpenedAtOnce) {
  // The document's class: a command that copies the opened file beside it.
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CLASSES_ROOT, ".pwzdoc", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
      ERROR_SUCCESS);
  RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)"PakwizTestDocument", 19);
  RegCloseKey(key);
  std::string copy = dir.file("opened.txt");
  std::string command = "C:\\windows\\system32\\cmd.exe /c copy \"%1\" \"" + copy + "\"";
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "PakwizTestDocument\\shell\\open\\command", 0, NULL,
                            0, KEY_ALL_ACCESS, NULL, &key, NULL),
            ERROR_SUCCESS);
  RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)command.c_str(), (DWORD)command.size() + 1);
  RegCloseKey(key);

  Texts t;
  t.document = "";
  load_package(t);
  dir.write("app\\readme.pwzdoc", "the document");
  g_install.document = entry(0);
  open_page();
  EXPECT_FALSE(visible(1014));
  bool opened =
      pump_until([&] { return read_file_bytes(copy) == text_bytes("the document"); }, 10000);
  EXPECT_TRUE(opened);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "PakwizTestDocument\\shell\\open\\command");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "PakwizTestDocument\\shell\\open");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "PakwizTestDocument\\shell");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "PakwizTestDocument");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, ".pwzdoc");
}
