// Start-up and the end of the run: one running copy, the process-wide
// buffers, the command line, the hand-over from a removable disk, loading the
// package, the frame and the main dialog, the wizard, then the end-of-setup
// actions and the release of everything.
#include <ole2.h>

#include "app/app.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/restart.h"
#include "package/package.h"
#include "ui/ui.h"

namespace {

// Another copy shows its wizard: bring it (or the message box it shows) to
// the front and let this copy end.
bool bring_running_copy_to_front() {
  HWND other = FindWindowA(FRAME_CLASS_NAME, NULL);
  if (!other) return false;
  HWND popup = GetLastActivePopup(other);
  BringWindowToTop(other);
  if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
  if (popup && popup != other) BringWindowToTop(popup);
  return true;
}

bool windows_nt() {
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version; // 148 bytes
  if (!GetVersionExA(&version)) return true;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void release_process() {
  release_package();
  OleUninitialize();
  app_free_buffers();
  release_shared_gdi();
}

void install_screen_saver() {
  if (!g_install.screen_saver) return;
  resolve_destination(file_entry(g_install.screen_saver));
  char command[DESTINATION_SIZE + PATH_SIZE];
  if (screen_saver_command(command, sizeof command, g_app.destination_path))
    WinExec(command, SW_SHOWNORMAL);
}

void start_recorded_program() {
  if (!g_ui.start_program || !g_install.program) return;
  resolve_destination(file_entry(g_install.program));
  // Quoted, so that a folder name with a space cannot start another program.
  char command[DESTINATION_SIZE + 2] = "\"";
  text_append(command, sizeof command, g_app.destination_path);
  text_append(command, sizeof command, "\"");
  WinExec(command, SW_SHOWNORMAL);
}

void end_of_run() {
  install_screen_saver();
  destroy_frame_window();
  start_recorded_program();
  release_process();
}

} // namespace

bool screen_saver_command(char* out, size_t cap, const char* path) {
  char program[PATH_SIZE];
  UINT n = GetSystemDirectoryA(program, PATH_SIZE);
  return n > 0 && n < PATH_SIZE && append_backslash(program, PATH_SIZE) &&
         text_append(program, PATH_SIZE, "rundll32.exe") && text_copy(out, cap, "\"") &&
         text_append(out, cap, program) &&
         text_append(out, cap, "\" desk.cpl,InstallScreenSaver ") && text_append(out, cap, path);
}

int setup_main(HINSTANCE instance, const char* command_line, int show) {
  if (bring_running_copy_to_front()) return 0;
  g_app.instance = instance;
  OleInitialize(NULL);
  start_ui();
  if (!app_alloc_buffers()) {
    OleUninitialize();
    release_shared_gdi();
    return -1;
  }
  GetModuleFileNameA(NULL, g_app.package_path, PATH_SIZE);
  g_app.platform_nt = windows_nt();
  parse_command_line(command_line);
  if (g_app.temp_copy) {
    // /DEL makes the running executable delete itself at the next restart:
    // a mistyped or hostile command line must not delete the real setup.
    GetModuleFileNameA(NULL, g_app.destination_path, PATH_SIZE);
    g_app.temp_copy = is_temp_copy(g_app.destination_path);
  }

  if (!g_app.temp_copy && relaunch_from_removable_disk(show)) {
    release_process();
    return 0;
  }
  if (g_app.temp_copy) {
    // The temporary copy removes itself at the next start of Windows.
    GetModuleFileNameA(NULL, g_app.destination_path, PATH_SIZE);
    schedule_replacement(NULL, g_app.destination_path);
  }
  if (!register_frame_class()) {
    release_process();
    return 0;
  }
  if (!load_package() || !create_frame_window()) {
    release_process();
    return -1;
  }
  run_main_dialog();
  end_of_run();
  return 0;
}
