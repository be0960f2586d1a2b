// The install driver's Windows side over real packages: destinations of
// every kind and the follow-up actions (SharedDLLs, self-registration, a
// shared system file in use). The portable steps are tested in
// tests/shared/install_driver_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string.h>

#include <string>

#include "common/state.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "support/install_package.h"

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

bool read_dword(HKEY root, const char* key_path, const char* name, DWORD* value, DWORD* type) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = sizeof *value;
  LONG r = RegQueryValueExA(key, name, NULL, type, (BYTE*)value, &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

class InstallDriverWindows : public InstallTest {
protected:
  // Prepares and runs every step; the number of steps that returned 1.
  int run_all() {
    EXPECT_TRUE(prepare_installation());
    int steps = 0;
    while (install_step()) steps++;
    return steps;
  }
};

} // namespace

TEST_F(InstallDriverWindows, DestinationKinds) {
  PackedFile windows = packed_file("sub\\pakwiz_w.txt", "w");
  windows.entry.destination = DEST_WINDOWS;
  PackedFile shared = packed_file("lib\\pakwiz_shared.dll", "s");
  shared.entry.destination = DEST_SHARED_SYSTEM;
  PackedFile font = packed_file("pakwiz.ttf", "f");
  font.entry.destination = DEST_FONT;
  PackedFile source = packed_file("docs\\readme.txt", "r");
  source.entry.removal = REMOVAL_NOT_INSTALLED;
  load({windows, shared, font, source, packed_file("bin\\tool.exe", "t")});

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
    EXPECT_FALSE(resolve_destination(file_entry(entry(i))));
    EXPECT_EQ(std::string(g_app.destination_path), expected[i]) << i;
  }
}

// A source-folder entry stays beside the package, whatever its kind: it is
// never counted in SharedDLLs (its placement is tested with the portable
// steps).
TEST_F(InstallDriverWindows, SourceFolderEntryIsNeverCounted) {
  PackedFile doc = packed_file("readme.txt", "text");
  doc.entry.removal = REMOVAL_NOT_INSTALLED;
  doc.entry.end_action = END_OPEN_DOCUMENT;
  doc.entry.destination = DEST_WINDOWS;
  doc.entry.shared = 1;
  load({doc});
  EXPECT_EQ(run_all(), 1);
  EXPECT_FALSE(file_exists(dir.file("readme.txt")));
  EXPECT_FALSE(file_exists(windows_folder() + "\\readme.txt"));
  EXPECT_EQ(g_install.document, entry(0));
  DWORD count, type;
  EXPECT_FALSE(
      read_dword(HKEY_LOCAL_MACHINE, SHARED_DLLS, dir.file("readme.txt").c_str(), &count, &type));
}

TEST_F(InstallDriverWindows, SharedUseIsCountedInSharedDllsForSystemDestinationsOnly) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SHARED_DLLS);
  PackedFile counted = packed_file("pakwiz_counted.dll", "c");
  counted.entry.destination = DEST_WINDOWS;
  counted.entry.shared = 1;
  PackedFile local = packed_file("local.dll", "l");
  local.entry.shared = 1; // install folder: never counted
  load({counted, local});
  std::string path = windows_folder() + "\\pakwiz_counted.dll";

  // No SharedDLLs key: it is made, and the missing value becomes
  // REG_DWORD 1; a count of 3 becomes 4.
  EXPECT_EQ(run_all(), 2);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
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

TEST_F(InstallDriverWindows, SelfRegisteringLibraryIsRegisteredAtEveryInstallation) {
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

TEST_F(InstallDriverWindows, LockedSharedSystemFileIsScheduledThroughTheWholeStep) {
  std::string saved = pending_renames();
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string path = std::string(system) + "\\pakwiz_step_locked.dll";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  PackedFile shared = packed_file("pakwiz_step_locked.dll", "new");
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
