// Program control: start-up, the command line, the relaunch from a removable
// disk and the end of the run.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// The whole run (what WinMain does); returns the exit code (ExitCode,
// install/install_log.h). The caller sets g_app.stub_length first.
int setup_main(HINSTANCE instance, const char* command_line);

// The unattended run (/Q, app/quiet.cpp). begin_quiet_run, before the
// package is loaded: every message is answered (and logged) instead of
// shown, and files in use are scheduled for the next start of Windows.
void begin_quiet_run();
// After loading, for the wizard and the unattended run alike: selects the
// /L= block and puts the /D= folder, made a full path, into every block whose
// folder may change (so that the language page keeps it). Returns 0, or the
// exit code that refuses the command line: 7 for a block the package does
// not have or a /D= on a package that fixes its folder, 8 for a /D= that is
// no usable folder name.
int take_switch_choices();
// After loading: takes the switches' choices, takes the folder (the /D= one
// or the block's default) through the destination page's checks, creates it,
// installs, and returns the exit code.
int install_quietly();
// /?: the switches in a message box.
void show_switches();

// Reads the switches of the command line into g_app: /S path, /DEL, /Q,
// /L=n, /LOG=file (quoted or not), /? and /D=folder (the rest of the line).
// A /L= or /LOG= without a usable value sets g_app.bad_switch. The fields
// are set, never cleared (g_app starts zeroed), but for the language (-1).
void parse_command_line(const char* command_line);
// The arguments of a whole process command line: what follows the program
// name (quoted or not) and the blanks behind it.
const char* program_arguments(const char* command_line);

// Relaunch from a removable disk. When the running executable lies on a
// removable drive, copies the stub into a temporary copy and starts it with
// /S"<package file>" /DEL followed by this run's `arguments`; true when the
// run has been handed over (*exit_code 0). An unattended run waits for the
// copy and leaves its exit code in *exit_code.
bool relaunch_from_removable_disk(const char* arguments, int* exit_code);
// The copy itself: the first stub-length bytes of the package file written to
// the first free "_inst%d.exe" (0..998) of the temporary folder, whose path
// is left in g_app.temp_path. False, and no copy left behind, when it cannot
// be made whole.
bool make_temp_copy();
// "<folder>_inst<n>.exe" into out (capacity cap); folder ends with a backslash.
bool temp_copy_name(char* out, size_t cap, const char* folder, int n);
// True when `path` (the running executable) is such a copy: "_inst<n>.exe"
// (n from 0 to 998, case ignored) directly in the temporary folder. /DEL is
// honoured only then, so that it never deletes the real setup.
bool is_temp_copy(const char* path);

// The command that installs the screen saver at `path`: the system's own
// rundll32 by its full path, so that a program of that name beside the setup
// (a downloads folder) or in the current folder is never started in its
// place. False when the system folder cannot be had or the command does not
// fit `cap`.
bool screen_saver_command(char* out, size_t cap, const char* path);
