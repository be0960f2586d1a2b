// The portable half of the three lists: reading their entries, the value
// text of an entry, and the file patches with their pattern search.
#include "install/lists.h"

#include <string.h>

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/macros.h"
#include "package/package.h"

namespace {

const char* take_text(const uint8_t*& p) {
  const char* s = (const char*)p;
  p += text_length(s) + 1;
  return s;
}

} // namespace

const Buffer* current_list(int type) {
  if (g_package.current_block < 0 || g_package.current_block >= g_package.block_count)
    return nullptr;
  const LanguageBlock& block = g_package.blocks[g_package.current_block];
  const Buffer* list = type == REC_INI_LIST        ? &block.ini_list
                       : type == REC_REGISTRY_LIST ? &block.registry_list
                                                   : &block.patch_list;
  return list->data && list->size >= 2 ? list : nullptr;
}

void resolve_file_reference(const char* text) {
  uint8_t* record = g_package.first_entry;
  for (uint32_t i = 0; record && i < g_package.entry_count; i++, record = next_entry(record)) {
    if (equals_nocase(entry_string(record, STR_TARGET), text)) {
      resolve_destination(file_entry(record));
      return;
    }
  }
  g_app.destination_path[0] = 0; // an empty expansion leaves the buffer as it is
  // An expansion that does not fit would be cut to another file's name:
  // it names no file at all.
  if (expand_folder_macros(g_app.destination_path, text, PATH_SIZE) >= PATH_SIZE)
    g_app.destination_path[0] = 0;
}

const uint8_t* read_ini_entry(const uint8_t* p, IniEntry* out) {
  out->flags = *p++;
  out->file = take_text(p);
  out->section = take_text(p);
  out->key = take_text(p);
  out->value = take_text(p);
  return p;
}

const uint8_t* read_registry_entry(const uint8_t* p, RegistryEntry* out) {
  out->root = read_u32(p);
  out->flags = p[4];
  p += 5;
  out->key = take_text(p);
  out->name = take_text(p);
  out->value = take_text(p);
  return p;
}

const uint8_t* read_patch_entry(const uint8_t* p, PatchEntry* out) {
  out->position = (int32_t)read_u32(p);
  out->pattern_length = read_u32(p + 4);
  p += 13; // behind the two reserved fields
  out->file = take_text(p);
  out->text = take_text(p);
  out->pattern = p;
  return p + out->pattern_length;
}

char* list_value_text(const char* value, uint32_t* length) {
  *length = 0;
  uint32_t n = expand_folder_macros(nullptr, value, MACRO_WORK_SIZE);
  if (n == 0) return nullptr;
  char* text = (char*)heap_alloc(n + 1);
  if (!text) return nullptr;
  text[0] = 0;
  // A value can change between the two calls (#Date# at midnight): what was
  // written into the n + 1 bytes is what counts.
  uint32_t again = expand_folder_macros(text, value, n + 1);
  *length = again < n ? again : n;
  if (*length == 0) {
    heap_free(text);
    return nullptr;
  }
  return text;
}

// The window holds the bytes [base, base + filled) of the file. While more of
// the file is left to read, only the lower 16 KB of start positions are
// tested (each needs the m bytes behind it in the window); the upper half is
// then moved down and the next 16 KB read behind it.
uint32_t find_pattern(FileHandle f, const uint8_t* pattern, uint32_t m) {
  if (m == 0 || m > MAX_PATTERN_LENGTH) return PATTERN_NOT_FOUND;
  uint32_t size = file_size(f);
  if (size == FILE_BAD_POSITION || size < m || file_seek(f, 0, FROM_START) != 0)
    return PATTERN_NOT_FOUND;
  uint32_t capacity = size < PATTERN_WINDOW ? size : PATTERN_WINDOW;
  uint8_t* window = (uint8_t*)heap_alloc(capacity);
  if (!window) return PATTERN_NOT_FOUND;

  uint32_t result = PATTERN_NOT_FOUND;
  uint32_t base = 0;
  uint32_t filled = file_read_some(f, window, capacity);
  // A read that ends early ends the file for the search: nothing behind it
  // is tested against bytes that were never read.
  uint32_t left = filled == capacity ? size - filled : 0;
  for (;;) {
    uint32_t positions = left > 0 ? PATTERN_STEP : (filled >= m ? filled - m + 1 : 0);
    for (uint32_t i = 0; i < positions; i++) {
      if (window[i] == pattern[0] && memcmp(window + i, pattern, m) == 0) {
        result = base + i + m;
        break;
      }
    }
    if (result != PATTERN_NOT_FOUND || left == 0) break;
    memmove(window, window + PATTERN_STEP, PATTERN_WINDOW - PATTERN_STEP);
    base += PATTERN_STEP;
    uint32_t want = left < PATTERN_STEP ? left : PATTERN_STEP;
    uint32_t got = file_read_some(f, window + (PATTERN_WINDOW - PATTERN_STEP), want);
    left = got == want ? left - got : 0;
    filled = (PATTERN_WINDOW - PATTERN_STEP) + got;
  }
  heap_free(window);
  return result;
}

void patch_file(const char* path, const PatchEntry& entry) {
  if (entry.position == PATCH_SEARCH && entry.pattern_length > MAX_PATTERN_LENGTH) return;
  uint32_t n;
  char* text = list_value_text(entry.text, &n);
  if (!text) return;
  FileHandle f = file_open(path, FILE_READ_WRITE);
  if (f == INVALID_FILE) {
    heap_free(text);
    return;
  }
  uint32_t position = (uint32_t)entry.position;
  if (entry.position == PATCH_SEARCH && entry.pattern_length != 0)
    position = find_pattern(f, entry.pattern, entry.pattern_length);
  // Offsets beyond 2 GB cannot be reached through the file helpers; a
  // negative position other than -1 names no offset either.
  if (position <= 0x7FFFFFFFu && file_seek(f, (int32_t)position, FROM_START) == position)
    file_write_exact(f, text, n);
  file_close(f);
  heap_free(text);
}

void apply_patch_list() {
  const Buffer* list = current_list(REC_PATCH_LIST);
  if (!list) return;
  const uint8_t* p = list->data + 2;
  for (uint32_t i = read_u16(list->data); i > 0; i--) {
    PatchEntry entry;
    p = read_patch_entry(p, &entry);
    resolve_file_reference(entry.file);
    if (g_app.destination_path[0]) patch_file(g_app.destination_path, entry);
  }
}
