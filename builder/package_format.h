// The records of a setup package as plain values, shared by the package
// writer (script_writer.h) and the package reader (package_reader.h).
//
// Package file: [stub][records][end marker header: tag 0x7F7F, flags 0,
// length 4][u32 archive bytes in this file][those archive bytes]. A record is
// an 8-byte header (u16 tag 0x1234 + type, u16 flags with bit 0 = compressed,
// u32 payload length) and its payload; a compressed payload is a u32
// unpacked size and one compressed stream. Types 0 (setup flags) and 7
// (start record) are read raw by the setup program and never compressed.
#pragma once
#include <stdint.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace pakwiz {

enum PackageRecordType {
  RECORD_SETUP_FLAGS = 0,
  RECORD_BILLBOARD = 1,
  RECORD_BACKGROUND = 2,
  RECORD_TITLE = 3,
  RECORD_TEMPLATES = 5,
  RECORD_FILE_LIST = 6,
  RECORD_START = 7,
  RECORD_TITLE_FONT = 9,
  RECORD_LANGUAGE = 10,
  RECORD_PREFIX = 11,
  RECORD_INI_LIST = 12,
  RECORD_REGISTRY_LIST = 13,
  RECORD_PATCH_LIST = 14,
};
const uint16_t RECORD_TAG_BASE = 0x1234;
const uint16_t RECORD_TAG_END = 0x7F7F;
const uint16_t RECORD_FLAG_COMPRESSED = 1;
const uint8_t STUB_MARKER[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
const uint32_t UNINSTALL_LOG_HEADER = 8; // bytes the uninstall log's first header overwrites

// Language record (type 10): 84 fixed bytes of flags and offsets, then the
// texts and string tables they point to. Absent texts and tables have
// offset 0.
struct LanguageFields {
  uint16_t flags = 0; // 0x2 folder changeable, 0x4 store in registry, 0x8 store in INI
  std::optional<std::string> uninstall_key, name, folder;
  uint32_t registry_root = 0;
  std::optional<std::string> registry_key, registry_value;
  std::optional<std::string> ini_file, ini_section, ini_key;
  std::array<std::optional<std::vector<std::string>>, 11> tables;
};

// File entry of a file list (type 6). Layout: package/file_entry.h.
struct FileEntryFields {
  uint16_t status = 0;
  uint16_t icon = 0;
  uint32_t position = 0, packed_size = 0, file_size = 0, checksum = 0;
  uint8_t flags = 0, destination = 0, end_action = 0, shared = 0, removal = 0, special = 0;
  uint8_t base_block = 0, base_entry = 0;
  std::array<uint32_t, 5> version{};  // written when flags & 0x06
  std::array<uint64_t, 3> times{};    // creation, access, write; written when flags & 0x08
  std::array<std::string, 6> strings; // target, menu folder/name/args, desktop name/args
};

struct IniEntryFields {
  uint8_t flags = 0; // 1 = only if absent
  std::string file, section, key, value;
};

struct RegistryEntryFields {
  uint32_t root = 0;
  uint8_t flags = 0;
  std::string key, name, value;
};

struct PatchEntryFields {
  int32_t position = -1;
  uint32_t reserved = 0;
  uint8_t reserved_byte = 0;
  std::string file, text;
  std::vector<uint8_t> pattern;
};

} // namespace pakwiz
