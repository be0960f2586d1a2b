// `pakwiz try` measures a run on the prefix itself: Wine's registry files and
// the INI files are read before and after, and the differences, the
// leftovers and the verdict come from those readings.
#include <gtest/gtest.h>

#include <sstream>

#include "builder/try_report.h"

using namespace pakwiz;

namespace {

const char* const SYSTEM_BEFORE = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion] 1796943411
#time=1dd88f9be7bec68
"ProgramFilesDir"="C:\\Program Files"
"Shared"=dword:00000001

[Software\\Wine\\Fonts] 1796943411
"Cache"="old"
)";

// After an installation: a new key with a string holding escapes, a DWORD,
// a hex value over two lines, a default value and an expandable string; a
// changed value; Wine's own key touched; an existing key spelt in other case.
const char* const SYSTEM_AFTER = R"(WINE REGISTRY Version 2

[SOFTWARE\\Microsoft\\Windows\\CurrentVersion] 1796943499
"ProgramFilesDir"="C:\\Program Files"
"Shared"=dword:00000002

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hello \"Q\"] 1796943499
@="default"
"UninstallString"="\"C:\\Program Files\\Hello\\Uninstall.exe\""
"Size"=dword:0000002a
"Blob"=hex:01,02,\
  03,04
"Path"=str(2):"%ProgramFiles%\\Hello"
"Names"=str(7):"one\0two\0"
"Wide"="caf\x00e9"

[Software\\Wine\\Fonts] 1796943499
"Cache"="new"
)";

RegistryTree tree_of(const char* text) {
  RegistryTree t;
  read_registry_file(text, "HKLM", &t);
  return t;
}

} // namespace

TEST(TryReport, RegistryFilesAreReadAndCompared) {
  PrefixState before, after;
  before.registry = tree_of(SYSTEM_BEFORE);
  after.registry = tree_of(SYSTEM_AFTER);
  const std::string key =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hello \"Q\"";
  const RegistryKey& k = after.registry.at(
      "hklm\\software\\microsoft\\windows\\currentversion\\uninstall\\hello \"q\"");
  EXPECT_EQ(k.path, key);
  EXPECT_EQ(k.values.at("blob").second, "hex:01,02,03,04");

  Changes c = compare_states(before, after);
  // Keys compare without regard to case; Wine's own keys are left out; the
  // Uninstall key above the new one was not there either.
  ASSERT_EQ(c.keys, (std::vector<std::string>{
                        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", key}));
  std::map<std::string, ValueChange> by_name;
  for (const ValueChange& v : c.values) by_name[v.name] = v;
  EXPECT_EQ(by_name.size(), 8u);
  EXPECT_EQ(by_name.count("Cache"), 0u);
  EXPECT_EQ(by_name.at("").after, "default");
  EXPECT_EQ(by_name.at("UninstallString").after, "\"C:\\Program Files\\Hello\\Uninstall.exe\"");
  EXPECT_EQ(by_name.at("Size").after, "42");
  EXPECT_EQ(by_name.at("Path").after, "%ProgramFiles%\\Hello");
  EXPECT_EQ(by_name.at("Names").after, "one | two");
  EXPECT_EQ(by_name.at("Wide").after, "caf\xc3\xa9");
  EXPECT_TRUE(by_name.at("Size").added);
  // A changed value keeps what it was.
  const ValueChange& shared = by_name.at("Shared");
  EXPECT_FALSE(shared.added);
  EXPECT_EQ(shared.before, "1");
  EXPECT_EQ(shared.after, "2");
}

TEST(TryReport, IniEntries) {
  IniEntries e = read_ini("; a comment\r\n[Hello]\r\n  Folder = C:\\Program Files\\Hello \r\n"
                          "folder=second\r\nnot an entry\r\n[Other]\r\nKey=\r\n");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e.at("hello\nfolder").value, "C:\\Program Files\\Hello"); // the first one counts
  EXPECT_EQ(e.at("hello\nfolder").key, "Folder");
  EXPECT_EQ(e.at("other\nkey").value, "");
}

// What the installation created and the uninstall left: files, folders,
// keys, values and INI entries; what it changed but did not create is not
// a leftover, nor is what the uninstall removed.
TEST(TryReport, LeftoversAreWhatTheInstallationCreatedAndStillThere) {
  PrefixState before, installed, after;
  before.files["C:\\windows\\win.ini"] = {10, 1, false};
  before.ini["c:\\windows\\win.ini"] = read_ini("[windows]\nload=\n");
  before.registry = tree_of("[Software\\\\Old] 1\n\"Kept\"=\"1\"\n");

  installed.files = before.files;
  installed.files["C:\\windows\\win.ini"] = {40, 2, false};
  installed.files["C:\\Program Files\\Hello"] = {0, 3, true};
  installed.files["C:\\Program Files\\Hello\\a.txt"] = {5, 3, false};
  installed.files["C:\\Program Files\\Hello\\b.txt"] = {6, 3, false};
  installed.ini["c:\\windows\\win.ini"] = read_ini("[windows]\nload=x\n[Hello]\nSeen=1\n");
  // Software\New holds only a subkey, so the file leaves it out.
  installed.registry = tree_of("[Software\\\\Old] 1\n\"Kept\"=\"2\"\n\"Added\"=\"1\"\n"
                               "[Software\\\\Hello] 1\n\"Folder\"=\"C:\\\\x\"\n"
                               "[Software\\\\New\\\\Sub] 1\n\"V\"=\"1\"\n");
  Changes c = compare_states(before, installed);
  EXPECT_EQ(c.files.size(), 3u);
  EXPECT_EQ(c.folders, std::vector<std::string>{"C:\\Program Files\\Hello"});
  EXPECT_EQ(c.keys, (std::vector<std::string>{"HKLM\\Software\\Hello", "HKLM\\Software\\New",
                                              "HKLM\\Software\\New\\Sub"}));
  ASSERT_EQ(c.ini.size(), 2u);

  after.files = installed.files;
  after.files.erase("C:\\Program Files\\Hello\\a.txt");
  after.ini["c:\\windows\\win.ini"] = read_ini("[windows]\nload=x\n[Hello]\nSeen=1\n");
  after.registry = tree_of("[Software\\\\Old] 1\n\"Kept\"=\"2\"\n\"Added\"=\"1\"\n"
                           "[Software\\\\New] 1\n");
  std::vector<Leftover> left = find_leftovers(c, before, after);
  std::vector<std::string> found;
  for (const Leftover& l : left) found.push_back(l.kind + ": " + l.what);
  EXPECT_EQ(found, (std::vector<std::string>{
                       "file: C:\\Program Files\\Hello\\b.txt",
                       "folder: C:\\Program Files\\Hello",
                       "registry key: HKLM\\Software\\New",
                       "registry value: HKLM\\Software\\Old Added",
                       "INI entry: C:\\windows\\win.ini [Hello] Seen",
                   }));
}

TEST(TryReport, VerdictNamesTheFirstReason) {
  auto passing = [] {
    TryReport r;
    r.install.ran = r.install.finish = r.install.exited = true;
    r.uninstall.ran = r.uninstall.exited = true;
    r.changes.files.push_back({"C:\\P\\a.txt", 1, true, "equal"});
    return r;
  };
  struct Case {
    const char* name;
    void (*change)(TryReport*);
    bool passed;
    const char* reason;
  } cases[] = {
      {"all good", [](TryReport*) {}, true, "uninstalling left nothing behind"},
      {"no finish page",
       [](TryReport* r) {
         r->install.finish = false;
         r->install.exit_code = -1;
         r->install.messages.push_back("\"The setup package is damaged.\" -> ok");
       },
       false, "did not reach its finish page (exit code -1); its last message: \"The setup"},
      {"different file", [](TryReport* r) { r->changes.files[0].package = "different"; }, false,
       "C:\\P\\a.txt differs from the package's file"},
      {"missing file", [](TryReport* r) { r->missing.push_back("b.txt"); }, false,
       "were not installed: b.txt"},
      {"leftover",
       [](TryReport* r) {
         r->leftovers.push_back({"registry key", "HKCU\\Software\\X"});
       },
       false, "1 leftover(s) after uninstalling: registry key HKCU\\Software\\X"},
      {"leftover allowed",
       [](TryReport* r) {
         r->leftovers.push_back({"registry key", "HKCU\\Software\\X"});
         r->allow_leftovers = true;
       },
       true, "1 leftover(s) (allowed)"},
      {"uninstaller failed", [](TryReport* r) { r->uninstall.exit_code = 5; }, false,
       "the uninstaller ended with exit code 5"},
      {"restart needed", [](TryReport* r) { r->install.exit_code = 3010; }, true, "nothing behind"},
      {"setup failed", [](TryReport* r) { r->install.exit_code = 1; }, false,
       "the setup ended with exit code 1 (cancelled)"},
      {"patched file", [](TryReport* r) { r->changes.files[0].package = "patched"; }, true,
       "1 installed file(s) equal"},
      // Unattended: no pages, the exit code decides.
      {"quiet",
       [](TryReport* r) {
         r->quiet = true;
         r->install.finish = false;
       },
       true, "the unattended setup ended with exit code 0 (done)"},
      {"quiet, folder refused",
       [](TryReport* r) {
         r->quiet = true;
         r->install.finish = false;
         r->install.exit_code = 8;
       },
       false, "the setup ended with exit code 8 (the install folder is not usable)"},
      {"quiet, never ended",
       [](TryReport* r) {
         r->quiet = true;
         r->install.finish = r->install.exited = false;
       },
       false, "the unattended setup did not end"},
  };
  for (const Case& c : cases) {
    TryReport r = passing();
    c.change(&r);
    judge(&r);
    EXPECT_EQ(r.passed, c.passed) << c.name;
    EXPECT_NE(r.verdict.find(c.reason), std::string::npos) << c.name << ": " << r.verdict;
    // The text report ends with the verdict.
    std::ostringstream text;
    write_text_report(r, text);
    std::string last = text.str();
    last.pop_back();
    last = last.substr(last.rfind('\n') + 1);
    EXPECT_EQ(last, (c.passed ? "PASS: " : "FAIL: ") + r.verdict) << c.name;
  }
}
