// Replace-on-restart: delayed moves recorded by the system on Windows NT, and
// WININIT.INI [Rename] lines in short form on the Windows 95 family.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/state.h"
#include "install/restart.h"
#include "support/install_package.h"
#include "support/temp_dir.h"

namespace {

std::string wininit() {
  char w[MAX_PATH];
  GetWindowsDirectoryA(w, MAX_PATH);
  return std::string(w) + "\\WININIT.INI";
}

std::string short_form(const std::string& path) {
  char s[MAX_PATH];
  DWORD n = GetShortPathNameA(path.c_str(), s, MAX_PATH);
  return n ? std::string(s) : path;
}

std::vector<std::string> rename_lines() {
  std::string text;
  for (uint8_t b : read_file_bytes(wininit())) text += (char)b;
  std::vector<std::string> lines;
  size_t at = text.find("[Rename]");
  if (at == std::string::npos) return lines;
  at = text.find('\n', at);
  while (at != std::string::npos && at + 1 < text.size() && text[at + 1] != '[') {
    size_t end = text.find('\n', at + 1);
    std::string line =
        text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    at = end;
  }
  return lines;
}

class ScheduleReplacement : public ::testing::Test {
protected:
  void SetUp() override {
    saved_nt = g_app.platform_nt;
    DeleteFileA(wininit().c_str());
  }
  void TearDown() override {
    g_app.platform_nt = saved_nt;
    DeleteFileA(wininit().c_str());
  }
  bool saved_nt = true;
  TempDir dir;
};

} // namespace

TEST_F(ScheduleReplacement, Windows95DeletionsEachGetTheirOwnNulLine) {
  g_app.platform_nt = false;
  std::string a = dir.write("first long name.dat", "a");
  std::string b = dir.write("second long name.dat", "b");
  schedule_replacement(nullptr, a.c_str());
  schedule_replacement(nullptr, b.c_str());
  EXPECT_EQ(rename_lines(),
            (std::vector<std::string>{"NUL=" + short_form(a), "NUL=" + short_form(b)}));
}

TEST_F(ScheduleReplacement, Windows95ReplacementIsANewEqualsExistingLineInShortForm) {
  g_app.platform_nt = false;
  std::string target = dir.write("installed library.dll", "old");
  std::string temp = dir.write("installed library.$$A", "new");
  schedule_replacement(target.c_str(), temp.c_str());
  std::vector<std::string> lines = rename_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], short_form(target) + "=" + short_form(temp));
  EXPECT_NE(short_form(target), target); // the short form really was used
}

TEST_F(ScheduleReplacement, WindowsNtRecordsDelayedMovesAndDeletions) {
  g_app.platform_nt = true;
  std::string saved = pending_renames();
  std::string target = dir.write("lib.dll", "old");
  std::string temp = dir.write("lib.$$A", "new");
  std::string gone = dir.write("gone.tmp", "x");
  schedule_replacement(target.c_str(), temp.c_str());
  schedule_replacement(nullptr, gone.c_str());
  std::string pending = pending_renames();
  set_pending_renames(saved);
  // Pairs of names: source, then "!" + destination for a replacing move, or
  // an empty destination for a deletion.
  std::string nt = "\\??\\";
  EXPECT_NE(pending.find(nt + temp + "|!" + nt + target + "|"), std::string::npos) << pending;
  EXPECT_NE(pending.find(nt + gone + "||"), std::string::npos) << pending;
  EXPECT_FALSE(file_exists(wininit()));
}

// Running a program to its end: the wait ends with the process, whatever
// its exit code, also 259 (the value STILL_ACTIVE that an exit code query
// gives for a running process).
TEST(RunAndWait, EndsWithTheProcessWhateverItsExitCode) {
  char system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  const std::string cmd = std::string(system) + "\\cmd.exe";
  for (const char* code : {"0", "259"}) {
    SCOPED_TRACE(code);
    auto done = std::make_shared<std::atomic<int>>(0);
    std::string argument = std::string("/c exit ") + code;
    std::thread([done, cmd, argument] {
      *done = run_and_wait(cmd.c_str(), argument.c_str()) ? 1 : 2;
    }).detach();
    DWORD start = GetTickCount();
    while (*done == 0 && GetTickCount() - start < 30000) Sleep(20);
    EXPECT_EQ(*done, 1) << (*done == 0 ? "still waiting after 30 s" : "not started");
  }
}
