// The project file reader: defaults of a minimal project, texts and their
// character set, file entry options, and the errors with their places.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/errors.h"
#include "builder/project.h"
#include "support/temp_dir.h"

using namespace pakwiz;

namespace {

// Parses `toml` as dir/project.toml (so that relative paths resolve into dir).
Project parse(const TempDir& dir, const std::string& toml) {
  return parse_project(toml, dir.file("project.toml"));
}

std::string parse_error(const TempDir& dir, const std::string& toml) {
  try {
    parse(dir, toml);
  } catch (const BuildError& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace

TEST(ProjectFile, MinimalProjectGetsOneEnglishLanguageWithSensibleDefaults) {
  TempDir dir;
  Project p = parse(dir, "product = \"Hello\"\n[[files]]\nsource = \"bin/app.exe\"\n"
                         "menu = \"Hello\"\n");
  EXPECT_EQ(p.product, "Hello");
  EXPECT_EQ(p.setup_flags, 0u);
  EXPECT_EQ(p.start_page, 0xFFFF);
  ASSERT_EQ(p.languages.size(), 1u);
  const LanguageSpec& l = p.languages[0];
  EXPECT_EQ(l.code, "en");
  EXPECT_EQ(l.name, "English");
  EXPECT_EQ(l.folder, "#Program Files#\\Hello");
  EXPECT_TRUE(l.folder_changeable);
  EXPECT_EQ(l.uninstall_key, "Hello"); // the built-in uninstaller, registered by product name
  // {product} is filled in; tables 8 and 10 (never read) are absent.
  EXPECT_EQ(l.tables[6][0], "Hello Setup");
  EXPECT_EQ(l.tables[0][1], "Welcome to the Hello Setup Wizard");
  EXPECT_FALSE(l.table_present[8]);
  EXPECT_FALSE(l.table_present[10]);
  EXPECT_TRUE(l.tables[1][1].empty()); // no information page unless asked for
  ASSERT_EQ(l.files.size(), 2u);
  EXPECT_TRUE(l.files[0].uninstaller); // first, where a later installation looks for it
  EXPECT_EQ(l.files[0].target, "Uninstall.exe");
  const FileSpec& f = l.files[1];
  EXPECT_EQ(f.target, "app.exe");
  EXPECT_EQ(f.source, dir.file("bin/app.exe"));
  EXPECT_EQ(f.removal, 1); // removed at uninstall
  EXPECT_TRUE(f.file_times);
  EXPECT_FALSE(f.version_test.has_value()); // decided by the source's version resource
  EXPECT_EQ(f.menu_folder, "Hello");        // a Start-menu folder named after the product
  EXPECT_EQ(f.menu_name, "Hello");
}

TEST(ProjectFile, TextsComeFromTheChosenSetInWindows1252WithOverridesAndInformation) {
  TempDir dir;
  dir.write("info.txt", "Zeile eins\nZeile zwei \xE2\x80\x93 Ende\n");
  Project p = parse(dir, R"(product = "Grüße"
[[languages]]
language = "de"
information = "info.txt"
[languages.texts]
6.0 = "{product}-Installation"
7 = ["Zurück", "Weiter"]
2.12 = "extra"
)");
  const LanguageSpec& l = p.languages[0];
  EXPECT_EQ(l.name, "Deutsch");
  EXPECT_EQ(p.product, "Gr\xFC\xDF"
                       "e"); // ü and ß in Windows-1252
  EXPECT_EQ(l.tables[6][0], "Gr\xFC\xDF"
                            "e-Installation");
  EXPECT_EQ(l.tables[7], (std::vector<std::string>{"Zur\xFC"
                                                   "ck",
                                                   "Weiter"})); // replaced whole
  ASSERT_EQ(l.tables[2].size(), 13u); // extended with empty strings up to 12
  EXPECT_EQ(l.tables[2][8], "");
  EXPECT_EQ(l.tables[2][12], "extra");
  EXPECT_EQ(l.tables[2][7], "%d MB"); // untouched defaults stay
  // The information text goes to table 1 string 1 with CR LF line ends for
  // the multi-line field; the en dash becomes 0x96.
  EXPECT_EQ(l.tables[1][1], "Zeile eins\r\nZeile zwei \x96 Ende\r\n");
  // German defaults use the typographic quotes of Windows-1252.
  EXPECT_NE(l.tables[0][4].find("\x84Weiter\x93"), std::string::npos);
}

TEST(ProjectFile, FileEntryOptionsAndTheFolderRecords) {
  TempDir dir;
  Project p = parse(dir, R"(product = "P"
[uninstaller]
program = "u.exe"
menu = { folder = "#Start Menu#", name = "Remove P" }
[[languages]]
folder = "C:\\P"
folder_changeable = false
folder_registry = { root = "HKCU", key = "Software\\P", value = "Dir" }
folder_ini = { file = "p.ini", section = "S", key = "K", store = false }
uninstall_key = "P 1.0"
[[languages.files]]
source = "lib/x.dll"
target = "sub/dir/x.dll"
destination = "system"
version = "1.2.3.4"
language_id = 0x407
language_test = true
end_action = "start"
removal = "keep"
special = "selfregister"
time = 2024-05-01T12:00:00Z
menu = { folder = "Tools/P", name = "X", args = "-a", icon = 3 }
desktop = { name = "X on the desktop", args = "-d" }
[[languages.files]]
target = "beside.txt"
removal = "not-installed"
)");
  const LanguageSpec& l = p.languages[0];
  EXPECT_EQ(l.folder, "C:\\P");
  EXPECT_FALSE(l.folder_changeable);
  EXPECT_TRUE(l.has_registry && l.store_in_registry);
  EXPECT_EQ(l.registry_root, 1u);
  EXPECT_EQ(l.registry_value, "Dir");
  EXPECT_TRUE(l.has_ini && !l.store_in_ini);
  EXPECT_EQ(l.uninstall_key, "P 1.0");
  ASSERT_EQ(l.files.size(), 3u);
  const FileSpec& u = l.files[0]; // the uninstaller entry comes first
  EXPECT_TRUE(u.uninstaller);
  EXPECT_EQ(u.target, "Uninstall.exe");
  EXPECT_EQ(u.menu_folder, "#Start Menu#");
  EXPECT_EQ(u.menu_name, "Remove P");
  EXPECT_EQ(p.uninstaller_program, dir.file("u.exe"));
  const FileSpec& f = l.files[1];
  EXPECT_EQ(f.target, "sub\\dir\\x.dll");
  EXPECT_EQ(f.destination, 2);
  EXPECT_TRUE(f.shared); // shared system files keep a usage count by default
  EXPECT_EQ((*f.file_version)[0], 0x00010002u);
  EXPECT_EQ((*f.file_version)[1], 0x00030004u);
  EXPECT_EQ(*f.language_id, 0x407);
  EXPECT_TRUE(f.language_test);
  EXPECT_EQ(f.end_action, 2);
  EXPECT_EQ(f.removal, 0);
  EXPECT_EQ(f.special, 2);
  // 2024-05-01 12:00:00 UTC is 1714564800 s after 1970; FILETIME counts from 1601.
  EXPECT_EQ(*f.file_time, (1714564800ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(f.menu_folder, "Tools\\P");
  EXPECT_EQ(f.menu_args, "-a");
  EXPECT_EQ(f.menu_icon, 3);
  EXPECT_EQ(f.desktop_name, "X on the desktop");
  EXPECT_EQ(f.desktop_args, "-d");
  EXPECT_TRUE(l.files[2].source.empty());
  EXPECT_EQ(l.files[2].removal, 2);
}

TEST(ProjectFile, CommonEntriesPrecedeEachLanguagesOwnAndStartLanguageByName) {
  TempDir dir;
  Project p = parse(dir, R"(product = "P"
start_language = "Deutsch"
start_page = "progress"
[[files]]
source = "common.txt"
[[ini]]
file = "a.ini"
section = "s"
key = "k"
value = "v"
[[languages]]
[[languages.files]]
source = "en.txt"
[[languages]]
language = "de"
[[languages.files]]
source = "de.txt"
[[languages.ini]]
file = "b.ini"
section = "s"
key = "k"
value = "v"
)");
  ASSERT_EQ(p.languages.size(), 2u);
  EXPECT_EQ(p.start_language, 1);
  EXPECT_EQ(p.start_page, 6);
  // Behind each block's uninstaller entry.
  EXPECT_TRUE(p.languages[1].files[0].uninstaller);
  EXPECT_EQ(p.languages[0].files[1].target, "common.txt");
  EXPECT_EQ(p.languages[0].files[2].target, "en.txt");
  EXPECT_EQ(p.languages[1].files[2].target, "de.txt");
  EXPECT_EQ(p.languages[0].ini.size(), 1u);
  ASSERT_EQ(p.languages[1].ini.size(), 2u);
  EXPECT_EQ(p.languages[1].ini[1].file, "b.ini");
}

TEST(ProjectFile, ErrorsNameTheFileLineColumnAndTheProblem) {
  TempDir dir;
  std::string seven = "product = \"P\"\n";
  for (int i = 0; i < 7; i++) seven += "[[languages]]\n";
  struct Case {
    std::string toml, expected;
  } cases[] = {
      {"product = \"P\"\nfull_screen = tru\n", "project.toml:2:18: Error while parsing boolean"},
      {"product = \"P\"\nfullscreen = true\n",
       "project.toml:2:1: unknown key 'fullscreen' in the project; the nearest valid key is "
       "'full_screen'"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\nmenu = { nme = \"x\" }\n",
       "project.toml:4:10: unknown key 'nme' in menu; the nearest valid key is 'name'"},
      {"product = \"P\"\n[[languages]]\nfolder_registry = { root = \"HKLM\", kee = \"x\" }\n",
       "unknown key 'kee' in folder_registry; the nearest valid key is 'key'"},
      {"product = 5\n", "project.toml:1:11: 'product' must be a text"},
      {"full_screen = true\n", "the project needs a 'product' name"},
      {seven, "project.toml:8:1: more than six languages (7 given)"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ntarget = \"\\\\abs.txt\"\n", "is absolute"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ntarget = \"D:x.txt\"\n", "is absolute"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ntarget = \"a/../../b\"\n",
       "project.toml:4:10: target 'a\\..\\..\\b' leaves its destination folder"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ntarget = \"" + std::string(260, 'x') + "\"\n",
       "is 260 characters long; the setup program holds at most 259"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ntarget = \"a?b\"\n",
       "a character that Windows does not allow"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\nmenu = \"" + std::string(256, 'm') + "\"\n",
       "'menu' is 256 characters long"},
      {"product = \"P\"\n[[languages]]\nfolder = \"" + std::string(300, 'f') + "\"\n",
       "'folder' is 300 characters long"},
      {"product = \"P\"\nuninstaller = \"yes\"\n",
       "project.toml:2:15: 'uninstaller' must be true, false or a table"},
      {"product = \"P\"\n[[languages]]\nlanguage = \"fr\"\n",
       "no built-in texts for language 'fr' (there are: en, de)"},
      {"product = \"P\"\n[[languages]]\n[languages.texts]\n3.2 = \"in %d\"\n",
       "string 2 of table 3: the program formats it with a text (%s), not with '%d'"},
      {"product = \"P\"\n[[languages]]\n[languages.texts]\n6.29 = \"%s and %s\"\n",
       "more than one conversion"},
      {"product = \"P\"\n[[languages]]\n[languages.texts]\n12.0 = \"x\"\n",
       "unknown string table '12' in texts"},
      {"product = \"P\"\n[[languages]]\n[languages.texts]\n0.0 = \"\xE2\x82\xAC ok, \xE6\x97\xA5 "
       "not\"\n",
       "the character U+65E5 cannot be written in the Windows-1252 character set"},
      {"product = \"P\"\nstart_language = \"fr\"\n", "start_language 'fr' names no language"},
      {"product = \"P\"\nstart_language = 1\n", "'start_language' must be from 0 to 0"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ndestination = \"sytem\"\n",
       "'destination' must be one of \"install\", \"windows\", \"system\", \"font\", \"fonts\"; "
       "the "
       "nearest is \"system\""},
      {"product = \"P\"\n[[files]]\ntarget = \"x\"\n", "a file entry needs its 'source'"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\n[[files]]\nsource = \"b/A\"\n",
       "project.toml:4:1: language block 0 installs 'A' twice (the other entry is at "},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\nversion = \"1.2.3.4.5\"\n",
       "'version' must be a version such as \"1.2.3.4\""},
      {"product = \"P\"\n[[patches]]\nfile = \"f\"\ntext = \"t\"\n",
       "a file patch needs exactly one of 'position', 'pattern' and 'pattern_hex'"},
      {"product = \"P\"\n[[registry]]\nroot = \"HKCU\"\nkey = \"k\"\nvalue = \"\"\n",
       "'value' is empty; the setup program skips such entries"},
      {"product = \"P\"\n[uninstaller]\ntarget = \"bin/u.exe\"\n",
       "project.toml:3:10: the uninstaller's target 'bin\\u.exe' must be a file name directly in "
       "the install folder"},
      {"product = \"P\"\n[[languages]]\ninformation = \"missing.txt\"\n",
       "project.toml:3:15: cannot read"},
      {"product = \"P\"\n[executable]\nexecution_level = \"admin\"\n",
       "project.toml:3:19: 'execution_level' must be \"requireAdministrator\", "
       "\"highestAvailable\" or \"asInvoker\""},
      {"product = \"P\"\n[executable]\nfile_version = \"2.0 beta\"\n",
       "project.toml:3:16: 'file_version' must be a version such as \"1.2.3.4\""},
      {"product = \"P\"\n[executable]\nicn = \"p.ico\"\n",
       "unknown key 'icn' in [executable]; the nearest valid key is 'icon'"},
  };
  for (const Case& c : cases) {
    std::string error = parse_error(dir, c.toml);
    EXPECT_NE(error.find(c.expected), std::string::npos)
        << "project:\n"
        << c.toml << "\nerror: " << error << "\nexpected: " << c.expected;
    EXPECT_EQ(error.rfind(dir.file("project.toml"), 0), 0u) << error; // names the file first
  }
}

// [executable]: what the setup executable's manifest and version resource
// say, with a missing version taken from the other one.
TEST(ProjectFile, ExecutableKeysAndTheirDefaults) {
  TempDir dir;
  struct Case {
    std::string table;
    std::string level, product_name, description, file_version, product_version;
    std::array<uint32_t, 2> file_numbers, product_numbers;
  } cases[] = {
      {"", "requireAdministrator", "Hello", "Hello Setup", "", "", {0, 0}, {0, 0}},
      {"[executable]\nexecution_level = \"ASINVOKER\"\nfile_version = \"1.2\"\n",
       "asInvoker",
       "Hello",
       "Hello Setup",
       "1.2",
       "1.2",
       {0x10002, 0},
       {0x10002, 0}},
      {"[executable]\nexecution_level = \"highestAvailable\"\nproduct_version = \"3\"\n"
       "file_version = \"3.0.1.7\"\nproduct_name = \"{product} Pro\"\n"
       "description = \"Installs {product}\"\n",
       "highestAvailable",
       "Hello Pro",
       "Installs Hello",
       "3.0.1.7",
       "3",
       {0x30000, 0x10007},
       {0x30000, 0}},
  };
  for (const Case& c : cases) {
    const ExecutableSpec e = parse(dir, "product = \"Hello\"\n" + c.table).executable;
    EXPECT_EQ(e.execution_level, c.level) << c.table;
    EXPECT_EQ(e.product_name, c.product_name) << c.table;
    EXPECT_EQ(e.description, c.description) << c.table;
    EXPECT_EQ(e.file_version, c.file_version) << c.table;
    EXPECT_EQ(e.product_version, c.product_version) << c.table;
    EXPECT_EQ(e.file_version_numbers, c.file_numbers) << c.table;
    EXPECT_EQ(e.product_version_numbers, c.product_numbers) << c.table;
    EXPECT_TRUE(e.icon.empty()) << c.table;
  }
}

TEST(ProjectFile, NearestKeyIgnoresCaseAndPrefersTheFirstOfEqualCandidates) {
  EXPECT_EQ(nearest_key("SOURCE", {"target", "source"}), "source");
  EXPECT_EQ(nearest_key("ab", {"ax", "xb"}), "ax");
  EXPECT_EQ(nearest_key("x", {}), "");
}

TEST(ProjectFile, TargetNameRules) {
  struct Case {
    const char* target;
    bool ok;
  } cases[] = {{"a.txt", true},
               {"bin\\x.dll", true},
               {"a\\.\\b", true},
               {"", false},
               {"\\a", false},
               {"C:\\a", false},
               {"..\\a", false},
               {"a\\..", false},
               {"a\\\\b", false},
               {"a:b", false},
               {"a.", false},
               {"a\x01", false},
               // Names Windows keeps for devices, with any extension, in any component.
               {"con.txt", false},
               {"bin\\AUX.log", false},
               {"COM1", false},
               {"lpt9.dat", false},
               {"nul .txt", false},
               {"com\xB9", false},
               {"CONOUT$", false},
               {"sub\\Prn\\x", false},
               {"console.txt", true},
               {"com10", true},
               {"lpt", true},
               {"xcon.txt", true},
               // A dot or space ending any component, which Windows would drop.
               {"docs.\\a.txt", false},
               {"a \\b.txt", false},
               {"a.txt ", false},
               {"...", false},
               {".hidden", true}};
  for (const Case& c : cases) EXPECT_EQ(check_target_name(c.target).empty(), c.ok) << c.target;
}

TEST(ProjectFile, DefaultFolderIsEstimatedWithTheLongestUsualMacroValues) {
  struct Case {
    const char* folder;
    const char* estimate;
  } cases[] = {
      {"#Program Files#\\Hello", "C:\\Program Files (x86)\\Hello"},
      {"#windows#\\Tools", "C:\\Windows\\Tools"},
      {"#System#\\x", "C:\\Windows\\SysWOW64\\x"},
      {"#SourceDir#App", "D:\\App"}, // the setup program's folder, at its shortest
      {"#InstallDir#\\sub", "\\sub"},
      {"D:\\Data #Date#", "D:\\Data 20240101"},
      {"#unknown#x##y", "xy"}, // unknown tokens are removed
      {"a#b", "a#b"},          // a lone '#' stays
  };
  for (const Case& c : cases) EXPECT_EQ(estimated_folder(c.folder), c.estimate) << c.folder;
}

TEST(ProjectFile, PathsThatWindowsCannotCreateAreRefusedWithTheirLine) {
  TempDir dir;
  // 22 + 1 + 200 + 1 + 35 = 259 characters: the longest path that fits.
  std::string folder = "folder = \"#Program Files#\\\\" + std::string(200, 'f') + "\"\n";
  std::string fits = "product = \"P\"\n[[languages]]\n" + folder +
                     "[[languages.files]]\nsource = \"a\"\ntarget = \"" + std::string(35, 't') +
                     "\"\n";
  EXPECT_EQ(parse_error(dir, fits), "(no error)");
  std::string longer = fits;
  longer.insert(longer.rfind('"'), "t");
  EXPECT_NE(parse_error(dir, longer)
                .find("project.toml:4:1: language block 0: '" + std::string(36, 't') +
                      "' would be installed as"),
            std::string::npos)
      << parse_error(dir, longer);
  struct Case {
    std::string toml, expected;
  } cases[] = {
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ntarget = \"Win\"\n[[files]]\nsource = "
       "\"a\"\ntarget = \"win/x/y.dll\"\n",
       "project.toml:5:1: language block 0 installs 'win\\x\\y.dll', which needs a folder 'win'"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ndestination = \"system\"\ntarget = \"" +
           std::string(240, 's') + "\"\n",
       "would be installed as 'C:\\Windows\\SysWOW64\\sss"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\nmenu = { folder = \"Tools \", name = \"x\" "
       "}\n",
       "project.toml:4:8: the Start-menu shortcut 'Tools \\x' holds 'Tools ', which ends with a "
       "dot or a space"},
      {"product = \"P\"\n[[files]]\nsource = \"a\"\ndesktop = \"NUL\"\n",
       "project.toml:4:11: the desktop shortcut 'NUL' is a name that Windows reserves"},
      {"product = \"P\"\n[[languages]]\nfolder = \"#Program Files#\\\\Aux\\\\x\"\n",
       "project.toml:3:10: 'folder' holds 'Aux', a name that Windows reserves for a device"},
      {"product = \"Com3\"\n", "project.toml:1:11: the default install folder '#Program "
                               "Files#\\Com3' holds 'Com3'"},
  };
  for (const Case& c : cases) {
    std::string error = parse_error(dir, c.toml);
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.toml << "\nerror: " << error;
  }
  // A product ending with a dot names a folder without it, as Windows would.
  Project p = parse(dir, "product = \"Acme Inc.\"\n[[files]]\nsource = \"a\"\nmenu = \"Acme\"\n");
  EXPECT_EQ(p.languages[0].folder, "#Program Files#\\Acme Inc");
  EXPECT_EQ(p.languages[0].files[1].menu_folder, "Acme Inc");
}

// The complete example of docs/project-file.md stays a valid project.
TEST(ProjectFile, TheDocumentedCompleteExampleParses) {
  std::vector<uint8_t> doc = read_file_bytes(PAKWIZ_SOURCE_DIR "/docs/project-file.md");
  std::string text(doc.begin(), doc.end());
  size_t heading = text.find("## A complete example");
  ASSERT_NE(heading, std::string::npos);
  size_t start = text.find("```toml\n", heading);
  ASSERT_NE(start, std::string::npos);
  start += 8;
  size_t end = text.find("```", start);
  TempDir dir;
  std::filesystem::create_directories(dir.file("docs"));
  dir.write("docs/license-en.txt", "License.\n");
  dir.write("docs/license-de.txt", "Lizenz.\n");
  Project p = parse(dir, text.substr(start, end - start));
  ASSERT_EQ(p.languages.size(), 2u);
  EXPECT_EQ(p.setup_flags, 0x11u);
  EXPECT_EQ(p.languages[1].files[0].target, "Deinstallieren.exe");
  EXPECT_EQ(p.languages[0].files.size(), 7u); // uninstaller, 4 common, 2 own
  EXPECT_EQ(p.languages[1].tables[1][1], "Lizenz.\r\n");
  const ExecutableSpec& e = p.executable;
  EXPECT_EQ(e.icon, dir.file("art/hello.ico"));
  EXPECT_EQ(e.execution_level, "requireAdministrator");
  EXPECT_EQ(e.product_name, "Hello");
  EXPECT_EQ(e.description, "Hello 2.0 Setup");
  EXPECT_EQ(e.company, "Hello Software");
  EXPECT_EQ(e.copyright, "\xA9 2024 Hello Software"); // Windows-1252
  EXPECT_EQ(e.product_version, "2.0");
  EXPECT_EQ(e.file_version, "2.0.0.17");
}
