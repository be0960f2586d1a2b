// The destination page on the built-in template as a real child dialog: the
// folder field and the space lines, a folder that may not be changed, and
// Next's validation (create the folder or stay, low space, files that cannot
// be written, full paths) and Back's targets.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/state.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/destination_page.h"
#include "ui/ui.h"
#include "win/destination_fixture.h"

namespace {

const unsigned QUESTION = MB_YESNO | MB_ICONQUESTION;

std::string current_folder() {
  char path[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof path, path);
  return path;
}

bool folder_exists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

using DestinationPage = DestinationPageTest;

} // namespace

TEST_F(DestinationPage, ShowsTheFolderAndBothSpaceFiguresAndFollowsTheField) {
  // 33 one-byte files take 33 x 32 KB: 2 MB, not 1.
  std::vector<PackedFile> files;
  for (int i = 0; i < 33; i++) files.push_back(text_file("f" + std::to_string(i) + ".txt", 1));
  load_files(files);
  use_fake_disk(2561); // 10,244 KB: 11 MB, rounded up
  open_page();
  std::string shown = install_folder.substr(0, install_folder.size() - 1);
  EXPECT_EQ(control_text(page, IDC_FOLDER), shown);
  EXPECT_EQ(control_text(page, 1000), "Setup installs into this folder.");
  EXPECT_EQ(control_text(page, 1017), "Space needed:");
  EXPECT_EQ(control_text(page, 1018), "Space free:");
  EXPECT_EQ(control_text(page, 1016), "2 MB");
  EXPECT_EQ(control_text(page, 1019), "11 MB");
  EXPECT_EQ(g_fake_disk.roots.back(), install_folder.substr(0, 3));

  // The install folder follows the field as typed; the free line follows its drive.
  g_fake_disk.free_clusters = 256; // 1,024 KB
  type_folder("D:\\Elsewhere");
  EXPECT_STREQ(g_app.install_folder, "D:\\Elsewhere");
  EXPECT_EQ(g_fake_disk.roots.back(), "D:\\");
  EXPECT_EQ(control_text(page, 1019), "1 MB");
  g_fake_disk.readable = false; // unknown reads as nothing free
  type_folder("E:\\Other");
  EXPECT_EQ(control_text(page, 1019), "0 MB");
}

TEST_F(DestinationPage, ADriveRootKeepsItsBackslash) {
  load_files({});
  strcpy(g_app.install_folder, "C:\\");
  open_page();
  EXPECT_EQ(control_text(page, IDC_FOLDER), "C:\\");
  EXPECT_STREQ(g_app.install_folder, "C:\\");
}

TEST_F(DestinationPage, AFolderThatMayNotBeChangedIsReadOnlyButStillValidatedOnNext) {
  struct Case {
    uint16_t flags;
    bool changeable;
  } cases[] = {{LANG_FOLDER_CHANGEABLE, true}, {0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.changeable ? "changeable" : "fixed");
    load_files({}, destination_language(c.flags));
    open_page();
    HWND edit = GetDlgItem(page, IDC_FOLDER);
    EXPECT_EQ((GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) != 0, !c.changeable);
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, 1005)) != 0, c.changeable);
    if (c.changeable) {
      EXPECT_EQ(GetFocus(), edit);
    }
    asked.clear();
    EXPECT_TRUE(claimed(IDC_NEXT)); // the default folder does not exist; No
    EXPECT_EQ(asked, (std::vector<std::string>{"Create the folder?"}));
    DestroyWindow(page);
    page = NULL;
  }
}

TEST_F(DestinationPage, AMissingFolderIsCreatedWithItsParentsOnlyWhenTheUserAgrees) {
  load_files({text_file("a.txt", 10)});
  open_page();
  std::string folder = dir.file("app\\one\\two");
  type_folder(folder);
  answers = {ANSWER_NO};
  EXPECT_TRUE(claimed(IDC_NEXT));
  EXPECT_EQ(asked, (std::vector<std::string>{"Create the folder?"}));
  EXPECT_EQ(styles, (std::vector<unsigned>{QUESTION}));
  EXPECT_FALSE(folder_exists(dir.file("app")));
  EXPECT_EQ(g_wizard.page_result, 0);

  answers = {ANSWER_YES};
  EXPECT_FALSE(claimed(IDC_NEXT)); // the main dialog goes on to the ready page
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_TRUE(folder_exists(folder));
  EXPECT_STREQ(g_app.install_folder, (folder + "\\").c_str());
  EXPECT_EQ(control_text(page, 1001), "Checking the folder...");
  EXPECT_EQ(control_text(page, 1002), "");
  EXPECT_EQ(control_text(page, 1003), "");
}

TEST_F(DestinationPage, AFolderThatCannotBeCreatedIsReportedAndThePageStays) {
  load_files({});
  dir.write("blocker", "a file where a folder should go");
  open_page();
  type_folder(dir.file("blocker\\sub"));
  answers = {ANSWER_YES};
  EXPECT_TRUE(claimed(IDC_NEXT));
  EXPECT_EQ(asked,
            (std::vector<std::string>{"Create the folder?", "The folder cannot be created."}));
  EXPECT_EQ(styles, (std::vector<unsigned>{QUESTION, MB_ICONINFORMATION}));
}

TEST_F(DestinationPage, LowSpaceGoesOnOnlyAfterYes) {
  load_files({text_file("big.bin", 100000)});
  CreateDirectoryA(dir.file("app").c_str(), NULL);
  use_fake_disk(1);
  open_page();
  answers = {ANSWER_NO};
  EXPECT_TRUE(claimed(IDC_NEXT));
  EXPECT_EQ(asked, (std::vector<std::string>{"Not enough space. Install anyway?"}));
  EXPECT_EQ(styles, (std::vector<unsigned>{QUESTION}));
  // The page's own texts come back in place of the status lines.
  EXPECT_EQ(control_text(page, 1001), "Or type another one.");
  EXPECT_EQ(control_text(page, 1002), "");
  EXPECT_EQ(control_text(page, 1003), "Click Next.");

  answers = {ANSWER_YES};
  EXPECT_FALSE(claimed(IDC_NEXT));
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_STREQ(g_app.install_folder, install_folder.c_str());
}

TEST_F(DestinationPage, AFileThatCannotBeMadeWritableIsNamedAndThePageStays) {
  // The wildcard target finds data.txt, which the attribute calls cannot reach
  // under that name.
  load_files({text_file("dat?.txt", 10)});
  CreateDirectoryA(dir.file("app").c_str(), NULL);
  dir.write("app\\data.txt", "data");
  open_page();
  EXPECT_TRUE(claimed(IDC_NEXT));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0],
            "Setup cannot install here.\n\n" + install_folder + "dat?.txt is write-protected.");
  EXPECT_EQ(styles[0], (unsigned)MB_ICONINFORMATION);
  EXPECT_EQ(control_text(page, 1001), "Or type another one.");
}

TEST_F(DestinationPage, TypedFoldersBecomeFullPathsEndingInOneBackslash) {
  load_files({});
  std::string app = dir.file("app");
  CreateDirectoryA(app.c_str(), NULL);
  open_page();
  SetCurrentDirectoryA(dir.path().c_str());
  struct Case {
    std::string typed, folder;
  } cases[] = {
      {app, app + "\\"},
      {app + "\\", app + "\\"},
      {"app", app + "\\"}, // relative to the current folder
      {"app\\..\\app\\", app + "\\"},
      {"C:\\", "C:\\"},
      {"C:\\windows\\..", "C:\\"},
  };
  for (const Case& c : cases) {
    SetCurrentDirectoryA(dir.path().c_str());
    type_folder(c.typed);
    EXPECT_FALSE(claimed(IDC_NEXT)) << c.typed;
    EXPECT_STREQ(g_app.install_folder, c.folder.c_str()) << c.typed;
    EXPECT_EQ(current_folder() + (c.folder == "C:\\" ? "" : "\\"), c.folder) << c.typed;
  }
  EXPECT_TRUE(asked.empty());
}

TEST_F(DestinationPage, BackGoesToTheLanguageInformationOrWelcomePage) {
  struct Case {
    int blocks;
    bool information;
    int page;
  } cases[] = {{2, true, 2}, {2, false, 2}, {1, true, 1}, {1, false, 0}};
  load_files({});
  const uint8_t* information_table = g_package.blocks[0].language.tables[1];
  for (const Case& c : cases) {
    g_package.block_count = c.blocks;
    g_package.blocks[0].language.tables[1] = c.information ? information_table : nullptr;
    g_wizard = WizardState{4, 0};
    open_page();
    EXPECT_TRUE(claimed(IDC_BACK));
    EXPECT_EQ(g_wizard.current_page + 1, c.page) << c.blocks << " blocks";
    EXPECT_EQ(g_wizard.page_result, PAGE_NEXT);
    DestroyWindow(page);
    page = NULL;
  }
  g_package.block_count = 1;
  g_package.blocks[0].language.tables[1] = information_table;
}

TEST_F(DestinationPage, ASinglePageRunLeavesNextAndBackToTheMainDialog) {
  load_files({text_file("a.txt", 10)});
  g_package.start_page = 4;
  open_page();
  EXPECT_FALSE(claimed(IDC_NEXT)); // not validated: no question about the missing folder
  EXPECT_FALSE(claimed(IDC_BACK));
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(g_wizard.current_page, 4);
  EXPECT_FALSE(folder_exists(dir.file("app")));
}
