// The loaded setup package: the script records read from the package file at
// start-up, held in memory for the whole run.
//
// Package file layout: [stub: stub_length bytes][records...][end marker
// record header][u32 archive size A][archive: A bytes]. The record tags,
// types and flags are named in common/package_format.h.
//
// Every record buffer is kept with its size, and every offset, count and
// length inside a record is checked when the package is loaded, so lookups
// on a loaded package stay inside their buffers.
#pragma once
#include <stdint.h>

#include "common/file.h"
#include "common/package_format.h"

// A dialog template is copied out of the record in at most this many bytes.
enum { TEMPLATE_COPY_SIZE = 16384 };

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
  Buffer integrity;     // integrity record (its volume list serves the archive reader)
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

// Told how far load_package's check of the archive bytes against the
// integrity record has come: (0, total) before the first byte is read, then
// after each CHECK_SLICE bytes, and (total, total) once it has ended,
// whether the bytes matched or not. While it is told, the first language
// block's texts can be read (get_message). Null: nobody is told.
enum { CHECK_SLICE = 1 << 20 };
typedef void (*CheckObserver)(uint32_t done, uint32_t total);
void set_check_observer(CheckObserver observer);

// Reads a record payload into a fresh buffer (unpacked when compressed); the
// file is positioned just behind the header. 0, 1 (read failure or damaged
// stream) or 5 (no memory). out->data is null on failure.
int read_record_payload(FileHandle package_file, uint16_t flags, uint32_t length, Buffer* out);

// The rules the loader applies to one unpacked record, also used by the
// builder's package tools: true when the setup program accepts it. Every
// offset, count, length and text must lie inside the record.
bool check_language_record(const Buffer& rec, LanguageRecord* out);
bool check_file_list(const Buffer& list);
bool check_entry_list(const Buffer& list, int type); // INI, registry or file patch list
bool check_bitmap(const Buffer& bmp);
bool check_templates(const Buffer& rec);
bool check_text(const Buffer& text);
