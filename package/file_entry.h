// File entries of a language block's file list (record type 6: u32 count,
// then the entries back to back). Entry layout, little-endian, no padding:
//   0 u16 entry length (including everything)   2 u16 entry status
//   4 u16 icon index                             6 u32 archive position
//  10 u32 packed size                           14 u32 file size
//  18 u32 checksum                              22 u8 flags
//  23 u8 destination kind  24 u8 end action     25 u8 shared count flag
//  26 u8 removal mode      27 u8 special        28 u8 base block  29 u8 base entry
//  30 version block (20 bytes) when flags bit 1 or 2
//  30 or 50: file times (3 FILETIME, 24 bytes) when flags bit 3
//  then six NUL-terminated strings: target name, Start-menu folder, Start-menu
//  shortcut name, its arguments, desktop shortcut name, its arguments.
// The loader checks every entry of every list when the package is loaded, so
// these accessors may trust the layout of a loaded list.
#pragma once
#include <stdint.h>

#include "common/package_format.h"
#include "common/text.h"

// The flags, destination kinds, end actions, removal modes and special
// handling stored in an entry are named in common/package_format.h; the
// entry status is written by the installation (a message number).
enum EntryStatus { STATUS_NONE = 0, STATUS_REPLACED = 23, STATUS_CREATED = 25, STATUS_FAILED = 27 };
enum EntryString {
  STR_TARGET = 0,
  STR_MENU_FOLDER = 1,
  STR_MENU_NAME = 2,
  STR_MENU_ARGS = 3,
  STR_DESKTOP_NAME = 4,
  STR_DESKTOP_ARGS = 5,
};

inline uint16_t entry_length(const uint8_t* e) {
  return read_u16(e);
}
inline uint16_t entry_status(const uint8_t* e) {
  return read_u16(e + 2);
}
inline void set_entry_status(uint8_t* e, uint16_t status) {
  write_u16(e + 2, status);
}
inline uint16_t entry_icon_index(const uint8_t* e) {
  return read_u16(e + 4);
}
inline uint32_t entry_archive_position(const uint8_t* e) {
  return read_u32(e + 6);
}
inline uint32_t entry_packed_size(const uint8_t* e) {
  return read_u32(e + 10);
}
inline uint32_t entry_file_size(const uint8_t* e) {
  return read_u32(e + 14);
}
inline uint32_t entry_checksum(const uint8_t* e) {
  return read_u32(e + 18);
}
inline uint8_t entry_flags(const uint8_t* e) {
  return e[22];
}
inline uint8_t entry_destination(const uint8_t* e) {
  return e[23];
}
inline uint8_t entry_end_action(const uint8_t* e) {
  return e[24];
}
inline uint8_t entry_shared_count(const uint8_t* e) {
  return e[25];
}
inline uint8_t entry_removal_mode(const uint8_t* e) {
  return e[26];
}
inline void set_entry_removal_mode(uint8_t* e, uint8_t mode) {
  e[26] = mode;
}
inline uint8_t entry_special(const uint8_t* e) {
  return e[27];
}
inline uint8_t entry_base_block(const uint8_t* e) {
  return e[28];
}
inline uint8_t entry_base_entry(const uint8_t* e) {
  return e[29];
}

// Offset of the version block / file times / strings inside an entry.
inline uint32_t entry_times_offset(const uint8_t* e) {
  return ENTRY_FIXED_SIZE +
         ((entry_flags(e) & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST)) ? VERSION_BLOCK_SIZE : 0);
}
inline uint32_t entry_strings_offset(const uint8_t* e) {
  return entry_times_offset(e) + ((entry_flags(e) & ENTRY_FILE_TIMES) ? FILE_TIMES_SIZE : 0);
}
// Five u32: file version MS, LS, product version MS, LS, language id; or null.
inline const uint8_t* entry_version_block(const uint8_t* e) {
  return (entry_flags(e) & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST)) ? e + ENTRY_FIXED_SIZE
                                                                       : nullptr;
}
// Three FILETIME values (creation, last access, last write), or null.
inline const uint8_t* entry_file_times(const uint8_t* e) {
  return (entry_flags(e) & ENTRY_FILE_TIMES) ? e + entry_times_offset(e) : nullptr;
}
// String k (0..5) of the entry.
inline const char* entry_string(const uint8_t* e, unsigned k) {
  const char* s = (const char*)e + entry_strings_offset(e);
  while (k--) s += text_length(s) + 1;
  return s;
}

// The entry after e in its list.
inline uint8_t* next_entry(uint8_t* e) {
  return e + entry_length(e);
}

// Entry number `index` of language block `block`'s file list, or null when
// the block, the list or the entry does not exist.
uint8_t* find_file_entry(int block, uint32_t index);

// A file entry as the installation takes it: the fields of the stored entry,
// read once from a record of a loaded (checked) list, and the record itself,
// into which the entry status and the removal mode are written back, so that
// the uninstall log, the finish page and later views see them.
struct FileEntry {
  uint8_t* record; // the stored entry
  uint16_t icon_index;
  uint32_t archive_position;
  uint32_t packed_size;
  uint32_t file_size;
  uint32_t checksum;
  uint8_t flags;       // EntryFlags
  uint8_t destination; // DestinationKind
  uint8_t end_action;  // EndAction
  uint8_t shared_count;
  uint8_t special; // SpecialHandling
  uint8_t base_block, base_entry;
  const uint8_t* version_block; // five u32 (file version MS, LS, product version MS, LS,
                                // language id), or null
  const uint8_t* file_times;    // three FILETIME (creation, last access, last write), or null
  const char* target;           // the six strings of the entry
  const char* menu_folder;
  const char* menu_name;
  const char* menu_args;
  const char* desktop_name;
  const char* desktop_args;

  uint16_t status() const { return entry_status(record); }
  void set_status(uint16_t status) const { set_entry_status(record, status); }
  uint8_t removal_mode() const { return entry_removal_mode(record); }
  void set_removal_mode(uint8_t mode) const { set_entry_removal_mode(record, mode); }
};

// The view of the entry at `record` in a loaded list.
FileEntry file_entry(uint8_t* record);
