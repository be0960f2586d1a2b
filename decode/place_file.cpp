// File placement: the portable rules. The platform layer (replace_file and
// the attribute helpers) lives in place_file_win.cpp and place_file_posix.cpp.
//
// The swap is one atomic move of the temporary file over the destination
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING on Windows NT, rename
// elsewhere) instead of deleting the old file and renaming the new one: there
// is no moment at which the destination is missing, and a failing move leaves
// the old file as it was. The Windows 95 family lacks that move and deletes,
// then renames. A destination that is in use makes the move fail the way its
// deletion would, so the in-use questions are asked at the same point. A move
// that fails for any other reason sets status 27, which place_file reports as
// error 22 naming the destination (a failed rename is never counted as a
// success).
#include "decode/place_file.h"

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "decode/patch.h"
#include "decode/stream_decoder.h"
#include "install/install.h"
#include "install/restart.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"

namespace {

void set_error(uint32_t code, const char* path) {
  g_install.error_code = code;
  if (path) text_copy_cut(g_app.error_file_name, PATH_SIZE, path);
}

// True when the file at `path` has the entry's size and checksum.
bool identical_to_entry(const char* path, const uint8_t* entry) {
  FileHandle f = file_open(path, FILE_READ);
  if (f == INVALID_FILE) return false;
  bool same = file_size(f) == entry_file_size(entry) && file_checksum(f) == entry_checksum(entry);
  file_close(f);
  return same;
}

// Checksum of the file just written; 1 when it matches the entry's.
int prove_checksum(const uint8_t* entry, const char* destination, const char* temp) {
  FileHandle f = file_open(temp, FILE_READ);
  if (f == INVALID_FILE) {
    set_error(PLACE_ERR_REOPEN, temp);
    return 0;
  }
  uint32_t sum = file_checksum(f);
  file_close(f);
  if (sum != entry_checksum(entry)) {
    set_error(PLACE_ERR_CHECKSUM, destination);
    return 0;
  }
  return 1;
}

// Writing `temp` (beside `destination`) failed: 20 naming the destination
// when the disk is full, else 19 naming the file being written.
void set_write_error(int file_result, const char* destination, const char* temp) {
  if (file_result == FILE_SHORT_WRITE)
    set_error(PLACE_ERR_DISK_FULL, destination);
  else
    set_error(PLACE_ERR_WRITE, temp);
}

// Decodes the entry's archive data into the open file `out` (the temporary
// file `temp` beside `destination`). The archive reader sets its own error
// file name for 15 and 18.
int decode_entry(const uint8_t* entry, FileHandle out, const char* destination, const char* temp) {
  int err = SeekArchive(entry_archive_position(entry));
  if (err) {
    g_install.error_code = (uint32_t)err;
    return 0;
  }
  g_archive.error = 0;
  StreamDecoder decoder;
  FileSink sink(out);
  if (decoder.Decode(&sink, g_archive.handle, entry_packed_size(entry)) == DECODE_OK) return 1;
  // A write that failed (a full disk) and an archive that failed under the
  // decoder (a volume missing, or the user gave up at the disk prompt) are
  // the errors to report; a damaged stream is left to the checksum.
  if (sink.write_result() != FILE_OK)
    set_write_error(sink.write_result(), destination, temp);
  else if (g_archive.error)
    g_install.error_code = (uint32_t)g_archive.error;
  return 0;
}

// The uninstaller: the package's prefix block followed by the entry's own
// archive data. Its content has no checksum of its own, so here the decoder's
// result is what tells a damaged stream.
int fill_uninstaller(const uint8_t* entry, FileHandle out, const char* destination,
                     const char* temp) {
  int w = file_write_exact(out, g_package.prefix.data, g_package.prefix.size);
  if (w != FILE_OK) {
    set_write_error(w, destination, temp);
    return 0;
  }
  uint32_t before = g_install.error_code;
  if (!decode_entry(entry, out, destination, temp)) {
    if (g_install.error_code == before) set_error(PLACE_ERR_READ, g_app.archive_path);
    return 0;
  }
  return 1;
}

// A patched file: the base entry's content is decoded into the temporary
// file and proven by the base entry's checksum (the patch is not attempted
// on a wrong base), then the patch turns it into the entry's file under the
// same name. Closes `out`.
int fill_patched(const uint8_t* entry, FileHandle out, const char* destination, const char* temp,
                 uint32_t start_percent, uint32_t end_percent) {
  const uint8_t* base = find_file_entry(entry_base_block(entry), entry_base_entry(entry));
  if (!base) { // the loader refuses such packages; a stale list must not crash
    file_close(out);
    set_error(PLACE_ERR_DAMAGED_PACKAGE, g_app.package_path);
    return 0;
  }
  bool ok = decode_entry(base, out, destination, temp) || g_install.error_code == 0;
  file_close(out);
  if (!ok || !prove_checksum(base, destination, temp)) return 0;
  return apply_patch(entry, temp, destination, start_percent, end_percent);
}

} // namespace

bool make_temp_name(char* temp, uint32_t cap, const char* destination) {
  if (!text_copy(temp, cap, destination) || !replace_extension(temp, cap, ".$$A")) return false;
  char* last = temp + text_length(temp) - 1;
  for (;;) {
    FileHandle f = file_open(temp, FILE_READ);
    if (f == INVALID_FILE) return true;
    file_close(f);
    if (*last == 'Z') return false; // .$$A to .$$Z are all taken
    ++*last;
  }
}

int place_file(uint8_t* entry, const char* destination, bool in_use, uint32_t start_percent,
               uint32_t end_percent) {
  g_install.error_code = 0;
  g_app.temp_path[0] = 0;

  bool needed = true;
  if (in_use && identical_to_entry(destination, entry)) needed = false;
  if (needed && (entry_flags(entry) & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST)))
    needed = check_versions(entry, destination) != 0;
  if (!needed) return 1;

  uint8_t flags = entry_flags(entry);
  if ((flags & ENTRY_UNINSTALLER) && !(flags & ENTRY_PATCH) &&
      (!g_package.prefix.data || g_package.prefix.size == 0)) {
    // The uninstaller is the prefix block plus its data; without the block
    // the file would be useless, so the package counts as damaged.
    set_error(PLACE_ERR_DAMAGED_PACKAGE, g_app.package_path);
    return 0;
  }

  create_folders_of_path(destination); // a missing folder shows when the file is created

  char* temp = g_app.temp_path;
  if (!make_temp_name(temp, PATH_SIZE, destination)) {
    temp[0] = 0;
    set_error(PLACE_ERR_CREATE, destination);
    return 0;
  }
  FileHandle out = file_create(temp);
  if (out == INVALID_FILE) {
    set_error(PLACE_ERR_CREATE, temp);
    return 0;
  }
  if (flags & ENTRY_PATCH) {
    if (!fill_patched(entry, out, destination, temp, start_percent, end_percent)) return 0;
  } else if (flags & ENTRY_UNINSTALLER) {
    int ok = fill_uninstaller(entry, out, destination, temp);
    file_close(out);
    if (!ok) return 0;
  } else {
    // A seek or write failure ends here; a damaged stream is caught by the
    // checksum.
    bool ok = decode_entry(entry, out, destination, temp) || g_install.error_code == 0;
    if (ok && (flags & ENTRY_FILE_TIMES)) set_file_times(out, entry_file_times(entry));
    file_close(out);
    if (!ok || !prove_checksum(entry, destination, temp)) return 0;
  }

  if (in_use) {
    schedule_replacement(destination, temp);
    g_install.restart_needed = true;
  } else {
    swap_into_place(entry, destination, temp);
  }
  if (entry_status(entry) == STATUS_FAILED) {
    set_error(PLACE_ERR_REPLACE, destination);
    return 0;
  }
  return 1;
}

void swap_into_place(uint8_t* entry, const char* destination, const char* temp) {
  set_entry_status(entry, STATUS_FAILED);
  for (;;) {
    bool existed = path_exists(destination);
    bool read_only = existed && is_read_only(destination);
    if (read_only) set_read_only(destination, false);
    int r = replace_file(temp, destination);
    if (r == REPLACE_OK) {
      if (read_only) set_read_only(destination, true);
      set_entry_status(entry, existed ? STATUS_REPLACED : STATUS_CREATED);
      return;
    }
    if (read_only) set_read_only(destination, true); // the old file stays as it was
    if (r != REPLACE_IN_USE) return;
    if (handle_file_in_use(entry, destination, temp) != IN_USE_RETRY) return;
  }
}

int handle_file_in_use(uint8_t* entry, const char* destination, const char* temp) {
  uint8_t kind = entry_destination(entry);
  if (kind == DEST_WINDOWS || kind == DEST_SHARED_SYSTEM) {
    schedule_replacement(destination, temp);
    g_install.restart_needed = true;
    set_entry_status(entry, STATUS_REPLACED);
    return IN_USE_IGNORE;
  }
  int answer = IN_USE_IGNORE; // a font in use is kept; so is an identical file
  if (kind != DEST_FONT && !identical_to_entry(destination, entry)) {
    char* text = (char*)heap_alloc(1024);
    if (text) {
      text_copy_cut(g_app.error_file_name, PATH_SIZE, destination);
      format_message(text, 1024, PLACE_ERR_REPLACE);
      int r = show_message(text, MSG_ABORTRETRYIGNORE);
      heap_free(text);
      answer = r == ANSWER_RETRY ? IN_USE_RETRY : r == ANSWER_IGNORE ? IN_USE_IGNORE : IN_USE_ABORT;
    }
  }
  if (answer != IN_USE_RETRY) {
    delete_file(temp);
    if (temp == g_app.temp_path) g_app.temp_path[0] = 0;
  }
  if (answer == IN_USE_IGNORE) set_entry_status(entry, STATUS_REPLACED);
  return answer;
}
