// The figures of a folder's disk and the space and access check that the
// destination page runs on Next: clusters needed beyond the files already
// there, read-only targets, targets that cannot be made writable, fonts that
// are already installed.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/state.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "ui/destination_page.h"
#include "ui/ui.h"
#include "win/destination_fixture.h"

namespace {

class DiskFigures : public ::testing::Test {
protected:
  void TearDown() override { set_disk_free_space_query(nullptr); }
};

} // namespace

// Where only GetDiskFreeSpaceA is there, the free clusters give the figure.
TEST_F(DiskFigures, FreeSpaceAndClusterSizeFollowTheDiskFigures) {
  struct Case {
    DWORD sectors, bytes, free;
    uint32_t free_kb, cluster_kb;
  } cases[] = {
      {8, 512, 1000, 4000, 4}, // 4 KB clusters
      {1, 512, 3, 1, 1},       // (512 >> 8) * 3 >> 2
      {1, 128, 100, 0, 1},     // clusters under 256 bytes count as nothing free
      {3, 512, 10, 15, 2},     // 1.5 KB clusters: the size rounds up to 2 KB
      {64, 512, 0x00FFFFFF, 536870880, 32},
      // 2 TB free in 4 KB clusters: 16 * 2^29 does not fit 32 bits.
      {8, 512, 0x20000000, 0x80000000u, 4},
      // Past 4 TB the figure stays the largest one that is not "unknown".
      {8, 512, 0xFFFFFFFF, 0xFFFFFFFEu, 4},
  };
  for (const Case& c : cases) {
    use_fake_disk(c.free, false);
    g_fake_disk.sectors_per_cluster = c.sectors;
    g_fake_disk.bytes_per_sector = c.bytes;
    EXPECT_EQ(free_space_kb("C:\\App\\"), c.free_kb) << c.sectors << " x " << c.bytes;
    EXPECT_EQ(cluster_size_kb("C:\\App\\"), c.cluster_kb) << c.sectors << " x " << c.bytes;
  }
}

// GetDiskFreeSpaceA stops at 2 GB (a 3 GB free disk reads as 2 GB there):
// the free bytes come from GetDiskFreeSpaceExA when it answers, the cluster
// size still from the first call.
TEST_F(DiskFigures, TheBytesFreeComeFromTheSecondCallWhenItAnswers) {
  const uint64_t GB = 1ull << 30, TB = 1ull << 40;
  struct Case {
    bool readable, ex_readable;
    uint64_t available;
    uint32_t free_kb, cluster_kb;
  } cases[] = {
      {true, true, 3 * GB, 3 * 1024 * 1024, 4},
      {true, true, 3 * GB + 1023, 3 * 1024 * 1024, 4}, // whole kilobytes
      {true, true, 4 * TB - 1024, 0xFFFFFFFFu - 1, 4}, // the largest figure below "unknown"
      {true, true, 5 * TB, 0xFFFFFFFFu - 1, 4},        // saturated, not wrapped
      {true, true, 0, 0, 4},
      {false, true, 3 * GB, 3 * 1024 * 1024, 32}, // no cluster size: 32 KB
      {true, false, 3 * GB, 2 * 1024 * 1024, 4},  // back to the capped clusters
      {false, false, 3 * GB, SPACE_UNKNOWN, 32},
  };
  for (const Case& c : cases) {
    use_fake_disk(0x80000); // 2 GB in 4 KB clusters
    g_fake_disk.readable = c.readable;
    g_fake_disk.ex_readable = c.ex_readable;
    g_fake_disk.available = c.available;
    EXPECT_EQ(free_space_kb("C:\\App\\"), c.free_kb) << c.available << " bytes";
    EXPECT_EQ(cluster_size_kb("C:\\App\\"), c.cluster_kb) << c.available << " bytes";
    EXPECT_EQ(g_fake_disk.ex_roots.front(), "C:\\");
  }
}

TEST_F(DiskFigures, DriveLetterPathsAskTheRootAndNetworkPathsGoAsTheyAre) {
  struct Case {
    const char* path;
    const char* root;
  } cases[] = {
      {"C:\\Program Files\\App\\", "C:\\"},
      {"d:", "d:\\"},
      {"E:relative", "E:\\"},
      {"\\\\server\\share\\App\\", "\\\\server\\share\\App\\"},
      {"relative\\folder", "relative\\folder"},
  };
  for (const Case& c : cases) {
    use_fake_disk(10);
    free_space_kb(c.path);
    cluster_size_kb(c.path);
    EXPECT_EQ(g_fake_disk.roots, (std::vector<std::string>{c.root, c.root})) << c.path;
  }
}

TEST_F(DiskFigures, AnUnreadableDiskIsUnknownWith32KClusters) {
  use_fake_disk(10);
  g_fake_disk.readable = g_fake_disk.ex_readable = false;
  EXPECT_EQ(free_space_kb("Q:\\App\\"), SPACE_UNKNOWN);
  EXPECT_EQ(cluster_size_kb("Q:\\App\\"), 32u);
}

TEST_F(DiskFigures, RealDriveCMatchesWhatTheSystemReportsFree) {
  // Other processes write to the same disk: take a reading that did not
  // change around the call.
  for (int attempt = 0; attempt < 20; attempt++) {
    ULARGE_INTEGER a1, a2, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &a1, &total, &free));
    uint32_t kb = free_space_kb("C:\\windows\\system32\\");
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &a2, &total, &free));
    if (a1.QuadPart != a2.QuadPart) continue;
    uint64_t want = a1.QuadPart >> 10;
    EXPECT_EQ(kb, want < 0xFFFFFFFFu ? (uint32_t)want : 0xFFFFFFFEu);
    DWORD sectors, bytes, clusters, all;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &sectors, &bytes, &clusters, &all));
    EXPECT_EQ(cluster_size_kb("C:\\windows\\system32\\"), (sectors * bytes + 1023) >> 10);
    EXPECT_GT(kb, 0u);
    return;
  }
  FAIL() << "the free space of C: never held still";
}

namespace {

class SpaceAndAccessCheck : public DestinationPageTest {
protected:
  void SetUp() override {
    DestinationPageTest::SetUp();
    ASSERT_TRUE(CreateDirectoryA(dir.file("app").c_str(), NULL));
  }
  std::string in_app(const std::string& name) { return install_folder + name; }
};

std::string fonts_folder() {
  char path[MAX_PATH] = "";
  SHGetSpecialFolderPathA(NULL, path, CSIDL_FONTS, FALSE);
  return path;
}

} // namespace

TEST_F(SpaceAndAccessCheck, CountsClustersBeyondTheTargetsAndTheLargestFileOnceMore) {
  load_files({text_file("a.txt", 10000),      // missing: 3 clusters
              text_file("b.txt", 5000),       // 2 clusters over 1 there: 1 more
              text_file("c.txt", 3000),       // 1 cluster over 3 there: nothing
              text_file("d.txt", 50000, 2)}); // not installed, but the largest: 13
  dir.write("app\\b.txt", std::string(100, 'b'));
  dir.write("app\\c.txt", std::string(9000, 'c'));
  // Needed: (4 + 13) clusters of 4 KB = 68 KB, which must stay below the free space.
  struct Case {
    bool readable;
    DWORD free_clusters;
    int result;
  } cases[] = {{true, 17, CHECK_LOW_SPACE}, {true, 18, CHECK_OK}, {false, 0, CHECK_OK}};
  for (const Case& c : cases) {
    use_fake_disk(c.free_clusters);
    g_fake_disk.readable = g_fake_disk.ex_readable = c.readable;
    EXPECT_EQ(check_space_and_access(), c.result) << c.free_clusters << " clusters free";
  }
  EXPECT_FALSE(g_ui.read_only_files_found);
}

TEST_F(SpaceAndAccessCheck, AReadOnlyTargetIsFoundAndLeftReadOnly) {
  load_files({text_file("old.txt", 10), text_file("other.txt", 10)});
  std::string old = dir.write("app\\old.txt", "old text");
  dir.write("app\\other.txt", "other text");
  make_read_only(old, true);
  EXPECT_EQ(check_space_and_access(), CHECK_OK);
  EXPECT_TRUE(g_ui.read_only_files_found);
  EXPECT_TRUE(file_is_read_only(old));
  EXPECT_EQ(read_file_bytes(old), text_bytes("old text"));

  // Each check starts afresh.
  make_read_only(old, false);
  EXPECT_EQ(check_space_and_access(), CHECK_OK);
  EXPECT_FALSE(g_ui.read_only_files_found);
  EXPECT_FALSE(file_is_read_only(old));
}

// A target name with a wildcard finds an existing file when the check looks
// for the target, but names nothing that the attribute calls accept: the file
// can be neither tested nor made writable.
TEST_F(SpaceAndAccessCheck, ATargetThatCannotBeMadeWritableIsError9NamingIt) {
  load_files({text_file("first.txt", 10), text_file("dat?.txt", 10), text_file("last.txt", 10)});
  std::string data = dir.write("app\\data.txt", "data");
  make_read_only(data, true);
  g_app.error_file_name[0] = 0;
  EXPECT_EQ(check_space_and_access(), CHECK_NOT_WRITABLE);
  EXPECT_EQ(std::string(g_app.error_file_name), in_app("dat?.txt"));
  EXPECT_TRUE(g_ui.read_only_files_found);
  EXPECT_TRUE(file_is_read_only(data));
}

TEST_F(SpaceAndAccessCheck, AFontThatIsAlreadyInstalledIsKeptAtUninstall) {
  std::string font = fonts_folder() + "\\pakwiz-destination-test.ttf";
  ASSERT_TRUE(fonts_folder().size() > 0);
  {
    HANDLE h = CreateFileA(font.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  make_read_only(font, true); // fonts are not tested for writing
  load_files({text_file("pakwiz-destination-test.ttf", 10, 1, DEST_FONT),
              text_file("pakwiz-missing-font.ttf", 10, 1, DEST_FONT), text_file("app.txt", 10, 1)});
  dir.write("app\\app.txt", "there");
  EXPECT_EQ(check_space_and_access(), CHECK_OK);
  EXPECT_EQ(entry_removal_mode(entry(0)), REMOVAL_KEEP);
  EXPECT_EQ(entry_removal_mode(entry(1)), REMOVAL_REMOVE);
  EXPECT_EQ(entry_removal_mode(entry(2)), REMOVAL_REMOVE);
  EXPECT_FALSE(g_ui.read_only_files_found);
  make_read_only(font, false);
  DeleteFileA(font.c_str());
}
