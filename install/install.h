// The install driver: prepares, steps through and finishes the installation
// of the current language block's file list, one entry per step.
#pragma once
#include <stdint.h>

struct InstallState {
  int32_t entry_index;     // -1 after prepare_installation
  uint8_t* next_entry;     // the entry the next step takes
  uint32_t error_code;     // 0, or a message number of string table 6
  bool restart_needed;     // a file was scheduled for replacement at restart
  bool installing;         // set by prepare, cleared by finish
  // End-of-setup actions: file entries, each possibly absent.
  uint8_t* document;       // document to open at the end
  uint8_t* program;        // program to start at the end
  uint8_t* screen_saver;   // screen saver to install at the end
};
extern InstallState g_install;

// Forgets the three end-of-setup actions (after a cancel or a failure).
void clear_end_actions();
