// The command line: /S with a quoted or unquoted path, /DEL, '-' or '/',
// letters in any case, and where parsing stops.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/app.h"
#include "common/state.h"

namespace {

struct CommandLineCase {
  const char* line;
  const char* package_path; // expected package path ("OWN" = unchanged)
  bool temp_copy;
};

const CommandLineCase CASES[] = {
    {"", "OWN", false},
    {"/S\"C:\\My Setup\\setup.exe\" /DEL", "C:\\My Setup\\setup.exe", true},
    {"-s C:\\pkg\\setup.exe", "C:\\pkg\\setup.exe", false},
    // An unquoted path ends at the first space; the rest of the line is not a switch.
    {"-s C:\\My Setup\\setup.exe /DEL", "C:\\My", false},
    {"/del", "OWN", true},
    {"-DEL", "OWN", true},
    {"/DELETE", "OWN", true},
    {"/D", "OWN", false},
    {"/DE", "OWN", false},
    {"/DX /S x.exe", "x.exe", false},
    {"   /X /Del", "OWN", true},
    {"setup /DEL", "OWN", false},                    // stops at the first non-switch
    {"/S\"C:\\open quote", "C:\\open quote", false}, // no closing quote: to the end
    {"/S\"C:\\a b\"/DEL", "C:\\a b", true},          // a switch right behind the quote
    {"/S", "", false},                               // an empty argument empties the path
    {"/S   \"q.exe\"", "q.exe", false},
    {"/", "OWN", false},
    {"-", "OWN", false},
};

class CommandLine : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    strcpy(g_app.package_path, "OWN");
    g_app.temp_copy = false;
  }
  void TearDown() override {
    app_free_buffers();
    g_app.temp_copy = false;
  }
};

} // namespace

TEST_F(CommandLine, ReadsPackagePathAndTemporaryCopyFlag) {
  for (const CommandLineCase& c : CASES) {
    strcpy(g_app.package_path, "OWN");
    g_app.temp_copy = false;
    parse_command_line(c.line);
    EXPECT_STREQ(g_app.package_path, c.package_path) << "line: " << c.line;
    EXPECT_EQ(g_app.temp_copy, c.temp_copy) << "line: " << c.line;
  }
}

TEST(CommandLineLimits, NullLineChangesNothingAndLongPathIsCutTo259Characters) {
  ASSERT_TRUE(app_alloc_buffers());
  strcpy(g_app.package_path, "OWN");
  parse_command_line(nullptr);
  EXPECT_STREQ(g_app.package_path, "OWN");

  std::string long_path(400, 'p');
  std::string line = "/S\"" + long_path + "\" /DEL";
  parse_command_line(line.c_str());
  EXPECT_EQ(strlen(g_app.package_path), 259u);
  EXPECT_EQ(std::string(g_app.package_path), long_path.substr(0, 259));
  EXPECT_TRUE(g_app.temp_copy); // the switch behind the long argument is still read
  g_app.temp_copy = false;
  app_free_buffers();
}

// The program's own entry point takes its arguments from the whole process
// command line: behind the program name, quoted or not, and the blanks after it.
TEST(ProgramArguments, SkipThePossiblyQuotedProgramNameAndTheBlanksBehindIt) {
  const struct {
    const char* line;
    const char* arguments;
  } cases[] = {
      {"setup.exe /S\"C:\\p.exe\" /DEL", "/S\"C:\\p.exe\" /DEL"},
      {"\"C:\\My Files\\setup.exe\"  \t /DEL", "/DEL"},
      {"\"C:\\a b\\setup.exe\"/DEL", "/DEL"}, // nothing between the quote and the switch
      {"C:\\setup.exe", ""},
      {"\"C:\\open quote", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_STREQ(program_arguments(c.line), c.arguments) << c.line;
  EXPECT_STREQ(program_arguments(nullptr), "");
}

// The unattended switches beside the old ones: /Q, /L=n, /LOG=file (quoted
// or not), /? and /D=folder, which takes the rest of the line. A bad /L= or
// /LOG= value is flagged; the old switches keep working around them.
TEST_F(CommandLine, ReadsTheUnattendedSwitches) {
  const struct {
    const char* line;
    bool quiet, help, bad;
    int language;
    const char* log;
    const char* folder; // null: no /D=
    const char* package_path;
    bool temp_copy;
  } cases[] = {
      {"/Q", true, false, false, -1, "", nullptr, "OWN", false},
      {"-q /l=2", true, false, false, 2, "", nullptr, "OWN", false},
      {"/LOG=C:\\run.log /Q", true, false, false, -1, "C:\\run.log", nullptr, "OWN", false},
      {"/log=\"C:\\my logs\\run.log\"", false, false, false, -1, "C:\\my logs\\run.log", nullptr,
       "OWN", false},
      {"/Q /D=C:\\Other Folder", true, false, false, -1, "", "C:\\Other Folder", "OWN", false},
      // /D= ends the line: what follows belongs to the folder.
      {"/D=C:\\a -b /Q", false, false, false, -1, "", "C:\\a -b /Q", "OWN", false},
      {"/D=", false, false, false, -1, "", "", "OWN", false},
      // A relaunched copy: its own switches first, then the original line.
      {"/S\"E:\\setup.exe\" /DEL /Q /L=1 /LOG=\"C:\\x.log\" /D=C:\\Program Files\\X", true, false,
       false, 1, "C:\\x.log", "C:\\Program Files\\X", "E:\\setup.exe", true},
      {"/?", false, true, false, -1, "", nullptr, "OWN", false},
      {"/L=", false, false, true, -1, "", nullptr, "OWN", false},
      {"/L=x /Q", true, false, true, -1, "", nullptr, "OWN", false},
      {"/L=1234", false, false, true, -1, "", nullptr, "OWN", false},
      {"/LOG= /Q", true, false, true, -1, "", nullptr, "OWN", false},
      {"/LOG", false, false, false, -1, "", nullptr, "OWN", false}, // another letter L: passed over
      {"/L /DEL", false, false, false, -1, "", nullptr, "OWN", true},
      {"setup /Q", false, false, false, -1, "", nullptr, "OWN", false}, // stops at the word
  };
  for (const auto& c : cases) {
    strcpy(g_app.package_path, "OWN");
    g_app.temp_copy = g_app.quiet = g_app.help = g_app.bad_switch = false;
    g_app.folder_switch = nullptr;
    g_app.log_path[0] = 0;
    parse_command_line(c.line);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(g_app.quiet, c.quiet);
    EXPECT_EQ(g_app.help, c.help);
    EXPECT_EQ(g_app.bad_switch, c.bad);
    EXPECT_EQ(g_app.language, c.language);
    EXPECT_STREQ(g_app.log_path, c.log);
    if (c.folder)
      EXPECT_STREQ(g_app.folder_switch, c.folder);
    else
      EXPECT_EQ(g_app.folder_switch, nullptr);
    EXPECT_STREQ(g_app.package_path, c.package_path);
    EXPECT_EQ(g_app.temp_copy, c.temp_copy);
  }
  g_app.quiet = g_app.help = g_app.bad_switch = false;
  g_app.folder_switch = nullptr;
  g_app.log_path[0] = 0;
}
