#include "builder/encoder.h"

namespace pakwiz {

int max_compression_level() { return 0; }
int default_compression_level() { return 0; }

// Stored blocks: a byte holding the 4-bit header (7, or 15 for the last
// block) and 4 padding bits, then LEN (16 bits), then LEN bytes.
static void append_stored(std::vector<uint8_t>& out, const uint8_t* data, size_t size) {
  do {
    size_t n = size < 65535 ? size : 65535;
    bool last = n == size;
    out.push_back(last ? 0x0F : 0x07);
    out.push_back((uint8_t)n);
    out.push_back((uint8_t)(n >> 8));
    out.insert(out.end(), data, data + n);
    data += n;
    size -= n;
  } while (size > 0);
}

std::vector<uint8_t> encode_stream(const uint8_t* data, size_t size, int /*level*/) {
  std::vector<uint8_t> out;
  append_stored(out, data, size);
  return out;
}

}  // namespace pakwiz
