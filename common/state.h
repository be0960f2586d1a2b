// Process-wide values of the setup program, shared by every subsystem. They
// live in plain structs so that a test can set them up and reset them.
// Subsystem-owned state lives beside its subsystem: g_package (package/),
// g_archive (decode/archive.h), g_install (install/), g_ui (ui/).
#pragma once
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
typedef HWND WindowHandle;
typedef HINSTANCE InstanceHandle;
#else
typedef void* WindowHandle;
typedef void* InstanceHandle;
#endif

enum { PATH_SIZE = 260, DESTINATION_SIZE = 520 };

struct AppState {
  InstanceHandle instance;
  char* package_path;     // 260: own file, or the /S argument
  char* archive_path;     // 260: the file the archive is being read from
  char* install_folder;   // 260: current install folder, ends with a backslash
  char* destination_path; // 520: own path at start-up, later resolve_destination's result
  char* temp_path;        // 260: temporary copy / scratch / temporary file being placed
  char* error_file_name;  // 260: replaces "%s" in formatted messages
  char* uninstaller_path; // 260: destination of the uninstaller entry
  bool platform_nt;       // Windows NT (else the Windows 95 family)
  bool temp_copy;         // /DEL: this process is the temporary copy from a removable disk
  int screen_width, screen_height;
  uint32_t start_program; // start the recorded program at the end (finish page check box)
  WindowHandle frame_window;
  WindowHandle main_dialog;
};
extern AppState g_app;

// Allocates the zero-filled process-wide buffers; false (and nothing held)
// when any of them cannot be had.
bool app_alloc_buffers();
void app_free_buffers();

// Page sequencer state: the slot being run and the result that ends a page.
enum PageResult { PAGE_RUNNING = 0, PAGE_NEXT = 1, PAGE_END = 2, PAGE_BACK = 1007 };
struct WizardState {
  int current_page; // -1 once the wizard is over
  int page_result;
};
extern WizardState g_wizard;
