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
  // The answers' names, 8 bytes each, by answer number - 1.
  static const char NAMES[] =
      "ok\0\0\0\0\0\0cancel\0\0abort\0\0\0retry\0\0\0ignore\0\0yes\0\0\0\0\0no";
  unsigned buttons = style & 0xF;
  int answer = buttons == MSG_OKCANCEL           ? ANSWER_CANCEL
               : buttons == MSG_ABORTRETRYIGNORE ? ANSWER_ABORT
               : buttons != MSG_YESNO            ? ANSWER_OK
               : (style & MSG_DEFBUTTON2)        ? ANSWER_NO
                                                 : ANSWER_YES;
  install_log("message", NAMES + 8 * (answer - 1), text, nullptr);
  return answer;
}

} // namespace

void begin_quiet_run() {
  set_message_answerer(answer_quietly, nullptr);
  schedule_files_in_use();
}

int take_switch_choices() {
  if (g_app.language >= g_package.block_count) return EXIT_BAD_COMMAND;
  if (g_app.language >= 0) select_language_block(g_app.language);
  const char* folder = g_app.folder_switch;
  if (!folder) return EXIT_DONE;
  // A package that fixes its folder is installed there or not at all.
  if (!(g_package.current_language->flags & LANG_FOLDER_CHANGEABLE)) return EXIT_BAD_COMMAND;
  // The rest of the command line, unquoted, made a full path (a relative
  // folder is taken from the current folder now, not when the page is left).
  text_copy_cut(g_app.install_folder, PATH_SIZE, folder);
  if (!take_folder_name(text_length(folder) < PATH_SIZE)) return EXIT_FOLDER_REFUSED;
  // Every block whose folder may change gets it, so that a language chosen
  // on the language page keeps the folder asked for.
  for (int i = 0; i < g_package.block_count; i++) {
    LanguageBlock* block = &g_package.blocks[i];
    if (block->folder && (block->language.flags & LANG_FOLDER_CHANGEABLE))
      text_copy(block->folder, PATH_SIZE, g_app.install_folder);
  }
  return EXIT_DONE;
}

int install_quietly() {
  if (int refused = take_switch_choices()) return refused;
  // The checks of the destination page's Next.
  if (!take_folder_name(true) || !have_install_folder()) return EXIT_FOLDER_REFUSED;
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

namespace {

// The switches, one a line: the switch, a tab, what it does.
const char SWITCHES[] = "/Q\t\tunattended: no window\n"
                        "/L=n\t\tlanguage block n (from 0)\n"
                        "/D=folder\tinstall folder (last)\n"
                        "/LOG=file\tlog of the run";

} // namespace

void show_switches() {
  MessageBoxA(NULL, SWITCHES, "Setup", MB_OK | MB_ICONINFORMATION);
}
