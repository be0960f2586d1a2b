// The uninstaller program run as a whole: the x86_64 build with a hand-made
// log behind it, started the way Windows (with /S or /Q here, as a script
// would) or a later installation (/X) starts it.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/install_package.h"
#include "support/temp_dir.h"
#include "support/uninstall_log_maker.h"
#include "uninstall/log_reader.h"
#include "uninstall/pe_image.h"

namespace {

const char SHARED_DLLS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char KEY_NAME[] = "Pakwiz Uninstaller Test";
const char OTHER_KEY_NAME[] = "Pakwiz Uninstaller Test Other";
const char MENU_FOLDER[] = "Pakwiz Uninstaller Test";

std::string beside_tests(const char* name) {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  std::string s = self;
  return s.substr(0, s.find_last_of('\\') + 1) + name;
}

std::string special_folder(int csidl) {
  char path[MAX_PATH] = "";
  SHGetSpecialFolderPathA(NULL, path, csidl, TRUE);
  return path;
}

// `text` holds `part`, compared without regard to case (paths).
bool contains_nocase(std::string text, std::string part) {
  for (char& c : text) c = (char)tolower((unsigned char)c);
  for (char& c : part) c = (char)tolower((unsigned char)c);
  return text.find(part) != std::string::npos;
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool wait_until(const std::function<bool()>& done, DWORD ms = 15000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
  return true;
}

bool key_exists(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void make_uninstall_key(const std::string& name, const std::string& uninstaller) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, log_key_path(name).c_str(), 0, NULL, 0, KEY_WRITE,
                            NULL, &key, NULL),
            ERROR_SUCCESS);
  RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)name.c_str(), (DWORD)name.size() + 1);
  RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE*)uninstaller.c_str(),
                 (DWORD)uninstaller.size() + 1);
  RegCloseKey(key);
}

// SharedDLLs count of a path; -1 when there is none.
long shared_count(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
  DWORD count = 0, size = sizeof count;
  LONG r = RegQueryValueExA(key, path.c_str(), NULL, NULL, (BYTE*)&count, &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? (long)count : -1;
}

void set_shared_count(const std::string& path, long count) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                            NULL),
            ERROR_SUCCESS);
  if (count < 0) {
    RegDeleteValueA(key, path.c_str());
  } else {
    DWORD v = (DWORD)count;
    RegSetValueExA(key, path.c_str(), 0, REG_DWORD, (const BYTE*)&v, sizeof v);
  }
  RegCloseKey(key);
}

DWORD unregistered_count() {
  HKEY key;
  DWORD count = 0, size = sizeof count;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\PakwizTest", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    RegQueryValueExA(key, "Unregistered", NULL, NULL, (BYTE*)&count, &size);
    RegCloseKey(key);
  }
  return count;
}

void reset_unregistered_count() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\PakwizTest", 0, KEY_SET_VALUE, &key) ==
      ERROR_SUCCESS) {
    RegDeleteValueA(key, "Unregistered");
    RegCloseKey(key);
  }
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::string n = data.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

class Uninstaller : public ::testing::Test {
protected:
  void SetUp() override {
    saved_renames = pending_renames();
    install = root.file("Hello App");
    temp = root.file("temp");
    uninstaller = install + "\\Uninstall.exe";
    CreateDirectoryA(install.c_str(), NULL);
    CreateDirectoryA(temp.c_str(), NULL);
    programs = special_folder(CSIDL_PROGRAMS);
    reset_unregistered_count();
  }

  void TearDown() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, log_key_path(KEY_NAME).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, log_key_path(OTHER_KEY_NAME).c_str());
    for (const std::string& p : counted) set_shared_count(p, -1);
    std::string menu = programs + "\\" + MENU_FOLDER;
    DeleteFileA((menu + "\\Sub\\Tool.lnk").c_str());
    DeleteFileA((menu + "\\Readme.lnk").c_str());
    DeleteFileA((special_folder(CSIDL_STARTUP) + "\\Pakwiz Uninstaller Test.lnk").c_str());
    RemoveDirectoryA((menu + "\\Sub").c_str());
    RemoveDirectoryA(menu.c_str());
    reset_unregistered_count();
    set_pending_renames(saved_renames);
  }

  // A file below the test folder, with its folders.
  std::string put(const std::string& path, const std::string& text = "x") {
    std::string folder = path.substr(0, path.find_last_of('\\'));
    SHCreateDirectoryExA(NULL, folder.c_str(), NULL);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    EXPECT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD written;
    WriteFile(f, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(f);
    return path;
  }

  // The uninstaller file as the installation leaves it: the program, then
  // the log whose first header overwrote the 8 reserved bytes.
  void place_uninstaller(const std::vector<uint8_t>& log) {
    std::vector<uint8_t> file = read_file_bytes(beside_tests("pakwiz-uninstall.exe"));
    ASSERT_FALSE(file.empty());
    file.insert(file.end(), log.begin(), log.end());
    std::ofstream out(uninstaller, std::ios::binary);
    out.write((const char*)file.data(), (std::streamsize)file.size());
  }

  // Runs `program arguments` with TEMP and TMP on the test's own temporary
  // folder and returns its exit code.
  DWORD run(const std::string& arguments, const std::string& program = "") {
    std::string exe = program.empty() ? uninstaller : program;
    std::string environment;
    for (const char* e = GetEnvironmentStringsA(); *e; e += strlen(e) + 1) {
      if (_strnicmp(e, "TEMP=", 5) == 0 || _strnicmp(e, "TMP=", 4) == 0) continue;
      environment.append(e).push_back('\0');
    }
    environment += "TEMP=" + temp + '\0' + "TMP=" + temp + '\0' + '\0';
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), &line[0], NULL, NULL, FALSE, 0, &environment[0],
                        root.path().c_str(), &startup, &process)) {
      ADD_FAILURE() << "cannot start " << line;
      return 99;
    }
    DWORD code = 99;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &code);
    else
      TerminateProcess(process.hProcess, 99), ADD_FAILURE() << line << " did not end";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }

  TempDir root;
  std::string install, temp, uninstaller, programs, saved_renames;
  std::vector<std::string> counted; // SharedDLLs values to remove afterwards
};

} // namespace

TEST_F(Uninstaller, TheProgramsImageEndsAtItsFileEnd) {
  // The log is looked for right behind the image: the built program must
  // not carry anything after its last section.
  std::vector<uint8_t> program = read_file_bytes(beside_tests("pakwiz-uninstall.exe"));
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(pe_image_end(program.data(), (uint32_t)program.size()), program.size());
}

TEST_F(Uninstaller, SilentRunRemovesWhatTheLogNamesAndNothingElse) {
  std::string sys = root.file("sys"), lonely = root.file("lonely");
  std::string menu = programs + "\\" + MENU_FOLDER;
  // A fresh Startup folder is empty but for this link: it must stay all the same.
  std::string startup = special_folder(CSIDL_STARTUP);
  std::string startup_link = put(startup + "\\Pakwiz Uninstaller Test.lnk");
  std::vector<std::string> removed = {
      put(install + "\\hello.exe"),
      put(install + "\\readme.txt"),
      put(install + "\\bin\\tool.dll"),
      put(install + "\\bin\\deep\\data.dat"),
      put(install + "\\data\\logged.txt"),
      put(sys + "\\one.dll"),
      put(sys + "\\plain.txt"),
      put(lonely + "\\only.txt"),
      put(menu + "\\Sub\\Tool.lnk"),
      put(menu + "\\Readme.lnk"),
      startup_link,
      install + "\\unregister.dll",
  };
  std::vector<std::string> kept = {put(install + "\\notes.txt"), put(install + "\\data\\user.txt"),
                                   put(sys + "\\two.dll"), put(sys + "\\uncounted.dll")};
  ASSERT_TRUE(CopyFileA(beside_tests("pakwiz_uninstaller_unregister.dll").c_str(),
                        (install + "\\unregister.dll").c_str(), FALSE));
  SetFileAttributesA((install + "\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  counted = {sys + "\\two.dll", sys + "\\one.dll", sys + "\\uncounted.dll"};
  set_shared_count(sys + "\\two.dll", 2);
  set_shared_count(sys + "\\one.dll", 1);
  set_shared_count(sys + "\\uncounted.dll", -1);
  make_uninstall_key(KEY_NAME, uninstaller);
  make_uninstall_key(OTHER_KEY_NAME, root.file("other\\Uninstall.exe"));

  LogSpec log;
  log.files = {{".", "hello.exe", 0},
               {".", "readme.txt", 0},
               {".\\bin", "tool.dll", 0},
               {".\\bin\\deep", "data.dat", 0},
               {".\\data", "logged.txt", 0},
               {".", "unregister.dll", LOGGED_SELF_REGISTER},
               {".", "never-installed.txt", 0},
               {sys, "two.dll", 1},
               {sys, "one.dll", 1},
               {sys, "uncounted.dll", 1},
               {sys, "plain.txt", 0},
               {lonely, "only.txt", 0}};
  log.shortcuts = std::vector<LogShortcutSpec>{
      {menu + "\\Sub", "Tool.lnk"}, {menu, "Readme.lnk"}, {startup, "Pakwiz Uninstaller Test.lnk"}};
  log.key_name = KEY_NAME;
  place_uninstaller(make_uninstall_log(log));

  EXPECT_EQ(run("/S"), 0u);
  for (const std::string& p : removed) EXPECT_FALSE(exists(p)) << p;
  for (const std::string& p : kept) EXPECT_TRUE(exists(p)) << p;
  // Empty folders go, deepest first; folders with other content and the
  // system's own folders stay.
  for (const std::string& f : {install + "\\bin", lonely, menu}) EXPECT_FALSE(exists(f)) << f;
  for (const std::string& f : {install + "\\data", sys, programs, startup})
    EXPECT_TRUE(exists(f)) << f;
  // Usage counts: 2 -> 1 keeps the file, 1 -> 0 removes it and its value,
  // no count keeps the file.
  EXPECT_EQ(shared_count(sys + "\\two.dll"), 1);
  EXPECT_EQ(shared_count(sys + "\\one.dll"), -1);
  EXPECT_EQ(shared_count(sys + "\\uncounted.dll"), -1);
  EXPECT_EQ(unregistered_count(), 1u);
  EXPECT_FALSE(key_exists(log_key_path(KEY_NAME)));
  EXPECT_TRUE(key_exists(log_key_path(OTHER_KEY_NAME)));

  // The uninstaller file goes once its process has ended, removed by a copy
  // of the program in the temporary folder that is deleted at restart. The
  // install folder still holds notes.txt and stays.
  EXPECT_TRUE(wait_until([&] { return !exists(uninstaller); })) << uninstaller;
  EXPECT_TRUE(wait_until([&] { return contains_nocase(pending_renames(), temp + "\\_unin0.exe"); }))
      << pending_renames();
  EXPECT_TRUE(exists(install + "\\notes.txt"));
}

TEST_F(Uninstaller, TheInstallFolderGoesWithTheUninstallerWhenNothingElseIsLeft) {
  put(install + "\\hello.exe");
  LogSpec log;
  log.files = {{".", "hello.exe", 0}};
  place_uninstaller(make_uninstall_log(log));
  EXPECT_EQ(run("/S"), 0u);
  EXPECT_TRUE(wait_until([&] { return !exists(install); })) << folder_entries(install).size();
  EXPECT_TRUE(wait_until([&] { return contains_nocase(pending_renames(), "\\_unin0.exe"); }));
}

TEST_F(Uninstaller, WithXItLeavesItsOwnFileToTheInstallationThatStartedIt) {
  put(install + "\\hello.exe");
  make_uninstall_key(KEY_NAME, uninstaller);
  LogSpec log;
  log.files = {{".", "hello.exe", 0}};
  log.key_name = KEY_NAME;
  place_uninstaller(make_uninstall_log(log));

  EXPECT_EQ(run("/X"), 0u);
  EXPECT_FALSE(exists(install + "\\hello.exe"));
  EXPECT_FALSE(key_exists(log_key_path(KEY_NAME)));
  // No copy was made and nothing else holds the file: the installation can
  // delete it at once.
  EXPECT_TRUE(folder_entries(temp).empty());
  EXPECT_TRUE(DeleteFileA(uninstaller.c_str())) << GetLastError();
}

// A logged font goes with the values under the Fonts key that name its
// file: by its full path, or by its bare name when it lies in the fonts
// folder. Values naming another file stay, also one that names a font
// elsewhere by the same bare name (that is a file of the fonts folder).
TEST_F(Uninstaller, AFontGoesWithTheFontsValuesThatNameItsFile) {
  const char FONTS_KEY[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
  std::string fonts = special_folder(CSIDL_FONTS), away = root.file("fonts");
  ASSERT_FALSE(fonts.empty());
  std::string own = put(fonts + "\\pakwiz-test-own.ttf"),
              elsewhere = put(away + "\\pakwiz-test.ttf");
  struct Value {
    const char* name;
    std::string data;
    bool goes;
  } values[] = {
      {"Pakwiz Test Own (TrueType)", "pakwiz-test-own.ttf", true},
      {"Pakwiz Test Own Path (TrueType)", own, true},
      {"Pakwiz Test Away (TrueType)", elsewhere, true},
      {"Pakwiz Test Other (TrueType)", "pakwiz-test-other.ttf", false},
      {"Pakwiz Test Other Path (TrueType)", away + "\\other.ttf", false},
      {"Pakwiz Test Same Name (TrueType)", "pakwiz-test.ttf", false},
  };
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, FONTS_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
      ERROR_SUCCESS);
  for (const Value& v : values)
    RegSetValueExA(key, v.name, 0, REG_SZ, (const BYTE*)v.data.c_str(), (DWORD)v.data.size() + 1);
  LogSpec log;
  log.files = {{fonts, "pakwiz-test-own.ttf", LOGGED_FONT}, {away, "pakwiz-test.ttf", LOGGED_FONT}};
  place_uninstaller(make_uninstall_log(log));

  EXPECT_EQ(run("/S"), 0u);
  EXPECT_FALSE(exists(own));
  EXPECT_FALSE(exists(elsewhere));
  for (const Value& v : values) {
    DWORD size = 0;
    bool there = RegQueryValueExA(key, v.name, NULL, NULL, NULL, &size) == ERROR_SUCCESS;
    EXPECT_EQ(there, !v.goes) << v.name;
    RegDeleteValueA(key, v.name);
  }
  RegCloseKey(key);
  EXPECT_TRUE(exists(fonts));
}

TEST_F(Uninstaller, AKeyThatNamesAnotherUninstallerStays) {
  // A later installation of the same product into another folder has taken
  // the key over.
  make_uninstall_key(KEY_NAME, root.file("elsewhere\\Uninstall.exe"));
  LogSpec log;
  log.key_name = KEY_NAME;
  place_uninstaller(make_uninstall_log(log));
  EXPECT_EQ(run("/X"), 0u);
  EXPECT_TRUE(key_exists(log_key_path(KEY_NAME)));
}

TEST_F(Uninstaller, AFileInUseIsDeletedAtRestart) {
  std::string busy = put(install + "\\busy.dll");
  LogSpec log;
  log.files = {{".", "busy.dll", 0}};
  place_uninstaller(make_uninstall_log(log));
  HANDLE open = CreateFileA(busy.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  // Removed, but Windows must restart to finish: 3010.
  EXPECT_EQ(run("/X"), 3010u);
  CloseHandle(open);
  EXPECT_TRUE(exists(busy));
  EXPECT_TRUE(contains_nocase(pending_renames(), busy)) << pending_renames();
}

// /Q removes without a question or a window, like /S; anything it could
// neither remove nor schedule makes the exit code non-zero.
TEST_F(Uninstaller, QuietRunReportsAFailureInItsExitCode) {
  for (const char* quiet : {"/Q", "-q"}) {
    SCOPED_TRACE(quiet);
    std::string hello = put(install + "\\hello.exe");
    LogSpec log;
    log.files = {{".", "hello.exe", 0}};
    place_uninstaller(make_uninstall_log(log));
    EXPECT_EQ(run(quiet), 0u);
    EXPECT_FALSE(exists(hello));
    EXPECT_TRUE(wait_until([&] { return !exists(uninstaller); }));

    // A folder where the log names a file: not removed, and said so.
    CreateDirectoryA(install.c_str(), NULL);
    put(install + "\\hello.exe");
    std::string taken = install + "\\taken.txt";
    CreateDirectoryA(taken.c_str(), NULL);
    log.files.push_back({".", "taken.txt", 0});
    place_uninstaller(make_uninstall_log(log));
    EXPECT_EQ(run(quiet), 4u);
    EXPECT_FALSE(exists(hello));
    EXPECT_TRUE(exists(taken));
    EXPECT_TRUE(wait_until([&] { return !exists(uninstaller); }));
    RemoveDirectoryA(taken.c_str());
  }
}

TEST_F(Uninstaller, WithoutAValidLogNothingChanges) {
  std::string kept_file = put(install + "\\hello.exe");
  std::string outside = put(root.file("outside.txt"));
  LogSpec good;
  good.files = {{".", "hello.exe", 0}, {root.path(), "outside.txt", 0}};
  good.key_name = KEY_NAME;
  std::vector<uint8_t> valid = make_uninstall_log(good);

  LogSpec escaping = good;
  escaping.files.push_back({".\\..", "outside.txt", 0});
  LogSpec no_end = good;
  no_end.end = false;
  std::vector<uint8_t> count_beyond = valid;
  count_beyond[8] = 0x40; // the file count
  struct Case {
    const char* what;
    std::vector<uint8_t> log;
  };
  const Case cases[] = {
      {"no log: the program alone", {}},
      {"an installation that never finished: 8 reserved bytes", std::vector<uint8_t>(8, 0)},
      {"cut short", std::vector<uint8_t>(valid.begin(), valid.end() - 9)},
      {"count beyond the entries", count_beyond},
      {"a folder above the install folder", make_uninstall_log(escaping)},
      {"no end record", make_uninstall_log(no_end)},
  };
  for (const Case& c : cases) {
    make_uninstall_key(KEY_NAME, uninstaller);
    place_uninstaller(c.log);
    EXPECT_EQ(run("/S"), 2u) << c.what;
    EXPECT_TRUE(exists(kept_file)) << c.what;
    EXPECT_TRUE(exists(outside)) << c.what;
    EXPECT_TRUE(exists(uninstaller)) << c.what;
    EXPECT_TRUE(key_exists(log_key_path(KEY_NAME))) << c.what;
    EXPECT_TRUE(folder_entries(temp).empty()) << c.what;
  }
  // The same files and key with the valid log do go.
  place_uninstaller(valid);
  EXPECT_EQ(run("/X"), 0u);
  EXPECT_FALSE(exists(kept_file));
  EXPECT_FALSE(exists(outside));
  EXPECT_FALSE(key_exists(log_key_path(KEY_NAME)));
}

TEST_F(Uninstaller, TheRemovingCopyDeletesNothingButItsOriginal) {
  std::string copy = temp + "\\_unin5.exe";
  ASSERT_TRUE(CopyFileA(beside_tests("pakwiz-uninstall.exe").c_str(), copy.c_str(), FALSE));
  std::string stranger = put(install + "\\stranger.exe", "MZ not the uninstaller");
  std::string bare = install + "\\bare.exe"; // the program without a log behind it
  ASSERT_TRUE(CopyFileA(copy.c_str(), bare.c_str(), FALSE));
  for (const std::string& target : {stranger, bare}) {
    EXPECT_EQ(run("/R \"" + target + "\"", copy), 2u) << target;
    EXPECT_TRUE(exists(target)) << target;
  }
}
