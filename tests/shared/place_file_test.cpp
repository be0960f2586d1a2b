// Placing one file: the content decoded from the archive through a temporary
// file beside the destination, proved by its checksum and swapped into place.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "common/state.h"
#include "decode/archive.h"
#include "install/place_file.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "support/install_package.h"

namespace {

#ifdef _WIN32
const char SEP[] = "\\";
#else
const char SEP[] = "/";
#endif

class PlaceFile : public InstallTest {
protected:
  // Loads the files and opens the archive.
  void start(std::vector<PackedFile> files, const Bytes& prefix = Bytes()) {
    load(files, prefix);
    ASSERT_EQ(open_archive(), 0);
  }
  std::string dest(const std::string& relative) { return install_folder + relative; }
  int place(uint32_t i, const std::string& path) {
    strcpy(g_app.destination_path, path.c_str());
    return place_file(file_entry(entry(i)), g_app.destination_path, false, 0, 100);
  }
};

} // namespace

TEST_F(PlaceFile, CreatesMissingFoldersAndTellsANewFileFromAReplacedOne) {
  start({packed_file("a.txt", "first"), packed_file("a.txt", "second version")});
  std::string path = dest(std::string("sub") + SEP + "deeper" + SEP + "a.txt");

  ASSERT_EQ(place(0, path), 1);
  EXPECT_EQ(entry_status(entry(0)), STATUS_CREATED);
  EXPECT_EQ(read_file_bytes(path), text_bytes("first"));

  ASSERT_EQ(place(1, path), 1);
  EXPECT_EQ(entry_status(entry(1)), STATUS_REPLACED);
  EXPECT_EQ(read_file_bytes(path), text_bytes("second version"));
  EXPECT_FALSE(file_exists(dest(std::string("sub") + SEP + "deeper" + SEP + "a.$$A")));
  EXPECT_EQ(g_install.error_code, 0u);
}

TEST_F(PlaceFile, TemporaryNameSkipsNamesInUseBesideTheDestination) {
  start({packed_file("FILE.DLL", "new content")});
  dir.write(std::string("app") + SEP + "FILE.$$A", "keep a");
  dir.write(std::string("app") + SEP + "FILE.$$B", "keep b");

  char name[PATH_SIZE];
  ASSERT_TRUE(make_temp_name(name, sizeof name, dest("FILE.DLL").c_str()));
  EXPECT_EQ(std::string(name), dest("FILE.$$C"));

  ASSERT_EQ(place(0, dest("FILE.DLL")), 1);
  EXPECT_EQ(std::string(g_app.temp_path), dest("FILE.$$C"));
  EXPECT_EQ(read_file_bytes(dest("FILE.DLL")), text_bytes("new content"));
  EXPECT_EQ(read_file_bytes(dest("FILE.$$A")), text_bytes("keep a"));
  EXPECT_EQ(read_file_bytes(dest("FILE.$$B")), text_bytes("keep b"));
}

TEST_F(PlaceFile, TemporaryNameWithoutExtensionAndWhenAllAreTaken) {
  char name[PATH_SIZE];
  ASSERT_TRUE(make_temp_name(name, sizeof name, dir.file("README").c_str()));
  EXPECT_EQ(std::string(name), dir.file("README.$$A"));
  for (char c = 'A'; c <= 'Z'; c++) dir.write(std::string("x.$$") + c, "");
  EXPECT_FALSE(make_temp_name(name, sizeof name, dir.file("x.txt").c_str()));
}

TEST_F(PlaceFile, ReadOnlyDestinationIsReplacedAndMadeReadOnlyAgain) {
  start({packed_file("ro.txt", "new")});
  std::string path = dir.write(std::string("app") + SEP + "ro.txt", "old");
  make_read_only(path, true);

  ASSERT_EQ(place(0, path), 1);
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  EXPECT_EQ(read_file_bytes(path), text_bytes("new"));
  EXPECT_TRUE(file_is_read_only(path));
}

TEST_F(PlaceFile, ChecksumMismatchLeavesTheDestinationUntouched) {
  PackedFile f = packed_file("data.bin", "what the archive holds");
  f.wrong_checksum = true;
  start({f});
  std::string path = dir.write(std::string("app") + SEP + "data.bin", "old data");

  EXPECT_EQ(place(0, path), 0);
  EXPECT_EQ(g_install.error_code, (uint32_t)PLACE_ERR_CHECKSUM);
  EXPECT_EQ(std::string(g_app.error_file_name), path);
  EXPECT_EQ(read_file_bytes(path), text_bytes("old data"));
  // The temporary file is left for the driver to delete.
  EXPECT_EQ(std::string(g_app.temp_path), dest("data.$$A"));
  EXPECT_TRUE(file_exists(g_app.temp_path));
}

TEST_F(PlaceFile, UninstallerIsThePrefixBlockFollowedByItsArchiveData) {
  PackedFile f = packed_file("uninst.exe", "entry data");
  f.entry.flags = ENTRY_UNINSTALLER;
  start({f}, text_bytes("PREFIX-BLOCK"));
  ASSERT_EQ(place(0, dest("uninst.exe")), 1);
  EXPECT_EQ(read_file_bytes(dest("uninst.exe")), text_bytes("PREFIX-BLOCKentry data"));
}

TEST_F(PlaceFile, UninstallerWithoutPrefixBlockFailsInsteadOfPlacingAnEmptyFile) {
  PackedFile f = packed_file("uninst.exe", "entry data");
  f.entry.flags = ENTRY_UNINSTALLER;
  start({f});
  EXPECT_EQ(place(0, dest("uninst.exe")), 0);
  EXPECT_EQ(g_install.error_code, (uint32_t)PLACE_ERR_DAMAGED_PACKAGE);
  EXPECT_FALSE(file_exists(dest("uninst.exe")));
  EXPECT_FALSE(file_exists(dest("uninst.$$A")));
}

TEST_F(PlaceFile, InUseFlagSkipsAnIdenticalFile) {
  start({packed_file("shared.dll", "same bytes")});
  std::string path = dir.write(std::string("app") + SEP + "shared.dll", "same bytes");
  make_read_only(path, true); // would be changed by any swap
  strcpy(g_app.destination_path, path.c_str());
  EXPECT_TRUE(place_file(file_entry(entry(0)), g_app.destination_path, true, 0, 100));
  EXPECT_EQ(entry_status(entry(0)), STATUS_NONE);
  EXPECT_FALSE(g_install.restart_needed);
  EXPECT_EQ(g_app.temp_path[0], 0);
}

TEST_F(PlaceFile, ArchiveFailingUnderTheDecoderIsReportedAsTheArchiveError) {
  PackedFile f;
  f.entry.strings[0] = "big.bin";
  uint32_t x = 12345;
  for (int i = 0; i < 40000; i++)
    f.content.push_back((uint8_t)((x = x * 1103515245 + 12345) >> 16));
  start({f});
  // The package file's share of the archive ends inside the entry's stream;
  // the rest would be in setup.D01, which is missing.
  uint32_t cut = entry_archive_position(entry(0)) + entry_packed_size(entry(0)) / 2;
  g_archive.volume_size = cut;
  g_archive.bytes_left = (int32_t)cut;
  std::string path = dest("big.bin");
  EXPECT_EQ(place(0, path), 0);
  EXPECT_EQ(g_install.error_code, 18u);
  std::string named = g_app.error_file_name;
  EXPECT_EQ(named.substr(named.size() - 9), "setup.D01");
  EXPECT_FALSE(file_exists(path));
}

#ifndef _WIN32
// The disk fills up while the file is decoded: error 20 naming the
// destination, not a damaged file (21). A file size limit makes the writes
// past it fail the way a full disk does.
TEST_F(PlaceFile, FullDiskWhileDecodingIsReportedAsAFullDisk) {
  PackedFile f;
  f.entry.strings[0] = "big.bin";
  uint32_t x = 7;
  for (int i = 0; i < 200000; i++)
    f.content.push_back((uint8_t)((x = x * 1103515245 + 12345) >> 16));
  start({f});
  std::string path = dest("big.bin");
  strcpy(g_app.destination_path, path.c_str());
  struct rlimit saved, limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  limit = saved;
  limit.rlim_cur = 50000;
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  bool placed = place_file(file_entry(entry(0)), g_app.destination_path, false, 0, 100);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(placed);
  EXPECT_EQ(g_install.error_code, (uint32_t)PLACE_ERR_DISK_FULL);
  EXPECT_EQ(std::string(g_app.error_file_name), path);
  EXPECT_FALSE(file_exists(path));
}
#endif
