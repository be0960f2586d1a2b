// Program control: start-up, the command line, the relaunch from a removable
// disk, the page sequencer and the end of the run.
#pragma once
#include <windows.h>

// The whole run (what WinMain does); returns the exit code.
int setup_main(HINSTANCE instance, const char* command_line, int show);

// Reads /S path and /DEL from the command line into g_app.
void parse_command_line(const char* command_line);

// Page sequencer.
void run_wizard();
int run_page(int template_index, DLGPROC proc, LPARAM param);
int end_page(int button);  // 1 Back -> 1007, 2 Next -> 1, 4 Cancel -> 2
void go_to_page(int page);
