// Process-wide values of the setup program: the path buffers every layer
// works in and the facts start-up learns about the run. They live in one
// plain struct so that a test can set them up and reset them.
//
// Start-up (app/) sets the fields: it allocates the buffers, records the
// instance, the stub length, the platform kind and the temporary-copy flag.
// Every other layer only reads the fields; the buffers' contents are working
// storage, each filled by the layer named beside it. The state of each layer
// lives beside its layer: g_archive (decode/archive.h), g_package
// (package/package.h), g_install (install/install.h), g_ui and g_wizard
// (ui/ui.h, ui/wizard.h).
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
  uint32_t stub_length;   // the stub's own length field: where the package begins (0 = none)
  char* package_path;     // 260: own file, or the /S argument (app)
  char* archive_path;     // 260: the file the archive is being read from (package, decode)
  char* install_folder;   // 260: current install folder, ends with a backslash (package, ui,
                          // install)
  char* destination_path; // 520: own path at start-up (app), later resolve_destination's
                          // result (install)
  char* temp_path;        // 260: temporary copy (app), scratch (package), temporary file being
                          // placed (install)
  char* error_file_name;  // 260: replaces "%s" in formatted messages (decode, install, ui)
  char* uninstaller_path; // 260: destination of the uninstaller entry (install)
  bool platform_nt;       // Windows NT (else the Windows 95 family)
  bool temp_copy;         // /DEL: this process is the temporary copy from a removable disk
  // The unattended switches (app, from the command line).
  bool quiet;                // /Q: no window, no question; the safe answer to each
  bool help;                 // /?: show the switches and end
  bool bad_switch;           // a switch with a value that cannot be used (/L=x)
  int language;              // /L=n: the language block to install, or -1
  const char* folder_switch; // /D=: the rest of the command line, or null
  char log_path[PATH_SIZE];  // /LOG=: the log file, or ""
};
extern AppState g_app;

// Allocates the zero-filled process-wide buffers; false (and nothing held)
// when any of them cannot be had.
bool app_alloc_buffers();
void app_free_buffers();
