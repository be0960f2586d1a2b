// Services around the operating system: replace-on-restart, restarting
// Windows, running a program and waiting for it, opening a document.
#pragma once
#include <stdint.h>

// At the next start of Windows `existing` replaces `new_path`, or, with a
// null new_path, `existing` is deleted. Windows NT: delayed moves; Windows 95
// family (g_app.platform_nt false): WININIT.INI [Rename] lines in short form.
void schedule_replacement(const char* new_path, const char* existing);
void restart_windows();
// Starts "program argument" and waits for its end; false if it did not start.
bool run_and_wait(const char* program, const char* argument);
// Opens the file entry's installed file with its associated program.
void open_document(uint8_t* entry);
