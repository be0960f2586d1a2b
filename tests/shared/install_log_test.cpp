// The run's log and the exit codes: how lines are made (fields, control
// characters, the length limit), the exit code of each installation error,
// and the lines an installation through the driver leaves, as an unattended
// run makes it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/state.h"
#include "install/install.h"
#include "install/install_log.h"
#include "package/file_entry.h"
#include "support/install_package.h"
#include "support/temp_dir.h"

namespace {

#ifdef _WIN32
const char SEP[] = "\\";
#else
const char SEP[] = "/";
#endif

// The lines of a log file, each without its CR LF; a line missing its CR LF
// is returned with "<no end>" appended, so that the comparison shows it.
std::vector<std::string> log_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at) + "<no end>");
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

} // namespace

TEST(ExitCodes, EachInstallErrorHasItsClassAndARestartIs3010) {
  const struct {
    uint32_t error;
    bool restart;
    int code;
  } cases[] = {
      {0, false, 0},  {0, true, 3010}, // success, and success needing a restart
      {15, true, 1},                   // cancelled (an error cancels the restart)
      {31, false, 2}, {21, false, 2},  // damaged package, damaged file data
      {16, false, 3}, {18, false, 3},  // the package or a volume cannot be opened or read
      {17, false, 4}, {19, false, 4},   {22, false, 4}, // a file cannot be made or replaced
      {20, false, 5},                                   // disk full
      {12, false, 6},                                   // no memory
      {99, false, 4}, {1000, false, 4},                 // unknown numbers count as a failed file
  };
  for (const auto& c : cases)
    EXPECT_EQ(install_exit_code(c.error, c.restart), c.code) << c.error << " " << c.restart;
}

TEST(InstallLog, LinesAreTabSeparatedFieldsWithoutControlCharactersAndCutToTheLimit) {
  TempDir dir;
  std::string path = dir.file("run.log");
  ASSERT_TRUE(install_log_open(path.c_str(), "setup"));
  EXPECT_TRUE(install_log_active());
  install_log("file\tcreated", "C:\\a b\\c.txt", nullptr);
  install_log("message\tok", "two\r\nlines\tand a tab", nullptr);
  install_log("ini\tset", "f.ini", "", "key", "value", nullptr); // an empty field stays a field
  std::string huge(3 * LOG_LINE_SIZE, 'x');
  install_log("registry\tset", huge.c_str(), "after", nullptr);
  install_log_close(3010);
  EXPECT_FALSE(install_log_active());
  install_log("file\tcreated", "after the close", nullptr); // goes nowhere

  std::vector<std::string> lines = log_lines(path);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "log\tstarted\tsetup");
  EXPECT_EQ(lines[1], "file\tcreated\tC:\\a b\\c.txt");
  EXPECT_EQ(lines[2], "message\tok\ttwo  lines and a tab");
  EXPECT_EQ(lines[3], "ini\tset\tf.ini\t\tkey\tvalue");
  // The long line: cut so that it and its CR LF fill the limit exactly.
  EXPECT_EQ(lines[4].size(), (size_t)LOG_LINE_SIZE - 2);
  EXPECT_EQ(lines[4].substr(0, 14), "registry\tset\tx");
  EXPECT_EQ(lines[4].find("after"), std::string::npos);
  EXPECT_EQ(lines[5], "result\t3010");
}

TEST(InstallLog, AFileThatCannotBeCreatedIsReported) {
  TempDir dir;
  std::string path = dir.file("missing") + SEP + "run.log";
  EXPECT_FALSE(install_log_open(path.c_str(), "setup"));
  EXPECT_FALSE(install_log_active());
}

// The driver's lines for an unattended installation: the block and the
// folder, then each entry with its outcome, a failure with its message, and
// the result line the run ends with.
class InstallLogDriver : public InstallTest {
protected:
  void TearDown() override {
    if (install_log_active()) install_log_close(-1);
    InstallTest::TearDown();
  }
};

TEST_F(InstallLogDriver, EveryEntryIsLoggedWithItsOutcomeAndTheFailureWithItsMessage) {
  PackedFile beside = packed_file("notes.txt", "beside the package");
  beside.entry.removal = REMOVAL_NOT_INSTALLED;
  PackedFile bad = packed_file("bad.txt", "damaged");
  bad.wrong_checksum = true;
  load({packed_file("new.txt", "1"), packed_file("old.txt", "2"), beside, bad,
        packed_file("never.txt", "3")});
  dir.write("app" + std::string(SEP) + "old.txt", "earlier");
  std::string log = dir.file("run.log");
  ASSERT_TRUE(install_log_open(log.c_str(), "setup"));

  schedule_files_in_use();
  ASSERT_TRUE(prepare_installation());
  while (install_step()) {
  }
  finish_installation();
  settle_install_outcome();
  int code = install_exit_code(g_install.error_code, g_install.restart_needed);
  install_log_close(code);

  EXPECT_EQ(code, 2);         // the damaged entry
  EXPECT_TRUE(asked.empty()); // no question on the way
  std::string message = "Damaged data for " + install_folder + "bad.txt";
  EXPECT_EQ(log_lines(log), (std::vector<std::string>{
                                "log\tstarted\tsetup",
                                "install\tstarted\t0\t" + install_folder,
                                "file\tcreated\t" + install_folder + "new.txt",
                                "file\treplaced\t" + install_folder + "old.txt",
                                "file\tskipped\t" + dir.file("notes.txt"),
                                "file\tfailed\t" + install_folder + "bad.txt\t" + message,
                                "result\t2",
                            }));
}
