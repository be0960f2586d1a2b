// Start-up and the end of the run: the process-wide buffers, the command
// line, one running copy, the hand-over from a removable disk, the log,
// loading the package, the frame and the main dialog with the wizard (or the
// unattended run), then the end-of-setup actions, the exit code and the
// release of everything.
#include <ole2.h>

#include "app/app.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/install_log.h"
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
  char command[DESTINATION_SIZE + 2];
  if (text_concat(command, sizeof command, "\"", g_app.destination_path, "\"", nullptr))
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
         text_append(program, PATH_SIZE, "rundll32.exe") &&
         text_concat(out, cap, "\"", program, "\" desk.cpl,InstallScreenSaver ", path, nullptr);
}

namespace {

// The wizard (or the unattended run) over the loaded package; the exit code.
int run_setup() {
  if (g_app.quiet)
    begin_quiet_run();
  else if (!register_frame_class())
    return EXIT_NO_MEMORY;
  // An unattended run shows nothing, however long the check takes.
  set_check_observer(g_app.quiet ? nullptr : observe_check);
  bool loaded = load_package();
  set_check_observer(nullptr);
  if (!loaded) {
    install_log("package\tdamaged", g_app.package_path, nullptr);
    return EXIT_DAMAGED;
  }
  install_log("package\tloaded", g_app.package_path, nullptr);
  if (g_app.quiet) return install_quietly();
  // /L= and /D= preselect the language and the folder the pages show.
  if (int refused = take_switch_choices()) {
    show_switches();
    return refused;
  }
  if (!create_frame_window()) return EXIT_NO_MEMORY;
  close_check_window(); // the frame has taken over the activation
  run_main_dialog();
  // Ended before the installation had run to its end: cancelled.
  if (!g_install.finished) return EXIT_CANCELLED;
  settle_install_outcome();
  return install_exit_code(g_install.error_code, g_install.restart_needed);
}

} // namespace

int setup_main(HINSTANCE instance, const char* command_line) {
  g_app.instance = instance;
  if (!app_alloc_buffers()) return EXIT_NO_MEMORY;
  GetModuleFileNameA(NULL, g_app.package_path, PATH_SIZE);
  parse_command_line(command_line);
  // /Q promises no window: there /? is a command line that installs
  // nothing, and its exit code (7) tells a deployment script so.
  if (g_app.help && !g_app.quiet) {
    show_switches();
    app_free_buffers();
    return EXIT_DONE;
  }
  // An unattended run has no window to bring forward; its exit code tells.
  bool running =
      g_app.quiet ? FindWindowA(FRAME_CLASS_NAME, NULL) != NULL : bring_running_copy_to_front();
  if (running) {
    app_free_buffers();
    return g_app.quiet ? EXIT_ALREADY_RUNNING : EXIT_DONE;
  }
  OleInitialize(NULL);
  start_ui();
  g_app.platform_nt = (GetVersion() & 0x80000000u) == 0; // the Windows 95 family sets it
  if (g_app.temp_copy) {
    // /DEL makes the running executable delete itself at the next restart:
    // a mistyped or hostile command line must not delete the real setup.
    GetModuleFileNameA(NULL, g_app.destination_path, PATH_SIZE);
    g_app.temp_copy = is_temp_copy(g_app.destination_path);
  }

  int code = EXIT_DONE;
  if (!g_app.temp_copy && relaunch_from_removable_disk(command_line, &code)) {
    release_process();
    return code;
  }
  if (g_app.temp_copy) {
    // The temporary copy removes itself at the next start of Windows.
    GetModuleFileNameA(NULL, g_app.destination_path, PATH_SIZE);
    schedule_replacement(NULL, g_app.destination_path);
  }
  if (g_app.log_path[0] && !install_log_open(g_app.log_path, "setup"))
    code = EXIT_LOG_FAILED;
  else if (g_app.bad_switch || g_app.help) {
    code = EXIT_BAD_COMMAND;
    if (!g_app.quiet) show_switches();
  } else
    code = run_setup();
  install_log_close(code);
  end_of_run();
  return code;
}
