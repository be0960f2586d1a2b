// Payloads and records of a package script, built from plain values. Every
// function returns the exact bytes the setup program reads; none of them
// touches a file.
#pragma once
#include <stdint.h>

#include <vector>

#include "builder/package_fields.h"

namespace pakwiz {

// Language record payload. Throws BuildError when it would exceed 4 GiB.
std::vector<uint8_t> language_payload(const LanguageFields& lang);
// One file entry. Throws BuildError when the entry exceeds 65,535 bytes.
std::vector<uint8_t> file_entry_bytes(const FileEntryFields& entry);
// File list payload: u32 count and the entries.
std::vector<uint8_t> file_list_payload(const std::vector<FileEntryFields>& entries);
// INI, registry and file patch list payloads: u16 count and the entries.
std::vector<uint8_t> ini_list_payload(const std::vector<IniEntryFields>& entries);
std::vector<uint8_t> registry_list_payload(const std::vector<RegistryEntryFields>& entries);
std::vector<uint8_t> patch_list_payload(const std::vector<PatchEntryFields>& entries);

// Appends a record: header and payload. With `compressible` set the payload
// is stored compressed (u32 unpacked size + stream, encoded at `level`) when
// that is smaller than the payload itself.
void append_record(std::vector<uint8_t>& out, int type, const std::vector<uint8_t>& payload,
                   bool compressible, int level);
// Appends the end marker header (tag TAG_END, `flags`, length 4) and the u32
// archive size of the package file's share of the archive.
void append_end_marker(std::vector<uint8_t>& out, uint32_t archive_bytes, uint16_t flags = 0);

} // namespace pakwiz
