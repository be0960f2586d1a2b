// Placing a patched file: the patch of an entry read from the archive and
// applied to its base file (already decoded and proven), the result proven by
// the entry's checksum and moved over the base file in one step.
#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "decode/patch.h"
#include "install/install.h"
#include "install/place_file.h"
#include "package/file_entry.h"

namespace {

void name_error_file(const char* path) {
  if (g_app.error_file_name && path) text_copy_cut(g_app.error_file_name, PATH_SIZE, path);
}

} // namespace

bool make_patched_name(char* name, uint32_t cap, const char* base_path) {
  if (!text_copy(name, cap, base_path) || !replace_extension(name, cap, ".$AA")) return false;
  char* last = name + text_length(name) - 1;
  for (;;) {
    FileHandle f = file_open(name, FILE_READ);
    if (f == INVALID_FILE) return true;
    file_close(f);
    if (*last == 'Z') return false;
    ++*last;
  }
}

bool apply_patch(const FileEntry& entry, const char* base_path, const char* destination,
                 uint32_t start_percent, uint32_t end_percent) {
  // A failed seek would leave the reads at some other place of the archive.
  int err = SeekArchive(entry.archive_position);
  if (err) {
    g_install.error_code = (uint32_t)err;
    return false;
  }
  FileHandle base = file_open(base_path, FILE_READ);
  if (base == INVALID_FILE) {
    g_install.error_code = PATCH_ERR_OPEN;
    name_error_file(base_path);
    return false;
  }
  char patched[PATH_SIZE];
  if (!make_patched_name(patched, sizeof patched, base_path)) {
    file_close(base);
    g_install.error_code = PATCH_ERR_CREATE;
    name_error_file(base_path);
    return false;
  }
  FileHandle out = file_create(patched);
  if (out == INVALID_FILE) {
    file_close(base);
    g_install.error_code = PATCH_ERR_CREATE;
    name_error_file(patched);
    return false;
  }

  uint8_t *commands = nullptr, *data = nullptr;
  uint32_t command_size = 0, data_size = 0;
  err = read_archive_blob(&commands, &command_size);
  if (!err) err = read_archive_blob(&data, &data_size);
  if (!err) {
    PatchStreams streams = {commands, command_size, data, data_size};
    PatchProgress progress = {start_percent, end_percent, entry.file_size, report_install_progress};
    err = run_patch(streams, base, out, progress);
    // As for a file decoded in full: a full disk names the destination.
    if (err == PATCH_ERR_READ || err == PATCH_ERR_DISK_FULL) name_error_file(destination);
    if (err == PATCH_ERR_WRITE) name_error_file(patched);
  }
  free_and_clear(commands);
  free_and_clear(data);
  file_close(base);
  if (!err && (entry.flags & ENTRY_FILE_TIMES)) set_file_times(out, entry.file_times);
  file_close(out);

  if (!err) {
    FileHandle check = file_open(patched, FILE_READ);
    if (check == INVALID_FILE) {
      err = PATCH_ERR_OPEN;
      name_error_file(patched);
    } else {
      uint32_t sum = file_checksum(check);
      file_close(check);
      if (sum != entry.checksum) {
        err = PATCH_ERR_CHECKSUM;
        name_error_file(destination);
      }
    }
  }
  // One move puts the result in place of the base file: there is no moment
  // without a file under the base path, and a failed move is reported.
  if (!err && replace_file(patched, base_path) != REPLACE_OK) {
    err = PATCH_ERR_WRITE;
    name_error_file(base_path);
  }
  if (err) {
    delete_file(patched);
    g_install.error_code = (uint32_t)err;
    return false;
  }
  return true;
}
