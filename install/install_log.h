// The run's log (/LOG=file) and the exit codes of the setup program and the
// uninstaller.
//
// The log is plain text, one record per line, each line written to the file
// as soon as it is complete (one write each, no buffer), so that a run that
// ends abruptly leaves every line up to that point. A line is a kind, an
// outcome and the fields of the record, separated by tab characters and
// ended by CR LF; a field never holds a tab or a line break (control
// characters become spaces). Kinds and outcomes:
//   log       started    setup | uninstall
//   package   loaded | damaged                   <package file>
//   install   started    <language block, from 0>  <install folder>
//   file      created | replaced | kept | restart | skipped | failed
//                        <path> [<message, for failed>]
//   registry  set        <root 0-3> <key path> <value name> <data>
//   ini       set        <file> <section> <key> <value>
//   shortcut  created    <link file> <target>
//   uninstall registered <key path> <uninstaller>
//   message   ok | cancel | yes | no | abort   <text>  (a question answered
//             by an unattended run)
// (registry values, INI entries, shortcuts and the registration that could
// not be made have no line).
//   result    <exit code>
// The uninstaller writes file (removed | gone | restart | failed | kept) and
// result lines. Readers skip kinds they do not know.
#pragma once
#include <stdint.h>

// Exit codes (the process's exit code; the README lists them).
enum ExitCode {
  EXIT_DONE = 0,
  EXIT_CANCELLED = 1,        // the user ended setup (or the uninstaller's question)
  EXIT_DAMAGED = 2,          // the package or the uninstall log is damaged or unreadable
  EXIT_PACKAGE_READ = 3,     // the package file or a volume cannot be opened or read
  EXIT_FILE_FAILED = 4,      // a file could not be written, replaced or removed
  EXIT_DISK_FULL = 5,        // the disk is full, or too small for the files
  EXIT_NO_MEMORY = 6,        //
  EXIT_BAD_COMMAND = 7,      // a switch with a bad value (/L= out of range, /LOG=)
  EXIT_FOLDER_REFUSED = 8,   // the install folder is no usable folder or cannot be made
  EXIT_LOG_FAILED = 9,       // the /LOG= file cannot be created
  EXIT_ALREADY_RUNNING = 10, // an unattended run while a wizard of this setup is open
  EXIT_RESTART = 3010,       // done; Windows must restart to finish
};

// The exit code of an installation: `error_code` is 0 or a message number of
// string table 6 (g_install.error_code).
int install_exit_code(uint32_t error_code, bool restart_needed);

// Creates (or empties) the log file and writes its first line; false when it
// cannot be created. `program`: "setup" or "uninstall".
bool install_log_open(const char* path, const char* program);
bool install_log_active();
// One line: `head` (the kind, or the kind and the outcome "file\tcreated"), then the
// text arguments up to a null one (at most 4 fields). A line is cut at
// LOG_LINE_SIZE - 2 characters.
enum { LOG_LINE_SIZE = 2048 };
void install_log(const char* head, ...);
// The result line with the exit code; then the file is closed.
void install_log_close(int exit_code);
