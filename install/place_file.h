// Putting one file entry in place: decide whether the file is needed at all,
// produce its content in a temporary file beside the destination (decoded
// from the archive, the uninstaller's prefix block plus its archive data, or
// a base entry's content with a patch applied), prove it by its checksum and
// swap it into place under the read-only and in-use rules. The outcome is
// the entry status (0, 23, 25 or 27; see package/file_entry.h), which the
// uninstall log and the finish page read.
//
// Errors are message numbers of string table 6, left in g_install.error_code
// with the path they name in g_app.error_file_name:
//   16 the temporary file cannot be opened again for its checksum (temporary path)
//   17 the temporary file cannot be created (temporary path; the destination when
//      no free temporary name fits the path buffer)
//   18 the archive cannot be read (archive path)
//   19 writing the temporary file failed (temporary path)
//   20 the disk is full while writing it (destination path)
//   21 the written data does not match the entry's checksum (destination path)
//   22 the destination could not be replaced (destination path)
//   31 an uninstaller entry in a package without a prefix block (package path)
// Codes 15 and 18 may also come from the archive reader; a patched entry
// (flags bit 4) may also fail with the errors of apply_patch (below),
// and with 21 naming the destination when its base file does not match the
// base entry's checksum.
#pragma once
#include <stdint.h>

#include "common/file.h"
#include "package/file_entry.h"
#include "package/script.h"

enum PlaceError {
  PLACE_ERR_REOPEN = MESSAGE_CANNOT_OPEN,
  PLACE_ERR_CREATE = MESSAGE_CANNOT_CREATE,
  PLACE_ERR_READ = MESSAGE_CANNOT_READ,
  PLACE_ERR_WRITE = MESSAGE_WRITE_FAILED,
  PLACE_ERR_DISK_FULL = MESSAGE_DISK_FULL,
  PLACE_ERR_CHECKSUM = MESSAGE_DAMAGED_FILE,
  PLACE_ERR_REPLACE = MESSAGE_IN_USE,
  PLACE_ERR_DAMAGED_PACKAGE = MESSAGE_DAMAGED_PACKAGE,
};

// Answers of handle_file_in_use.
enum InUseAnswer { IN_USE_ABORT = 3, IN_USE_RETRY = 4, IN_USE_IGNORE = 5 };

// Places `entry` at `destination` (a full path of fewer than 260 characters).
// `in_use` (set by resolve_destination for shared system files) makes an
// identical file count as not needed and a new file be scheduled for
// replacement at restart instead of swapped. True when placed or not needed,
// false on failure with the error code set. g_app.temp_path is left naming
// the temporary file, or empty when none was made; on failure the caller
// deletes it. The percents are for progress within an entry (patches only).
bool place_file(const FileEntry& entry, const char* destination, bool in_use,
                uint32_t start_percent, uint32_t end_percent);

// True: install; false: keep the file on disk. Asks questions 29 (the file on
// disk is newer) and 30 (its language differs) of table 6 when the entry asks
// for the comparisons and the file on disk has a version resource.
bool check_versions(const FileEntry& entry, const char* destination);

// Replaces `destination` by `temp`; sets the entry status (23 replaced, 25
// created, 27 not replaced). A read-only destination is replaced and the new
// file made read-only again.
void swap_into_place(const FileEntry& entry, const char* destination, const char* temp);

// The destination cannot be replaced: schedules the replacement at restart
// (Windows folder and shared system files), keeps a font, or asks question 22
// (Abort/Retry/Ignore) unless the file in place is identical; with
// g_install.schedule_in_use set, schedules the file instead of asking.
// Deletes `temp` unless the answer is Retry (or the file is scheduled);
// Ignore sets status 23. g_install.placement tells which happened.
InUseAnswer handle_file_in_use(const FileEntry& entry, const char* destination, const char* temp);

// The temporary name beside `destination`: its extension replaced by ".$$A",
// the last letter raised while a file of that name exists (up to ".$$Z"),
// each such file named for deletion at the next start of Windows. False
// when no name is free or it does not fit `cap`.
bool make_temp_name(char* temp, uint32_t cap, const char* destination);

// Platform layer of file placement (place_file_win.cpp, place_file_posix.cpp).
enum ReplaceResult { REPLACE_OK = 0, REPLACE_IN_USE = 1, REPLACE_FAILED = 2 };
// Moves `temp` over `destination` in one step (replacing it when present); on
// the Windows 95 family (g_app.platform_nt false) the destination is deleted
// first, then `temp` renamed.
ReplaceResult replace_file(const char* temp, const char* destination);
bool path_exists(const char* path);
bool is_read_only(const char* path);
void set_read_only(const char* path, bool read_only);
bool delete_file(const char* path);
// Sets creation, last access and last write time (three FILETIME values).
void set_file_times(FileHandle file, const uint8_t* times);

// Patched entries (place_patched.cpp).
// The patched file's name beside the base file: its extension replaced by
// ".$AA", the last letter raised while a file of that name exists (up to
// ".$AZ"). False when no name is free or it does not fit `cap`.
bool make_patched_name(char* name, uint32_t cap, const char* base_path);

// Applies the patch of `entry` (decode/patch.h) to the file at `base_path`
// (the base entry's content, already proven by its checksum) and leaves the
// result under `base_path`, replacing the base file in one step. The result
// gets the entry's file times and is proven by the entry's checksum; progress
// goes to the install observer. Returns true, or false with
// g_install.error_code and g_app.error_file_name set:
//   12 no memory; 15/18 from the archive (archive path); 16 the base or the
//   patched file cannot be opened (that file); 17 the patched file cannot be
//   created (its name); 18 malformed patch or unreadable base (destination);
//   19 a write failed (the patched file; the base path when the result
//   cannot replace the base file); 20 disk full; 21 the result does not match
//   the entry's checksum (destination).
// On failure the patched file is deleted and the base file is left.
bool apply_patch(const FileEntry& entry, const char* base_path, const char* destination,
                 uint32_t start_percent, uint32_t end_percent);
