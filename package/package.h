// The loaded setup package: the script records read from the package file at
// start-up, held in memory for the whole run.
//
// Package file layout: [stub: stub_length bytes][records...][end marker
// record header, tag 0x7F7F][u32 archive size A][archive: A bytes]. Records
// are an 8-byte header (u16 tag = 0x1234 + type, u16 flags with bit 0 =
// compressed, u32 payload length) and their payload; a compressed payload is
// a u32 unpacked size followed by one compressed stream.
//
// Every record buffer is kept with its size, and every offset, count and
// length inside a record is checked when the package is loaded, so lookups
// on a loaded package stay inside their buffers.
#pragma once
#include <stdint.h>

#include "common/file.h"

enum {
  MAX_BLOCKS = 6,
  STRING_TABLES = 11,
  RECORD_HEADER_SIZE = 8,
  LANGUAGE_FIXED_SIZE = 84,
  TEMPLATE_COPY_SIZE = 16384,
  TEMPLATE_COUNT = 9, // template indexes 0..8 are looked up
};

enum RecordType {
  REC_SETUP_FLAGS = 0,
  REC_BILLBOARD = 1,
  REC_BACKGROUND = 2,
  REC_TITLE = 3,
  REC_TEMPLATES = 5,
  REC_FILE_LIST = 6,
  REC_START = 7,
  REC_TITLE_FONT = 9,
  REC_LANGUAGE = 10,
  REC_PREFIX = 11,
  REC_INI_LIST = 12,
  REC_REGISTRY_LIST = 13,
  REC_PATCH_LIST = 14,
};
static const uint16_t TAG_BASE = 0x1234;
static const uint16_t TAG_END = 0x7F7F;
static const uint16_t RECORD_COMPRESSED = 1;
// Start page of the start record that runs the whole wizard.
static const uint16_t WHOLE_WIZARD = 0xFFFF;

// Setup flags (record type 0).
enum { SETUP_FULL_SCREEN = 0x1, SETUP_REMOVE_PREVIOUS = 0x10 };
// Language flags (language record offset 0).
enum {
  LANG_FOLDER_CHANGEABLE = 0x2,
  LANG_STORE_FOLDER_REGISTRY = 0x4,
  LANG_STORE_FOLDER_INI = 0x8
};

struct Buffer {
  uint8_t* data; // null when absent
  uint32_t size;
};

// A language record (type 10) with its offsets resolved to references into
// its own buffer. Absent texts and tables are null.
struct LanguageRecord {
  uint8_t* data;
  uint32_t size;
  uint16_t flags;
  const char* uninstall_key;
  const char* name;
  const char* default_folder;
  uint32_t registry_root; // root key index, not an offset
  const char* registry_key;
  const char* registry_value;
  const char* ini_file;
  const char* ini_section;
  const char* ini_key;
  const uint8_t* tables[STRING_TABLES]; // u16 count + strings; end = data + size
};

struct LanguageBlock {
  LanguageRecord language;
  char* folder; // 260-byte folder slot
  Buffer file_list;
  Buffer ini_list;
  Buffer registry_list;
  Buffer patch_list;
};

struct PackageState {
  uint32_t setup_flags;
  Buffer billboard;     // BMP file image
  Buffer background;    // BMP file image
  Buffer title;         // NUL-terminated text
  Buffer templates;     // dialog template record
  Buffer title_font;    // LOGFONTA (60 bytes)
  Buffer prefix;        // file prefix block of the uninstaller
  uint16_t start_page;  // WHOLE_WIZARD, or the one page slot to run
  uint16_t start_block; // language block selected after loading
  int block_count;
  LanguageBlock blocks[MAX_BLOCKS];
  // Current language block (select_language_block).
  int current_block;
  const LanguageRecord* current_language;
  uint8_t* first_entry; // first file entry of the current block, or null
  uint32_t entry_count;
  // Handed to the archive reader.
  uint32_t archive_offset; // file position of the archive size word
  uint32_t archive_size;
};
extern PackageState g_package;

// Loads the package from g_app.package_path, starting at g_app.stub_length
// (set by start-up from the stub's own field, or by a test). On success the loaded state is
// complete and a language block is selected. A damaged package shows message 31 of table 6 where
// the package could be read far enough to have it.
bool load_package();
// Frees every buffer of the loaded package.
void release_package();

// Reads a record payload into a fresh buffer (unpacked when compressed); the
// file is positioned just behind the header. 0, 1 (read failure or damaged
// stream) or 5 (no memory). out->data is null on failure.
int read_record_payload(FileHandle package_file, uint16_t flags, uint32_t length, Buffer* out);
