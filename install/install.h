// The install driver: prepares, steps through and finishes the installation
// of the current language block's file list, one entry per step, and tells
// the wizard what happens through the install observer.
#pragma once
#include <stdint.h>

#include "common/state.h"
#include "package/file_entry.h"
#include "package/script.h"

struct InstallState {
  int32_t entry_index; // -1 after prepare_installation
  uint8_t* next_entry; // the record of the entry the next step takes
  uint32_t error_code; // 0, or a message number of string table 6
  bool restart_needed; // a file was scheduled for replacement at restart
  bool installing;     // set by prepare, cleared by finish
  bool finished;       // finish_installation has run (cleared by prepare)
  // An unattended run: a file in use that would be asked about (message 22)
  // is replaced at the next start of Windows instead.
  bool schedule_in_use;
  uint8_t placement; // how place_file's last file ended beyond its status (Placement)
  // End-of-setup actions: records of file entries, each possibly absent.
  uint8_t* document;     // document to open at the end
  uint8_t* program;      // program to start at the end
  uint8_t* screen_saver; // screen saver to install at the end
  // The folder (with its trailing separator) of the last file whose folders
  // were made in this run; empty when none is known.
  char ready_folder[PATH_SIZE];
};
extern InstallState g_install;

// What became of a placed file beyond its entry status.
enum Placement : uint8_t {
  PLACEMENT_AS_STATUS = 0, // as the status says
  PLACEMENT_SCHEDULED = 1, // the file waits for the next start of Windows
  PLACEMENT_KEPT = 2,      // in use and left as it was (Ignore)
};

// What the installation tells the wizard: the progress page installs an
// observer while it runs, tests their own. Every member may be null.
struct InstallObserver {
  void* context;
  // The entry being installed now, by its destination path.
  void (*current_file)(const char* path, void* context);
  // Percent (0..100) of the file list done, also within a patched file.
  void (*progress)(uint32_t percent, void* context);
  // finish_installation is done (whether or not an error occurred).
  void (*finished)(void* context);
  // The user gave up at a disk prompt: setup is to end.
  void (*abandoned)(void* context);
};
// Installs `observer` (kept by reference; null = nobody listens).
void set_install_observer(const InstallObserver* observer);
// Hands a percentage to the observer (the patch step reports through it).
void report_install_progress(uint32_t percent);

// Forgets the three end-of-setup actions (after a cancel or a failure).
void clear_end_actions();

// An unattended run: files in use are scheduled instead of asked about
// (g_install.schedule_in_use).
void schedule_files_in_use();

// Confirm and end setup: asks `question` (Yes/No); on Yes tells that setup
// was cancelled (message 15), forgets the end-of-setup actions and returns
// true: the caller ends the wizard. False: setup goes on.
bool confirm_end_setup(Message question);

// The disk request of the archive reader (installed by prepare_installation):
// asks for disk `disk_number` (message 28) until the user presses OK, or
// confirms ending setup (message 13), which the observer hears as abandoned.
bool request_disk(uint32_t disk_number, void* context);

// The outcome the finish page shows: an error cancels the restart, and an
// entry that was not replaced without an error code is error 22.
void settle_install_outcome();

// Resets the install state and the archive reader, logs the language block
// and the install folder, opens the package file at its archive and sets
// `installing`. False when the package file cannot be
// opened (error 16 naming it).
bool prepare_installation();
// Installs the next file entry: resolves its destination, places the file,
// runs the entry's follow-up actions, logs its outcome (install/install_log.h)
// and reports the progress. True when an
// entry was processed, false when none was left or the entry failed (error
// code set; a temporary file left by the failure is deleted).
bool install_step();
// Closes the archive and, when no error occurred, writes the uninstall log,
// the shortcuts, the install-folder registration and the INI, registry and
// file patch lists; then tells the observer that the installation finished.
void finish_installation();

// The full path of a file entry, left in g_app.destination_path; returns the
// in-use flag (a shared system file that Windows reports as in use). A path of
// 260 characters or more, which no ANSI file call can take, is not produced:
// the destination path is then left empty.
bool resolve_destination(const FileEntry& entry);

// Creates every missing folder of `path` (a file path, or a folder path with a
// trailing backslash), entering each; the process's current folder is left at
// the last one. False when a folder could not be made (or no memory was left).
bool create_folders_of_path(const char* path);
// The folders of the file `path`, as create_folders_of_path makes them; when
// they are those of the previous file made ready this way (the files of one
// folder follow each other) the deepest is entered in one call instead of a
// walk with a call or two per level. False when a folder could not be made.
bool ready_folders_of_file(const char* path);
// Forgets the folder ready_folders_of_file knows.
void forget_ready_folder();

// Platform layer of the driver (driver_win.cpp; driver_posix.cpp holds the
// native build's stand-ins, where these find nothing and do nothing).
// Shared system file: `dest` holds the install folder on entry and the file's
// path on return (empty when it cannot be had); returns the in-use flag.
bool resolve_shared_file(const char* target, char* dest);
// The fonts folder into `out` (capacity 260); false when it cannot be had.
bool fonts_folder(char* out);
// Adds one to the file's usage count under HKLM SharedDLLs (a missing value
// becomes REG_DWORD 1; a missing key is created). A count that the
// installation being replaced already holds (counted_by_earlier_log) is
// carried over as it stands, not raised again: one uninstallation gives
// one count back.
void count_shared_use(const char* path);
// Adds a font file to the system's font table and tells every window.
void register_font(const char* path);
// Calls the library's DllRegisterServer when it has one.
void self_register(const char* path);

// Earlier installations (setup flag 0x10, called by prepare_installation):
// for every other language block whose first file entry is an uninstaller
// entry and that has an uninstall key name, the uninstaller named by the
// key's "UninstallString" (quoted or bare) is run quoted with "/X" and waited
// for, and its file is then deleted (retried for up to 3 s). Silent; the installation goes on.
void remove_previous_installations();

// Appends the uninstall log (install/uninstall_log.h) to the placed
// uninstaller file, whose last 8 bytes the first record header takes over;
// makes the Start-menu shortcuts as it logs them; registers the uninstall key
// (HKLM ...\Uninstall\<key name>: "DisplayName", "UninstallString" = the
// quoted path) when the block has a key name. A file that cannot be opened
// gets no log; its shortcuts and key are still made. The log stays open for
// the value record of the lists until close_uninstall_log, which writes the
// end record.
void write_uninstall_log(const char* uninstaller_path);
// Called before the uninstaller entry is placed: an uninstaller file already
// at `uninstaller_path` (an earlier installation of the same program into
// the same folder) has its file and value log records read, and
// write_uninstall_log carries into the new log the file entries whose files
// still exist and that the new log does not name, and the value entries
// whose values, keys, INI entries and INI files still exist (this
// installation finds them there and does not log them itself), so that what
// it left in place as it was stays removable.
void keep_earlier_log(const char* uninstaller_path);
// Whether the earlier log read by keep_earlier_log lists `path` as a file
// whose SharedDLLs usage count it holds.
bool counted_by_earlier_log(const char* path);
void close_uninstall_log();

// Shortcuts (install/shortcuts.h): the Start-menu shortcuts of the current
// block without a log (a block without an uninstaller), and one desktop
// shortcut "<name>.lnk" to `target`.
void create_start_menu_shortcuts();
void create_desktop_shortcut(const char* target, const char* name, const char* arguments);

// Records the install folder (without its trailing backslash) where the
// language record asks: its registry value (language flags bit 2) and its
// INI entry (bit 3). Logged in the value record like the lists' values.
void register_install_folder();

// The INI, registry and file patch lists of the current block
// (install/lists.h), applied in this order after every file is in place.
void apply_ini_list();
void apply_registry_list();
void apply_patch_list();
