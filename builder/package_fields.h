// The records of a setup package as plain values, shared by the package
// writer (script_writer.h) and the package reader (package_reader.h). The
// format's names (record tags and types, flags, kinds and modes, the stub
// marker) are those of common/package_format.h. Types REC_SETUP_FLAGS and
// REC_START are read raw by the setup program and never compressed.
#pragma once
#include <stdint.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/package_format.h"

namespace pakwiz {

// The stub's marker bytes, as the builder looks for them.
const uint8_t STUB_MARKER[STUB_MARKER_SIZE] = {STUB_MARKER_BYTES};

// Language record (REC_LANGUAGE): LANGUAGE_FIXED_SIZE bytes of flags and offsets, then the
// texts and string tables they point to. Absent texts and tables have
// offset 0.
struct LanguageFields {
  uint16_t flags = 0; // LANG_* flags
  std::optional<std::string> uninstall_key, name, folder;
  uint32_t registry_root = 0;
  std::optional<std::string> registry_key, registry_value;
  std::optional<std::string> ini_file, ini_section, ini_key;
  std::array<std::optional<std::vector<std::string>>, STRING_TABLES> tables;
};

// File entry of a file list (REC_FILE_LIST). Layout: package/file_entry.h.
struct FileEntryFields {
  uint16_t status = 0;
  uint16_t icon = 0;
  uint32_t position = 0, packed_size = 0, file_size = 0, checksum = 0;
  uint8_t flags = 0, destination = 0, end_action = 0, shared = 0, removal = 0, special = 0;
  uint8_t base_block = 0, base_entry = 0;
  std::array<uint32_t, 5> version{}; // written with ENTRY_VERSION_TEST or ENTRY_LANGUAGE_TEST
  std::array<uint64_t, 3> times{};   // creation, access, write; written with ENTRY_FILE_TIMES
  std::array<std::string, ENTRY_STRINGS>
      strings; // target, menu folder/name/args, desktop name/args
};

struct IniEntryFields {
  uint8_t flags = 0; // ONLY_IF_ABSENT
  std::string file, section, key, value;
};

struct RegistryEntryFields {
  uint32_t root = 0;
  uint8_t flags = 0;
  std::string key, name, value;
};

struct PatchEntryFields {
  int32_t position = PATCH_SEARCH;
  uint32_t reserved = 0;
  uint8_t reserved_byte = 0;
  std::string file, text;
  std::vector<uint8_t> pattern;
};

} // namespace pakwiz
