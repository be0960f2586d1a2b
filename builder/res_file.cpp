#include "builder/res_file.h"

#include "builder/bytes.h"
#include "builder/errors.h"

namespace pakwiz {

namespace {

// Reads a TYPE or NAME field at `at` (inside the header that ends at `end`).
// Returns false when malformed; sets *id to the number, or -1 for a string.
bool read_name(const uint8_t* p, size_t end, size_t* at, long* id) {
  if (*at + 2 > end) return false;
  if (read_u16(p + *at) == 0xFFFF) {
    if (*at + 4 > end) return false;
    *id = read_u16(p + *at + 2);
    *at += 4;
    return true;
  }
  *id = -1;
  for (;;) {
    if (*at + 2 > end) return false;
    uint16_t c = read_u16(p + *at);
    *at += 2;
    if (c == 0) return true;
  }
}

} // namespace

std::vector<ResDialog> read_res_dialogs(const uint8_t* data, size_t size, const std::string& name) {
  std::vector<ResDialog> dialogs;
  size_t at = 0;
  while (at < size) {
    if (size - at < 8) fail(name + ": the resource file ends inside a record header");
    uint32_t data_size = read_u32(data + at), header_size = read_u32(data + at + 4);
    if (header_size < 24 || header_size > size - at || data_size > size - at - header_size)
      fail(name + ": a resource record at offset " + std::to_string(at) +
           " runs past the end of the file (not a .res file?)");
    size_t header_end = at + header_size, field = at + 8;
    long type = 0, id = 0;
    if (!read_name(data, header_end, &field, &type) || !read_name(data, header_end, &field, &id))
      fail(name + ": malformed resource header at offset " + std::to_string(at));
    field = (field + 3) & ~(size_t)3;
    if (field + 16 > header_end)
      fail(name + ": malformed resource header at offset " + std::to_string(at));
    uint16_t language = read_u16(data + field + 6);
    if (type == 5 && id >= 0) {
      const uint8_t* d = data + header_end;
      dialogs.push_back(ResDialog{(uint16_t)id, language, std::vector<uint8_t>(d, d + data_size)});
    }
    at = (header_end + data_size + 3) & ~(size_t)3;
  }
  return dialogs;
}

} // namespace pakwiz
