// `pakwiz try` copies a cached Wine prefix for each trial: Wine's own
// programs and libraries as hard links, the rest as copies; a trial that
// writes into a linked file is noticed, since it wrote into the cache too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "builder/try_run.h"

namespace fs = std::filesystem;
using namespace pakwiz;

namespace {

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

ino_t inode(const fs::path& p) {
  struct stat info;
  return lstat(p.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(TryPrefix, CopyLinksWineFilesAndCopiesTheRest) {
  char pattern[] = "/tmp/pakwiz-try-prefix-test.XXXXXX";
  ASSERT_TRUE(mkdtemp(pattern));
  fs::path dir = pattern, cached = dir / "cached", trial = dir / "trial";
  write(cached / "system.reg", "WINE REGISTRY Version 2\n");
  write(cached / "drive_c/windows/system32/kernel32.dll", "MZ kernel32");
  write(cached / "drive_c/windows/Notepad.EXE", "MZ notepad");
  write(cached / "drive_c/windows/win.ini", "[windows]\n");
  fs::create_directories(cached / "drive_c/users/Public/Desktop");
  fs::create_directories(cached / "dosdevices");
  fs::create_directory_symlink("../drive_c", cached / "dosdevices/c:");

  std::vector<LinkedFile> linked;
  ASSERT_TRUE(copy_prefix(cached.string(), trial.string(), &linked));
  // The programs share their data; registry and INI files are the trial's own.
  for (const char* p : {"drive_c/windows/system32/kernel32.dll", "drive_c/windows/Notepad.EXE"})
    EXPECT_EQ(inode(trial / p), inode(cached / p)) << p;
  for (const char* p : {"system.reg", "drive_c/windows/win.ini"}) {
    EXPECT_NE(inode(trial / p), inode(cached / p)) << p;
    EXPECT_TRUE(fs::is_regular_file(trial / p)) << p;
  }
  EXPECT_EQ(linked.size(), 2u);
  EXPECT_TRUE(fs::is_directory(trial / "drive_c/users/Public/Desktop"));
  EXPECT_EQ(fs::read_symlink(trial / "dosdevices/c:"), "../drive_c");
  EXPECT_FALSE(linked_files_changed(linked));

  // Writing a copied file leaves the cache alone; a linked file replaced by
  // a new one (a new inode) too; writing into a linked file in place does not.
  write(trial / "system.reg", "changed");
  fs::remove(trial / "drive_c/windows/Notepad.EXE");
  write(trial / "drive_c/windows/Notepad.EXE", "a new file of the same name");
  EXPECT_FALSE(linked_files_changed(linked));
  std::ofstream(trial / "drive_c/windows/system32/kernel32.dll", std::ios::binary | std::ios::app)
      << "patched";
  EXPECT_TRUE(linked_files_changed(linked));
  fs::remove_all(dir);
}

// A trial killed while it made the cached prefix leaves a "<name>.new-…"
// folder of a few hundred megabytes; later trials remove such folders once
// they are old, and leave alone one that is being made, the prefix itself
// and everything else.
TEST(TryPrefix, AbandonedPrefixesAreRemovedOnceOld) {
  char pattern[] = "/tmp/pakwiz-try-prefix-test.XXXXXX";
  ASSERT_TRUE(mkdtemp(pattern));
  fs::path dir = pattern, ready = dir / "wine-prefix-0123";
  write(ready / "system.reg", "ready");
  write(dir / "wine-prefix-0123.new-old1/drive_c/windows/win.ini", "[windows]\n");
  write(dir / "wine-prefix-0123.new-old2/system.reg", "half");
  write(dir / "wine-prefix-0123.new-busy/system.reg", "being made");
  write(dir / "wine-prefix-4567.new-other/system.reg", "another Wine's");
  write(dir / "wine-prefix-0123.new-file", "a file, not a prefix");
  auto now = fs::file_time_type::clock::now();
  for (const char* old : {"wine-prefix-0123.new-old1", "wine-prefix-0123.new-old2",
                          "wine-prefix-4567.new-other", "wine-prefix-0123.new-file"})
    fs::last_write_time(dir / old, now - std::chrono::hours(2));

  EXPECT_EQ(remove_abandoned_prefixes(ready.string(), 3600), 2);
  EXPECT_FALSE(fs::exists(dir / "wine-prefix-0123.new-old1"));
  EXPECT_FALSE(fs::exists(dir / "wine-prefix-0123.new-old2"));
  for (const char* kept : {"wine-prefix-0123/system.reg", "wine-prefix-0123.new-busy",
                           "wine-prefix-4567.new-other", "wine-prefix-0123.new-file"})
    EXPECT_TRUE(fs::exists(dir / kept)) << kept;
  fs::remove_all(dir);
}

} // namespace
