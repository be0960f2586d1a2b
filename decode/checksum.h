// The file checksum: an unsigned 32-bit rotate-add sum. For each whole
// little-endian 32-bit word w: c = rotl(c, 1) + w; then for each of the
// remaining 0-3 bytes b: c = rotl(c, 1) + b. Starting at 0, "abc" gives
// 0x000002AB and "abcde" 0xC8C6C527.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "common/file.h"

// Continues a running value c over count bytes. Carrying c across calls equals
// one call over the whole data only when every call but the last covers a
// multiple of 4 bytes.
uint32_t rotate_add(uint32_t c, const uint8_t* data, size_t count);

// The checksum of data that arrives in pieces of any length, as one call of
// rotate_add over the whole data would give it: up to 3 bytes of a word wait
// for the next piece.
class RunningChecksum {
public:
  void Add(const uint8_t* data, size_t count);
  uint32_t Value() const { return rotate_add(sum_, pending_, pending_count_); }

private:
  uint32_t sum_ = 0;
  uint8_t pending_[4] = {};
  size_t pending_count_ = 0;
};

// Checksum of the file's content from its current position to its end, read
// in 16,384-byte chunks; 0 when the chunk buffer cannot be had.
uint32_t file_checksum(FileHandle file);

// The integrity checksum of package parts: the CRC-32 of IEEE 802.3
// (reflected polynomial 0xEDB88320, initial and final inversion), continued
// from `crc` (0 to begin). "123456789" gives 0xCBF43926. Unlike the
// rotate-add sum, it catches every error burst up to 32 bits long and every
// pair of flipped bits, wherever they lie.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t count);

// The CRC-32 of the next `count` bytes of the file from its current
// position, continued from *crc (0 to begin), so that a long part can be
// checked in pieces. False when they cannot all be read (or no chunk buffer
// can be had).
bool file_crc32(FileHandle file, uint32_t count, uint32_t* crc);
