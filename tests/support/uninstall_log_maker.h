// Uninstall logs written byte for byte as the setup program appends them to
// the uninstaller file, for the uninstaller's tests: records with the 8-byte
// header (u16 tag, u16 flags 0, u32 body length), log strings (u16 count,
// that many characters), little-endian, no padding.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "support/package_maker.h" // put_u16, put_u32

struct LogFileSpec {
  std::string folder, name;
  uint8_t flags = 0;
};
struct LogShortcutSpec {
  std::string folder, name;
};

// A value entry: kind LOGGED_VALUE_*, the root for the registry kinds, and
// its texts (a, b, c as the kind has them).
struct LogValueSpec {
  uint8_t kind;
  uint32_t root;
  std::string a, b, c;
};

struct LogSpec {
  std::vector<LogFileSpec> files;
  std::optional<std::vector<LogShortcutSpec>> shortcuts; // none: no shortcut log record
  std::optional<std::string> key_name;                   // none: no key log record
  uint32_t key_root = 0x80000002u;
  std::optional<std::vector<LogValueSpec>> values; // none: no value log record
  bool end = true;                                 // write the end record
};

// The key path of a key log record for an uninstall key name.
std::string log_key_path(const std::string& name);

std::vector<uint8_t> make_uninstall_log(const LogSpec& spec);
// The bytes of one value entry.
void put_value_entry(std::vector<uint8_t>& out, const LogValueSpec& v);

// Pieces, for logs that a spec cannot describe.
void put_log_string(std::vector<uint8_t>& out, const std::string& s);
void put_record(std::vector<uint8_t>& out, uint16_t tag, const std::vector<uint8_t>& body);
