// The default install folder of a language record: an earlier installation's
// folder from the registry or an INI file, trimmed to what exists and
// corrected to the names on disk; otherwise the default text expanded.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "common/state.h"
#include "package/default_folder.h"
#include "package/package.h"
#include "support/package_maker.h"
#include "support/temp_dir.h"

namespace {

const char KEY[] = "Software\\PakwizTest\\Folder";

class DefaultFolder : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    strcpy(g_app.package_path, "C:\\media\\setup.exe");
    RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
    CreateDirectoryA(dir.file("Program Files").c_str(), NULL);
    CreateDirectoryA(dir.file("Program Files\\OldApp").c_str(), NULL);
  }
  void TearDown() override {
    SetCurrentDirectoryA("C:\\");
    RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
    app_free_buffers();
  }
  void set_registry(const std::string& value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, "InstallDir", 0, REG_SZ, (const BYTE*)value.c_str(),
                   (DWORD)value.size() + 1);
    RegCloseKey(key);
  }
  // Runs the computation on a language record made by `lang`.
  std::string compute(const LanguageMaker& lang) {
    record = lang.bytes();
    LanguageRecord r = {};
    auto text = [&](int field) -> const char* {
      uint32_t offset;
      memcpy(&offset, record.data() + field, 4);
      return offset ? (const char*)record.data() + offset : nullptr;
    };
    r.default_folder = text(12);
    memcpy(&r.registry_root, record.data() + 16, 4);
    r.registry_key = text(20);
    r.registry_value = text(24);
    r.ini_file = text(28);
    r.ini_section = text(32);
    r.ini_key = text(36);
    compute_default_install_folder(&r);
    return g_app.install_folder;
  }
  LanguageMaker registry_record() {
    LanguageMaker lang;
    lang.default_folder = "#SourceDir#\\App\\";
    lang.registry_root = 1;
    lang.registry_key = KEY;
    lang.registry_value = "InstallDir";
    return lang;
  }
  // `actual` names dir/relative, with `relative` exactly as stored on disk
  // (the temporary folder above it may be spelt in another case).
  void expect_stored(const std::string& actual, const std::string& relative) {
    std::string expected = dir.file(relative);
    EXPECT_EQ(_stricmp(actual.c_str(), expected.c_str()), 0) << actual;
    ASSERT_GE(actual.size(), relative.size());
    EXPECT_EQ(actual.substr(actual.size() - relative.size()), relative);
  }
  TempDir dir;
  Bytes record;
};

} // namespace

TEST_F(DefaultFolder, RegistryShortNameBecomesTheLongNamesStoredOnDisk) {
  char short_name[MAX_PATH];
  ASSERT_TRUE(GetShortPathNameA(dir.file("Program Files\\OldApp").c_str(), short_name, MAX_PATH));
  std::string upper = short_name;
  for (char& c : upper) c = (char)toupper((unsigned char)c);
  set_registry(upper + "\\");
  expect_stored(compute(registry_record()), "Program Files\\OldApp");
}

TEST_F(DefaultFolder, RegistryFolderIsTrimmedToItsLongestExistingPart) {
  set_registry(dir.file("Program Files\\OldApp\\Gone\\Tool"));
  expect_stored(compute(registry_record()), "Program Files\\OldApp");
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  EXPECT_EQ(_stricmp(current, dir.file("Program Files\\OldApp").c_str()), 0) << current;
}

TEST_F(DefaultFolder, MissingKeyOrUnknownRootUsesTheExpandedDefaultEvenWithAnIniEntry) {
  std::string ini = dir.write("old.ini", "[Setup]\r\nFolder=" + dir.path() + "\r\n");
  LanguageMaker lang = registry_record();
  lang.ini_file = ini;
  lang.ini_section = "Setup";
  lang.ini_key = "Folder";
  EXPECT_EQ(compute(lang), "C:\\media\\App\\");
  set_registry(dir.path());
  lang.registry_root = 5; // names no root key
  EXPECT_EQ(compute(lang), "C:\\media\\App\\");
}

TEST_F(DefaultFolder, IniValueOrTheDefaultTextWhenTheKeyIsMissingCountsAsFound) {
  std::string ini =
      dir.write("old.ini", "[Setup]\r\nFolder=" + dir.file("program files\\oldapp") + "\r\n");
  LanguageMaker lang;
  lang.ini_file = ini;
  lang.ini_section = "Setup";
  lang.ini_key = "Folder";
  lang.default_folder = "#SourceDir#";
  expect_stored(compute(lang), "Program Files\\OldApp");

  // The default text is the lookup's fallback: found, trimmed, not expanded.
  lang.ini_key = "Missing";
  lang.default_folder = dir.file("Program Files\\#Windows#");
  expect_stored(compute(lang), "Program Files");
}

TEST_F(DefaultFolder, RecordWithoutDefaultTextStartsFromThePreviousResult) {
  LanguageMaker first;
  first.default_folder = "#SourceDir#\\App\\";
  EXPECT_EQ(compute(first), "C:\\media\\App\\");
  LanguageMaker second;
  second.has_default_folder = false;
  EXPECT_EQ(compute(second), "C:\\media\\App\\");
  strcpy(g_app.install_folder, "#SourceDir#\\Again"); // expanded again
  EXPECT_EQ(compute(second), "C:\\media\\Again");
}

TEST_F(DefaultFolder, CorrectFolderNameKeepsUnknownPathsAndRoots) {
  char path[PATH_SIZE];
  strcpy(path, dir.file("PROGRAM FILES\\oldapp\\").c_str());
  correct_folder_name(path);
  expect_stored(path, "Program Files\\OldApp");
  for (std::string unchanged : {dir.file("Program Files\\Nothing"), std::string("C:\\")}) {
    strcpy(path, unchanged.c_str());
    correct_folder_name(path);
    EXPECT_EQ(std::string(path), unchanged);
  }
}
