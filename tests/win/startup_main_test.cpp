// The run's early ends: without its buffers or without a package the
// program ends with -1, leaving nothing allocated and no window behind.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/app.h"
#include "common/heap.h"
#include "common/state.h"
#include "package/package.h"
#include "support/install_package.h"
#include "ui/ui.h"

namespace {

bool fail_everything(size_t, int) {
  return true;
}

class SetupMain : public ::testing::Test {
protected:
  void SetUp() override {
    saved_stub = g_app.stub_length;
    ASSERT_EQ(FindWindowA(FRAME_CLASS_NAME, NULL), nullptr);
  }
  void TearDown() override {
    heap_set_failure_hook(nullptr);
    g_app.stub_length = saved_stub;
    UnregisterClassA(FRAME_CLASS_NAME, GetModuleHandleA(NULL));
  }
  uint32_t saved_stub = 0;
};

} // namespace

TEST_F(SetupMain, EndsWithMinusOneWhenTheBuffersCannotBeHad) {
  heap_set_failure_hook(fail_everything);
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), "", SW_SHOWNORMAL), -1);
  heap_set_failure_hook(nullptr);
  EXPECT_EQ(g_app.package_path, nullptr);
  EXPECT_EQ(g_app.destination_path, nullptr);
  EXPECT_EQ(g_ui.face_brush, nullptr); // released on the way out
}

TEST_F(SetupMain, EndsWithMinusOneWithoutAPackageAndReleasesEverything) {
  g_app.stub_length = 0; // a raw stub: no package behind it
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), "/X", SW_SHOWNORMAL), -1);
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
  EXPECT_EQ(setup_main(GetModuleHandleA(NULL), "/DEL", SW_SHOWNORMAL), -1);
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
