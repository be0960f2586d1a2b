// Folder macros: tokens between two '#' replaced by their values, unknown
// tokens removed, the result cut cleanly to the output buffer.
#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <string>

#include "common/state.h"
#include "package/macros.h"

namespace {

class Macros : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    strcpy(g_app.install_folder, "C:\\Apps\\Tool\\");
    strcpy(g_app.package_path, "D:\\Media\\setup.exe");
  }
  void TearDown() override { app_free_buffers(); }
  std::string expand(const std::string& text) {
    char out[PATH_SIZE];
    uint32_t n = expand_folder_macros(out, text.c_str(), sizeof out);
    std::string s = n ? out : "";
    EXPECT_EQ(s.size(), n) << text;
    return s;
  }
};

} // namespace

TEST_F(Macros, ReplacesTokensAndRemovesUnknownOnes) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"#InstallDir#\\readme.txt", "C:\\Apps\\Tool\\readme.txt"},
      {"#installdir#", "C:\\Apps\\Tool"},
      {"#SourceDir#\\extra.txt", "D:\\Media\\extra.txt"},
      {"50#", "50#"},
      {"a#b#c", "ac"},
      {"a##b", "ab"},
      {"#InstallDir#\\#Foo", "C:\\Apps\\Tool\\#Foo"},
      {"no tokens", "no tokens"},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.text), c.expected) << c.text;
}

TEST_F(Macros, DriveRootKeepsItsBackslashAndValuesAreNotScannedAgain) {
  strcpy(g_app.install_folder, "C:\\");
  EXPECT_EQ(expand("#InstallDir#x"), "C:\\x");
  strcpy(g_app.install_folder, "C:\\#SourceDir#\\");
  EXPECT_EQ(expand("#InstallDir#"), "C:\\#SourceDir#");
  strcpy(g_app.package_path, "setup.exe"); // no backslash: the whole path
  EXPECT_EQ(expand("#SourceDir#"), "setup.exe");
}

TEST_F(Macros, DateIsTodayInUtc) {
  time_t now = time(nullptr);
  struct tm t = *gmtime(&now);
  char expected[32];
  snprintf(expected, sizeof expected, "Build %04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
           t.tm_mday);
  EXPECT_EQ(expand("Build #Date#"), expected);
}

TEST_F(Macros, LengthFirstThenExpansionIntoExactlyThatMuch) {
  const char* text = "#InstallDir#\\sub\\file.txt";
  uint32_t n = expand_folder_macros(nullptr, text, 0);
  ASSERT_EQ(n, strlen("C:\\Apps\\Tool\\sub\\file.txt"));
  std::string out(n + 1, '*');
  EXPECT_EQ(expand_folder_macros(&out[0], text, n + 1), n);
  EXPECT_EQ(out, std::string("C:\\Apps\\Tool\\sub\\file.txt") + '\0');
}

TEST_F(Macros, ExpansionInPlaceAndCutToTheBuffer) {
  strcpy(g_app.install_folder, "#InstallDir#\\x\\#SourceDir#");
  EXPECT_EQ(expand_folder_macros(g_app.install_folder, g_app.install_folder, PATH_SIZE),
            strlen("#InstallDir#\\x\\#SourceDir#\\x\\D:\\Media"));
  EXPECT_STREQ(g_app.install_folder, "#InstallDir#\\x\\#SourceDir#\\x\\D:\\Media");

  // 300 characters into 260 bytes: 259 of them and a NUL; the full length returned.
  strcpy(g_app.install_folder, std::string(150, 'i').c_str());
  std::string text = "#InstallDir##InstallDir#";
  char out[PATH_SIZE + 8];
  memset(out, '*', sizeof out);
  EXPECT_EQ(expand_folder_macros(out, text.c_str(), PATH_SIZE), 300u);
  EXPECT_EQ(std::string(out), std::string(259, 'i'));
  EXPECT_EQ(out[PATH_SIZE], '*');

  // An empty result leaves the buffer as it was.
  strcpy(out, "unchanged");
  EXPECT_EQ(expand_folder_macros(out, "#gone#", sizeof out), 0u);
  EXPECT_STREQ(out, "unchanged");
}

TEST_F(Macros, ExpansionBeyondTheWorkBufferStopsThereAndReportsWhatWasKept) {
  strcpy(g_app.install_folder, std::string(250, 'w').c_str());
  std::string text;
  for (int i = 0; i < 300; i++) text += "#InstallDir#"; // 75,000 characters
  uint32_t n = expand_folder_macros(nullptr, text.c_str(), 0);
  EXPECT_EQ(n, (uint32_t)MACRO_WORK_SIZE - 1);
  std::string out(n + 1, '*');
  EXPECT_EQ(expand_folder_macros(&out[0], text.c_str(), n + 1), n);
  EXPECT_EQ(out, std::string(n, 'w') + '\0');
}
