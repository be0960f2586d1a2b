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
