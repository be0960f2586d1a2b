// Removing the uninstaller's own file, which its running process cannot do.
#include "common/file.h"
#include "common/heap.h"
#include "common/text.h"
#include "uninstall/uninstall.h"

namespace {

// How long the copy waits for the original process to end.
const DWORD ORIGINAL_WAIT_MS = 10000;

// The folder part of a file path (no trailing backslash but at a root).
void folder_of(const char* path, char* out) {
  text_copy_cut(out, MAX_PATH, path);
  char* last = (char*)last_separator(out);
  if (!last) {
    out[0] = 0;
    return;
  }
  last[last - out == 2 && out[1] == ':' ? 1 : 0] = 0;
}

// The copy and the original share the image: the copy deletes nothing but a
// file that begins with its own bytes and carries more behind them (the log).
enum Original { ORIGINAL_OURS, ORIGINAL_FOREIGN, ORIGINAL_UNREADABLE };

Original check_original(const char* original, const uint8_t* image, uint32_t image_size) {
  FileHandle f = file_open(original, FILE_READ);
  if (f == INVALID_FILE) return ORIGINAL_UNREADABLE;
  Original result = ORIGINAL_FOREIGN;
  uint32_t size = file_size(f);
  uint8_t* head = nullptr;
  if (size == FILE_BAD_POSITION) {
    result = ORIGINAL_UNREADABLE;
  } else if (size > image_size && (head = (uint8_t*)heap_alloc(image_size)) != nullptr) {
    if (file_read_exact(f, head, image_size) != FILE_OK) {
      result = ORIGINAL_UNREADABLE;
    } else {
      bool same = true;
      for (uint32_t i = 0; i < image_size && same; i++) same = head[i] == image[i];
      if (same) result = ORIGINAL_OURS;
    }
    heap_free(head);
  }
  file_close(f);
  return result;
}

void schedule_folder_removal(const char* folder) {
  if (folder[0] && !is_protected_folder(folder))
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

} // namespace

void remove_self(const char* own_path, const uint8_t* image, uint32_t image_size) {
  char temp[MAX_PATH], copy[MAX_PATH + 16], command[3 * MAX_PATH], folder[MAX_PATH];
  bool started = false;
  DWORD n = GetTempPathA(MAX_PATH, temp);
  if (n && n < MAX_PATH && append_backslash(temp, MAX_PATH)) {
    for (int i = 0; i < 1000; i++) {
      wsprintfA(copy, "%s_unin%d.exe", temp, i);
      HANDLE f = CreateFileA(copy, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
      if (f == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS) continue;
        break;
      }
      // The image alone: a copy without the log refuses to uninstall
      // anything should it ever be started by hand.
      bool written = file_write_exact(f, image, image_size) == FILE_OK;
      CloseHandle(f);
      if (written && text_length(copy) + text_length(own_path) + 12 < sizeof command) {
        wsprintfA(command, "\"%s\" /R \"%s\"", copy, own_path);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        // The copy's current folder is the temporary folder, so that it
        // holds no handle on the install folder it is going to remove.
        started = CreateProcessA(copy, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL,
                                 temp, &startup, &process) != 0;
        if (started) {
          CloseHandle(process.hThread);
          CloseHandle(process.hProcess);
        }
      }
      if (!started) DeleteFileA(copy);
      break;
    }
  }
  if (started) return;
  MoveFileExA(own_path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  folder_of(own_path, folder);
  schedule_folder_removal(folder);
}

int finish_self_removal(const char* original) {
  char own[MAX_PATH], folder[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, own, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || same_file(own, original)) return UNINSTALL_NO_LOG;
  uint32_t image_size = 0;
  uint8_t* image = read_whole_file(own, &image_size);
  if (!image) return UNINSTALL_NO_LOG;

  // The original process may still be ending: until its file can be read
  // and deleted, try again for a while.
  Original original_is = ORIGINAL_UNREADABLE;
  bool deleted = false;
  DWORD start = GetTickCount();
  for (;;) {
    if (original_is == ORIGINAL_UNREADABLE)
      original_is = check_original(original, image, image_size);
    if (original_is == ORIGINAL_FOREIGN) break;
    if (original_is == ORIGINAL_OURS && DeleteFileA(original)) {
      deleted = true;
      break;
    }
    if (GetFileAttributesA(original) == INVALID_FILE_ATTRIBUTES) break; // gone, or never there
    if (GetTickCount() - start > ORIGINAL_WAIT_MS) break;
    Sleep(100);
  }
  heap_free(image);

  load_protected_folders();
  folder_of(original, folder);
  if (deleted) {
    remove_empty_folders(folder, nullptr);
  } else if (original_is == ORIGINAL_OURS) {
    MoveFileExA(original, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    schedule_folder_removal(folder);
  }
  release_protected_folders();
  MoveFileExA(own, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  return original_is == ORIGINAL_OURS ? UNINSTALL_DONE : UNINSTALL_NO_LOG;
}
