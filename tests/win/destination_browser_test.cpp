// The folder browser on the built-in template 7: opened from the page's
// Browse button, it shows the package's texts and the folders of the
// starting folder, moves into a folder on a double click, and OK hands the
// folder (as shown or as typed) back to the page; Cancel changes nothing.
// A second thread plays the user while the dialog runs modally.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/state.h"
#include "package/package.h"
#include "ui/destination_page.h"
#include "ui/ui.h"
#include "win/destination_fixture.h"

namespace {

struct Seen {
  bool opened = false;
  std::string caption, folder_label, drives_label, ok, cancel, folder;
  std::vector<std::string> folders;
  bool file_controls_hidden = false;
  RECT rect = {};
};

std::string text_of(HWND dialog, int id) {
  char text[600] = "";
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, (LPARAM)text);
  return text;
}

// Runs `act` on the browser of thread `owner_thread` from a second thread;
// whatever `act` does, the browser is closed at the end so that the modal
// call returns.
class PlayUser {
public:
  explicit PlayUser(std::function<void(HWND, Seen&)> act)
      : act_(std::move(act)), owner_thread_(GetCurrentThreadId()), worker_([this] { run(); }) {}
  ~PlayUser() { finish(); }
  const Seen& seen() {
    finish();
    return seen_;
  }

private:
  void finish() {
    if (worker_.joinable()) worker_.join();
  }
  static BOOL CALLBACK find(HWND w, LPARAM found) {
    if (IsWindowVisible(w) && GetDlgItem(w, 101) && GetDlgItem(w, 1121)) {
      *(HWND*)found = w;
      return FALSE;
    }
    return TRUE;
  }
  void run() {
    HWND browser = NULL;
    for (int i = 0; i < 500 && !browser; i++) {
      EnumThreadWindows(owner_thread_, find, (LPARAM)&browser);
      if (!browser) Sleep(10);
    }
    if (!browser) return;
    seen_.opened = true;
    act_(browser, seen_);
    for (int i = 0; i < 200 && IsWindow(browser); i++) Sleep(10);
    if (IsWindow(browser)) PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  }
  std::function<void(HWND, Seen&)> act_;
  DWORD owner_thread_;
  Seen seen_;
  std::thread worker_;
};

void look(HWND browser, Seen& seen) {
  char caption[200] = "";
  SendMessageA(browser, WM_GETTEXT, sizeof caption, (LPARAM)caption);
  seen.caption = caption;
  seen.folder_label = text_of(browser, 1009);
  seen.drives_label = text_of(browser, 1091);
  seen.ok = text_of(browser, IDOK);
  seen.cancel = text_of(browser, IDCANCEL);
  seen.folder = text_of(browser, 101);
  HWND list = GetDlgItem(browser, 1121);
  int n = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (int i = 0; i < n; i++) {
    char item[300] = "";
    SendMessageA(list, LB_GETTEXT, i, (LPARAM)item);
    seen.folders.push_back(item);
  }
  seen.file_controls_hidden = true;
  for (int id : {1152, 1120, 1136, 1088, 1089, 1090})
    if (IsWindowVisible(GetDlgItem(browser, id))) seen.file_controls_hidden = false;
  GetWindowRect(browser, &seen.rect);
}

// A double click on a folder of the list, as the list reports it.
void open_folder(HWND browser, const std::string& item) {
  HWND list = GetDlgItem(browser, 1121);
  LRESULT index = SendMessageA(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)item.c_str());
  if (index == LB_ERR) return;
  SendMessageA(list, LB_SETCURSEL, index, 0);
  SendMessageA(browser, WM_COMMAND, MAKEWPARAM(1121, LBN_SELCHANGE), (LPARAM)list);
  SendMessageA(browser, WM_COMMAND, MAKEWPARAM(1121, LBN_DBLCLK), (LPARAM)list);
}

void press(HWND browser, int id) {
  PostMessageA(GetDlgItem(browser, id), BM_CLICK, 0, 0);
}

class FolderBrowser : public DestinationPageTest {
protected:
  void SetUp() override {
    DestinationPageTest::SetUp();
    load_files({});
    start = dir.file("app");
    for (const char* sub : {"", "\\alpha", "\\beta"})
      ASSERT_TRUE(CreateDirectoryA((start + sub).c_str(), NULL));
  }
  std::string start;
};

} // namespace

TEST_F(FolderBrowser, OpensOnTemplate7WithThePackageTextsAndCancelChangesNothing) {
  open_page();
  PlayUser user([](HWND browser, Seen& seen) {
    look(browser, seen);
    press(browser, IDCANCEL);
  });
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
  const Seen& seen = user.seen();
  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(seen.caption, "Pick a folder");
  EXPECT_EQ(seen.folder_label, "Folder:");
  EXPECT_EQ(seen.drives_label, "Drives:");
  EXPECT_EQ(seen.ok, "Take it");
  EXPECT_EQ(seen.cancel, "Never mind");
  EXPECT_EQ(seen.folder, start);
  EXPECT_NE(std::find(seen.folders.begin(), seen.folders.end(), "[alpha]"), seen.folders.end());
  EXPECT_NE(std::find(seen.folders.begin(), seen.folders.end(), "[beta]"), seen.folders.end());
  EXPECT_TRUE(seen.file_controls_hidden);
  // Centred over the main dialog, which owns it.
  RECT owner;
  GetWindowRect(host, &owner);
  EXPECT_NEAR(seen.rect.left + seen.rect.right, owner.left + owner.right, 2);
  EXPECT_NEAR(seen.rect.top + seen.rect.bottom, owner.top + owner.bottom, 2);

  EXPECT_EQ(control_text(page, IDC_FOLDER), start);
}

TEST_F(FolderBrowser, ADoubleClickMovesIntoAFolderAndOkPutsItIntoThePage) {
  use_fake_disk(0);
  open_page();
  EXPECT_EQ(control_text(page, 1019), "0 MB");
  PlayUser user([](HWND browser, Seen& seen) {
    g_fake_disk.free_clusters = 2560;
    open_folder(browser, "[alpha]");
    for (int i = 0; i < 200 && text_of(browser, 101).find("alpha") == std::string::npos; i++)
      Sleep(10);
    look(browser, seen);
    press(browser, IDOK);
  });
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
  const Seen& seen = user.seen();
  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(seen.folder, start + "\\alpha");
  EXPECT_EQ(control_text(page, IDC_FOLDER), start + "\\alpha");
  EXPECT_EQ(std::string(g_app.install_folder), start + "\\alpha");
  EXPECT_EQ(control_text(page, 1019), "10 MB"); // refreshed for the new folder
}

TEST_F(FolderBrowser, ATypedFolderIsTheAnswerAndItsBackslashIsStripped) {
  open_page();
  PlayUser user([](HWND browser, Seen&) {
    SendMessageA(GetDlgItem(browser, 101), WM_SETTEXT, 0, (LPARAM) "X:\\Not\\There\\Yet\\");
    press(browser, IDOK);
  });
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
  ASSERT_TRUE(user.seen().opened);
  EXPECT_EQ(control_text(page, IDC_FOLDER), "X:\\Not\\There\\Yet");
}

TEST_F(FolderBrowser, ReturnsWhetherAFolderWasConfirmed) {
  char folder[PATH_SIZE];
  strcpy(folder, start.c_str());
  {
    PlayUser user([](HWND browser, Seen&) { press(browser, IDCANCEL); });
    EXPECT_FALSE(browse_for_folder(host, folder));
    ASSERT_TRUE(user.seen().opened);
  }
  EXPECT_EQ(std::string(folder), start);
  {
    PlayUser user([](HWND browser, Seen&) {
      open_folder(browser, "[beta]");
      press(browser, IDOK);
    });
    EXPECT_TRUE(browse_for_folder(host, folder));
    ASSERT_TRUE(user.seen().opened);
  }
  EXPECT_EQ(std::string(folder), start + "\\beta");
}
