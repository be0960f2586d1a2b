// Creating the folders of a path: each level entered, made only when missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "install/install.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
static const std::string SEP = "\\";
static void leave_folder() {
  SetCurrentDirectoryA("C:\\");
}
#else
#include <unistd.h>
static const std::string SEP = "/";
static void leave_folder() {
  if (chdir("/") != 0) {
  }
}
#endif

namespace fs = std::filesystem;

TEST(CreateFoldersOfPath, MakesEveryMissingLevelOfAFilePathOrAFolderPath) {
  TempDir dir;
  std::string file_path =
      dir.path() + SEP + "Program Files" + SEP + "App" + SEP + "bin" + SEP + "x.dll";
  EXPECT_TRUE(create_folders_of_path(file_path.c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() + SEP + "Program Files" + SEP + "App" + SEP + "bin"));
  EXPECT_FALSE(fs::exists(file_path));
  EXPECT_EQ(fs::canonical(fs::current_path()),
            fs::canonical(dir.path() + SEP + "Program Files" + SEP + "App" + SEP + "bin"));

  std::string folder_path = dir.path() + SEP + "one" + SEP + "two" + SEP;
  EXPECT_TRUE(create_folders_of_path(folder_path.c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() + SEP + "one" + SEP + "two"));
  EXPECT_TRUE(create_folders_of_path(folder_path.c_str())); // all there already
  leave_folder();
}

TEST(CreateFoldersOfPath, StopsAtTheFirstLevelThatCannotBeMade) {
  TempDir dir;
  dir.write("App", "a file where a folder should go");
  std::string path = dir.path() + SEP + "App" + SEP + "bin" + SEP + "x.dll";
  EXPECT_FALSE(create_folders_of_path(path.c_str()));
  EXPECT_FALSE(fs::is_directory(dir.path() + SEP + "App"));
  leave_folder();
}

TEST(ReadyFoldersOfFile, FilesOfOneFolderEnterItAndAGoneFolderIsMadeAgain) {
  TempDir dir;
  std::string app = dir.path() + SEP + "App" + SEP + "bin";
  std::string a = app + SEP + "a.dll", b = app + SEP + "b.dll";
  std::string other = dir.path() + SEP + "Other" + SEP + "c.txt";
  g_install.ready_folder[0] = 0;
  EXPECT_TRUE(ready_folders_of_file(a.c_str()));
  EXPECT_TRUE(fs::is_directory(app));
  EXPECT_EQ(std::string(g_install.ready_folder), app + SEP);

  // The same folder again: entered, wherever the current folder was.
  leave_folder();
  EXPECT_TRUE(ready_folders_of_file(b.c_str()));
  EXPECT_EQ(fs::canonical(fs::current_path()), fs::canonical(app));

  // Removed meanwhile: the walk makes it again.
  leave_folder();
  fs::remove_all(dir.path() + SEP + "App");
  EXPECT_TRUE(ready_folders_of_file(b.c_str()));
  EXPECT_TRUE(fs::is_directory(app));

  // Another folder is walked and becomes the one known.
  EXPECT_TRUE(ready_folders_of_file(other.c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() + SEP + "Other"));
  EXPECT_EQ(std::string(g_install.ready_folder), dir.path() + SEP + "Other" + SEP);

  // A level that cannot be made: false, and nothing is known.
  dir.write("Blocked", "a file where a folder should go");
  std::string blocked = dir.path() + SEP + "Blocked" + SEP + "d.txt";
  EXPECT_FALSE(ready_folders_of_file(blocked.c_str()));
  EXPECT_EQ(g_install.ready_folder[0], 0);
  leave_folder();
  g_install.ready_folder[0] = 0;
}
