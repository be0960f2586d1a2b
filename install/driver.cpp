// The install driver: one file entry per step, driven by the progress page's
// timer (or a test), and the destination of a file entry. The Win32 calls it
// needs sit behind the platform layer of install/install.h.
#include "common/bytes.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/stream_decoder.h"
#include "install/install.h"
#include "install/install_log.h"
#include "install/place_file.h"
#include "package/file_entry.h"
#include "package/macros.h"
#include "package/package.h"
#include "package/script.h"

namespace {

const InstallObserver* observer = nullptr;

void tell_current_file(const char* path) {
  if (observer && observer->current_file) observer->current_file(path, observer->context);
}

bool resolve_into(const FileEntry& entry, char* dest) {
  if (!text_copy(dest, DESTINATION_SIZE, g_app.install_folder)) return false;
  if (entry.removal_mode() == REMOVAL_NOT_INSTALLED) {
    // The file lies beside the package file.
    if (!text_copy(dest, DESTINATION_SIZE, g_app.package_path)) return false;
    const char* sep = last_separator(dest);
    dest[sep ? sep - dest + 1 : 0] = 0;
    return text_append(dest, DESTINATION_SIZE, entry.target);
  }
  switch (entry.destination) {
  case DEST_WINDOWS:
    if (!macro_folder(MACRO_WINDOWS, dest, PATH_SIZE)) return false;
    break;
  case DEST_FONT: {
    char fonts[PATH_SIZE];
    if (fonts_folder(fonts)) text_copy(dest, DESTINATION_SIZE, fonts);
    break;
  }
  default:
    break;
  }
  return append_backslash(dest, DESTINATION_SIZE) &&
         text_append(dest, DESTINATION_SIZE, entry.target);
}

// The log line of one entry: what place_file made of it, or the failure
// with the message the wizard shows for it.
void log_entry(const FileEntry& entry, const char* path, bool placed) {
  const char* outcome = "kept";
  char message[1024];
  message[0] = 0;
  if (!placed) {
    outcome = "failed";
    format_message(message, sizeof message, g_install.error_code);
  } else if (entry.removal_mode() == REMOVAL_NOT_INSTALLED) {
    outcome = "skipped";
  } else if (g_install.placement == PLACEMENT_SCHEDULED) {
    outcome = "restart";
  } else if (g_install.placement == PLACEMENT_AS_STATUS) {
    if (entry.status() == STATUS_CREATED) outcome = "created";
    if (entry.status() == STATUS_REPLACED) outcome = "replaced";
  }
  install_log("file", outcome, path, placed || !message[0] ? nullptr : message, nullptr);
}

} // namespace

void set_install_observer(const InstallObserver* o) {
  observer = o;
}

void report_install_progress(uint32_t percent) {
  if (observer && observer->progress) observer->progress(percent, observer->context);
}

bool request_disk(uint32_t disk_number, void*) {
  char text[1024];
  format_text(text, sizeof text, get_message(MESSAGE_INSERT_DISK), number_arg((long)disk_number));
  if (show_message(text, MSG_OKCANCEL | MSG_ICONINFORMATION) == ANSWER_OK) return true;
  if (!confirm_end_setup(MESSAGE_STOP_INSTALLATION)) return true;
  if (observer && observer->abandoned) observer->abandoned(observer->context);
  return false;
}

bool resolve_destination(const FileEntry& entry) {
  char* dest = g_app.destination_path;
  bool in_use = false;
  bool ok;
  if (entry.removal_mode() != REMOVAL_NOT_INSTALLED && entry.destination == DEST_SHARED_SYSTEM) {
    ok = text_copy(dest, DESTINATION_SIZE, g_app.install_folder);
    if (ok) in_use = resolve_shared_file(entry.target, dest);
    ok = ok && dest[0];
  } else {
    ok = resolve_into(entry, dest);
  }
  // No ANSI file call takes a path of MAX_PATH characters or more.
  if (!ok || text_length(dest) >= PATH_SIZE) {
    dest[0] = 0;
    return false;
  }
  return in_use;
}

bool prepare_installation() {
  g_install.error_code = 0;
  g_install.finished = false;
  g_install.entry_index = -1;
  g_install.next_entry = g_package.first_entry;
  g_app.uninstaller_path[0] = 0;
  char number[2] = {(char)('0' + g_package.current_block), 0}; // at most 6 blocks
  install_log("install\tstarted", number, g_app.install_folder, nullptr);
  forget_ready_folder();
  keep_decoder_buffers(true); // one set of decoder buffers for the whole run
  if (g_package.setup_flags & SETUP_REMOVE_PREVIOUS) remove_previous_installations();
  set_disk_request(request_disk, nullptr);
  int err = open_archive();
  if (err) {
    g_install.error_code = (uint32_t)err;
    return false;
  }
  g_install.installing = true;
  return true;
}

bool install_step() {
  uint32_t count = g_package.entry_count;
  uint32_t start_percent = scale_down((uint32_t)g_install.entry_index + 1, 100, count);
  g_install.entry_index++;
  if (!g_install.next_entry || (uint32_t)g_install.entry_index >= count) return false;
  const FileEntry entry = file_entry(g_install.next_entry);
  g_install.next_entry = next_entry(entry.record);

  entry.set_status(STATUS_NONE);
  g_app.temp_path[0] = 0;
  bool in_use = resolve_destination(entry);
  const char* dest = g_app.destination_path;
  if (!dest[0]) { // the full path is too long for any file call
    g_install.error_code = PLACE_ERR_CREATE;
    text_copy_cut(g_app.error_file_name, PATH_SIZE, entry.target);
    log_entry(entry, entry.target, false);
    return false;
  }
  tell_current_file(dest);
  bool uninstaller = (entry.flags & ENTRY_UNINSTALLER) != 0;
  if (uninstaller) {
    text_copy(g_app.uninstaller_path, PATH_SIZE, dest);
    keep_earlier_log(dest);
  }
  uint32_t end_percent = scale_down((uint32_t)g_install.entry_index + 1, 100, count);

  g_install.placement = PLACEMENT_AS_STATUS;
  bool installed = entry.removal_mode() != REMOVAL_NOT_INSTALLED;
  bool placed = !installed || place_file(entry, dest, in_use, start_percent, end_percent);
  log_entry(entry, dest, placed);
  if (!placed) {
    if (g_app.temp_path[0]) delete_file(g_app.temp_path);
    return false;
  }
  if (installed) {
    if (uninstaller) entry.set_status(STATUS_NONE); // never logged as an installed file
    if (entry.destination != DEST_INSTALL_FOLDER && entry.shared_count == 1) count_shared_use(dest);
    if (entry.destination == DEST_FONT) register_font(dest);
    if (entry.special == SPECIAL_SCREEN_SAVER) g_install.screen_saver = entry.record;
    if (entry.special == SPECIAL_SELF_REGISTER) self_register(dest);
  }
  if (entry.end_action == END_OPEN_DOCUMENT) g_install.document = entry.record;
  if (entry.end_action == END_START_PROGRAM) g_install.program = entry.record;
  if (entry.desktop_name[0]) create_desktop_shortcut(dest, entry.desktop_name, entry.desktop_args);
  report_install_progress(end_percent);
  return true;
}

void finish_installation() {
  close_archive();
  keep_decoder_buffers(false);
  if (g_install.error_code == 0) {
    if (g_app.uninstaller_path[0])
      write_uninstall_log(g_app.uninstaller_path); // also makes the Start-menu shortcuts
    else
      create_start_menu_shortcuts();
    remove_trailing_backslash(g_app.install_folder);
    register_install_folder();
    apply_ini_list();
    apply_registry_list();
    apply_patch_list();
    close_uninstall_log(); // the value record and the end record
    append_backslash(g_app.install_folder, PATH_SIZE);
  }
  if (observer && observer->finished) observer->finished(observer->context);
  g_install.installing = false;
  g_install.finished = true;
}
