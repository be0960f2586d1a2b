// Little-endian byte building for package records.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

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
  void put_u32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) bytes[at + i] = (uint8_t)(v >> (8 * i));
  }
};

inline uint16_t get_u16(const uint8_t* p) {
  return (uint16_t)(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint64_t get_u64(const uint8_t* p) {
  return (uint64_t)get_u32(p) | ((uint64_t)get_u32(p + 4) << 32);
}

} // namespace pakwiz
