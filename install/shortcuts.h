// Shortcuts (Windows only): shell links made through the shell's COM
// objects, which start-up has initialised. Desktop shortcuts are made by the
// install step as soon as their entry is in place; Start-menu shortcuts are
// made at the end of the installation and recorded in the uninstall log.
// Every failure is silent.
//
// Start-menu folder (string 1 of a file entry, compared without regard to
// case, never expanded): "#Start Menu#" = the Start menu itself, "#Startup#"
// = the Startup folder, anything else = a folder path below Programs (empty
// = Programs itself), created when missing.
//
// Link paths are built in 260-byte buffers: a link whose path would not fit
// is not made (and not logged); it is never made under a cut name.
#pragma once
#include <windows.h>

#include "common/file.h"

// The path of a shell folder (CSIDL_...) into `out` (capacity 260); false
// when the shell cannot name it.
bool special_folder_path(int csidl, char* out);

// Writes the link file `link_path` pointing at `target`, with the target's
// folder as working folder (none when the target has no backslash), the
// arguments when not empty and the target's icon `icon_index` when not 0. An
// existing link of that name is overwritten. The result of the last COM call.
HRESULT create_shortcut(const char* target, const char* link_path, const char* arguments,
                        int icon_index);

// The Start-menu shortcuts of the current block's file list, in list order.
// With a log file (not INVALID_FILE), the first entry that asks for one
// opens a shortcut log record at the file's position, every shortcut adds
// its folder and link name, and the record is completed at the end; with no
// entry asking, nothing is written.
void make_start_menu_shortcuts(FileHandle log);
