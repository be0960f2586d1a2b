// Views of file entries.
#include "package/file_entry.h"

FileEntry file_entry(uint8_t* record) {
  FileEntry e;
  e.record = record;
  e.icon_index = entry_icon_index(record);
  e.archive_position = entry_archive_position(record);
  e.packed_size = entry_packed_size(record);
  e.file_size = entry_file_size(record);
  e.checksum = entry_checksum(record);
  e.flags = entry_flags(record);
  e.destination = entry_destination(record);
  e.end_action = entry_end_action(record);
  e.shared_count = entry_shared_count(record);
  e.special = entry_special(record);
  e.base_block = entry_base_block(record);
  e.base_entry = entry_base_entry(record);
  e.version_block = entry_version_block(record);
  e.file_times = entry_file_times(record);
  const char* s = (const char*)record + entry_strings_offset(record);
  const char** strings[ENTRY_STRINGS] = {&e.target,    &e.menu_folder,  &e.menu_name,
                                         &e.menu_args, &e.desktop_name, &e.desktop_args};
  for (const char** out : strings) {
    *out = s;
    s += text_length(s) + 1;
  }
  return e;
}
