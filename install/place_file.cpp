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
#include "install/place_file.h"

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/checksum.h"
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
bool identical_to_entry(const char* path, const FileEntry& entry) {
  FileHandle f = file_open(path, FILE_READ);
  if (f == INVALID_FILE) return false;
  bool same = file_size(f) == entry.file_size && file_checksum(f) == entry.checksum;
  file_close(f);
  return same;
}

// The checksum of the bytes written to the file (each write reported whole);
// true when it matches the entry's.
bool prove_checksum(const FileEntry& entry, const char* destination,
                    const RunningChecksum& written) {
  if (written.Value() != entry.checksum) {
    set_error(PLACE_ERR_CHECKSUM, destination);
    return false;
  }
  return true;
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
// file `temp` beside `destination`), keeping the checksum of what was written
// in `written` when given. The archive reader sets its own error file name
// for 15 and 18.
bool decode_entry(const FileEntry& entry, FileHandle out, const char* destination, const char* temp,
                  RunningChecksum* written = nullptr) {
  int err = SeekArchive(entry.archive_position);
  if (err) {
    g_install.error_code = (uint32_t)err;
    return false;
  }
  StreamDecoder decoder;
  FileSink sink(out, written);
  ArchiveSource archive;
  if (decoder.Decode(&sink, &archive, entry.packed_size) == DECODE_OK) return true;
  // A write that failed (a full disk) and an archive that failed under the
  // decoder (a volume missing, or the user gave up at the disk prompt) are
  // the errors to report; a damaged stream is left to the checksum.
  if (sink.write_result() != FILE_OK)
    set_write_error(sink.write_result(), destination, temp);
  else if (g_archive.error)
    g_install.error_code = (uint32_t)g_archive.error;
  return false;
}

// The uninstaller: the package's prefix block followed by the entry's own
// archive data. Its content has no checksum of its own, so here the decoder's
// result is what tells a damaged stream.
bool fill_uninstaller(const FileEntry& entry, FileHandle out, const char* destination,
                      const char* temp) {
  int w = file_write_exact(out, g_package.prefix.data, g_package.prefix.size);
  if (w != FILE_OK) {
    set_write_error(w, destination, temp);
    return false;
  }
  uint32_t before = g_install.error_code;
  if (!decode_entry(entry, out, destination, temp)) {
    if (g_install.error_code == before) set_error(PLACE_ERR_READ, g_app.archive_path);
    return false;
  }
  return true;
}

// A patched file: the base entry's content is decoded into the temporary
// file and proven by the base entry's checksum (the patch is not attempted
// on a wrong base), then the patch turns it into the entry's file under the
// same name. Closes `out`.
bool fill_patched(const FileEntry& entry, FileHandle out, const char* destination, const char* temp,
                  uint32_t start_percent, uint32_t end_percent) {
  uint8_t* base_record = find_file_entry(entry.base_block, entry.base_entry);
  if (!base_record) { // the loader refuses such packages; a stale list must not crash
    file_close(out);
    set_error(PLACE_ERR_DAMAGED_PACKAGE, g_app.package_path);
    return false;
  }
  const FileEntry base = file_entry(base_record);
  RunningChecksum written;
  bool ok = decode_entry(base, out, destination, temp, &written) || g_install.error_code == 0;
  file_close(out);
  if (!ok || !prove_checksum(base, destination, written)) return false;
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
    // Left by a run that ended while it wrote the file (or waiting to
    // replace it at the next start of Windows, which a deletion scheduled
    // behind that replacement does not disturb): it goes at the next start.
    schedule_replacement(nullptr, temp);
    if (*last == 'Z') return false; // .$$A to .$$Z are all taken
    ++*last;
  }
}

bool place_file(const FileEntry& entry, const char* destination, bool in_use,
                uint32_t start_percent, uint32_t end_percent) {
  g_install.error_code = 0;
  g_install.placement = PLACEMENT_AS_STATUS;
  g_app.temp_path[0] = 0;

  bool needed = true;
  if (in_use && identical_to_entry(destination, entry)) needed = false;
  if (needed && (entry.flags & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST)))
    needed = check_versions(entry, destination);
  if (!needed) return true;

  uint8_t flags = entry.flags;
  if ((flags & ENTRY_UNINSTALLER) && !(flags & ENTRY_PATCH) &&
      (!g_package.prefix.data || g_package.prefix.size == 0)) {
    // The uninstaller is the prefix block plus its data; without the block
    // the file would be useless, so the package counts as damaged.
    set_error(PLACE_ERR_DAMAGED_PACKAGE, g_app.package_path);
    return false;
  }

  ready_folders_of_file(destination); // a missing folder shows when the file is created

  char* temp = g_app.temp_path;
  if (!make_temp_name(temp, PATH_SIZE, destination)) {
    temp[0] = 0;
    set_error(PLACE_ERR_CREATE, destination);
    return false;
  }
  FileHandle out = file_create(temp);
  if (out == INVALID_FILE) {
    set_error(PLACE_ERR_CREATE, temp);
    return false;
  }
  if (flags & ENTRY_PATCH) {
    if (!fill_patched(entry, out, destination, temp, start_percent, end_percent)) return false;
  } else if (flags & ENTRY_UNINSTALLER) {
    bool ok = fill_uninstaller(entry, out, destination, temp);
    file_close(out);
    if (!ok) return false;
  } else {
    // A seek or write failure ends here; a damaged stream is caught by the
    // checksum.
    RunningChecksum written;
    bool ok = decode_entry(entry, out, destination, temp, &written) || g_install.error_code == 0;
    if (ok && (flags & ENTRY_FILE_TIMES)) set_file_times(out, entry.file_times);
    file_close(out);
    if (!ok || !prove_checksum(entry, destination, written)) return false;
  }

  if (in_use) {
    schedule_replacement(destination, temp);
    g_install.restart_needed = true;
    g_install.placement = PLACEMENT_SCHEDULED;
  } else {
    swap_into_place(entry, destination, temp);
  }
  if (entry.status() == STATUS_FAILED) {
    set_error(PLACE_ERR_REPLACE, destination);
    return false;
  }
  return true;
}

void swap_into_place(const FileEntry& entry, const char* destination, const char* temp) {
  entry.set_status(STATUS_FAILED);
  for (;;) {
    bool existed = path_exists(destination);
    bool read_only = existed && is_read_only(destination);
    if (read_only) set_read_only(destination, false);
    ReplaceResult r = replace_file(temp, destination);
    if (r == REPLACE_OK) {
      if (read_only) set_read_only(destination, true);
      entry.set_status(existed ? STATUS_REPLACED : STATUS_CREATED);
      return;
    }
    if (read_only) set_read_only(destination, true); // the old file stays as it was
    if (r != REPLACE_IN_USE) return;
    if (handle_file_in_use(entry, destination, temp) != IN_USE_RETRY) return;
  }
}

InUseAnswer handle_file_in_use(const FileEntry& entry, const char* destination, const char* temp) {
  uint8_t kind = entry.destination;
  // A font in use is kept; so is an identical file. Any other file is asked
  // about, or in an unattended run replaced at restart like a system file.
  bool ask = kind != DEST_WINDOWS && kind != DEST_SHARED_SYSTEM && kind != DEST_FONT &&
             !identical_to_entry(destination, entry);
  if (kind == DEST_WINDOWS || kind == DEST_SHARED_SYSTEM || (ask && g_install.schedule_in_use)) {
    schedule_replacement(destination, temp);
    g_install.restart_needed = true;
    g_install.placement = PLACEMENT_SCHEDULED;
    entry.set_status(STATUS_REPLACED);
    return IN_USE_IGNORE;
  }
  InUseAnswer answer = IN_USE_IGNORE;
  if (ask) {
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
  if (answer == IN_USE_IGNORE) {
    entry.set_status(STATUS_REPLACED);
    g_install.placement = PLACEMENT_KEPT;
  }
  return answer;
}
