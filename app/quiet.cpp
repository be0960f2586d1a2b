// The unattended run (/Q): no frame, no page, no message box. The language
// block and the install folder come from the command line or the package,
// every question gets its safe answer, and the files are installed by the
// same driver and end-of-installation steps that the progress page runs.
#include "app/app.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "install/install.h"
#include "install/install_log.h"
#include "package/package.h"
#include "package/script.h"
#include "ui/destination_page.h"

namespace {

// The safe answer to each question, logged with its text: the disk prompt
// (OK/Cancel) is cancelled, Abort/Retry/Ignore aborts, a question whose
// default is No (replace a newer file, or one in another language) is
// answered No, and any other question Yes (create the install folder).
int answer_quietly(const char* text, unsigned style, void*) {
  unsigned buttons = style & 0xF;
  int answer = ANSWER_OK;
  const char* head = "message\tok";
  if (buttons == MSG_OKCANCEL) {
    answer = ANSWER_CANCEL;
    head = "message\tcancel";
  } else if (buttons == MSG_ABORTRETRYIGNORE) {
    answer = ANSWER_ABORT;
    head = "message\tabort";
  } else if (buttons == MSG_YESNO) {
    answer = ANSWER_YES;
    head = "message\tyes";
    if (style & MSG_DEFBUTTON2) {
      answer = ANSWER_NO;
      head = "message\tno";
    }
  }
  install_log(head, text, nullptr);
  return answer;
}

// The /D= folder into the install folder: the rest of the command line,
// unquoted, without the blanks behind it. False when it does not fit (the
// buffer then holds its beginning).
bool take_folder_switch() {
  const char* p = g_app.folder_switch;
  size_t n = text_length(p);
  while (n && p[n - 1] == ' ') n--;
  char* folder = g_app.install_folder;
  size_t i = 0;
  for (; i < n && i < PATH_SIZE - 1; i++) folder[i] = p[i];
  folder[i] = 0;
  return n < PATH_SIZE;
}

} // namespace

void begin_quiet_run() {
  set_message_answerer(answer_quietly, nullptr);
  schedule_files_in_use();
}

int install_quietly() {
  if (g_app.language >= g_package.block_count) return EXIT_BAD_COMMAND;
  if (g_app.language >= 0) select_language_block(g_app.language);
  bool fits = true;
  if (g_app.folder_switch) {
    // A package that fixes its folder is installed there or not at all.
    if (!(g_package.current_language->flags & LANG_FOLDER_CHANGEABLE)) return EXIT_BAD_COMMAND;
    fits = take_folder_switch();
  }
  // The checks of the destination page's Next.
  if (!take_folder_name(fits) || !have_install_folder()) return EXIT_FOLDER_REFUSED;
  append_backslash(g_app.install_folder, PATH_SIZE);
  CheckResult check = check_space_and_access();
  if (check != CHECK_OK) return check == CHECK_LOW_SPACE ? EXIT_DISK_FULL : EXIT_FILE_FAILED;

  if (prepare_installation()) {
    set_disk_request(nullptr, nullptr); // a missing volume ends the installation
    while (install_step()) {
    }
  }
  finish_installation();
  settle_install_outcome();
  clear_end_actions(); // nothing is opened or started
  return install_exit_code(g_install.error_code, g_install.restart_needed);
}

void show_switches() {
  MessageBoxA(NULL,
              "/Q\tno windows, no questions\n/L=n\tlanguage block n (from 0)\n"
              "/LOG=file\tlog file\n/D=folder\tinstall folder (last)",
              "Setup", MB_OK | MB_ICONINFORMATION);
}
