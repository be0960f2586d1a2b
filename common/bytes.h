// Little-endian fields in byte buffers (unaligned): the one set of byte
// helpers of the setup program, the builder, the uninstaller and the tests.
#pragma once
#include <stdint.h>

// A read or write is one or two instructions where it is used, fewer bytes
// than a call, which a compiler set to optimise for size may still make.
#if defined(__GNUC__)
#define BYTES_INLINE inline __attribute__((always_inline))
#else
#define BYTES_INLINE inline
#endif

BYTES_INLINE uint16_t read_u16(const uint8_t* p) {
  return (uint16_t)(p[0] | (p[1] << 8));
}
BYTES_INLINE uint32_t read_u32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
BYTES_INLINE uint64_t read_u64(const uint8_t* p) {
  return (uint64_t)read_u32(p) | ((uint64_t)read_u32(p + 4) << 32);
}
BYTES_INLINE void write_u16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
BYTES_INLINE void write_u32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
BYTES_INLINE void write_u64(uint8_t* p, uint64_t v) {
  write_u32(p, (uint32_t)v);
  write_u32(p + 4, (uint32_t)(v >> 32));
}

// value * factor / whole rounded down, for progress figures, with 32-bit
// arithmetic only: the 32-bit setup program then carries no 64-bit division
// routines. Exact while value * factor fits in 32 bits; a larger product
// first drops low bits of value and whole together, which for value <= whole
// moves the result by at most one. 0 when whole is 0.
inline uint32_t scale_down(uint32_t value, uint32_t factor, uint32_t whole) {
  while (factor && value > 0xFFFFFFFFu / factor) {
    value >>= 1;
    whole >>= 1;
  }
  return whole ? value * factor / whole : 0;
}
