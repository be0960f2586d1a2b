// The INI, registry and file patch lists of a language block: small changes
// made after every file is in place, in this order, each entry in its stored
// order (apply_ini_list, apply_registry_list, apply_patch_list in
// install/install.h). The registry values, keys, INI entries and INI files
// they create go into the value record of the uninstall log (the helpers
// below); file patches are not logged.
//
// Every list is a u16 entry count followed by the entries back to back,
// little-endian, no padding; texts are NUL-terminated.
//   INI entry:      u8 flags, file name, section, key, value
//   registry entry: u32 root index, u8 flags, key path, value name, value
//   patch entry:    i32 position (PATCH_SEARCH = behind a pattern), u32
//                   pattern length m, u32 reserved, u8 reserved, file name,
//                   text, m bytes
// Flags: ONLY_IF_ABSENT (common/package_format.h). File names are the target
// name of a file entry or a text with folder macros (resolve_file_reference);
// values and patch texts have their folder macros expanded; sections, keys,
// key paths and value names are used as they are.
//
// The loader checks every list when the package is loaded, so the readers
// below walk a loaded list without checking it again.
#pragma once
#include <stdint.h>

#include "common/file.h"
#include "common/package_format.h"
#include "package/package.h"

struct IniEntry {
  uint8_t flags;
  const char* file;
  const char* section;
  const char* key;
  const char* value;
};

struct RegistryEntry {
  uint32_t root;
  uint8_t flags;
  const char* key;
  const char* name; // "" = the key's default value
  const char* value;
};

struct PatchEntry {
  int32_t position; // PATCH_SEARCH: write behind the first match of the pattern
  const char* file;
  const char* text;
  const uint8_t* pattern;
  uint32_t pattern_length;
};

// The INI, registry or patch list (REC_INI_LIST, ...) of the current block,
// or null when the block has none.
const Buffer* current_list(int type);

// A file named by a list entry: the destination of the first file entry of
// the current block whose target name equals `text` (ignoring case), else
// the text with its macros expanded; left in g_app.destination_path. An
// expansion longer than a path may be leaves it empty, like an empty one.
void resolve_file_reference(const char* text);

// Each reads the entry at `p` into `out` and returns the first byte behind it.
const uint8_t* read_ini_entry(const uint8_t* p, IniEntry* out);
const uint8_t* read_registry_entry(const uint8_t* p, RegistryEntry* out);
const uint8_t* read_patch_entry(const uint8_t* p, PatchEntry* out);

// The value text of an entry: `value` with its folder macros expanded, in a
// fresh heap block of length + 1 bytes (free it with heap_free). Null, and
// the entry is to be skipped, when the expansion is empty or no memory is
// left; *length receives the length without the NUL.
char* list_value_text(const char* value, uint32_t* length);

// The longest pattern the search window can hold: a match starting at the
// last tested position of a full 32 KB window must end inside it.
static const uint32_t PATTERN_WINDOW = 32768, PATTERN_STEP = 16384, MAX_PATTERN_LENGTH = 16385;
static const uint32_t PATTERN_NOT_FOUND = 0xFFFFFFFFu;

// Searches the whole file for the first occurrence of the pattern (m of 1 to
// MAX_PATTERN_LENGTH bytes) and returns the offset of the first byte behind
// it, or PATTERN_NOT_FOUND. The file is read from its start through a window
// of at most 32 KB that moves on by 16 KB, so that every start position is
// tested exactly once, also where a match straddles the pieces read. The
// file position is left anywhere.
uint32_t find_pattern(FileHandle f, const uint8_t* pattern, uint32_t m);

// Applies one patch entry to the file at `path` (already resolved): expands
// the text, opens the file for reading and writing (it is never created),
// finds the position (the entry's own, or behind the pattern) and writes the
// text there without its NUL, over the bytes there and lengthening the file
// when it reaches past the end. Entries without an effect are passed over in
// silence: an empty text, a file that cannot be opened, a pattern not found,
// a pattern longer than MAX_PATTERN_LENGTH.
void patch_file(const char* path, const PatchEntry& entry);

#ifdef _WIN32
// The root key table: 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2
// HKEY_LOCAL_MACHINE, 3 HKEY_USERS, 16 and above HKEY_CURRENT_USER. Indexes
// 4 to 15 name no root: null, and the entry or registration is not made.
HKEY list_root_key(uint32_t index);

// Writes a string value (`size` bytes with the NUL) under root\key_path,
// creating the key. While the uninstall log is open, the keys and the value
// that did not exist before go into its value record.
void set_logged_registry_string(HKEY root, const char* key_path, const char* name,
                                const char* value, uint32_t size);
// Writes an INI entry and flushes the file; while the uninstall log is open,
// a file or entry that did not exist before goes into its value record.
void write_logged_ini_string(const char* file, const char* section, const char* key,
                             const char* value);
#endif
