// The run's early ends and their exit codes: without its buffers (6) or
// without a package (2) the program ends leaving nothing allocated and no
// window behind; an unattended run's bad switches, its log and a wizard
// already open end it with their own codes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/app.h"
#include "common/heap.h"
#include "common/state.h"
#include "install/install.h"
#include "install/install_log.h"
#include "package/package.h"
#include "package/script.h"
#include "support/install_package.h"
#include "support/temp_dir.h"
#include "ui/ui.h"

namespace {

bool fail_everything(size_t, int) {
  return true;
}

class SetupMain : public ::testing::Test {
protected:
  void SetUp() override {
    saved_stub = g_app.stub_length;
    reset_switches();
    ASSERT_EQ(FindWindowA(FRAME_CLASS_NAME, NULL), nullptr);
  }
  void TearDown() override {
    reset_switches();
    heap_set_failure_hook(nullptr);
    g_app.stub_length = saved_stub;
    UnregisterClassA(FRAME_CLASS_NAME, GetModuleHandleA(NULL));
  }
  // The command line's fields are set by a run, never cleared.
  static void reset_switches() {
    g_app.quiet = g_app.help = g_app.bad_switch = false;
    g_app.folder_switch = nullptr;
    g_app.log_path[0] = 0;
  }
  uint32_t saved_stub = 0;
};

} // namespace

TEST_F(SetupMain, EndsWithNoMemoryWhenTheBuffersCannotBeHad) {
  heap_set_failure_hook(fail_everything);
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), ""), EXIT_NO_MEMORY);
  heap_set_failure_hook(nullptr);
  EXPECT_EQ(g_app.package_path, nullptr);
  EXPECT_EQ(g_app.destination_path, nullptr);
  EXPECT_EQ(g_ui.face_brush, nullptr); // released on the way out
}

TEST_F(SetupMain, EndsAsDamagedWithoutAPackageAndReleasesEverything) {
  g_app.stub_length = 0; // a raw stub: no package behind it
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), "/X"), EXIT_DAMAGED);
  EXPECT_EQ(FindWindowA(FRAME_CLASS_NAME, NULL), nullptr);
  EXPECT_EQ(g_ui.frame_window, nullptr);
  EXPECT_EQ(g_app.package_path, nullptr);
  EXPECT_EQ(g_ui.face_brush, nullptr);
}

// /DEL on the command line of a setup that is no temporary copy (this test
// program) schedules nothing for deletion at the next restart.
TEST_F(SetupMain, DelSwitchDeletesNothingButATemporaryCopy) {
  std::string saved = pending_renames();
  set_pending_renames("");
  g_app.stub_length = 0;
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), "/DEL"), EXIT_DAMAGED);
  std::string pending = pending_renames();
  set_pending_renames(saved);
  EXPECT_EQ(pending, "");
  EXPECT_FALSE(g_app.temp_copy);
}

// The screen saver is installed by the system's own rundll32: a program of
// that name in the current folder (or beside the setup, as in a downloads
// folder) is never started in its place.
TEST(ScreenSaver, CommandStartsTheSystemsRundll32) {
  char self[MAX_PATH], system[MAX_PATH], command[1024];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  std::string fixture = self;
  fixture = fixture.substr(0, fixture.find_last_of('\\') + 1) + "pakwiz_record_args.exe";
  TempDir dir;
  std::string folder = dir.file("here");
  CreateDirectoryA(folder.c_str(), NULL);
  std::string decoy = folder + "\\rundll32.exe"; // writes here.args when it runs
  ASSERT_TRUE(CopyFileA(fixture.c_str(), decoy.c_str(), FALSE)) << fixture;
  ASSERT_TRUE(screen_saver_command(command, sizeof command, "C:\\Savers\\my saver.scr"));
  GetSystemDirectoryA(system, MAX_PATH);
  EXPECT_EQ(std::string(command), "\"" + std::string(system) +
                                      "\\rundll32.exe\" desk.cpl,InstallScreenSaver "
                                      "C:\\Savers\\my saver.scr");

  // Started from the decoy's folder, the way WinExec searches for it.
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  SetCurrentDirectoryA(folder.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  BOOL started =
      CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
  SetCurrentDirectoryA(current);
  ASSERT_TRUE(started);
  WaitForSingleObject(process.hProcess, 15000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_FALSE(file_exists(folder + ".args"));
}

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

} // namespace

// Unattended runs that end before installing anything: each with its code,
// no window, and (where the log could be made) the log's last line; /Q /?
// shows nothing and installs nothing.
TEST_F(SetupMain, UnattendedRunsEndWithTheCodeOfWhatStoppedThem) {
  TempDir dir;
  std::string log = dir.file("run.log");
  g_app.stub_length = 0; // a raw stub: no package behind it
  const struct {
    std::string line;
    int code;
    const char* log_text; // null: no log expected
  } cases[] = {
      {"/Q /LOG=\"" + log + "\"", EXIT_DAMAGED, "log\tstarted\tsetup\r\npackage\tdamaged\t"},
      {"/Q /L=x /LOG=\"" + log + "\"", EXIT_BAD_COMMAND, "log\tstarted\tsetup\r\nresult\t7\r\n"},
      {"/Q /LOG=\"" + dir.file("no such folder") + "\\run.log\"", EXIT_LOG_FAILED, nullptr},
      // Last: /? stays set. No box (it would hold the test); nothing installed.
      {"/Q /? /LOG=\"" + log + "\"", EXIT_BAD_COMMAND, "log\tstarted\tsetup\r\nresult\t7\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    DeleteFileA(log.c_str());
    EXPECT_EQ(setup_main(GetModuleHandleA(NULL), c.line.c_str()), c.code);
    EXPECT_EQ(FindWindowA(FRAME_CLASS_NAME, NULL), nullptr);
    EXPECT_EQ(g_app.package_path, nullptr);
    if (c.log_text) {
      std::string text = read_text(log);
      EXPECT_EQ(text.substr(0, strlen(c.log_text)), c.log_text);
      EXPECT_NE(text.find("result\t" + std::to_string(c.code) + "\r\n"), std::string::npos) << text;
    }
  }
  set_message_answerer(nullptr, nullptr);
  g_install = InstallState{};
}

// A wizard of this setup is open: an unattended run cannot bring it forward
// and ends with its own code instead of 0.
TEST_F(SetupMain, UnattendedRunWhileAWizardIsOpenEndsWithItsCode) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(NULL);
  window_class.lpszClassName = FRAME_CLASS_NAME;
  ASSERT_TRUE(RegisterClassA(&window_class));
  HWND other = CreateWindowA(FRAME_CLASS_NAME, "", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                             GetModuleHandleA(NULL), NULL);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), "/Q"), EXIT_ALREADY_RUNNING);
  reset_switches();
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), ""), EXIT_DONE); // the wizard's way: brought forward
  DestroyWindow(other);
  EXPECT_EQ(g_app.package_path, nullptr);
}
