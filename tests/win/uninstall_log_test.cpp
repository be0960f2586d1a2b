// The uninstall log appended to the placed uninstaller by whole
// installations, the uninstall key, the install-folder registration, and
// running the uninstallers of earlier installations.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "builder/script_writer.h"
#include "common/heap.h"
#include "common/state.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"
#include "support/install_package.h"
#include "support/uninstall_log_maker.h"
#include "support/uninstall_log_reader.h"
#include "win/shortcuts_link_reader.h"

namespace {

const char UNINSTALL[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char SHARED_DLLS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const std::string PROGRAM = "THE UNINSTALLER PROGRAM";

std::string test_exe_folder() {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  std::string s = self;
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string system_folder() {
  char s[MAX_PATH];
  GetSystemDirectoryA(s, MAX_PATH);
  return s;
}

std::string read_string(HKEY root, const std::string& key_path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  char data[400] = "";
  DWORD type = 0, size = sizeof data - 1;
  LONG r = RegQueryValueExA(key, name, NULL, &type, (BYTE*)data, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "<absent>";
  return type == REG_SZ ? std::string(data) : "<type " + std::to_string(type) + ">";
}

DWORD subkey_count(HKEY root, const char* key_path) {
  HKEY key;
  DWORD count = 0;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  RegQueryInfoKeyA(key, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  return count;
}

PackedFile uninstaller(const std::string& menu_folder = "", const std::string& menu_name = "") {
  PackedFile u = packed_file("Uninstall.exe", "");
  u.content = Bytes(8, 0); // the bytes the first log header takes over
  u.entry.flags = ENTRY_UNINSTALLER;
  u.entry.removal = REMOVAL_KEEP;
  u.entry.strings[1] = menu_folder;
  u.entry.strings[2] = menu_name;
  return u;
}

uint32_t v(int a, int b) {
  return (uint32_t)(a << 16 | b);
}

class UninstallLogTest : public InstallTest {
protected:
  void SetUp() override {
    InstallTest::SetUp();
    OleInitialize(NULL);
  }
  void TearDown() override {
    OleUninitialize();
    InstallTest::TearDown();
  }
  void load_with_key(std::vector<PackedFile> files, const std::string& key_name,
                     LanguageMaker language = LanguageMaker()) {
    if (!key_name.empty()) {
      language.has_uninstall_key = true;
      language.uninstall_key = key_name;
    }
    load(std::move(files), text_bytes(PROGRAM), &language);
  }
  void install_all() {
    ASSERT_TRUE(prepare_installation());
    while (install_step()) {
    }
    ASSERT_EQ(g_install.error_code, 0u);
    finish_installation();
  }
  // Puts a list into the current block, as the loader would have.
  void set_list(Buffer LanguageBlock::*slot, const std::vector<uint8_t>& bytes) {
    Buffer& b = g_package.blocks[g_package.current_block].*slot;
    if (b.data) heap_free(b.data);
    b.data = (uint8_t*)heap_alloc(bytes.size());
    memcpy(b.data, bytes.data(), bytes.size());
    b.size = (uint32_t)bytes.size();
  }
  // Runs the installed uninstaller as a later installation starts it (no
  // questions) and returns its exit code.
  DWORD run_uninstaller(const std::string& path) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + path + "\" /X";
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
      return 98;
    DWORD code = 99;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }
  UninstallLog log_of(const std::string& path) {
    Bytes bytes = read_file_bytes(path);
    std::string head(bytes.begin(), bytes.begin() + (long)std::min(bytes.size(), PROGRAM.size()));
    EXPECT_EQ(head, PROGRAM); // the program itself is untouched
    return read_uninstall_log(bytes, PROGRAM.size());
  }
};

} // namespace

TEST_F(UninstallLogTest, LogsWhatThisInstallationPlacedWithItsShortcutsAndKey) {
  const std::string key = std::string(UNINSTALL) + "PakwizLogT";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  const std::string programs = shell_folder(CSIDL_PROGRAMS),
                    desktop = shell_folder(CSIDL_DESKTOPDIRECTORY),
                    fonts = shell_folder(CSIDL_FONTS), menu = programs + "\\PakwizLogTest";
  ASSERT_FALSE(programs.empty());
  ASSERT_FALSE(desktop.empty());

  PackedFile tool = packed_file("tool.exe", "tool");
  tool.entry.strings[1] = "PakwizLogTest";
  tool.entry.strings[2] = "Pakwiz Tool";
  tool.entry.strings[4] = "Pakwiz Log Tool";
  PackedFile kept = packed_file("keep.txt", "kept at uninstall");
  kept.entry.removal = REMOVAL_KEEP;
  PackedFile declined = packed_file("lib.dll", "an older library"); // the user keeps the newer one
  declined.entry.flags = ENTRY_VERSION_TEST;
  uint32_t older[5] = {v(1, 0), v(0, 1), v(1, 0), 0, 0};
  memcpy(declined.entry.version, older, sizeof older);
  PackedFile shared = packed_file("pakwiz_log_shared.dll", "not really a library");
  shared.entry.destination = DEST_SHARED_SYSTEM;
  shared.entry.shared = 1;
  shared.entry.special = SPECIAL_SELF_REGISTER;
  PackedFile font = packed_file("pakwiz_log.ttf", "not really a font");
  font.entry.destination = DEST_FONT;
  PackedFile extras = packed_file("extras.txt", "");
  extras.entry.removal = REMOVAL_NOT_INSTALLED;
  extras.entry.strings[4] = "Pakwiz Log Extras";
  PackedFile long_menu = packed_file("long.txt", "l");
  long_menu.entry.strings[1] = "PakwizLogTest";
  long_menu.entry.strings[2] = std::string(240, 'n'); // its link path does not fit
  load_with_key({uninstaller("PakwizLogTest", "Uninstall Pakwiz"), tool,
                 packed_file("bin\\x.dll", "x"), kept, declined, shared, font, extras, long_menu},
                "PakwizLogT");
  CreateDirectoryA(install_folder.c_str(), NULL);
  ASSERT_TRUE(CopyFileA((test_exe_folder() + "pakwiz_install_version_a.dll").c_str(),
                        (install_folder + "lib.dll").c_str(), FALSE));
  answers = {ANSWER_NO};

  install_all();
  UninstallLog log = log_of(install_folder + "Uninstall.exe");
  ASSERT_EQ(log.error, "") << describe(log);
  EXPECT_EQ(log.files, (std::vector<LoggedFile>{
                           {".", "tool.exe", 0},
                           {desktop, "Pakwiz Log Tool.lnk", 0},
                           {".\\bin", "x.dll", 0},
                           {system_folder(), "pakwiz_log_shared.dll", 5},
                           {fonts, "pakwiz_log.ttf", 2},
                           {desktop, "Pakwiz Log Extras.lnk", 0}, // its entry was not installed
                           {".", "long.txt", 0},
                       }))
      << describe(log);
  EXPECT_TRUE(log.has_shortcuts);
  EXPECT_EQ(log.shortcuts,
            (std::vector<LoggedLink>{{menu, "Uninstall Pakwiz.lnk"}, {menu, "Pakwiz Tool.lnk"}}))
      << describe(log);
  ASSERT_TRUE(log.has_key);
  EXPECT_EQ(log.key_root, 0x80000002u);
  EXPECT_EQ(log.key_path, key);
  EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, key, "DisplayName"), "PakwizLogT");
  EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, key, "UninstallString"),
            "\"" + install_folder + "Uninstall.exe\"");
  EXPECT_EQ(read_link(menu + "\\Pakwiz Tool.lnk").path, install_folder + "tool.exe");
  EXPECT_EQ(read_link(menu + "\\Uninstall Pakwiz.lnk").path, install_folder + "Uninstall.exe");

  for (const std::string& path :
       {menu + "\\Pakwiz Tool.lnk", menu + "\\Uninstall Pakwiz.lnk",
        desktop + "\\Pakwiz Log Tool.lnk", desktop + "\\Pakwiz Log Extras.lnk",
        system_folder() + "\\pakwiz_log_shared.dll", fonts + "\\pakwiz_log.ttf"})
    DeleteFileA(path.c_str());
  RemoveDirectoryA(menu.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  HKEY shared_dlls;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_SET_VALUE, &shared_dlls) ==
      ERROR_SUCCESS) {
    RegDeleteValueA(shared_dlls, (system_folder() + "\\pakwiz_log_shared.dll").c_str());
    RegCloseKey(shared_dlls);
  }
}

TEST_F(UninstallLogTest, WithoutKeyNameOrShortcutsOnlyTheFileRecordIsWritten) {
  DWORD keys_before = subkey_count(HKEY_LOCAL_MACHINE, UNINSTALL);
  load_with_key({uninstaller(), packed_file("a.txt", "a")}, "");
  install_all();
  UninstallLog log = log_of(install_folder + "Uninstall.exe");
  ASSERT_EQ(log.error, "") << describe(log);
  EXPECT_EQ(log.files, (std::vector<LoggedFile>{{".", "a.txt", 0}}));
  EXPECT_FALSE(log.has_shortcuts);
  EXPECT_FALSE(log.has_key);
  EXPECT_EQ(subkey_count(HKEY_LOCAL_MACHINE, UNINSTALL), keys_before);
}

// A file log record as an earlier installation wrote it: entries of
// (folder, name, flags).
Bytes earlier_file_log(const std::vector<LoggedFile>& files) {
  Bytes body(4, 0);
  body[0] = (uint8_t)files.size();
  auto text = [&](const std::string& t) {
    body.push_back((uint8_t)t.size());
    body.push_back((uint8_t)(t.size() >> 8));
    body.insert(body.end(), t.begin(), t.end());
  };
  for (const LoggedFile& f : files) {
    text(f.folder);
    text(f.name);
    body.push_back((uint8_t)f.flags);
  }
  Bytes record = {0x35, 0x12, 0, 0};
  for (int i = 0; i < 4; i++) record.push_back((uint8_t)(body.size() >> (8 * i)));
  record.insert(record.end(), body.begin(), body.end());
  Bytes end = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
  record.insert(record.end(), end.begin(), end.end());
  return record;
}

TEST_F(UninstallLogTest, ReinstallingCarriesTheEarlierLogsFilesThatAreStillThere) {
  load_with_key({uninstaller(), packed_file("a.txt", "a"), packed_file("bin\\b.txt", "b")}, "");
  std::string parent = install_folder.substr(0, install_folder.size() - 1);
  parent = parent.substr(0, parent.find_last_of('\\'));
  CreateDirectoryA(install_folder.c_str(), NULL);
  CreateDirectoryA((install_folder + "old").c_str(), NULL);
  CreateDirectoryA((parent + "\\elsewhere").c_str(), NULL);
  for (const std::string& path : {install_folder + "old\\still.txt",
                                  parent + "\\elsewhere\\kept.txt", parent + "\\outside.txt"}) {
    std::ofstream(path) << "there";
  }
  // The earlier uninstaller: the same program, then its log.
  Bytes earlier = text_bytes(PROGRAM);
  Bytes log = earlier_file_log({
      {".", "A.TXT", 0},                       // installed again: logged once
      {".\\old", "gone.txt", 0},               // no longer there
      {".\\old", "still.txt", 0},              // carried
      {parent + "\\elsewhere", "kept.txt", 1}, // carried, with its flags
      {".\\..", "outside.txt", 0},             // not a path the log may hold
      {".\\old", "still.txt", 8},              // flags the log does not know
  });
  earlier.insert(earlier.end(), log.begin(), log.end());
  std::string path = install_folder + "Uninstall.exe";
  {
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)earlier.data(), (std::streamsize)earlier.size());
  }

  install_all();
  UninstallLog now = log_of(path);
  ASSERT_EQ(now.error, "") << describe(now);
  EXPECT_EQ(now.files, (std::vector<LoggedFile>{
                           {".", "a.txt", 0},
                           {".\\bin", "b.txt", 0},
                           {".\\old", "still.txt", 0},
                           {parent + "\\elsewhere", "kept.txt", 1},
                       }))
      << describe(now);

  // Installed once more: what was carried is carried again, once.
  install_all();
  EXPECT_EQ(log_of(path).files, (std::vector<LoggedFile>{
                                    {".", "a.txt", 0},
                                    {".\\bin", "b.txt", 0},
                                    {".\\old", "still.txt", 0},
                                    {parent + "\\elsewhere", "kept.txt", 1},
                                }));
}

TEST_F(UninstallLogTest, UninstallerThatCannotBeOpenedStillGetsShortcutsAndKey) {
  const std::string key = std::string(UNINSTALL) + "PakwizLocked";
  const std::string menu = shell_folder(CSIDL_PROGRAMS) + "\\PakwizLocked";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  PackedFile a = packed_file("a.txt", "a");
  a.entry.strings[1] = "PakwizLocked";
  a.entry.strings[2] = "Locked A";
  load_with_key({uninstaller(), a}, "PakwizLocked");
  ASSERT_TRUE(prepare_installation());
  while (install_step()) {
  }
  std::string path = install_folder + "Uninstall.exe";
  HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  finish_installation();
  CloseHandle(lock);

  Bytes placed = text_bytes(PROGRAM);
  placed.resize(placed.size() + 8, 0);
  EXPECT_EQ(read_file_bytes(path), placed); // no log: the reserved bytes as placed
  EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, key, "UninstallString"), "\"" + path + "\"");
  EXPECT_EQ(read_link(menu + "\\Locked A.lnk").path, install_folder + "a.txt");
  DeleteFileA((menu + "\\Locked A.lnk").c_str());
  RemoveDirectoryA(menu.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST_F(UninstallLogTest, InstallFolderIsRecordedWhereTheLanguageRecordAsks) {
  const char* folder_key = "Software\\PakwizFolderTest";
  struct Case {
    uint16_t flags;
    uint32_t root;
    const char* value; // "" = the default value
    HKEY expected_root;
    bool ini;
  } cases[] = {
      {LANG_STORE_FOLDER_REGISTRY | LANG_STORE_FOLDER_INI, 1, "Folder", HKEY_CURRENT_USER, true},
      {LANG_STORE_FOLDER_REGISTRY, 2, "", HKEY_LOCAL_MACHINE, false},
      {LANG_STORE_FOLDER_REGISTRY, 5, "Folder", NULL, false}, // names no root
      {0, 1, "Folder", NULL, false},                          // not asked for
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("flags " + std::to_string(c.flags) + " root " + std::to_string(c.root));
    TearDown();
    SetUp();
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) RegDeleteKeyA(root, folder_key);
    std::string ini = dir.file("folder.ini");
    DeleteFileA(ini.c_str());
    LanguageMaker language;
    language.flags = c.flags;
    language.registry_root = c.root;
    language.registry_key = folder_key;
    language.registry_value = c.value;
    language.ini_file = ini;
    language.ini_section = "Setup";
    language.ini_key = "Dir";
    load({packed_file("a.txt", "a")}, Bytes(), &language);
    install_all();
    std::string recorded = install_folder.substr(0, install_folder.size() - 1);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      EXPECT_EQ(read_string(root, folder_key, c.value),
                root == c.expected_root ? recorded : "<no key>");
    char text[MAX_PATH];
    GetPrivateProfileStringA("Setup", "Dir", "<absent>", text, sizeof text, ini.c_str());
    EXPECT_EQ(std::string(text), c.ini ? recorded : "<absent>");
    EXPECT_EQ(std::string(g_app.install_folder), install_folder); // its backslash is back
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) RegDeleteKeyA(root, folder_key);
  }
}

// Language blocks of two packages: the earlier installations are found
// through the uninstall keys of the other blocks, and only a block whose
// first entry is an uninstaller, whose key names an existing file, is run,
// its program quoted whether the value holds it quoted or bare.
TEST_F(UninstallLogTest, RemovePreviousInstallationsRunsOtherBlocksUninstallers) {
  struct Block {
    const char* key_name; // "" = none
    bool uninstaller_first;
    const char* installed; // folder of the registered uninstaller, "" = no value
    bool present;          // the uninstaller file exists
    bool runs;
    const char* stored_as; // the value, % standing for the path
    const char* program;   // the uninstaller's file name ("refuse...": it exits with 2,
                           // "restart...": with 3010)
    bool other_file;       // its folder holds another file too
  };
  struct Package {
    std::vector<Block> blocks;
    int current;
  } packages[] = {
      {{
           // quoted, a folder with a space
           {"PakwizPrevA", true, "a b", true, true, "\"%\"", "uninst.exe", false},
           {"PakwizPrevB", true, "b", false, false, "%", "uninst.exe", false}, // file gone
           {"PakwizPrevC", true, "c", true, false, "%", "uninst.exe",
            false}, // current block
                    // first entry is no uninstaller
           {"PakwizPrevD", false, "d", true, false, "%", "uninst.exe", false},
           {"", true, "", false, false, "%", "uninst.exe", false},
           // key without UninstallString
           {"PakwizPrevF", true, "", false, false, "%", "uninst.exe", false},
       },
       2},
      {{
           // behind the quotes: dropped
           {"PakwizPrevG", true, "g", true, true, "\"%\" /arg", "uninst.exe", false},
           {"PakwizPrevH", true, "h h", true, true, "%", "uninst.exe", false}, // bare, a space
           {"PakwizPrevI", true, "i", true, false, "%", "uninst.exe",
            false}, // current block
                    // refuses (exit code 2): it stays for a later attempt
           {"PakwizPrevJ", true, "j", true, true, "\"%\"", "refuse.exe", false},
           // its folder still holds a file: the folder stays
           {"PakwizPrevK", true, "k", true, true, "\"%\"", "uninst.exe", true},
           // removed all but files in use (exit code 3010): done, it goes
           {"PakwizPrevL", true, "l", true, true, "\"%\"", "restart.exe", false},
       },
       2},
  };
  for (const Package& package : packages) {
    TearDown();
    SetUp();
    PackageMaker p;
    p.record(REC_TEMPLATES, minimal_templates());
    std::string fixture = test_exe_folder() + "pakwiz_record_args.exe";
    std::vector<std::string> paths;
    for (const Block& b : package.blocks) {
      LanguageMaker l;
      l.table(6, install_messages());
      l.has_uninstall_key = b.key_name[0] != 0;
      l.uninstall_key = b.key_name;
      p.record(REC_LANGUAGE, l.bytes());
      EntryMaker first;
      first.strings[0] = "uninst.exe";
      first.flags = b.uninstaller_first ? ENTRY_UNINSTALLER : 0;
      p.record(REC_FILE_LIST, file_list({first}));

      std::string path =
          b.installed[0] ? dir.file(std::string(b.installed) + "\\" + b.program) : "";
      paths.push_back(path);
      if (b.present) {
        CreateDirectoryA(dir.file(b.installed).c_str(), NULL);
        ASSERT_TRUE(CopyFileA(fixture.c_str(), path.c_str(), FALSE)) << fixture;
        if (b.other_file) dir.write(std::string(b.installed) + "\\notes.txt", "kept");
      }
      if (b.key_name[0]) {
        std::string key = std::string(UNINSTALL) + b.key_name;
        HKEY k;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &k), ERROR_SUCCESS);
        if (!path.empty()) {
          std::string value = b.stored_as;
          value.replace(value.find('%'), 1, path);
          RegSetValueExA(k, "UninstallString", 0, REG_SZ, (const BYTE*)value.c_str(),
                         (DWORD)value.size() + 1);
        }
        RegCloseKey(k);
      }
    }
    std::string setup = dir.write("setup.exe", p.finish());
    strcpy(g_app.package_path, setup.c_str());
    g_app.stub_length = 64;
    ASSERT_TRUE(load_package());
    ASSERT_EQ(g_package.block_count, (int)package.blocks.size());
    select_language_block(package.current);
    // What an unquoted "<dir>\a b\uninst.exe /X" or "<dir>\h h\uninst.exe /X"
    // would start instead; either decoy writes <dir>.args when it runs.
    std::vector<std::string> decoys = {dir.file("a.exe"), dir.file("h.exe")};
    for (const std::string& decoy : decoys)
      ASSERT_TRUE(CopyFileA(fixture.c_str(), decoy.c_str(), FALSE));

    remove_previous_installations();
    EXPECT_FALSE(file_exists(dir.path() + ".args"));
    DeleteFileA((dir.path() + ".args").c_str());
    for (size_t i = 0; i < paths.size(); i++) {
      const Block& b = package.blocks[i];
      SCOPED_TRACE(b.key_name);
      if (paths[i].empty()) continue;
      std::string folder = dir.file(b.installed);
      Bytes args = read_file_bytes(folder + ".args");
      EXPECT_EQ(std::string(args.begin(), args.end()), b.runs ? "\"" + paths[i] + "\" /X" : "");
      // Deleted once it has run and succeeded, and its folder with it when
      // nothing else is left there.
      bool removed = b.runs && strncmp(b.program, "refuse", 6) != 0;
      EXPECT_EQ(file_exists(paths[i]), b.present && !removed);
      EXPECT_EQ(file_exists(folder), b.present && (!removed || b.other_file));
      if (b.key_name[0])
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL) + b.key_name).c_str());
    }
  }
}

// The value record: only what the lists and the install-folder registration
// created is logged (keys parent first), and the installed uninstaller
// removes exactly that: values and keys that were there before, an
// overwritten value and a skipped only-if-absent entry stay.
TEST_F(UninstallLogTest, ValuesTheInstallationCreatedAreLoggedAndRemovedAgain) {
  const std::string base = "Software\\PakwizValueLog";
  auto delete_tree = [&] {
    for (const char* sub : {"\\Deep\\Er", "\\Deep", "\\Folder", ""})
      RegDeleteKeyA(HKEY_CURRENT_USER, (base + sub).c_str());
  };
  delete_tree();
  HKEY k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, base.c_str(), &k), ERROR_SUCCESS);
  RegSetValueExA(k, "Old", 0, REG_SZ, (const BYTE*)"old", 4);
  RegSetValueExA(k, "Kept", 0, REG_SZ, (const BYTE*)"kept", 5);
  RegCloseKey(k);
  std::string old_ini = dir.write("old.ini", "[S]\r\na=1\r\n");

  LanguageMaker language;
  language.flags = LANG_STORE_FOLDER_REGISTRY | LANG_STORE_FOLDER_INI;
  language.registry_root = 1;
  language.registry_key = base + "\\Folder"; // the default value of a new key
  const std::string folder_ini = dir.file("folder.ini");
  DeleteFileA(folder_ini.c_str());
  language.ini_file = folder_ini;
  language.ini_section = "Setup";
  language.ini_key = "Dir";
  // The real uninstaller as the package's prefix block.
  Bytes program = read_file_bytes(test_exe_folder() + "pakwiz-uninstall.exe");
  ASSERT_FALSE(program.empty());
  load({uninstaller()}, program, &language);
  set_list(&LanguageBlock::ini_list,
           pakwiz::ini_list_payload({
               {0, old_ini, "S", "a", "2"}, // overwritten: not logged, stays
               {0, old_ini, "S", "b", "2"},
               {1, old_ini, "S", "a", "3"}, // only if absent: skipped
               {0, "#InstallDir#\\new.ini", "N", "k", "v"},
           }));
  set_list(&LanguageBlock::registry_list, pakwiz::registry_list_payload({
                                              {1, 0, base, "Old", "new"},
                                              {1, 0, base, "New", "n"},
                                              {1, 1, base, "Kept", "x"},
                                              {1, 1, base, "Fresh", "f"},
                                              {1, 0, base + "\\Deep\\Er", "", "d"},
                                              {1, 0, base + "\\Deep\\Er", "Again", "a"},
                                          }));
  install_all();

  const std::string uninstaller_path = install_folder + "Uninstall.exe";
  Bytes placed = read_file_bytes(uninstaller_path);
  UninstallLog log = read_uninstall_log(placed, program.size());
  ASSERT_EQ(log.error, "") << describe(log);
  std::vector<std::string> items;
  for (const LoggedValue& v : log.values) items.push_back(value_item(v));
  const std::string hkcu = "HKCU\\" + base, ini = install_folder + "new.ini";
  EXPECT_EQ(items, (std::vector<std::string>{
                       "regkey|" + hkcu + "\\Folder", "value|" + hkcu + "\\Folder|",
                       "inifile|" + folder_ini, "ini|" + folder_ini + "|Setup|Dir",
                       "ini|" + old_ini + "|S|b", "inifile|" + ini, "ini|" + ini + "|N|k",
                       "value|" + hkcu + "|New", "value|" + hkcu + "|Fresh",
                       "regkey|" + hkcu + "\\Deep", "regkey|" + hkcu + "\\Deep\\Er",
                       "value|" + hkcu + "\\Deep\\Er|", "value|" + hkcu + "\\Deep\\Er|Again"}))
      << describe(log);

  EXPECT_EQ(run_uninstaller(uninstaller_path), 0u);

  EXPECT_EQ(read_string(HKEY_CURRENT_USER, base, "Old"), "new");
  EXPECT_EQ(read_string(HKEY_CURRENT_USER, base, "Kept"), "kept");
  for (const char* gone : {"New", "Fresh"})
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, base, gone), "<absent>") << gone;
  for (const char* sub : {"\\Deep\\Er", "\\Deep", "\\Folder"})
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, base + sub, ""), "<no key>") << sub;
  char text[64];
  GetPrivateProfileStringA("S", "a", "<absent>", text, sizeof text, old_ini.c_str());
  EXPECT_STREQ(text, "2");
  GetPrivateProfileStringA("S", "b", "<absent>", text, sizeof text, old_ini.c_str());
  EXPECT_STREQ(text, "<absent>");
  for (const std::string& created : {ini, folder_ini})
    EXPECT_EQ(GetFileAttributesA(created.c_str()), INVALID_FILE_ATTRIBUTES) << created;
  DeleteFileA(uninstaller_path.c_str());
  delete_tree();
}

namespace {

// SharedDLLs count of a path; -1 when there is none.
long shared_count(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
  DWORD count = 0, size = sizeof count;
  LONG r = RegQueryValueExA(key, path.c_str(), NULL, NULL, (BYTE*)&count, &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? (long)count : -1;
}

void forget_shared_count(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, path.c_str());
  RegCloseKey(key);
}

std::vector<std::string> value_items(const UninstallLog& log) {
  std::vector<std::string> items;
  for (const LoggedValue& v : log.values) items.push_back(value_item(v));
  return items;
}

} // namespace

// The same package installed twice into the same folder (a repair): the
// second run finds the values, keys, INI entries and INI files of the first
// one there and does not create them, and the shared file is counted
// already. Its log carries the first log's entries over, the count is not
// raised again, and one uninstallation removes it all.
TEST_F(UninstallLogTest, AReinstallationIsRemovedAsCompletelyAsTheFirstInstallation) {
  const std::string base = "Software\\PakwizReinstall";
  auto delete_tree = [&] {
    for (const char* sub : {"\\Deep", "\\Folder", ""})
      RegDeleteKeyA(HKEY_CURRENT_USER, (base + sub).c_str());
  };
  delete_tree();
  const std::string shared = system_folder() + "\\pakwiz_reinstall_shared.dll";
  DeleteFileA(shared.c_str());
  forget_shared_count(shared);
  const std::string folder_ini = dir.file("folder.ini");
  DeleteFileA(folder_ini.c_str());

  LanguageMaker language;
  language.flags = LANG_STORE_FOLDER_REGISTRY | LANG_STORE_FOLDER_INI;
  language.registry_root = 1;
  language.registry_key = base + "\\Folder";
  language.registry_value = "Dir";
  language.ini_file = folder_ini;
  language.ini_section = "Setup";
  language.ini_key = "Dir";
  Bytes program = read_file_bytes(test_exe_folder() + "pakwiz-uninstall.exe");
  ASSERT_FALSE(program.empty());
  PackedFile library = packed_file("pakwiz_reinstall_shared.dll", "not really a library");
  library.entry.destination = DEST_SHARED_SYSTEM;
  library.entry.shared = 1;
  load({uninstaller(), packed_file("a.txt", "a"), library}, program, &language);
  set_list(&LanguageBlock::ini_list,
           pakwiz::ini_list_payload({{0, "#InstallDir#\\app.ini", "N", "k", "v"}}));
  set_list(&LanguageBlock::registry_list,
           pakwiz::registry_list_payload({{1, 0, base + "\\Deep", "Value", "x"}}));
  const std::string uninstaller_path = install_folder + "Uninstall.exe";

  install_all();
  UninstallLog first = read_uninstall_log(read_file_bytes(uninstaller_path), program.size());
  ASSERT_EQ(first.error, "") << describe(first);
  EXPECT_EQ(value_items(first).size(), 9u) << describe(first);
  EXPECT_EQ(shared_count(shared), 1);

  install_all();
  UninstallLog second = read_uninstall_log(read_file_bytes(uninstaller_path), program.size());
  ASSERT_EQ(second.error, "") << describe(second);
  EXPECT_EQ(value_items(second), value_items(first)) << describe(second);
  EXPECT_EQ(second.files, first.files) << describe(second);
  EXPECT_EQ(shared_count(shared), 1);

  EXPECT_EQ(run_uninstaller(uninstaller_path), 0u);
  EXPECT_EQ(read_string(HKEY_CURRENT_USER, base, ""), "<no key>");
  for (const std::string& gone : {folder_ini, install_folder + "app.ini", shared})
    EXPECT_EQ(GetFileAttributesA(gone.c_str()), INVALID_FILE_ATTRIBUTES) << gone;
  EXPECT_EQ(shared_count(shared), -1);
  // Only the uninstaller is left, for the installation that started it.
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((install_folder + "*").c_str(), &found);
  std::vector<std::string> left;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (found.cFileName[0] != '.') left.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  EXPECT_EQ(left, std::vector<std::string>{"Uninstall.exe"});

  DeleteFileA(uninstaller_path.c_str());
  DeleteFileA(shared.c_str());
  forget_shared_count(shared);
  delete_tree();
}

// Only the earlier value entries whose values, keys, INI entries and files
// are still there are carried, each once; the walk ends where the earlier
// record is out of shape.
TEST_F(UninstallLogTest, ReinstallingCarriesTheEarlierValuesThatAreStillThere) {
  const std::string base = "Software\\PakwizCarried";
  RegDeleteKeyA(HKEY_CURRENT_USER, (base + "\\Sub").c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
  HKEY k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (base + "\\Sub").c_str(), &k), ERROR_SUCCESS);
  RegCloseKey(k);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
  RegSetValueExA(k, "Here", 0, REG_SZ, (const BYTE*)"h", 2);
  RegCloseKey(k);
  const std::string ini = dir.write("carried.ini", "[S]\r\nhere=\r\n");
  const uint32_t HKCU_ROOT = 0x80000001u;

  LogSpec earlier;
  earlier.values = std::vector<LogValueSpec>{
      {LOGGED_VALUE_REGISTRY, HKCU_ROOT, base, "Here", ""},
      {LOGGED_VALUE_REGISTRY, HKCU_ROOT, base, "Gone", ""},
      {LOGGED_VALUE_KEY, HKCU_ROOT, base + "\\Sub", "", ""},
      {LOGGED_VALUE_KEY, HKCU_ROOT, base + "\\Gone", "", ""},
      {LOGGED_VALUE_INI, 0, ini, "S", "here"}, // empty, but there
      {LOGGED_VALUE_INI, 0, ini, "S", "gone"},
      {LOGGED_VALUE_INI_FILE, 0, ini, "", ""},
      {LOGGED_VALUE_INI_FILE, 0, dir.file("gone.ini"), "", ""},
      {LOGGED_VALUE_REGISTRY, 0x80000007u, base, "Here", ""}, // no such root: the end
      {LOGGED_VALUE_KEY, HKCU_ROOT, base, "", ""},
  };
  load_with_key({uninstaller(), packed_file("a.txt", "a")}, "");
  CreateDirectoryA(install_folder.c_str(), NULL);
  Bytes bytes = text_bytes(PROGRAM), log = make_uninstall_log(earlier);
  bytes.insert(bytes.end(), log.begin(), log.end());
  const std::string path = install_folder + "Uninstall.exe";
  {
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  }

  install_all();
  UninstallLog now = log_of(path);
  ASSERT_EQ(now.error, "") << describe(now);
  const std::string hkcu = "HKCU\\" + base;
  const std::vector<std::string> carried = {"value|" + hkcu + "|Here", "regkey|" + hkcu + "\\Sub",
                                            "ini|" + ini + "|S|here", "inifile|" + ini};
  EXPECT_EQ(value_items(now), carried) << describe(now);
  // Installed once more: carried again, once.
  install_all();
  EXPECT_EQ(value_items(log_of(path)), carried);

  RegDeleteKeyA(HKEY_CURRENT_USER, (base + "\\Sub").c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
}
