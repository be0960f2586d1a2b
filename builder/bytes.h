// Little-endian byte building for package records. Reading fields back is
// done with the helpers of common/bytes.h.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "common/bytes.h"

namespace pakwiz {

class ByteWriter {
public:
  std::vector<uint8_t> bytes;

  size_t size() const { return bytes.size(); }
  void u8(uint8_t v) { bytes.push_back(v); }
  void u16(uint16_t v) {
    u8((uint8_t)v);
    u8((uint8_t)(v >> 8));
  }
  void u32(uint32_t v) {
    u16((uint16_t)v);
    u16((uint16_t)(v >> 16));
  }
  void u64(uint64_t v) {
    u32((uint32_t)v);
    u32((uint32_t)(v >> 32));
  }
  void append(const std::vector<uint8_t>& v) { bytes.insert(bytes.end(), v.begin(), v.end()); }
  void append(const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); }
  // The text and its terminating NUL.
  void text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    u8(0);
  }
  void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
  void align(size_t a) {
    while (bytes.size() % a) u8(0);
  }
  void put_u32(size_t at, uint32_t v) { write_u32(&bytes[at], v); }
};

} // namespace pakwiz
