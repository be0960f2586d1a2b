// The uninstall log's bytes: file log entries relative to the install
// folder, which entries are logged with which flags, the record frames that
// are completed at their end, the key log record and the end record.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "common/file.h"
#include "common/state.h"
#include "install/uninstall_log.h"
#include "package/file_entry.h"
#include "support/package_maker.h"
#include "support/temp_dir.h"
#include "support/uninstall_log_reader.h"

namespace {

Bytes log_string(const std::string& s) {
  Bytes b;
  put_u16(b, (uint16_t)s.size());
  b.insert(b.end(), s.begin(), s.end());
  return b;
}

class UninstallLogLayout : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    strcpy(g_app.install_folder, "C:\\Apps\\Tool\\");
  }
  void TearDown() override { app_free_buffers(); }
  // Runs `write` on a fresh file holding `initial` (positioned at its end)
  // and returns the file's bytes afterwards.
  template <class F> Bytes written(const Bytes& initial, F write) {
    std::string path = dir.write("log.bin", initial);
    FileHandle f = file_open(path.c_str(), FILE_READ_WRITE);
    EXPECT_NE(f, INVALID_FILE);
    file_seek(f, 0, FROM_END);
    write(f);
    file_close(f);
    return read_file_bytes(path);
  }
  TempDir dir;
};

} // namespace

TEST_F(UninstallLogLayout, FileEntriesAreRelativeToTheInstallFolder) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  } cases[] = {
      {"C:\\Apps\\Tool\\tool.exe", ".", "tool.exe"},
      {"C:\\Apps\\Tool\\bin\\x.dll", ".\\bin", "x.dll"},
      {"c:\\apps\\TOOL\\Bin\\Sub\\z.dll", ".\\Bin\\Sub", "z.dll"}, // any case of the folder
      {"C:\\WINDOWS\\SYSTEM\\y.dll", "C:\\WINDOWS\\SYSTEM", "y.dll"},
      {"C:\\Apps\\Toolbox\\t.exe", "C:\\Apps\\Toolbox", "t.exe"}, // only the whole folder counts
  };
  for (const Case& c : cases) {
    Bytes got = written(Bytes(), [&](FileHandle f) { write_file_log_entry(f, c.path, 5); });
    Bytes want = log_string(c.folder);
    Bytes name = log_string(c.name);
    want.insert(want.end(), name.begin(), name.end());
    want.push_back(5);
    EXPECT_EQ(got, want) << c.path;
  }
}

TEST_F(UninstallLogLayout, LoggedEntriesAndTheirFlags) {
  struct Case {
    const char* what;
    uint8_t removal, destination, shared, special;
    uint16_t status;
    bool logged;
    uint8_t flags;
  } cases[] = {
      {"created, removed at uninstall", 1, 0, 0, 0, 25, true, 0},
      {"replaced", 1, 0, 0, 0, 23, true, 0},
      {"kept at uninstall", 0, 0, 0, 0, 25, false, 0},
      {"nothing put in place", 1, 0, 0, 0, 0, false, 0},
      {"failed", 1, 0, 0, 0, 27, false, 0},
      {"not installed", 2, 0, 0, 0, 25, false, 0},
      {"font", 1, 3, 0, 0, 25, true, 2},
      {"shared self-registering system file", 1, 2, 1, 2, 23, true, 5},
      {"usage count asked for in the install folder", 1, 0, 1, 0, 25, true, 0},
      {"Windows folder with usage count", 1, 1, 1, 0, 25, true, 1},
  };
  for (const Case& c : cases) {
    EntryMaker m;
    m.removal = c.removal;
    m.destination = c.destination;
    m.shared = c.shared;
    m.special = c.special;
    m.strings[0] = "f";
    Bytes e = m.bytes();
    set_entry_status(e.data(), c.status);
    EXPECT_EQ(entry_is_logged(file_entry(e.data())), c.logged) << c.what;
    EXPECT_EQ(file_log_flags(file_entry(e.data())), c.flags) << c.what;
  }
}

// The file log record as the installation writes it: its header takes the
// 8 reserved bytes at the end of the placed uninstaller, its count is
// completed at the end; then a shortcut record, a key record and the end.
TEST_F(UninstallLogLayout, RecordsAreCompletedAtTheirEnd) {
  Bytes program = {'P', 'R', 'O', 'G', 'R', 'A', 'M'};
  Bytes placed = program;
  placed.resize(program.size() + 8, 0xEE); // the reserved bytes
  std::string key_path;
  Bytes got = written(placed, [&](FileHandle f) {
    uint32_t e0 = file_tell(f);
    uint8_t zero[4] = {};
    file_write_exact(f, zero, 4);
    write_file_log_entry(f, "C:\\Apps\\Tool\\a.txt", 0);
    write_file_log_entry(f, "C:\\Fonts\\b.ttf", 2);
    finish_counted_record(f, e0 - 8, LOG_TAG_FILES, 2);

    uint32_t start = begin_counted_record(f, LOG_TAG_SHORTCUTS);
    write_log_string(f, "C:\\Menu\\Programs\\Tool");
    write_log_string(f, "Tool.lnk");
    finish_counted_record(f, start, LOG_TAG_SHORTCUTS, 1);

    char path[260];
    ASSERT_TRUE(uninstall_key_path(path, sizeof path, "Tool 1.0 x")); // 10 characters
    key_path = path;
    write_key_log_record(f, path);
    write_end_record(f);
  });
  ASSERT_GT(got.size(), program.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + (long)program.size()), program);
  UninstallLog log = read_uninstall_log(got, program.size());
  ASSERT_EQ(log.error, "") << describe(log);
  EXPECT_EQ(log.files, (std::vector<LoggedFile>{{".", "a.txt", 0}, {"C:\\Fonts", "b.ttf", 2}}));
  EXPECT_TRUE(log.has_shortcuts);
  EXPECT_EQ(log.shortcuts, (std::vector<LoggedLink>{{"C:\\Menu\\Programs\\Tool", "Tool.lnk"}}));
  ASSERT_TRUE(log.has_key);
  EXPECT_EQ(key_path, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool 1.0 x");
  EXPECT_EQ(log.key_path, key_path);
  EXPECT_EQ(log.key_root, 0x80000002u);
  EXPECT_EQ(log.key_body_length, 68u); // 6 + the 52-character prefix + 10
  // The end record closes the file.
  EXPECT_EQ(Bytes(got.end() - 8, got.end()), (Bytes{0x7F, 0x7F, 0, 0, 0, 0, 0, 0}));
}

TEST_F(UninstallLogLayout, RecordWithoutItsCountIsLeftAlone) {
  Bytes placed(12, 0xEE);
  // Only 2 bytes of the body made it: the header is not completed, and
  // nothing is written behind the end of the file.
  Bytes got = written(placed, [&](FileHandle f) {
    uint8_t two[2] = {};
    file_write_exact(f, two, 2);
    finish_counted_record(f, 4, LOG_TAG_FILES, 0);
  });
  Bytes want = placed;
  want.insert(want.end(), {0, 0});
  EXPECT_EQ(got, want);
}

TEST_F(UninstallLogLayout, KeyPathThatDoesNotFitIsRefused) {
  char path[260];
  EXPECT_TRUE(uninstall_key_path(path, sizeof path, std::string(207, 'k').c_str()));
  EXPECT_FALSE(uninstall_key_path(path, sizeof path, std::string(208, 'k').c_str()));
}
