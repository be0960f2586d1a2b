// File placement on Windows: the swap (one atomic move on Windows NT, delete
// and rename on the Windows 95 family), file attributes, file times and the
// version comparison with the file on disk.
#include <windows.h>

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/place_file.h"
#include "package/file_entry.h"
#include "package/script.h"

namespace {

// What a delete of a locked or protected file reports: the file is in use.
ReplaceResult failure_of(DWORD err) {
  if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)
    return REPLACE_IN_USE;
  return REPLACE_FAILED;
}

} // namespace

ReplaceResult replace_file(const char* temp, const char* destination) {
  if (g_app.platform_nt) {
    if (MoveFileExA(temp, destination, MOVEFILE_REPLACE_EXISTING)) return REPLACE_OK;
    return failure_of(GetLastError());
  }
  // The Windows 95 family has no MoveFileExA (the call only fails there):
  // the old file is deleted, then the new one renamed into its place.
  if (!DeleteFileA(destination)) {
    DWORD err = GetLastError();
    if (err != ERROR_FILE_NOT_FOUND) return failure_of(err);
  }
  return MoveFileA(temp, destination) ? REPLACE_OK : REPLACE_FAILED;
}

bool path_exists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool is_read_only(const char* path) {
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

void set_read_only(const char* path, bool read_only) {
  DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) return;
  DWORD b = read_only ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  if (b != a) SetFileAttributesA(path, b);
}

bool delete_file(const char* path) {
  return DeleteFileA(path) != 0;
}

void set_file_times(FileHandle file, const uint8_t* times) {
  FILETIME t[3];
  for (int i = 0; i < 3; i++) {
    t[i].dwLowDateTime = read_u32(times + 8 * i);
    t[i].dwHighDateTime = read_u32(times + 8 * i + 4);
  }
  SetFileTime(file, &t[0], &t[1], &t[2]);
}

namespace {

// Asks question `number` of table 6 about `destination`; true for Yes.
bool ask_replace(Message question, const char* destination, char* message) {
  format_text(message, 2048, get_message(question), text_arg(destination));
  return show_message(message, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

// True when the version on disk is newer: the product version decides, the
// file version breaks a tie.
bool disk_is_newer(const VS_FIXEDFILEINFO* disk, const uint8_t* block) {
  uint32_t file_ms = read_u32(block), file_ls = read_u32(block + 4);
  uint32_t product_ms = read_u32(block + 8), product_ls = read_u32(block + 12);
  if (disk->dwProductVersionMS != product_ms) return disk->dwProductVersionMS > product_ms;
  if (disk->dwProductVersionLS != product_ls) return disk->dwProductVersionLS > product_ls;
  if (disk->dwFileVersionMS != file_ms) return disk->dwFileVersionMS > file_ms;
  return disk->dwFileVersionLS > file_ls;
}

} // namespace

bool check_versions(const FileEntry& entry, const char* destination) {
  const uint8_t* block = entry.version_block;
  if (!block) return true;
  char* message = (char*)heap_alloc(2048);
  if (!message) return true;
  bool result = true;
  DWORD ignored = 0;
  DWORD n = GetFileVersionInfoSizeA(destination, &ignored);
  void* info = n ? heap_alloc(n) : nullptr;
  if (info && GetFileVersionInfoA(destination, 0, n, info)) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if ((entry.flags & ENTRY_VERSION_TEST) && VerQueryValueA(info, "\\", (void**)&fixed, &length) &&
        fixed && length >= sizeof(VS_FIXEDFILEINFO) && disk_is_newer(fixed, block) &&
        !ask_replace(MESSAGE_NEWER_ON_DISK, destination, message))
      result = false;
    WORD* translation = nullptr;
    if (result && (entry.flags & ENTRY_LANGUAGE_TEST) &&
        VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &length) &&
        translation && length >= 2 && (uint32_t)translation[0] != read_u32(block + 16) &&
        !ask_replace(MESSAGE_OTHER_LANGUAGE, destination, message))
      result = false;
  }
  if (info) heap_free(info);
  heap_free(message);
  return result;
}
