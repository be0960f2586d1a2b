#include "package/certificate.h"

#include "common/text.h"

namespace {

const uint32_t DOS_PE_OFFSET = 0x3C;
const uint32_t PE_OPTIONAL_SIZE = 20; // SizeOfOptionalHeader, behind "PE\0\0"
const uint32_t PE_OPTIONAL = 24;      // the optional header
// The security directory is the fifth data directory: 128 bytes into a
// PE32 optional header, 144 into a PE32+ one.
const uint32_t SECURITY_PE32 = 128, SECURITY_PE32_PLUS = 144;
const uint16_t CERT_REVISION_2_0 = 0x0200, CERT_TYPE_PKCS_SIGNED_DATA = 2;
const uint32_t CERT_HEADER = 8; // u32 length, u16 revision, u16 type

} // namespace

uint32_t security_directory_entry(const uint8_t* headers, uint32_t size) {
  if (size < 0x40 || headers[0] != 'M' || headers[1] != 'Z') return 0;
  uint32_t pe = read_u32(headers + DOS_PE_OFFSET);
  if (pe > size - PE_OPTIONAL - 2 || read_u32(headers + pe) != 0x00004550u) return 0;
  uint16_t magic = read_u16(headers + pe + PE_OPTIONAL);
  uint32_t entry = magic == 0x10B ? SECURITY_PE32 : magic == 0x20B ? SECURITY_PE32_PLUS : 0;
  if (!entry || read_u16(headers + pe + PE_OPTIONAL_SIZE) < entry + 8) return 0;
  entry += pe + PE_OPTIONAL;
  return entry <= size - 8 ? entry : 0;
}

bool certificate_table_follows(FileHandle file, uint32_t archive_end, uint32_t file_length) {
  uint8_t headers[1024];
  if (archive_end >= file_length || file_seek(file, 0, FROM_START) != 0) return false;
  uint32_t entry = security_directory_entry(headers, file_read_some(file, headers, sizeof headers));
  if (!entry) return false;
  uint32_t offset = read_u32(headers + entry), size = read_u32(headers + entry + 4);
  // The table starts at the first multiple of 8 from the archive's end (the
  // difference wraps when it starts before) and runs to the file's end.
  uint32_t gap = offset - archive_end;
  if (gap >= 8 || (offset & 7) || size < CERT_HEADER || size != file_length - offset) return false;
  uint8_t tail[7 + CERT_HEADER];
  if (file_seek(file, (int32_t)archive_end, FROM_START) != archive_end ||
      file_read_exact(file, tail, gap + CERT_HEADER) != FILE_OK)
    return false;
  for (uint32_t i = 0; i < gap; i++)
    if (tail[i]) return false;
  uint32_t length = read_u32(tail + gap);
  return length >= CERT_HEADER && length <= size && read_u16(tail + gap + 4) == CERT_REVISION_2_0 &&
         read_u16(tail + gap + 6) == CERT_TYPE_PKCS_SIGNED_DATA;
}
