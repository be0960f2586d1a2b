// Reader of compiled resource files (.res, as written by windres -O res).
//
// Layout: 4-byte aligned records of u32 DataSize, u32 HeaderSize, TYPE and
// NAME (each 0xFFFF + u16 id, or a NUL-terminated UTF-16LE string, padded to
// 4), u32 DataVersion, u16 MemoryFlags, u16 LanguageId, u32 Version, u32
// Characteristics, then the data, padded to 4. The first record is an empty
// marker. Dialogs are type 5.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace pakwiz {

struct ResDialog {
  uint16_t id;
  uint16_t language;
  std::vector<uint8_t> data; // the DLGTEMPLATE(EX) as LoadResource returns it
};

// The dialogs with numeric IDs, in file order (dialogs named by a string are
// passed over). Throws BuildError naming `name` when a record runs past the
// end of the data or its header is malformed.
std::vector<ResDialog> read_res_dialogs(const uint8_t* data, size_t size, const std::string& name);

} // namespace pakwiz
