// Loading the setup package: one pass over the script records from the stub
// length on, each record unpacked whole into memory and kept for the run.
//
// Beyond reading, the loader checks every record it keeps: offsets, counts and
// lengths inside language records, string tables, dialog templates, bitmaps
// and entry lists must lie inside their buffers. A script that breaks these
// rules, or the rules of the format (at least one and at most six language
// records, per-block records after their language record, a start language
// block below the block count, compressed records that decode to their stated
// size), is a damaged package: message 31 of table 6, and the load fails.
//
// A package with an integrity record is checked whole before anything else
// is used: the CRC-32 of the script and of the archive bytes in the setup
// file must match the record (message 31 otherwise). The volume files are
// checked by the archive reader as it opens them.
#include "package/package.h"

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "decode/stream_decoder.h"
#include "package/certificate.h"
#include "package/default_folder.h"
#include "package/dialog_template.h"
#include "package/file_entry.h"
#include "package/script.h"

namespace {

// Internal results of the record loop.
enum LoadError {
  LOAD_OK = 0,
  LOAD_READ_FAILED = 1,                   // a header, field or payload could not be read
  LOAD_NO_MEMORY = 5,                     // a record buffer could not be allocated
  LOAD_NO_FOLDER = 12,                    // a folder slot could not be allocated
  LOAD_DAMAGED = MESSAGE_DAMAGED_PACKAGE, // the script breaks the format's rules
};

// Offset field -> text inside the record, or null when the field is 0. Sets
// *ok to false when the offset or the text's end lies outside the record, or
// the text is longer than `limit` characters.
const char* record_text(const Buffer& rec, uint32_t field, bool* ok, uint32_t limit = 0xFFFFFFFFu) {
  uint32_t offset = read_u32(rec.data + field);
  if (offset == 0) return nullptr;
  if (offset >= rec.size) {
    *ok = false;
    return nullptr;
  }
  for (uint32_t i = offset; i < rec.size; i++)
    if (rec.data[i] == 0) {
      if (i - offset > limit) *ok = false;
      return (const char*)rec.data + offset;
    }
  *ok = false;
  return nullptr;
}

// A run of `count` NUL-terminated strings starting at `at`; returns the
// position behind the last, or 0 when they do not all end before `end`.
uint32_t skip_strings(const uint8_t* data, uint32_t at, uint32_t end, uint32_t count,
                      uint32_t limit = 0xFFFFFFFFu) {
  for (uint32_t k = 0; k < count; k++) {
    uint32_t start = at;
    while (at < end && data[at]) at++;
    if (at >= end || at - start > limit) return 0;
    at++;
  }
  return at;
}

} // namespace

bool check_language_record(const Buffer& rec, LanguageRecord* out) {
  if (rec.size < LANGUAGE_FIXED_SIZE) return false;
  bool ok = true;
  out->data = rec.data;
  out->size = rec.size;
  out->flags = read_u16(rec.data);
  out->uninstall_key = record_text(rec, 4, &ok);
  out->name = record_text(rec, 8, &ok);
  out->default_folder = record_text(rec, 12, &ok, PATH_SIZE - 1);
  out->registry_root = read_u32(rec.data + 16);
  out->registry_key = record_text(rec, 20, &ok);
  out->registry_value = record_text(rec, 24, &ok);
  out->ini_file = record_text(rec, 28, &ok, PATH_SIZE - 1);
  out->ini_section = record_text(rec, 32, &ok);
  out->ini_key = record_text(rec, 36, &ok);
  for (int t = 0; t < STRING_TABLES; t++) {
    uint32_t offset = read_u32(rec.data + 40 + 4 * t);
    out->tables[t] = nullptr;
    if (offset == 0) continue;
    if (offset >= rec.size || rec.size - offset < 2) return false;
    uint32_t count = read_u16(rec.data + offset);
    if (!skip_strings(rec.data, offset + 2, rec.size, count)) return false;
    out->tables[t] = rec.data + offset;
  }
  return ok;
}

bool check_file_list(const Buffer& list) {
  if (list.size < 4) return false;
  uint32_t count = read_u32(list.data);
  uint32_t at = 4;
  for (uint32_t i = 0; i < count; i++) {
    if (list.size - at < 2) return false;
    const uint8_t* e = list.data + at;
    uint32_t length = entry_length(e);
    if (length < ENTRY_FIXED_SIZE || length > list.size - at) return false;
    uint32_t strings = entry_strings_offset(e);
    if (strings > length) return false;
    if (!skip_strings(e, strings, length, ENTRY_STRINGS, PATH_SIZE - 1)) return false;
    at += length;
  }
  return true;
}

// INI entry: u8 flags, file name, section, key, value.
// Registry entry: u32 root, u8 flags, key path, value name, value.
// File patch entry: i32 position, u32 pattern length, u32 reserved, u8
// reserved, file name, text, pattern bytes.
bool check_entry_list(const Buffer& list, int type) {
  if (list.size < 2) return false;
  uint32_t count = read_u16(list.data);
  uint32_t at = 2;
  for (uint32_t i = 0; i < count; i++) {
    if (type == REC_INI_LIST) {
      if (list.size - at < 1) return false;
      at = skip_strings(list.data, at + 1, list.size, 4);
      if (!at) return false;
    } else if (type == REC_REGISTRY_LIST) {
      if (list.size - at < 5) return false;
      at = skip_strings(list.data, at + 5, list.size, 3);
      if (!at) return false;
    } else {
      if (list.size - at < 13) return false;
      uint32_t pattern = read_u32(list.data + at + 4);
      at = skip_strings(list.data, at + 13, list.size, 2);
      if (!at || pattern > list.size - at) return false;
      at += pattern;
    }
  }
  return true;
}

// A BMP file image: file header, a 40-byte information header, the colour
// table and the pixel bits, which must all lie inside the buffer.
bool check_bitmap(const Buffer& bmp) {
  const uint32_t info = 14;
  if (bmp.size < info + 40) return false;
  const uint8_t* h = bmp.data + info;
  int32_t width = (int32_t)read_u32(h + 4), height = (int32_t)read_u32(h + 8);
  uint16_t bit_count = read_u16(h + 14);
  uint32_t compression = read_u32(h + 16), colours_used = read_u32(h + 32);
  if (read_u32(h) != 40 || compression != 0) return false; // uncompressed RGB only
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 &&
      bit_count != 32)
    return false;
  // Up to 8 bits per pixel the colour table holds biClrUsed entries (all of
  // them when 0), and the pixel bits follow it directly.
  if (bit_count <= 8 && colours_used > (1u << bit_count)) return false;
  uint64_t table = colours_used ? 4ull * colours_used : ((4ull << bit_count) & 0xFFFF);
  uint64_t bits = info + 40 + table;
  uint64_t rows = height < 0 ? (uint64_t)(-(int64_t)height) : (uint64_t)height;
  uint64_t stride = width > 0 ? (((uint64_t)width * bit_count + 31) / 32) * 4 : 0;
  return bits + stride * rows <= bmp.size;
}

bool check_templates(const Buffer& rec) {
  if (rec.size < 4 * TEMPLATE_COUNT) return false;
  for (uint32_t k = 0; k < TEMPLATE_COUNT; k++) {
    uint32_t offset = read_u32(rec.data + 4 * k);
    if (offset >= rec.size) return false;
    uint32_t available = rec.size - offset;
    if (available > TEMPLATE_COPY_SIZE) available = TEMPLATE_COPY_SIZE;
    if (dialog_template_size(rec.data + offset, available) == 0) return false;
  }
  return true;
}

bool check_text(const Buffer& text) {
  return text.size > 0 && text.data[text.size - 1] == 0;
}

namespace {

// Patched entries name a base entry in any block: it must exist.
bool check_base_entries() {
  for (int b = 0; b < g_package.block_count; b++) {
    const Buffer& list = g_package.blocks[b].file_list;
    if (!list.data) continue;
    uint8_t* e = list.data + 4;
    for (uint32_t i = read_u32(list.data); i > 0; i--, e = next_entry(e))
      if ((entry_flags(e) & ENTRY_PATCH) &&
          !find_file_entry(entry_base_block(e), entry_base_entry(e)))
        return false;
  }
  return true;
}

void replace_buffer(Buffer* slot, const Buffer& fresh) {
  free_and_clear(slot->data);
  *slot = fresh;
}

} // namespace

int read_record_payload(FileHandle file, uint16_t flags, uint32_t length, Buffer* out) {
  out->data = nullptr;
  out->size = 0;
  uint32_t size = length;
  if (flags & RECORD_COMPRESSED) {
    // A compressed payload too short for its size word is a damaged record.
    if (length < 4) return LOAD_DAMAGED;
    uint8_t word[4];
    if (file_read_exact(file, word, 4) != FILE_OK) return LOAD_READ_FAILED;
    size = read_u32(word);
    // A size no stream of this length can decode to is a damaged record,
    // not a reason to allocate gigabytes.
    if (size > max_unpacked_size(length - 4)) return LOAD_DAMAGED;
  }
  uint8_t* buffer = (uint8_t*)heap_alloc(size, true);
  if (!buffer) return LOAD_NO_MEMORY;
  if (flags & RECORD_COMPRESSED) {
    uint32_t produced = 0;
    FileSource input(file);
    if (!DecodeToMemory(buffer, size, &input, 0, &produced) || produced != size) {
      heap_free(buffer);
      return LOAD_DAMAGED;
    }
  } else if (file_read_exact(file, buffer, size) != FILE_OK) {
    heap_free(buffer);
    return LOAD_READ_FAILED;
  }
  out->data = buffer;
  out->size = size;
  return LOAD_OK;
}

namespace {

int load_language_record(FileHandle file, uint16_t flags, uint32_t length, int index) {
  if (index >= MAX_BLOCKS) return LOAD_DAMAGED;
  LanguageBlock* block = &g_package.blocks[index];
  Buffer rec;
  int err = read_record_payload(file, flags, length, &rec);
  if (err) return err;
  block->language.data = rec.data; // owned by the block from here on
  block->language.size = rec.size;
  if (!check_language_record(rec, &block->language)) return LOAD_DAMAGED;
  block->folder = (char*)heap_alloc(PATH_SIZE, true);
  if (!block->folder) return LOAD_NO_FOLDER;
  // The default install folder: an earlier installation's folder, or the
  // default text with its macros expanded; a record without a default text
  // starts from the previous record's result.
  compute_default_install_folder(&block->language);
  text_copy(block->folder, PATH_SIZE, g_app.install_folder);
  // Until a block is selected, the first one's texts speak for the package
  // (the title of the start-up check's window, the caption of a message).
  if (index == 0) g_package.current_language = &block->language;
  return LOAD_OK;
}

int load_block_record(FileHandle file, int type, uint16_t flags, uint32_t length, int index) {
  if (index < 0) return LOAD_DAMAGED; // a per-block record before any language record
  Buffer list;
  int err = read_record_payload(file, flags, length, &list);
  if (err) return err;
  bool ok = type == REC_FILE_LIST ? check_file_list(list) : check_entry_list(list, type);
  LanguageBlock* block = &g_package.blocks[index];
  Buffer* slot = type == REC_FILE_LIST       ? &block->file_list
                 : type == REC_INI_LIST      ? &block->ini_list
                 : type == REC_REGISTRY_LIST ? &block->registry_list
                                             : &block->patch_list;
  replace_buffer(slot, list);
  return ok ? LOAD_OK : LOAD_DAMAGED;
}

int load_global_record(FileHandle file, int type, uint16_t flags, uint32_t length) {
  Buffer rec;
  int err = read_record_payload(file, flags, length, &rec);
  if (err) return err;
  bool ok = true;
  Buffer* slot = nullptr;
  switch (type) {
  case REC_BILLBOARD:
    slot = &g_package.billboard;
    ok = check_bitmap(rec);
    break;
  case REC_BACKGROUND:
    slot = &g_package.background;
    ok = check_bitmap(rec);
    break;
  case REC_TITLE:
    slot = &g_package.title;
    ok = check_text(rec);
    break;
  case REC_TITLE_FONT:
    slot = &g_package.title_font;
    ok = rec.size >= 60;
    break;
  case REC_TEMPLATES:
    slot = &g_package.templates;
    ok = check_templates(rec);
    break;
  default:
    slot = &g_package.prefix;
    break;
  }
  replace_buffer(slot, rec);
  return ok ? LOAD_OK : LOAD_DAMAGED;
}

// Shows message 31 of table 6 (skipped when empty) in the block that can be
// had: the start block if it loaded, else the first.
void report_damaged_package() {
  int count = g_package.block_count;
  if (count <= 0) return;
  int block = g_package.start_block < count ? g_package.start_block : 0;
  if (!g_package.blocks[block].language.data) return;
  const LanguageRecord* keep = g_package.current_language;
  g_package.current_language = &g_package.blocks[block].language;
  const char* text = get_message(MESSAGE_DAMAGED_PACKAGE);
  if (*text) show_message(text, MSG_ICONINFORMATION);
  g_package.current_language = keep;
}

// A script found damaged before any usable language record still has its
// message 31 in a later language record: read on to the first one that checks.
void report_damaged_from_later_record(FileHandle file) {
  uint8_t header[RECORD_HEADER_SIZE];
  while (file_read_exact(file, header, sizeof header) == FILE_OK) {
    uint16_t tag = read_u16(header), flags = read_u16(header + 2);
    uint32_t length = read_u32(header + 4);
    if (tag == TAG_END) return;
    uint32_t here = file_tell(file);
    if (here == FILE_BAD_POSITION || length > file_size(file) - here) return;
    if (tag == TAG_BASE + REC_LANGUAGE && length > 0) {
      Buffer rec;
      if (read_record_payload(file, flags, length, &rec) != LOAD_OK) return;
      LanguageRecord lang = {};
      if (check_language_record(rec, &lang)) {
        const LanguageRecord* keep = g_package.current_language;
        g_package.current_language = &lang;
        const char* text = get_message(MESSAGE_DAMAGED_PACKAGE);
        if (*text) show_message(text, MSG_ICONINFORMATION);
        g_package.current_language = keep;
      }
      heap_free(rec.data);
      return;
    }
    if (file_seek(file, (int32_t)(here + length), FROM_START) != here + length) return;
  }
}

CheckObserver g_check_observer = nullptr;

// The CRC-32 of the archive bytes, read in slices between which the
// observer is told how far the check has come.
bool archive_crc(FileHandle file, uint32_t* crc) {
  CheckObserver observe = g_check_observer;
  uint32_t total = g_package.archive_size, done = 0;
  bool ok = true;
  if (observe) observe(0, total);
  while (ok && done < total) {
    uint32_t n = total - done < CHECK_SLICE ? total - done : (uint32_t)CHECK_SLICE;
    ok = file_crc32(file, n, crc);
    done += n;
    if (observe && done < total) observe(done, total);
  }
  if (observe) observe(total, total);
  return ok;
}

// The integrity record `rec`, read from behind the script's first
// `script_bytes` bytes, matches the package file. Reads the script and the
// archive bytes of the package file once more.
bool integrity_matches(FileHandle file, const Buffer& rec, uint32_t script_bytes) {
  uint32_t crc = 0, archive = 0;
  return read_u32(rec.data + 4) == g_package.archive_size &&
         file_seek_to(file, g_app.stub_length) == g_app.stub_length &&
         file_crc32(file, script_bytes, &crc) && crc == read_u32(rec.data) &&
         file_seek_to(file, g_package.archive_offset + 4) == g_package.archive_offset + 4 &&
         archive_crc(file, &archive) && archive == read_u32(rec.data + 8);
}

bool has_loaded_block() {
  for (int i = 0; i < g_package.block_count; i++)
    if (g_package.blocks[i].language.data) return true;
  return false;
}

} // namespace

bool load_package() {
  if (g_app.stub_length == 0) return false;
  if (!text_copy(g_app.archive_path, PATH_SIZE, g_app.package_path)) return false;
  FileHandle file = file_open(g_app.archive_path, FILE_READ);
  if (file == INVALID_FILE) return false;
  uint32_t file_length = file_size(file);
  file_seek(file, (int32_t)g_app.stub_length, FROM_START);

  int index = -1;
  bool complete = false;
  uint32_t integrity_at = 0; // file position of the integrity record's header
  g_package.start_block = 0;
  g_package.start_page = WHOLE_WIZARD;
  int err = LOAD_OK;
  for (;;) {
    uint8_t header[RECORD_HEADER_SIZE];
    if (file_read_exact(file, header, sizeof header) != FILE_OK) {
      err = LOAD_READ_FAILED;
      break;
    }
    uint16_t tag = read_u16(header), flags = read_u16(header + 2);
    uint32_t length = read_u32(header + 4);
    // The integrity record is the last one; the end marker says whether one came.
    if ((g_package.integrity.data && tag != TAG_END) ||
        (tag == TAG_END && !(flags & END_INTEGRITY) != !g_package.integrity.data)) {
      err = LOAD_DAMAGED;
      break;
    }
    if (length == 0) {
      if (tag == TAG_END) { // the script ended without a size word: no archive data here
        uint32_t here = file_tell(file);
        g_package.archive_offset = here != FILE_BAD_POSITION ? here : 0;
        g_package.archive_size = 0;
        break;
      }
      continue;
    }
    uint32_t here = file_tell(file);
    if (here == FILE_BAD_POSITION) {
      err = LOAD_READ_FAILED;
      break;
    }
    if (tag == TAG_END) {
      uint8_t word[4];
      g_package.archive_offset = here;
      if (file_read_exact(file, word, 4) != FILE_OK) {
        err = LOAD_READ_FAILED;
        break;
      }
      g_package.archive_size = read_u32(word);
      uint64_t archive_end = (uint64_t)here + g_package.archive_size + 4;
      complete = archive_end == file_length ||
                 (archive_end < file_length &&
                  certificate_table_follows(file, (uint32_t)archive_end, file_length));
      break;
    }
    if (length > file_length - here) {
      err = LOAD_READ_FAILED; // the record runs past the end of the file
      break;
    }
    uint32_t record_end = here + length;
    int type = tag >= TAG_BASE && tag <= TAG_BASE + REC_INTEGRITY ? tag - TAG_BASE : -1;
    switch (type) {
    case REC_INTEGRITY:
      if (flags || length < INTEGRITY_FIXED_SIZE) {
        err = LOAD_DAMAGED;
        break;
      }
      err = read_record_payload(file, 0, length, &g_package.integrity);
      if (!err &&
          length != INTEGRITY_FIXED_SIZE +
                        INTEGRITY_VOLUME_SIZE * (uint64_t)read_u32(g_package.integrity.data + 12))
        err = LOAD_DAMAGED;
      integrity_at = here - RECORD_HEADER_SIZE;
      break;
    case REC_SETUP_FLAGS: {
      uint8_t word[4] = {0, 0, 0, 0};
      file_read_exact(file, word, 4); // raw, whatever the compressed flag says
      g_package.setup_flags = read_u32(word);
      break;
    }
    case REC_START: {
      uint8_t words[4];
      if (file_read_exact(file, words, 2) != FILE_OK ||
          file_read_exact(file, words + 2, 2) != FILE_OK)
        err = LOAD_READ_FAILED;
      else {
        g_package.start_page = read_u16(words);
        g_package.start_block = read_u16(words + 2);
        complete = true;
      }
      break;
    }
    case REC_LANGUAGE:
      err = load_language_record(file, flags, length, ++index);
      break;
    case REC_FILE_LIST:
    case REC_INI_LIST:
    case REC_REGISTRY_LIST:
    case REC_PATCH_LIST:
      err = load_block_record(file, type, flags, length, index);
      break;
    case REC_BILLBOARD:
    case REC_BACKGROUND:
    case REC_TITLE:
    case REC_TEMPLATES:
    case REC_TITLE_FONT:
    case REC_PREFIX:
      err = load_global_record(file, type, flags, length);
      break;
    default: // types 4 and 8 and unknown tags are passed over
      break;
    }
    if (err) {
      if (err == LOAD_DAMAGED) file_seek(file, (int32_t)record_end, FROM_START);
      break;
    }
    if (file_seek(file, (int32_t)record_end, FROM_START) != record_end) {
      err = LOAD_READ_FAILED;
      break;
    }
  }
  g_package.block_count = index + 1 < MAX_BLOCKS ? index + 1 : MAX_BLOCKS;
  if (!err && g_package.integrity.data &&
      !integrity_matches(file, g_package.integrity, integrity_at - g_app.stub_length))
    err = LOAD_DAMAGED;
  if (err == LOAD_DAMAGED && !has_loaded_block()) {
    report_damaged_from_later_record(file);
    file_close(file);
    return false;
  }
  file_close(file);

  if (err == LOAD_OK && (g_package.block_count == 0 ||
                         g_package.start_block >= g_package.block_count || !check_base_entries()))
    err = LOAD_DAMAGED;
  if (err == LOAD_DAMAGED) {
    report_damaged_package();
    return false;
  }
  if (err) return false;

  // No block is current yet, so the first selection saves no folder: every
  // block keeps the default computed for its own language record.
  g_package.current_block = -1;
  select_language_block(g_package.start_block);
  set_archive_location(g_package.archive_offset, g_package.archive_size);
  if (g_package.integrity.data)
    set_volume_checks(g_package.integrity.data + INTEGRITY_FIXED_SIZE,
                      read_u32(g_package.integrity.data + 12));
  if (complete) return true;
  const char* text = get_message(MESSAGE_DAMAGED_PACKAGE);
  if (*text) show_message(text, MSG_ICONINFORMATION);
  return false;
}

void set_check_observer(CheckObserver observer) {
  g_check_observer = observer;
}

void release_package() {
  Buffer* globals[] = {&g_package.billboard, &g_package.background, &g_package.title,
                       &g_package.templates, &g_package.title_font, &g_package.prefix,
                       &g_package.integrity};
  set_volume_checks(nullptr, 0);
  for (Buffer* b : globals) replace_buffer(b, Buffer{nullptr, 0});
  for (int i = 0; i < MAX_BLOCKS; i++) {
    LanguageBlock* block = &g_package.blocks[i];
    free_and_clear(block->language.data);
    free_and_clear(block->folder);
    replace_buffer(&block->file_list, Buffer{nullptr, 0});
    replace_buffer(&block->ini_list, Buffer{nullptr, 0});
    replace_buffer(&block->registry_list, Buffer{nullptr, 0});
    replace_buffer(&block->patch_list, Buffer{nullptr, 0});
    block->language = LanguageRecord{};
  }
  g_package.block_count = 0;
  g_package.current_language = nullptr;
  g_package.first_entry = nullptr;
  g_package.entry_count = 0;
}
