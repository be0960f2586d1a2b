// The uninstaller program (pakwiz-uninstall.exe): the Windows side.
//
// The package carries this program as its file prefix block; the setup
// program installs it with the uninstall log appended and registers it under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\<key>.
//
// Command line (switch character '/' or '-', any case):
//   (none)  ask the user, remove, report, then remove the uninstaller itself
//   /Q      quiet: no question and no window (unattended removal); exit code
//           only. /S is the same.
//   /LOG=file  a log of the removal, in the setup program's log format
//           (install/install_log.h): a line for every file and link
//   /X      started by a later installation: silent, and the uninstaller file
//           and its folder stay (that installation deletes the file once
//           this process has ended, so no second process may be left)
//   /R path internal: the temporary copy that deletes the original
//           uninstaller `path` after that process has ended
// Exit codes, the setup program's (install/install_log.h): 0 done, 3010 done
// but files in use go at the next start of Windows, 1 cancelled by the user,
// 2 no or a damaged log, 4 something named by the log could not be removed
// nor scheduled, 9 the /LOG= file cannot be created.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "install/install_log.h"
#include "uninstall/log_reader.h"

enum {
  UNINSTALL_DONE = EXIT_DONE,
  UNINSTALL_CANCELLED = EXIT_CANCELLED,
  UNINSTALL_NO_LOG = EXIT_DAMAGED,
  UNINSTALL_FAILED = EXIT_FILE_FAILED,
  UNINSTALL_RESTART = EXIT_RESTART
};

// ---------------------------------------------------------------------------
// Texts (texts_win.cpp): those of the uninstaller's data record, which the
// builder writes in the language block's language; a text it lacks is the
// built-in English one, or German when the user's UI language is German.
enum TextId {
  TEXT_CAPTION = UNINSTALL_TEXT_CAPTION,
  TEXT_ASK = UNINSTALL_TEXT_ASK,
  TEXT_DONE = UNINSTALL_TEXT_DONE,
  TEXT_RESTART = UNINSTALL_TEXT_RESTART,
  TEXT_FAILED = UNINSTALL_TEXT_FAILED,
  TEXT_NO_LOG = UNINSTALL_TEXT_NO_LOG,
  TEXT_PROGRESS = UNINSTALL_TEXT_PROGRESS,
  TEXT_COUNT = UNINSTALL_TEXT_COUNT
};
void choose_texts();
// Takes the texts of the data record in the uninstaller file's bytes.
void use_data_texts(const uint8_t* file, uint32_t size);
const char* text(TextId id);

// ---------------------------------------------------------------------------
// Folders that are never removed, even when empty (remove_win.cpp).
// Loads the system's special folders (desktop, Start menu, Programs, fonts,
// Windows, system, temporary, profile folders ...) once.
void load_protected_folders();
void release_protected_folders();
// A drive root, a share root or one of the special folders.
bool is_protected_folder(const char* folder);
// Removes `folder` when it is empty and not protected; with a base folder,
// then its parents in turn while they are empty and lie below `base`. The
// buffer is cut down on the way.
void remove_empty_folders(char* folder, const char* base);

// What became of the logged items.
struct RemovalReport {
  uint32_t removed;   // files and links deleted (or already gone)
  uint32_t scheduled; // in use: deleted at the next start of Windows
  uint32_t failed;    // could not be deleted nor scheduled
  uint32_t kept;      // shared files still used by others, or without a count
};

// Removes what the log names: the registry values, keys, INI entries and INI
// files of the value record, files (with their SharedDLLs counts, fonts and
// self-registration), their empty folders, the shortcuts and their empty
// folders, and the uninstall key. Relative folders are resolved against
// install_folder (ending with a backslash); `own_path` is never deleted.
void remove_logged_items(const CheckedLog& log, const char* install_folder, const char* own_path,
                         RemovalReport* report);
// Told after each file entry (done of total), when set.
extern void (*g_removal_progress)(uint32_t done, uint32_t total);

// The parts of remove_logged_items, for the tests' benefit named here.
enum DeleteResult { DELETE_REMOVED, DELETE_GONE, DELETE_SCHEDULED, DELETE_FAILED };
DeleteResult delete_logged_file(const char* path);
enum SharedUse { SHARED_LAST_USE, SHARED_STILL_USED, SHARED_UNCOUNTED };
SharedUse release_shared_use(const char* path);
// Deletes the key of the key log record when it lies under
// ...\CurrentVersion\Uninstall\, has no subkeys and its "UninstallString" is
// absent or names `own_path`. True when the key was deleted.
bool remove_uninstall_key(const CheckedLog& log, const char* own_path);

// ---------------------------------------------------------------------------
// Removing the uninstaller itself (self_win.cpp). A running image cannot be
// deleted, so the program writes its image (without the log) to the
// temporary folder and starts that copy with /R naming the original; the
// copy waits for the original to become deletable, deletes it and the
// install folder when that is empty, and schedules its own deletion at the
// next start of Windows. When no copy can be started, the original and its
// folder are scheduled for deletion at the next start instead.
void remove_self(const char* own_path, const uint8_t* image, uint32_t image_size);
// The /R side: returns the exit code.
int finish_self_removal(const char* original);

// The whole file in a heap block (null when it cannot be read or is larger
// than 64 MB).
uint8_t* read_whole_file(const char* path, uint32_t* size);

// True when both paths name the same file (compared without regard to case,
// also in their short forms).
bool same_file(const char* a, const char* b);
