// Reader of finished setup packages for the builder's tools (list, verify,
// extract). Independent of the setup program's own loader and its process-wide
// state: it returns plain values and throws on damage.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "builder/package_fields.h"

namespace pakwiz {

struct RecordInfo {
  uint16_t tag = 0, flags = 0;
  uint64_t offset = 0;   // file position of the header
  uint32_t length = 0;   // payload length as stored
  uint32_t unpacked = 0; // payload length after unpacking
};

struct BlockInfo {
  LanguageFields language;
  std::optional<std::vector<FileEntryFields>> files;
  std::optional<std::vector<IniEntryFields>> ini;
  std::optional<std::vector<RegistryEntryFields>> registry;
  std::optional<std::vector<PatchEntryFields>> patches;
};

// The integrity record: CRC-32 values of the script, of the package file's
// archive bytes and of each volume file.
struct IntegrityInfo {
  uint64_t offset = 0; // file position of the record's header (the script checked ends there)
  uint32_t script_crc = 0;
  uint32_t archive_bytes = 0, archive_crc = 0;
  struct Volume {
    uint32_t data_bytes = 0, crc = 0;
  };
  std::vector<Volume> volumes;
};

struct PackageInfo {
  std::string path;
  uint64_t file_length = 0;
  uint64_t marker_offset = 0; // where the stub marker was found
  uint32_t stub_length = 0;
  uint32_t setup_flags = 0;
  bool has_start = false;
  uint16_t start_page = 0xFFFF, start_language = 0;
  std::optional<std::vector<uint8_t>> billboard, background, title, title_font, templates, prefix;
  std::vector<BlockInfo> blocks;
  std::vector<RecordInfo> records;
  // Breaches of the format's rules found while reading (each naming the
  // record and its offset) that do not stop the reading: unknown tags, empty
  // or repeated records, records out of place, records the setup program
  // refuses. `verify` fails on any; `list` shows them.
  std::vector<std::string> problems;
  std::optional<IntegrityInfo> integrity;
  uint16_t end_flags = 0;
  bool has_archive = false;    // the end marker carries an archive size word
  uint64_t archive_offset = 0; // file position of the archive size word
  uint32_t archive_size = 0;   // archive bytes in the package file
};

// "file list", "language", ... or "tag 0xNNNN" for a record tag.
std::string record_name(uint16_t tag);

// The offsets of every occurrence of the stub marker in data[0..size).
std::vector<size_t> find_stub_markers(const uint8_t* data, size_t size);

// Reads the package at `path`: finds the stub's marker and length field,
// walks the records (unpacking compressed ones with the stream decoder) and
// parses every record the setup program reads. Throws BuildError naming the
// file, and the record or entry at fault, when the file is not a package or
// any record is damaged (bad header, payload past the end, a stream that
// does not decode to its stated size, offsets or strings outside their
// record, per-block records before a language record, more than six
// language blocks).
PackageInfo read_package(const std::string& path);

// Parsers of single payloads, throwing BuildError(`what` + problem).
LanguageFields parse_language_payload(const std::vector<uint8_t>& p, const std::string& what);
std::vector<FileEntryFields> parse_file_list(const std::vector<uint8_t>& p,
                                             const std::string& what);
std::vector<IniEntryFields> parse_ini_list(const std::vector<uint8_t>& p, const std::string& what);
std::vector<RegistryEntryFields> parse_registry_list(const std::vector<uint8_t>& p,
                                                     const std::string& what);
std::vector<PatchEntryFields> parse_patch_list(const std::vector<uint8_t>& p,
                                               const std::string& what);

// Decodes one compressed stream held wholly in `packed` with the setup
// program's decoder, straight from memory. Returns false when the
// stream is damaged or does not decode to exactly `expected` bytes; *out
// receives what was decoded.
bool decode_stream(const std::vector<uint8_t>& packed, uint32_t expected,
                   std::vector<uint8_t>* out);

} // namespace pakwiz
