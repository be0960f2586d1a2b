// The stub-length field: a u32 (unaligned, little-endian) directly behind the
// six marker bytes (STUB_MARKER_BYTES) in the program's initialised data. The
// builder finds the marker in the stub and writes the stub's size into the
// field; a raw stub holds 0, which means "no package".
#pragma once
#include <stdint.h>

#include "common/package_format.h"

struct StubMarker {
  uint8_t marker[STUB_MARKER_SIZE];
  uint8_t length[STUB_LENGTH_FIELD_SIZE];
};

// Reads the field (through a volatile view, so the compiler never folds the
// built-in value into the code).
uint32_t stub_length_from_marker();
