// The install driver over real packages: one entry per step with its
// progress, destinations of every kind, follow-up actions (SharedDLLs,
// self-registration, end-of-setup actions) and the end of the installation.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string.h>

#include <string>

#include "app/app.h"
#include "common/state.h"
#include "decode/archive.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/script.h"
#include "support/install_package.h"
#include "ui/progress_page.h"

namespace {

const char SHARED_DLLS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::string fixture_path(const char* name) {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  std::string s = self;
  return s.substr(0, s.find_last_of('\\') + 1) + name;
}

std::string windows_folder() {
  char w[MAX_PATH];
  GetWindowsDirectoryA(w, MAX_PATH);
  return w;
}

PackedFile file(const std::string& target, const std::string& content) {
  PackedFile f;
  f.entry.strings[0] = target;
  f.content = text_bytes(content);
  return f;
}

bool read_dword(HKEY root, const char* key_path, const char* name, DWORD* value, DWORD* type) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = sizeof *value;
  LONG r = RegQueryValueExA(key, name, NULL, type, (BYTE*)value, &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

class InstallDriver : public InstallTest {
protected:
  // Prepares and runs every step; the number of steps that returned 1.
  int run_all() {
    EXPECT_EQ(prepare_installation(), 1);
    int steps = 0;
    while (install_step()) steps++;
    return steps;
  }
};

} // namespace

TEST_F(InstallDriver, EachStepInstallsOneEntryAndReportsItsProgress) {
  load({file("one.txt", "1"), file("sub\\two.txt", "22"), file("three.txt", "333")});
  ASSERT_EQ(prepare_installation(), 1);
  EXPECT_TRUE(g_install.installing);
  std::vector<uint32_t> percents;
  while (install_step()) percents.push_back(progress_percent());
  EXPECT_EQ(percents, (std::vector<uint32_t>{33, 66, 100}));
  EXPECT_EQ(install_step(), 0); // nothing left
  EXPECT_EQ(read_file_bytes(install_folder + "one.txt"), text_bytes("1"));
  EXPECT_EQ(read_file_bytes(install_folder + "sub\\two.txt"), text_bytes("22"));
  EXPECT_EQ(read_file_bytes(install_folder + "three.txt"), text_bytes("333"));
  for (uint32_t i = 0; i < 3; i++) EXPECT_EQ(entry_status(entry(i)), STATUS_CREATED);

  g_wizard.current_page = 6;
  finish_installation();
  EXPECT_FALSE(g_install.installing);
  EXPECT_EQ(g_archive.handle, INVALID_FILE);
  EXPECT_EQ(g_wizard.current_page, 6); // go to page 7: the sequencer's Next lands there
  EXPECT_EQ(g_wizard.page_result, PAGE_NEXT);
  EXPECT_EQ(std::string(g_app.install_folder), install_folder);
}

TEST_F(InstallDriver, EmptyFileListEndsAtTheFirstStep) {
  load({});
  ASSERT_EQ(prepare_installation(), 1);
  EXPECT_EQ(install_step(), 0);
  finish_installation();
  EXPECT_EQ(g_install.error_code, 0u);
}

TEST_F(InstallDriver, MissingPackageFileFailsPreparationWithError16) {
  load({file("a.txt", "a")});
  DeleteFileA(g_app.package_path);
  EXPECT_EQ(prepare_installation(), 0);
  EXPECT_EQ(g_install.error_code, 16u);
  EXPECT_STREQ(g_app.error_file_name, g_app.package_path);
  EXPECT_FALSE(g_install.installing);
}

TEST_F(InstallDriver, FailedEntryStopsTheStepsAndDeletesItsTemporaryFile) {
  PackedFile bad = file("b.txt", "bad");
  bad.wrong_checksum = true;
  load({file("a.txt", "a"), bad, file("c.txt", "c")});
  EXPECT_EQ(run_all(), 1);
  EXPECT_EQ(g_install.error_code, 21u);
  EXPECT_EQ(std::string(g_app.error_file_name), install_folder + "b.txt");
  EXPECT_FALSE(file_exists(install_folder + "b.$$A"));
  EXPECT_FALSE(file_exists(install_folder + "b.txt"));
  EXPECT_FALSE(file_exists(install_folder + "c.txt"));
}

TEST_F(InstallDriver, PathTooLongForTheBuffersIsAnErrorNamingTheTarget) {
  load({file(std::string(120, 'n') + ".txt", "x")});
  std::string deep = dir.file(std::string(130, 'd')) + "\\";
  strcpy(g_app.install_folder, deep.c_str());
  EXPECT_EQ(run_all(), 0);
  EXPECT_EQ(g_install.error_code, 17u);
  EXPECT_EQ(std::string(g_app.error_file_name), std::string(120, 'n') + ".txt");
}

TEST_F(InstallDriver, DestinationKinds) {
  PackedFile windows = file("sub\\pakwiz_w.txt", "w");
  windows.entry.destination = DEST_WINDOWS;
  PackedFile shared = file("lib\\pakwiz_shared.dll", "s");
  shared.entry.destination = DEST_SHARED_SYSTEM;
  PackedFile font = file("pakwiz.ttf", "f");
  font.entry.destination = DEST_FONT;
  PackedFile source = file("docs\\readme.txt", "r");
  source.entry.removal = REMOVAL_NOT_INSTALLED;
  load({windows, shared, font, source, file("bin\\tool.exe", "t")});

  char system[MAX_PATH], fonts[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_EQ(SHGetFolderPathA(NULL, CSIDL_FONTS, NULL, 0, fonts), S_OK);
  const std::string expected[] = {
      windows_folder() + "\\sub\\pakwiz_w.txt",
      std::string(system) + "\\pakwiz_shared.dll", // VerFindFileA names the system folder
      std::string(fonts) + "\\pakwiz.ttf",
      dir.file("docs\\readme.txt"), // beside the package file
      install_folder + "bin\\tool.exe",
  };
  for (uint32_t i = 0; i < 5; i++) {
    EXPECT_FALSE(resolve_destination(entry(i)));
    EXPECT_EQ(std::string(g_app.destination_path), expected[i]) << i;
  }
}

TEST_F(InstallDriver, SourceFolderEntryIsNotCopiedButKeepsItsEndAction) {
  PackedFile doc = file("readme.txt", "text");
  doc.entry.removal = REMOVAL_NOT_INSTALLED;
  doc.entry.end_action = END_OPEN_DOCUMENT;
  doc.entry.destination = DEST_WINDOWS;
  doc.entry.shared = 1;
  PackedFile first = file("a.exe", "a");
  first.entry.end_action = END_START_PROGRAM;
  PackedFile second = file("b.exe", "b");
  second.entry.end_action = END_START_PROGRAM;
  load({doc, first, second});
  EXPECT_EQ(run_all(), 3);
  EXPECT_FALSE(file_exists(dir.file("readme.txt")));
  EXPECT_FALSE(file_exists(windows_folder() + "\\readme.txt"));
  EXPECT_EQ(g_install.document, entry(0));
  EXPECT_EQ(g_install.program, entry(2)); // the later one
  DWORD count, type;
  EXPECT_FALSE(
      read_dword(HKEY_LOCAL_MACHINE, SHARED_DLLS, dir.file("readme.txt").c_str(), &count, &type));
}

TEST_F(InstallDriver, SharedUseIsCountedInSharedDllsForSystemDestinationsOnly) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SHARED_DLLS);
  PackedFile counted = file("pakwiz_counted.dll", "c");
  counted.entry.destination = DEST_WINDOWS;
  counted.entry.shared = 1;
  PackedFile local = file("local.dll", "l");
  local.entry.shared = 1; // install folder: never counted
  load({counted, local});
  std::string path = windows_folder() + "\\pakwiz_counted.dll";

  // No SharedDLLs key: it is not created.
  EXPECT_EQ(run_all(), 2);
  HKEY key;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_READ, &key), ERROR_SUCCESS);

  // A missing value becomes REG_DWORD 1, a count of 3 becomes 4.
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                            NULL),
            ERROR_SUCCESS);
  EXPECT_EQ(run_all(), 2);
  DWORD count = 0, type = 0;
  ASSERT_TRUE(read_dword(HKEY_LOCAL_MACHINE, SHARED_DLLS, path.c_str(), &count, &type));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  count = 3;
  RegSetValueExA(key, path.c_str(), 0, REG_DWORD, (const BYTE*)&count, 4);
  EXPECT_EQ(run_all(), 2);
  ASSERT_TRUE(read_dword(HKEY_LOCAL_MACHINE, SHARED_DLLS, path.c_str(), &count, &type));
  EXPECT_EQ(count, 4u);
  EXPECT_FALSE(read_dword(HKEY_LOCAL_MACHINE, SHARED_DLLS, (install_folder + "local.dll").c_str(),
                          &count, &type));
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SHARED_DLLS);
  DeleteFileA(path.c_str());
}

TEST_F(InstallDriver, SelfRegisteringLibraryIsRegisteredAtEveryInstallation) {
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PakwizTest");
  PackedFile registering;
  registering.entry.strings[0] = "selfreg.dll";
  registering.entry.special = SPECIAL_SELF_REGISTER;
  registering.content = read_file_bytes(fixture_path("pakwiz_install_selfreg.dll"));
  ASSERT_FALSE(registering.content.empty());
  PackedFile plain; // a library without DllRegisterServer: loaded and released quietly
  plain.entry.strings[0] = "plain.dll";
  plain.entry.special = SPECIAL_SELF_REGISTER;
  plain.content = read_file_bytes(fixture_path("pakwiz_install_version_a.dll"));
  load({registering, plain});

  EXPECT_EQ(run_all(), 2);
  DWORD count = 0, type = 0;
  ASSERT_TRUE(
      read_dword(HKEY_CURRENT_USER, "Software\\PakwizTest", "SelfRegistered", &count, &type));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(run_all(), 2); // the identical file in place is registered again
  ASSERT_TRUE(
      read_dword(HKEY_CURRENT_USER, "Software\\PakwizTest", "SelfRegistered", &count, &type));
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(asked.empty());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PakwizTest");
}

TEST_F(InstallDriver, UninstallerEntryIsRememberedButNotLoggedAsInstalled) {
  PackedFile uninstaller = file("uninst.exe", "data");
  uninstaller.entry.flags = ENTRY_UNINSTALLER;
  PackedFile saver = file("nice.scr", "saver");
  saver.entry.special = SPECIAL_SCREEN_SAVER;
  load({uninstaller, saver}, text_bytes("PREFIX"));
  EXPECT_EQ(run_all(), 2);
  EXPECT_EQ(std::string(g_app.uninstaller_path), install_folder + "uninst.exe");
  EXPECT_EQ(entry_status(entry(0)), STATUS_NONE);
  EXPECT_EQ(read_file_bytes(install_folder + "uninst.exe"), text_bytes("PREFIXdata"));
  EXPECT_EQ(g_install.screen_saver, entry(1));
}

TEST_F(InstallDriver, LockedSharedSystemFileIsScheduledThroughTheWholeStep) {
  std::string saved = pending_renames();
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string path = std::string(system) + "\\pakwiz_step_locked.dll";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  PackedFile shared = file("pakwiz_step_locked.dll", "new");
  shared.entry.destination = DEST_SHARED_SYSTEM;
  load({shared});
  EXPECT_EQ(run_all(), 1);
  CloseHandle(h);
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(g_install.restart_needed);
  EXPECT_EQ(g_install.error_code, 0u);
  // VerFindFileA (as Wine implements it) does not report the file in use, so
  // the swap meets the lock and schedules the replacement itself: status 23.
  EXPECT_EQ(entry_status(entry(0)), STATUS_REPLACED);
  EXPECT_TRUE(file_exists(std::string(system) + "\\pakwiz_step_locked.$$A"));
  std::string pending = pending_renames();
  EXPECT_NE(pending.find("pakwiz_step_locked.$$A|!"), std::string::npos) << pending;
  set_pending_renames(saved);
  DeleteFileA((std::string(system) + "\\pakwiz_step_locked.$$A").c_str());
  DeleteFileA(path.c_str());
}
