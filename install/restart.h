// Services around the operating system: replace-on-restart, restarting
// Windows, running a program and waiting for it, opening a document.
#pragma once
#include <stdint.h>

// At the next start of Windows `existing` replaces `new_path`, or, with a
// null new_path, `existing` is deleted. Windows NT: delayed moves; Windows 95
// family (g_app.platform_nt false): WININIT.INI [Rename] lines in short form.
void schedule_replacement(const char* new_path, const char* existing);
void restart_windows();
// Starts the program (its path quoted) with the argument and waits for its
// end, leaving its exit code in *exit_code when given; false if it did not
// start (or the command does not fit 1,560 bytes). With `wait` false it
// returns as soon as the program has started.
bool run_and_wait(const char* program, const char* argument, uint32_t* exit_code = nullptr,
                  bool wait = true);
// Opens the installed file of the file entry at `record` (none when null)
// with its associated program.
void open_document(uint8_t* record);

// The command that opens `path` with a registered command (the default value
// of "<class>\shell\open\command"): the command is cut at its "%1"
// placeholder (quoted or not) and a space and the path in double quotes are
// appended; without a placeholder the quoted path is appended at the end.
// Whatever followed the placeholder is dropped. False when the result does
// not fit `cap`.
bool build_open_command(char* out, uint32_t cap, const char* registered, const char* path);
// The extension used to find a document's file class: the path from its last
// '.' on (that '.' may lie in a folder name), or "." when it has none.
const char* document_extension(const char* path);
