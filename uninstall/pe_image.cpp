#include "uninstall/pe_image.h"

#include "common/text.h"
#include "uninstall/log_reader.h"

namespace {

// Offsets in the PE headers: e_lfanew in the DOS header; behind it the
// signature "PE\0\0" and the COFF file header, relative to the signature;
// then the optional header.
const uint32_t DOS_PE_OFFSET = 0x3C;
const uint32_t PE_SECTIONS = 6;       // NumberOfSections
const uint32_t PE_SYMBOLS = 12;       // PointerToSymbolTable
const uint32_t PE_SYMBOL_COUNT = 16;  // NumberOfSymbols
const uint32_t PE_OPTIONAL_SIZE = 20; // SizeOfOptionalHeader
const uint32_t PE_OPTIONAL = 24;      // the optional header
const uint32_t OPT_SIZE_OF_HEADERS = 60;
const uint32_t SECTION_SIZE = 40;
const uint32_t SECTION_RAW_SIZE = 16, SECTION_RAW_POINTER = 20;
const uint32_t SYMBOL_SIZE = 18;
const uint32_t SECURITY_DIRECTORY = 4;

bool fits(uint32_t offset, uint32_t n, uint32_t size) {
  return offset <= size && n <= size - offset;
}

} // namespace

uint32_t pe_image_end(const uint8_t* file, uint32_t size) {
  if (!fits(0, 0x40, size) || file[0] != 'M' || file[1] != 'Z') return 0;
  uint32_t pe = read_u32(file + DOS_PE_OFFSET);
  if (!fits(pe, PE_OPTIONAL, size) || read_u32(file + pe) != 0x00004550u) return 0;
  uint32_t sections = read_u16(file + pe + PE_SECTIONS);
  uint32_t optional_size = read_u16(file + pe + PE_OPTIONAL_SIZE);
  uint32_t optional = pe + PE_OPTIONAL;
  if (!fits(optional, optional_size, size) || optional_size < OPT_SIZE_OF_HEADERS + 4) return 0;

  // PE32 (0x10B) and PE32+ (0x20B) differ in where the data directories start.
  uint16_t magic = read_u16(file + optional);
  uint32_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  if (!directories || optional_size < directories) return 0;

  uint64_t end = read_u32(file + optional + OPT_SIZE_OF_HEADERS);
  uint32_t table = optional + optional_size;
  if (!fits(table, sections * SECTION_SIZE, size)) return 0;
  for (uint32_t i = 0; i < sections; i++) {
    const uint8_t* s = file + table + i * SECTION_SIZE;
    uint64_t raw_size = read_u32(s + SECTION_RAW_SIZE), raw = read_u32(s + SECTION_RAW_POINTER);
    if (raw_size && raw + raw_size > end) end = raw + raw_size;
  }

  uint32_t symbols = read_u32(file + pe + PE_SYMBOLS);
  uint32_t symbol_count = read_u32(file + pe + PE_SYMBOL_COUNT);
  if (symbols) {
    // The string table follows the symbols and starts with its own size.
    uint64_t strings = (uint64_t)symbols + (uint64_t)symbol_count * SYMBOL_SIZE;
    if (strings + 4 > size) return 0;
    uint64_t strings_end = strings + read_u32(file + strings);
    if (strings_end > end) end = strings_end;
  }

  uint32_t directory_count = read_u32(file + optional + directories - 4);
  uint32_t security = optional + directories + SECURITY_DIRECTORY * 8;
  if (directory_count > SECURITY_DIRECTORY && security + 8 <= optional + optional_size) {
    uint64_t offset = read_u32(file + security), length = read_u32(file + security + 4);
    if (offset && length && offset + length > end) end = offset + length;
  }
  return end <= size ? (uint32_t)end : 0;
}

uint32_t find_uninstall_log(const uint8_t* file, uint32_t size) {
  uint32_t end = pe_image_end(file, size);
  if (end == 0 || !fits(end, RECORD_HEADER_SIZE, size)) return 0;
  if (read_u16(file + end) != LOG_TAG_FILES || read_u16(file + end + 2) != 0) return 0;
  return end;
}
