#include "decode/archive.h"

#include "common/package_format.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/checksum.h"

ArchiveState g_archive = {INVALID_FILE, 0, 0, 0, 0, 0, false, 0, 0, nullptr, 0};

namespace {

DiskRequest disk_request = nullptr;
void* disk_request_context = nullptr;

// A volume whose size word cannot be read is opened again this many times
// before it counts as missing.
const int SIZE_WORD_ATTEMPTS = 3;

void set_error_file_name() {
  if (g_app.error_file_name && g_app.archive_path)
    text_copy_cut(g_app.error_file_name, PATH_SIZE, g_app.archive_path);
}

// Puts the path of the current volume into g_app.archive_path: the package
// file for volume 0, else the package file's name with the volume extension
// (VOLUME_EXTENSION_FORMAT). False when it does not fit.
bool name_volume() {
  if (!g_app.archive_path || !g_app.package_path) return false;
  if (g_archive.volume == 0) return text_copy(g_app.archive_path, PATH_SIZE, g_app.package_path);
  char ext[16];
  format_text(ext, sizeof ext, VOLUME_EXTENSION_FORMAT, number_arg((long)g_archive.volume));
  return replace_extension(g_app.archive_path, PATH_SIZE, ext);
}

// File position of the current volume's size word.
uint32_t size_word_position() {
  return g_archive.volume == 0 ? g_archive.archive_offset : 0;
}

// The current volume file (of `size` data bytes by its size word) is the one
// the integrity record describes. Reads the whole file.
bool volume_matches(FileHandle h, uint32_t size) {
  if (!g_archive.volume_checks || g_archive.volume == 0) return true;
  if (g_archive.volume > g_archive.volume_check_count) return false;
  const uint8_t* e = g_archive.volume_checks + INTEGRITY_VOLUME_SIZE * (g_archive.volume - 1);
  uint32_t crc = 0;
  return read_u32(e) == size && size <= FILE_BAD_POSITION - 5 && file_size(h) == size + 4 &&
         file_seek_to(h, 0) == 0 && file_crc32(h, size + 4, &crc) && crc == read_u32(e + 4);
}

FileHandle fail_volume(int error) {
  g_archive.volume_size = 0;
  g_archive.bytes_left = 0;
  g_archive.volume_pending = true;
  g_archive.error = error;
  if (error == 18) set_error_file_name();
  return INVALID_FILE;
}

} // namespace

void set_disk_request(DiskRequest request, void* context) {
  disk_request = request;
  disk_request_context = context;
}

void set_volume_checks(const uint8_t* list, uint32_t count) {
  g_archive.volume_checks = list;
  g_archive.volume_check_count = count;
}

void set_archive_location(uint32_t offset, uint32_t size) {
  g_archive.archive_offset = offset;
  g_archive.archive_size = size;
  g_archive.volume_size = size;
  g_archive.bytes_left = (int32_t)size;
  g_archive.bytes_done = 0;
}

int open_archive() {
  close_archive();
  g_archive.volume = 0;
  g_archive.bytes_done = 0;
  g_archive.volume_size = 0;
  g_archive.bytes_left = 0;
  g_archive.volume_pending = false;
  g_archive.error = 0;
  if (!name_volume()) return 16;
  FileHandle h = file_open(g_app.archive_path, FILE_READ);
  uint64_t data = (uint64_t)g_archive.archive_offset + 4;
  if (h == INVALID_FILE || data >= FILE_BAD_POSITION ||
      file_seek_to(h, (uint32_t)data) != (uint32_t)data) {
    file_close(h);
    set_error_file_name();
    return 16;
  }
  g_archive.handle = h;
  g_archive.volume_size = g_archive.archive_size;
  g_archive.bytes_left = (int32_t)g_archive.volume_size;
  return 0;
}

void close_archive() {
  file_close(g_archive.handle);
  g_archive.handle = INVALID_FILE;
}

FileHandle NextVolume() {
  close_archive();
  uint32_t resume = 0;
  if (g_archive.volume_pending) {
    // The last change to this volume failed: open it again from its start.
  } else if (g_archive.bytes_left != 0) {
    // Cut short (a read error, a removed disk): reopen at the read position.
    resume = g_archive.volume_size - (uint32_t)g_archive.bytes_left;
  } else {
    g_archive.volume++;
    g_archive.bytes_done += g_archive.volume_size;
  }
  g_archive.volume_size = 0;
  g_archive.bytes_left = 0;
  g_archive.volume_pending = true;

  int size_failures = 0;
  for (;;) {
    bool named = name_volume();
    FileHandle h = named ? file_open(g_app.archive_path, FILE_READ) : INVALID_FILE;
    if (h != INVALID_FILE) {
      uint32_t at = size_word_position();
      uint8_t word[4] = {0, 0, 0, 0};
      bool read = file_seek_to(h, at) == at && file_read_exact(h, word, 4) == FILE_OK;
      uint32_t size = read_u32(word);
      if (read && volume_matches(h, size)) {
        uint32_t target = at + 4 + resume;
        if (resume > size || target < resume || file_seek_to(h, target) != target) {
          file_close(h);
          return fail_volume(18);
        }
        g_archive.handle = h;
        g_archive.volume_size = size;
        g_archive.bytes_left = (int32_t)(size - resume);
        g_archive.volume_pending = false;
        g_archive.error = 0;
        return h;
      }
      file_close(h);
      // A damaged volume is not read again: it counts as missing at once.
      if (!read && ++size_failures < SIZE_WORD_ATTEMPTS) continue;
    }
    // Missing (or unreadable) volume.
    if (!named || !g_app.temp_copy || !disk_request) return fail_volume(18);
    if (!disk_request(g_archive.volume + 1, disk_request_context)) return fail_volume(15);
    size_failures = 0;
  }
}

int SeekArchive(uint32_t position) {
  while ((uint64_t)position >= (uint64_t)g_archive.bytes_done + g_archive.volume_size) {
    g_archive.bytes_left = 0;
    if (NextVolume() == INVALID_FILE) return g_archive.error;
  }
  if (position < g_archive.bytes_done || g_archive.handle == INVALID_FILE) {
    // Behind the current volume (the archive is read forward) or not open.
    set_error_file_name();
    return g_archive.error = 18;
  }
  uint32_t offset = position - g_archive.bytes_done;
  uint64_t target = (uint64_t)size_word_position() + 4 + offset;
  if (target >= FILE_BAD_POSITION || file_seek_to(g_archive.handle, (uint32_t)target) != target) {
    set_error_file_name();
    return g_archive.error = 18;
  }
  g_archive.bytes_left = (int32_t)(g_archive.volume_size - offset);
  g_archive.error = 0;
  return 0;
}

int ReadArchive(FileHandle handle, void* buffer, uint32_t count, uint32_t* got) {
  // The archive handle yields no more than its volume's data, so that reads
  // and seeks agree on where each volume ends.
  uint32_t want = count;
  if (handle == g_archive.handle && g_archive.bytes_left >= 0 &&
      want > (uint32_t)g_archive.bytes_left)
    want = (uint32_t)g_archive.bytes_left;
  uint32_t n = want ? file_read_some(handle, buffer, want) : 0;
  g_archive.bytes_left -= (int32_t)n;
  *got = n;
  if (n == count) return 0;
  FileHandle next = NextVolume();
  if (next == INVALID_FILE) return 1;
  want = count - n;
  if (g_archive.bytes_left >= 0 && want > (uint32_t)g_archive.bytes_left)
    want = (uint32_t)g_archive.bytes_left;
  uint32_t m = want ? file_read_some(next, (uint8_t*)buffer + n, want) : 0;
  g_archive.bytes_left -= (int32_t)m;
  *got = n + m;
  return 0;
}

void UnreadArchive(FileHandle handle, uint32_t count) {
  if (handle == g_archive.handle && g_archive.bytes_left >= 0) {
    uint32_t taken = g_archive.volume_size - (uint32_t)g_archive.bytes_left;
    if (count > taken) count = taken;
  }
  if (count && count <= 0x7FFFFFFFu &&
      file_seek(handle, -(int32_t)count, FROM_CURRENT) != FILE_BAD_POSITION)
    g_archive.bytes_left += (int32_t)count;
}

bool ArchiveSource::Read(uint8_t* buffer, uint32_t count, uint32_t* got) {
  return ReadArchive(g_archive.handle, buffer, count, got) == 0;
}

void ArchiveSource::Unread(uint32_t count) {
  UnreadArchive(g_archive.handle, count);
}
