#include "decode/checksum.h"

#include "common/heap.h"

namespace {
const uint32_t CHUNK = 16384; // a multiple of 4, so chunks carry the sum exactly

inline uint32_t rotl1(uint32_t c) {
  return (c << 1) | (c >> 31);
}
} // namespace

uint32_t rotate_add(uint32_t c, const uint8_t* data, size_t count) {
  const uint8_t* p = data;
  for (size_t words = count / 4; words; words--, p += 4)
    c = rotl1(c) +
        ((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
  for (size_t rest = count % 4; rest; rest--) c = rotl1(c) + *p++;
  return c;
}

void RunningChecksum::Add(const uint8_t* data, size_t count) {
  while (pending_count_ && pending_count_ < 4 && count) {
    pending_[pending_count_++] = *data++;
    count--;
  }
  if (pending_count_ == 4) {
    sum_ = rotate_add(sum_, pending_, 4);
    pending_count_ = 0;
  }
  size_t whole = count & ~(size_t)3;
  sum_ = rotate_add(sum_, data, whole);
  for (size_t i = whole; i < count; i++) pending_[pending_count_++] = data[i];
}

uint32_t file_checksum(FileHandle file) {
  uint8_t* buffer = (uint8_t*)heap_alloc(CHUNK);
  if (!buffer) return 0;
  uint32_t size = file_size(file), at = file_tell(file);
  uint32_t c = 0;
  if (size != FILE_BAD_POSITION && at != FILE_BAD_POSITION && at < size) {
    uint32_t left = size - at;
    while (left) {
      uint32_t want = left < CHUNK ? left : CHUNK;
      uint32_t got = file_read_some(file, buffer, want);
      c = rotate_add(c, buffer, got);
      if (got != want) break; // the file shrank or a read failed: sum what was read
      left -= got;
    }
  }
  heap_free(buffer);
  return c;
}

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t count) {
  // The byte table is made on first use: 1 KiB of zeroed data, not of the file.
  static uint32_t table[256];
  if (!table[1])
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t c = i;
      for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
      table[i] = c;
    }
  crc = ~crc;
  while (count--) crc = table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

bool file_crc32(FileHandle file, uint32_t count, uint32_t* crc) {
  uint8_t* buffer = (uint8_t*)heap_alloc(CHUNK);
  if (!buffer) return false;
  uint32_t c = *crc;
  while (count) {
    uint32_t want = count < CHUNK ? count : CHUNK;
    if (file_read_exact(file, buffer, want) != FILE_OK) break;
    c = crc32_update(c, buffer, want);
    count -= want;
  }
  heap_free(buffer);
  *crc = c;
  return count == 0;
}
