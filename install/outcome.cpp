// The install state and the outcome of a run: the end-of-setup actions, the
// one way to confirm and end setup, and what the finish page is to show.
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"

InstallState g_install = {};

void clear_end_actions() {
  g_install.document = nullptr;
  g_install.program = nullptr;
  g_install.screen_saver = nullptr;
}

void schedule_files_in_use() {
  g_install.schedule_in_use = true;
}

bool confirm_end_setup(Message question) {
  if (show_message(get_message(question), MSG_YESNO | MSG_ICONQUESTION) != ANSWER_YES) return false;
  show_message(get_message(MESSAGE_CANCELLED), MSG_ICONINFORMATION);
  clear_end_actions(); // nothing is launched after a cancelled setup
  return true;
}

void settle_install_outcome() {
  if (g_install.error_code) g_install.restart_needed = false;
  if (g_install.error_code) return;
  uint8_t* e = g_package.first_entry;
  for (uint32_t i = 0; e && i < g_package.entry_count; i++, e = next_entry(e))
    if (entry_status(e) == STATUS_FAILED) {
      g_install.error_code = MESSAGE_IN_USE;
      return;
    }
}
