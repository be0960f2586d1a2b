// The INI, registry and file patch lists applied at the end of an
// installation against real profile files, the registry and installed files.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "builder/script_writer.h"
#include "common/heap.h"
#include "common/state.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "support/install_package.h"

namespace {

const char TEST_KEY[] = "Software\\PakwizListTest";

class Lists : public InstallTest {
protected:
  // Puts a list into the current block, as the loader would have.
  void set_list(Buffer LanguageBlock::*slot, const std::vector<uint8_t>& bytes) {
    Buffer& b = g_package.blocks[g_package.current_block].*slot;
    if (b.data) heap_free(b.data);
    b.data = (uint8_t*)heap_alloc(bytes.size());
    memcpy(b.data, bytes.data(), bytes.size());
    b.size = (uint32_t)bytes.size();
  }
  void install_all() {
    ASSERT_TRUE(prepare_installation());
    while (install_step()) {
    }
    ASSERT_EQ(g_install.error_code, 0u);
    finish_installation();
  }
  std::string install_dir() const { return install_folder.substr(0, install_folder.size() - 1); }
};

std::string ini_value(const std::string& file, const char* section, const char* key) {
  char text[256];
  GetPrivateProfileStringA(section, key, "<absent>", text, sizeof text, file.c_str());
  return text;
}

// "<absent>", or the value with its type and byte count.
std::string registry_value(HKEY root, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, TEST_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
  char data[256] = "";
  DWORD type = 0, size = sizeof data - 1;
  LONG r = RegQueryValueExA(key, name, NULL, &type, (BYTE*)data, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "<absent>";
  if (type != REG_SZ) return "type " + std::to_string(type);
  return std::string(data) + " (" + std::to_string(size) + " bytes)";
}

void set_raw_value(HKEY root, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(root, TEST_KEY, &key), ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, type, (const BYTE*)data, size);
  RegCloseKey(key);
}

std::string windows_file(const char* name) {
  char w[MAX_PATH];
  GetWindowsDirectoryA(w, MAX_PATH);
  return std::string(w) + "\\" + name;
}

} // namespace

TEST_F(Lists, IniEntriesOnlyIfAbsentAndEmptyValues) {
  load({});
  std::string ini = dir.write("settings.ini", "[S]\r\nEmpty=\r\nFull=old\r\nKeep=kept\r\n");
  set_list(&LanguageBlock::ini_list,
           pakwiz::ini_list_payload({
               {1, ini, "S", "Empty", "new"}, // an empty value counts as absent
               {1, ini, "S", "Full", "new"},  // a value is there: left alone
               {1, ini, "S", "Missing", "#InstallDir#"},
               {0, ini, "S", "Keep", "#Nothing#"}, // expands to nothing: no write, no delete
               {0, ini, "S", "Never", "#Nothing#"},
           }));
  apply_ini_list();
  EXPECT_EQ(ini_value(ini, "S", "Empty"), "new");
  EXPECT_EQ(ini_value(ini, "S", "Full"), "old");
  EXPECT_EQ(ini_value(ini, "S", "Missing"), install_dir());
  EXPECT_EQ(ini_value(ini, "S", "Keep"), "kept");
  EXPECT_EQ(ini_value(ini, "S", "Never"), "<absent>");
}

TEST_F(Lists, IniFileNamesAreTargetNamesOrTextsWithMacros) {
  PackedFile conf;
  conf.entry.strings[0] = "conf\\app.ini";
  conf.content = text_bytes("[App]\r\nName=x\r\n");
  load({conf});
  set_list(&LanguageBlock::ini_list,
           pakwiz::ini_list_payload({
               {0, "CONF\\APP.INI", "App", "Folder", "#InstallDir#"}, // the installed file
               {0, "#InstallDir#\\other.ini", "O", "K", "v"},
               {0, "win.ini", "PakwizListTest", "Key", "in win.ini"}, // the Windows folder
           }));
  install_all();
  EXPECT_EQ(ini_value(install_folder + "conf\\app.ini", "App", "Folder"), install_dir());
  EXPECT_EQ(ini_value(install_folder + "conf\\app.ini", "App", "Name"), "x");
  EXPECT_EQ(ini_value(install_folder + "other.ini", "O", "K"), "v");
  EXPECT_EQ(ini_value(windows_file("win.ini"), "PakwizListTest", "Key"), "in win.ini");
  WritePrivateProfileStringA("PakwizListTest", NULL, NULL, "win.ini");
}

TEST_F(Lists, RegistryEntriesUseTheRootKeyTable) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, TEST_KEY);
  RegDeleteKeyA(HKEY_CURRENT_USER, TEST_KEY);
  load({});
  set_list(&LanguageBlock::registry_list,
           pakwiz::registry_list_payload({
               {2, 0, TEST_KEY, "Machine", "#InstallDir#"},
               {20, 0, TEST_KEY, "User", "u"},
               {1, 0, TEST_KEY, "", "default"},
               {5, 0, TEST_KEY, "NoRoot", "x"}, // 4 to 15 name no root
           }));
  install_all();
  std::string folder = install_dir();
  EXPECT_EQ(registry_value(HKEY_LOCAL_MACHINE, "Machine"),
            folder + " (" + std::to_string(folder.size() + 1) + " bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "User"), "u (2 bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, ""), "default (8 bytes)");
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
    EXPECT_EQ(registry_value(root, "NoRoot"), "<absent>");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, TEST_KEY);
  RegDeleteKeyA(HKEY_CURRENT_USER, TEST_KEY);
}

TEST_F(Lists, RegistryOnlyIfAbsentLooksAtTheFirstByte) {
  RegDeleteKeyA(HKEY_CURRENT_USER, TEST_KEY);
  DWORD zero = 0;
  uint8_t long_zero[30] = {0, 1, 2};
  const char long_text[] = "a value longer than twenty bytes";
  set_raw_value(HKEY_CURRENT_USER, "Zero", REG_DWORD, &zero, 4);
  set_raw_value(HKEY_CURRENT_USER, "Text", REG_SZ, "old", 4);
  set_raw_value(HKEY_CURRENT_USER, "Empty", REG_SZ, "", 1);
  set_raw_value(HKEY_CURRENT_USER, "Long", REG_SZ, long_text, sizeof long_text);
  set_raw_value(HKEY_CURRENT_USER, "LongZero", REG_BINARY, long_zero, sizeof long_zero);
  set_raw_value(HKEY_CURRENT_USER, "Kept", REG_SZ, "kept", 5);
  load({});
  set_list(&LanguageBlock::registry_list,
           pakwiz::registry_list_payload({
               {1, 1, TEST_KEY, "Zero", "new"},
               {1, 1, TEST_KEY, "Text", "new"},
               {1, 1, TEST_KEY, "Empty", "new"},
               {1, 1, TEST_KEY, "Long", "new"},
               {1, 1, TEST_KEY, "LongZero", "new"},
               {1, 1, TEST_KEY, "Missing", "new"},
               {1, 0, TEST_KEY, "Kept", "#Nothing#"}, // expands to nothing: left as it is
           }));
  apply_registry_list();
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "Zero"), "new (4 bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "Text"), "old (4 bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "Empty"), "new (4 bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "Long"),
            std::string(long_text) + " (" + std::to_string(sizeof long_text) + " bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "LongZero"), "new (4 bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "Missing"), "new (4 bytes)");
  EXPECT_EQ(registry_value(HKEY_CURRENT_USER, "Kept"), "kept (5 bytes)");
  RegDeleteKeyA(HKEY_CURRENT_USER, TEST_KEY);
}

TEST_F(Lists, PatchNamingATargetWritesIntoTheInstalledFile) {
  std::string path = windows_file("pakwiz_patch.cfg");
  DeleteFileA(path.c_str());
  PackedFile cfg;
  cfg.entry.strings[0] = "pakwiz_patch.cfg";
  cfg.entry.destination = DEST_WINDOWS;
  cfg.content = text_bytes("FOLDER=............\r\n");
  load({cfg});
  pakwiz::PatchEntryFields by_pattern;
  by_pattern.file = "PAKWIZ_PATCH.CFG";
  by_pattern.text = "#InstallDir#";
  by_pattern.pattern = {'F', 'O', 'L', 'D', 'E', 'R', '='};
  pakwiz::PatchEntryFields at_zero;
  at_zero.position = 0;
  at_zero.file = "#Windows#\\pakwiz_patch.cfg";
  at_zero.text = "f";
  set_list(&LanguageBlock::patch_list, pakwiz::patch_list_payload({by_pattern, at_zero}));
  install_all();
  std::vector<uint8_t> got = read_file_bytes(path);
  std::string expected = "fOLDER=" + install_dir();
  EXPECT_EQ(std::string(got.begin(), got.begin() + (long)std::min(got.size(), expected.size())),
            expected);
  DeleteFileA(path.c_str());
}
