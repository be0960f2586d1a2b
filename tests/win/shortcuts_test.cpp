// Shortcuts as real shell links: what a link holds, where Start-menu links
// go for each kind of folder text, desktop links made by the install step,
// and links whose path would not fit.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/state.h"
#include "install/install.h"
#include "install/shortcuts.h"
#include "package/file_entry.h"
#include "support/install_package.h"
#include "win/shortcuts_link_reader.h"

namespace {

class Shortcuts : public InstallTest {
protected:
  void SetUp() override {
    InstallTest::SetUp();
    OleInitialize(NULL);
  }
  void TearDown() override {
    OleUninitialize();
    InstallTest::TearDown();
  }
  void install_all() {
    ASSERT_TRUE(prepare_installation());
    while (install_step()) {
    }
    ASSERT_EQ(g_install.error_code, 0u);
    finish_installation();
  }
};

PackedFile menu_file(const std::string& target, const std::string& folder,
                     const std::string& name) {
  PackedFile f;
  f.entry.strings[0] = target;
  f.entry.strings[1] = folder;
  f.entry.strings[2] = name;
  f.content = text_bytes(target);
  return f;
}

} // namespace

TEST_F(Shortcuts, LinkHoldsTargetWorkingFolderArgumentsAndIcon) {
  std::string target = dir.write("bin\\tool.exe", "x");
  std::string plain = dir.file("plain.lnk"), full = dir.file("full.lnk");
  create_shortcut(target.c_str(), plain.c_str(), "", 0);
  create_shortcut(target.c_str(), full.c_str(), "--welcome /q", 2);

  LinkFields p = read_link(plain);
  ASSERT_TRUE(p.loaded);
  EXPECT_EQ(p.path, target);
  EXPECT_EQ(p.working_folder, dir.file("bin"));
  EXPECT_EQ(p.arguments, "");
  EXPECT_EQ(p.icon_path, ""); // left to the shell
  EXPECT_EQ(p.icon_index, 0);

  LinkFields f = read_link(full);
  ASSERT_TRUE(f.loaded);
  EXPECT_EQ(f.path, target);
  EXPECT_EQ(f.arguments, "--welcome /q");
  EXPECT_EQ(f.icon_path, target);
  EXPECT_EQ(f.icon_index, 2);

  // An existing link is overwritten.
  create_shortcut(target.c_str(), full.c_str(), "", 0);
  EXPECT_EQ(read_link(full).arguments, "");
}

TEST_F(Shortcuts, TargetWithoutBackslashGetsNoWorkingFolder) {
  std::string link = dir.file("bare.lnk");
  create_shortcut("pakwiz_bare.exe", link.c_str(), "", 0);
  LinkFields f = read_link(link);
  ASSERT_TRUE(f.loaded);
  EXPECT_EQ(f.working_folder, "");
}

TEST_F(Shortcuts, StartMenuFolderTextChoosesTheFolder) {
  std::string programs = shell_folder(CSIDL_PROGRAMS), startup = shell_folder(CSIDL_STARTUP),
              start_menu = shell_folder(CSIDL_STARTMENU);
  ASSERT_FALSE(programs.empty());
  RemoveDirectoryA((programs + "\\PakwizGames\\Puzzles").c_str());
  RemoveDirectoryA((programs + "\\PakwizGames").c_str());
  load({menu_file("a.exe", "#Startup#", "Pakwiz Startup"),
        menu_file("b.exe", "#STARTUP#", "Pakwiz Startup Caps"),
        menu_file("c.exe", "#start menu#", "Pakwiz Menu"),
        menu_file("d.exe", "", "Pakwiz Programs"),
        menu_file("e.exe", "PakwizGames\\Puzzles", "Pakwiz Puzzle"),
        menu_file("f.exe", "PakwizGames", std::string(240, 'n'))}); // does not fit 260 bytes
  install_all(); // no uninstaller entry: the shortcuts are made without a log

  struct Case {
    std::string link, target;
  } cases[] = {
      {startup + "\\Pakwiz Startup.lnk", install_folder + "a.exe"},
      {startup + "\\Pakwiz Startup Caps.lnk", install_folder + "b.exe"},
      {start_menu + "\\Pakwiz Menu.lnk", install_folder + "c.exe"},
      {programs + "\\Pakwiz Programs.lnk", install_folder + "d.exe"},
      {programs + "\\PakwizGames\\Puzzles\\Pakwiz Puzzle.lnk", install_folder + "e.exe"},
  };
  for (const Case& c : cases) {
    LinkFields f = read_link(c.link);
    EXPECT_TRUE(f.loaded) << c.link;
    EXPECT_EQ(f.path, c.target) << c.link;
    EXPECT_EQ(f.working_folder, install_folder.substr(0, install_folder.size() - 1)) << c.link;
    DeleteFileA(c.link.c_str());
  }
  // The link that does not fit is not made under any name.
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((programs + "\\PakwizGames\\*.lnk").c_str(), &found);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
  RemoveDirectoryA((programs + "\\PakwizGames\\Puzzles").c_str());
  RemoveDirectoryA((programs + "\\PakwizGames").c_str());
}

TEST_F(Shortcuts, DesktopShortcutIsMadeByTheInstallStep) {
  std::string desktop = shell_folder(CSIDL_DESKTOPDIRECTORY);
  ASSERT_FALSE(desktop.empty());
  PackedFile f;
  f.entry.strings[0] = "readme.txt";
  f.entry.strings[4] = "Pakwiz Desktop Readme";
  f.entry.strings[5] = "/view";
  f.content = text_bytes("read me");
  load({f});
  std::string link = desktop + "\\Pakwiz Desktop Readme.lnk";
  DeleteFileA(link.c_str());
  ASSERT_TRUE(prepare_installation());
  ASSERT_TRUE(install_step());
  LinkFields got = read_link(link); // there before the installation finishes
  EXPECT_TRUE(got.loaded);
  EXPECT_EQ(got.path, install_folder + "readme.txt");
  EXPECT_EQ(got.arguments, "/view");
  EXPECT_EQ(got.icon_index, 0);
  DeleteFileA(link.c_str());
}
