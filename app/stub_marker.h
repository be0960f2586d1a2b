// The stub-length field: a u32 (unaligned, little-endian) directly behind the
// six marker bytes 77 77 67 54 29 48 in the program's initialised data. The
// builder finds the marker in the stub and writes the stub's size into the
// field; a raw stub holds 0, which means "no package".
#pragma once
#include <stdint.h>

struct StubMarker {
  uint8_t marker[6];
  uint8_t length[4];
};
static const uint8_t STUB_MARKER_BYTES[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};

// Reads the field (through a volatile view, so the compiler never folds the
// built-in value into the code).
uint32_t stub_length_from_marker();
