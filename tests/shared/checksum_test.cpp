#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/heap.h"
#include "decode/checksum.h"
#include "support/temp_dir.h"

namespace {

uint32_t sum_of(const std::string& s) {
  return rotate_add(0, (const uint8_t*)s.data(), s.size());
}

TEST(Checksum, RotateAddOfKnownTexts) {
  EXPECT_EQ(sum_of(""), 0u);
  EXPECT_EQ(sum_of("abc"), 0x000002ABu);
  EXPECT_EQ(sum_of("abcde"), 0xC8C6C527u);
  // Words are little-endian and the value rotates before each add.
  EXPECT_EQ(sum_of(std::string("\x01\x00\x00\x80", 4)), 0x80000001u);
  EXPECT_EQ(sum_of(std::string("\x01\x00\x00\x80\x00\x00\x00\x00", 8)), 0x00000003u);
  // Carrying the value over pieces that are multiples of 4 equals one pass.
  std::string s = "The quick brown fox jumps over the lazy dog.";
  uint32_t c = rotate_add(0, (const uint8_t*)s.data(), 20);
  c = rotate_add(c, (const uint8_t*)s.data() + 20, s.size() - 20);
  EXPECT_EQ(c, sum_of(s));
}

// Pieces of any length, including empty ones and ones shorter than a word,
// give the sum of one pass over the whole data ("abcde" spans the known value).
TEST(Checksum, RunningChecksumOverUnevenPiecesEqualsOnePass) {
  std::string s = "abcde";
  for (int i = 0; i < 200; i++) s += (char)(i * 37 + 11);
  const std::vector<std::vector<size_t>> splits = {
      {5}, {1, 1, 1, 1, 1}, {3, 0, 2}, {2, 7, 1, 3, 100, 92}, {205}, {4, 4, 197}, {1, 203, 1}};
  for (const auto& split : splits) {
    RunningChecksum running;
    size_t at = 0;
    for (size_t n : split) {
      running.Add((const uint8_t*)s.data() + at, n);
      at += n;
      if (at == 5) {
        EXPECT_EQ(running.Value(), 0xC8C6C527u);
      }
    }
    EXPECT_EQ(running.Value(), sum_of(s.substr(0, at))) << "first piece " << split[0];
  }
}

static bool fail_all(size_t, int) {
  return true;
}

TEST(Checksum, FileChecksumCoversTheRestOfTheFile) {
  TempDir dir;
  std::mt19937 rng(1);
  std::vector<uint8_t> data(16384 * 3 + 7); // chunks of 16,384 and a ragged end
  for (auto& b : data) b = (uint8_t)rng();
  std::string path = dir.write("f", data);
  FileHandle f = file_open(path.c_str(), FILE_READ);
  ASSERT_NE(f, INVALID_FILE);
  EXPECT_EQ(file_checksum(f), rotate_add(0, data.data(), data.size()));
  file_seek(f, 100, FROM_START);
  EXPECT_EQ(file_checksum(f), rotate_add(0, data.data() + 100, data.size() - 100));
  file_seek(f, 0, FROM_START);
  heap_set_failure_hook(fail_all);
  EXPECT_EQ(file_checksum(f), 0u); // no chunk buffer
  heap_set_failure_hook(nullptr);
  file_close(f);

  f = file_open(dir.write("empty", std::string()).c_str(), FILE_READ);
  EXPECT_EQ(file_checksum(f), 0u);
  file_close(f);
}

// The integrity checksum: the check value of the standard CRC-32, pieces
// that continue it, and a file range read in chunks (a range running past
// the end fails rather than checking less).
TEST(Checksum, Crc32KnownValuesPiecesAndFileRanges) {
  auto crc_of = [](const std::string& s) {
    return crc32_update(0, (const uint8_t*)s.data(), s.size());
  };
  EXPECT_EQ(crc_of(""), 0u);
  EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  std::string s = "The quick brown fox jumps over the lazy dog";
  uint32_t c = crc32_update(0, (const uint8_t*)s.data(), 7);
  EXPECT_EQ(crc32_update(c, (const uint8_t*)s.data() + 7, s.size() - 7), crc_of(s));

  TempDir dir;
  std::mt19937 rng(2);
  std::vector<uint8_t> data(16384 * 2 + 5);
  for (auto& b : data) b = (uint8_t)rng();
  FileHandle f = file_open(dir.write("f", data).c_str(), FILE_READ);
  ASSERT_NE(f, INVALID_FILE);
  uint32_t crc = 0;
  file_seek(f, 3, FROM_START);
  EXPECT_TRUE(file_crc32(f, (uint32_t)data.size() - 4, &crc));
  EXPECT_EQ(crc, crc32_update(0, data.data() + 3, data.size() - 4));
  // In two pieces, the second continuing the first.
  uint32_t pieces = 0;
  file_seek(f, 3, FROM_START);
  EXPECT_TRUE(file_crc32(f, 100, &pieces));
  EXPECT_TRUE(file_crc32(f, (uint32_t)data.size() - 104, &pieces));
  EXPECT_EQ(pieces, crc);
  file_seek(f, 3, FROM_START);
  EXPECT_FALSE(file_crc32(f, (uint32_t)data.size(), &crc));
  file_close(f);
}

} // namespace
