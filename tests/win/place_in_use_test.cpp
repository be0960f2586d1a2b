// File placement against real Windows behaviour: destinations locked by
// another handle (Abort, Retry, Ignore; shared system files and fonts), and
// the version and language questions about libraries with version resources
// made by windres.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "common/state.h"
#include "decode/archive.h"
#include "install/install_log.h"
#include "install/place_file.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/script.h"
#include "support/install_package.h"

namespace {

std::string fixture_path(const char* name) {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  std::string s = self;
  return s.substr(0, s.find_last_of('\\') + 1) + name;
}

// Holds a file open without sharing, as a running program would.
struct Lock {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit Lock(const std::string& path) {
    h = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  }
  void release() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  ~Lock() { release(); }
};

class PlaceInUse : public InstallTest {
protected:
  void start(std::vector<PackedFile> files) {
    load(files);
    ASSERT_EQ(open_archive(), 0);
  }
  int place(uint32_t i, const std::string& path) {
    strcpy(g_app.destination_path, path.c_str());
    return place_file(file_entry(entry(i)), g_app.destination_path, false, 0, 100);
  }
};

} // namespace

TEST_F(PlaceInUse, LockedFileAbortFailsWithError22NamingTheDestination) {
  start({packed_file("app.exe", "new")});
  std::string path = dir.write("app\\app.exe", "old");
  Lock lock(path);
  ASSERT_NE(lock.h, INVALID_HANDLE_VALUE);
  answers = {ANSWER_ABORT};

  EXPECT_EQ(place(0, path), 0);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "Cannot replace " + path);
  EXPECT_EQ(styles[0], (unsigned)MB_ABORTRETRYIGNORE);
  EXPECT_EQ(entry_status(entry(0)), STATUS_FAILED);
  EXPECT_EQ(g_install.error_code, 22u);
  EXPECT_EQ(std::string(g_app.error_file_name), path);
  lock.release();
  EXPECT_EQ(read_file_bytes(path), text_bytes("old"));
  EXPECT_FALSE(file_exists(install_folder + "app.$$A"));
}

TEST_F(PlaceInUse, LockedFileIgnoreKeepsTheOldFileAndGoesOn) {
  start({packed_file("app.exe", "new")});
  std::string path = dir.write("app\\app.exe", "old");
  Lock lock(path);
  answers = {ANSWER_IGNORE};

  EXPECT_EQ(place(0, path), 1);
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  EXPECT_EQ(g_install.error_code, 0u);
  lock.release();
  EXPECT_EQ(read_file_bytes(path), text_bytes("old"));
  EXPECT_FALSE(file_exists(install_folder + "app.$$A"));
}

TEST_F(PlaceInUse, RetryAfterTheLockIsGoneReplacesTheFile) {
  start({packed_file("app.exe", "new")});
  std::string path = dir.write("app\\app.exe", "old");
  make_read_only(path, true);
  Lock lock(path);
  answers = {ANSWER_RETRY, ANSWER_RETRY};
  // The first question leaves the lock in place; during the second the
  // program holding the file ends.
  while_asking = [&] {
    if (asked.size() == 2) lock.release();
  };

  EXPECT_EQ(place(0, path), 1);
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  EXPECT_EQ(read_file_bytes(path), text_bytes("new"));
  EXPECT_TRUE(file_is_read_only(path));
}

TEST_F(PlaceInUse, IdenticalFileInUseIsKeptWithoutAQuestion) {
  start({packed_file("app.exe", "same")});
  std::string path = dir.write("app\\app.exe", "same");
  // Readable by others, but not replaceable while open.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(place(0, path), 1);
  CloseHandle(h);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
}

TEST_F(PlaceInUse, LockedFontIsKeptAndTheNewOneDiscarded) {
  start({packed_file("face.ttf", "new font", DEST_FONT)});
  std::string path = dir.write("app\\face.ttf", "old font");
  Lock lock(path);
  EXPECT_EQ(place(0, path), 1);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  lock.release();
  EXPECT_EQ(read_file_bytes(path), text_bytes("old font"));
  EXPECT_FALSE(file_exists(install_folder + "face.$$A"));
}

namespace {

// The Windows 95 family's kernel has MoveFileExA only as a call that fails;
// the program's import of it is pointed at such a stand-in while one lives.
extern "C" BOOL(WINAPI* __imp_MoveFileExA)(LPCSTR, LPCSTR, DWORD);

BOOL WINAPI move_file_ex_not_implemented(LPCSTR, LPCSTR, DWORD) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

struct WithoutMoveFileEx {
  BOOL(WINAPI* saved)(LPCSTR, LPCSTR, DWORD) = __imp_MoveFileExA;
  WithoutMoveFileEx() { set(move_file_ex_not_implemented); }
  ~WithoutMoveFileEx() { set(saved); }
  static void set(BOOL(WINAPI* fn)(LPCSTR, LPCSTR, DWORD)) {
    DWORD old;
    VirtualProtect(&__imp_MoveFileExA, sizeof fn, PAGE_READWRITE, &old);
    __imp_MoveFileExA = fn;
    VirtualProtect(&__imp_MoveFileExA, sizeof fn, old, &old);
  }
};

} // namespace

// On the Windows 95 family the old file is deleted and the new one renamed:
// new, replaced, read-only and locked destinations behave as on Windows NT.
TEST_F(PlaceInUse, Windows95FamilySwapsByDeleteAndRename) {
  struct Case {
    const char* what;
    bool existing, read_only, locked;
    int placed;
    uint8_t status;
    const char* content; // of the destination afterwards
  } cases[] = {
      {"no earlier file", false, false, false, 1, STATUS_CREATED, "new"},
      {"earlier file", true, false, false, 1, STATUS_REPLACED, "new"},
      {"read-only earlier file", true, true, false, 1, STATUS_REPLACED, "new"},
      {"locked earlier file, Abort", true, false, true, 0, STATUS_FAILED, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    start({packed_file("app.exe", "new")});
    g_app.platform_nt = false;
    std::string path = install_folder + "app.exe";
    if (c.existing) dir.write("app\\app.exe", "old");
    if (c.read_only) make_read_only(path, true);
    Lock lock(c.locked ? path : std::string());
    answers = {ANSWER_ABORT};
    {
      WithoutMoveFileEx windows95;
      EXPECT_EQ(place(0, path), c.placed);
    }
    EXPECT_EQ(entry_status(entry(0)), c.status);
    EXPECT_EQ(asked.size(), c.locked ? 1u : 0u);
    lock.release();
    EXPECT_EQ(read_file_bytes(path), text_bytes(c.content));
    EXPECT_EQ(file_is_read_only(path), c.read_only);
    if (c.read_only) make_read_only(path, false);
    DeleteFileA(path.c_str());
    DeleteFileA((install_folder + "app.$$A").c_str());
  }
}

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = (char)toupper((unsigned char)c);
  return s;
}

} // namespace

TEST_F(PlaceInUse, LockedSharedSystemFileIsReplacedAtRestartWithoutAQuestion) {
  std::string saved = pending_renames();
  start({packed_file("pakwiz_locked_test.dll", "new library", DEST_SHARED_SYSTEM)});
  std::string path = dir.write("app\\pakwiz_locked_test.dll", "old library");
  Lock lock(path);

  EXPECT_EQ(place(0, path), 1);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  EXPECT_TRUE(g_install.restart_needed);
  std::string temp = install_folder + "pakwiz_locked_test.$$A";
  EXPECT_EQ(read_file_bytes(temp), text_bytes("new library"));
  // Recorded by the system: the temporary file moves over the destination.
  std::string pending = upper(pending_renames());
  EXPECT_NE(pending.find(upper(temp.substr(2)) + "|!"), std::string::npos) << pending;
  EXPECT_NE(pending.find(upper(path.substr(2))), std::string::npos) << pending;
  set_pending_renames(saved);
}

// An unattended run asks nothing: a locked file that differs is replaced
// at the next start of Windows like a system file (exit code 3010), and a
// locked file identical to the entry is kept without a restart.
TEST_F(PlaceInUse, UnattendedRunSchedulesALockedFileInsteadOfAsking) {
  std::string saved = pending_renames();
  start({packed_file("app.exe", "new"), packed_file("same.exe", "same")});
  std::string path = dir.write("app\\app.exe", "old");
  std::string same = dir.write("app\\same.exe", "same");
  Lock lock(path);
  // Readable by others, but not replaceable while open.
  HANDLE same_lock =
      CreateFileA(same.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(same_lock, INVALID_HANDLE_VALUE);
  schedule_files_in_use();

  EXPECT_EQ(place(0, path), 1);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  EXPECT_EQ(g_install.placement, PLACEMENT_SCHEDULED);
  EXPECT_EQ(install_exit_code(g_install.error_code, g_install.restart_needed), 3010);
  std::string temp = install_folder + "app.$$A";
  EXPECT_EQ(read_file_bytes(temp), text_bytes("new"));
  std::string pending = upper(pending_renames());
  EXPECT_NE(pending.find(upper(temp.substr(2)) + "|!"), std::string::npos) << pending;

  g_install.restart_needed = false;
  EXPECT_EQ(place(1, same), 1);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(g_install.placement, PLACEMENT_KEPT);
  EXPECT_FALSE(g_install.restart_needed);
  EXPECT_FALSE(file_exists(install_folder + "same.$$A"));
  lock.release();
  CloseHandle(same_lock);
  EXPECT_EQ(read_file_bytes(path), text_bytes("old")); // until the restart
  set_pending_renames(saved);
}

namespace {

struct VersionCase {
  const char* fixture; // library placed at the destination first (null: a plain file)
  uint8_t flags;       // entry flags: version and/or language test
  uint32_t version[5]; // the entry's version block
  int question;        // table-6 message expected, 0 for none
};

uint32_t v(int a, int b) {
  return (uint32_t)(a << 16 | b);
}

} // namespace

TEST_F(PlaceInUse, VersionAndLanguageQuestionsAboutTheFileOnDisk) {
  // version_a: file 1.0.0.2, product 1.0.0.0, language 0x409;
  // version_b: file 1.0.0.0, product 2.0.0.0, language 0x407.
  const VersionCase cases[] = {
      {"pakwiz_install_version_a.dll",
       ENTRY_VERSION_TEST,
       {v(1, 0), v(0, 1), v(1, 0), v(0, 0), 0},
       29},
      {"pakwiz_install_version_a.dll",
       ENTRY_VERSION_TEST,
       {v(1, 0), v(0, 3), v(1, 0), v(0, 0), 0},
       0},
      {"pakwiz_install_version_b.dll",
       ENTRY_VERSION_TEST,
       {v(1, 0), v(0, 5), v(1, 0), v(0, 0), 0},
       29},
      {"pakwiz_install_version_b.dll",
       ENTRY_VERSION_TEST,
       {v(1, 0), v(0, 0), v(2, 0), v(0, 0), 0},
       0},
      {"pakwiz_install_version_a.dll", ENTRY_LANGUAGE_TEST, {0, 0, 0, 0, 0x407}, 30},
      {"pakwiz_install_version_a.dll", ENTRY_LANGUAGE_TEST, {0, 0, 0, 0, 0x409}, 0},
      {nullptr, ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST, {v(0, 1), 0, v(0, 1), 0, 0x407}, 0},
  };
  for (const VersionCase& c : cases) {
    for (int answer : {ANSWER_NO, ANSWER_YES}) {
      SCOPED_TRACE(std::string(c.fixture ? c.fixture : "plain") + " question " +
                   std::to_string(c.question) + " answer " + std::to_string(answer));
      TearDown();
      SetUp();
      PackedFile f = packed_file("lib.dll", "the new library");
      f.entry.flags = c.flags;
      memcpy(f.entry.version, c.version, sizeof c.version);
      start({f});
      std::string path = install_folder + "lib.dll";
      CreateDirectoryA(install_folder.c_str(), NULL);
      Bytes before = c.fixture ? read_file_bytes(fixture_path(c.fixture)) : text_bytes("plain");
      ASSERT_FALSE(before.empty());
      dir.write("app\\lib.dll", before);
      answers = {answer};
      asked.clear();

      EXPECT_EQ(place(0, path), 1);
      if (c.question) {
        ASSERT_EQ(asked.size(), 1u);
        std::string expected = c.question == 29 ? "A newer " + path + " exists. Replace it?"
                                                : path + " has another language. Replace it?";
        EXPECT_EQ(asked[0], expected);
        EXPECT_EQ(styles[0], (unsigned)(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
      } else {
        EXPECT_TRUE(asked.empty());
      }
      bool replaced = !c.question || answer == ANSWER_YES;
      EXPECT_EQ(read_file_bytes(path), replaced ? text_bytes("the new library") : before);
      EXPECT_EQ(entry_status(entry(0)), replaced ? STATUS_REPLACED : STATUS_NONE);
    }
  }
}
