// File patches: the pattern search through its 32 KB window (every start
// position tested once, matches across the 16 KB pieces found, the first
// occurrence taken) and writing the expanded text at the position found.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/state.h"
#include "install/lists.h"
#include "support/temp_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// A file of `size` filler bytes with `pattern` planted at each offset.
Bytes planted(size_t size, const Bytes& pattern, const std::vector<size_t>& at) {
  Bytes b(size, 'a');
  for (size_t i = 0; i < size; i++) b[i] = (uint8_t)('a' + i % 7);
  for (size_t offset : at) std::copy(pattern.begin(), pattern.end(), b.begin() + offset);
  return b;
}

Bytes random_pattern(size_t m) {
  std::mt19937 rng(7);
  Bytes p(m);
  for (uint8_t& c : p) c = (uint8_t)(0x80 + rng() % 0x80); // never a filler byte
  return p;
}

// The reference answer: offset behind the first occurrence.
uint32_t naive(const Bytes& file, const Bytes& pattern) {
  auto it = std::search(file.begin(), file.end(), pattern.begin(), pattern.end());
  return it == file.end() ? PATTERN_NOT_FOUND : (uint32_t)(it - file.begin() + pattern.size());
}

class PatternSearch : public ::testing::Test {
protected:
  uint32_t search(const Bytes& file, const Bytes& pattern) {
    std::string path = dir.write("data.bin", file);
    FileHandle f = file_open(path.c_str(), FILE_READ);
    EXPECT_NE(f, INVALID_FILE);
    uint32_t r = find_pattern(f, pattern.data(), (uint32_t)pattern.size());
    file_close(f);
    return r;
  }
  TempDir dir;
};

class FilePatch : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    strcpy(g_app.install_folder, "C:\\Apps\\Tool\\");
    strcpy(g_app.package_path, "D:\\setup.exe");
  }
  void TearDown() override { app_free_buffers(); }
  // Patches a file holding `content` and returns what it holds afterwards.
  Bytes patch(const Bytes& content, int32_t position, const std::string& text,
              const Bytes& pattern = Bytes()) {
    std::string path = dir.write("target.bin", content);
    PatchEntry e{position, "target.bin", text.c_str(), pattern.data(), (uint32_t)pattern.size()};
    patch_file(path.c_str(), e);
    return read_file_bytes(path);
  }
  TempDir dir;
};

Bytes bytes_of(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

} // namespace

TEST_F(PatternSearch, FindsTheFirstOccurrenceWhereverItLies) {
  const Bytes p = bytes_of("PATTERN!");
  struct Case {
    size_t size;
    std::vector<size_t> at;
    uint32_t expected;
  } cases[] = {
      {100, {0}, 8},
      {100, {92}, 100},                // ends with the file
      {40000, {39992}, 40000},         // ends with a file longer than one window
      {40000, {16380}, 16388},         // straddles the first 16 KB piece
      {40000, {32764}, 32772},         // straddles the end of the first window
      {100000, {70000, 50000}, 50008}, // the first of two
      {100000, {49152}, 49160},        // starts a piece read later
      {32768, {32760}, 32768},         // a file of exactly one window
      {40000, {}, PATTERN_NOT_FOUND},
      {5, {}, PATTERN_NOT_FOUND}, // shorter than the pattern
  };
  for (const Case& c : cases) {
    Bytes file = planted(c.size, p, c.at);
    EXPECT_EQ(search(file, p), c.expected) << "size " << c.size;
    EXPECT_EQ(naive(file, p), c.expected) << "size " << c.size; // the table itself
  }
}

// Every start position around the places where the window moves, in files
// that end at and around those places, against a plain search.
TEST_F(PatternSearch, EveryStartPositionIsTestedOnce) {
  const Bytes p = bytes_of("xyzzy");
  for (size_t size : {32767u, 32768u, 32769u, 49152u, 49157u, 65600u}) {
    for (size_t boundary : {16384u, 32768u, 49152u, 65536u}) {
      for (size_t at = boundary - p.size(); at <= boundary + 1; at++) {
        if (at + p.size() > size) continue;
        Bytes file = planted(size, p, {at});
        ASSERT_EQ(search(file, p), at + p.size()) << "size " << size << " at " << at;
      }
    }
  }
}

TEST_F(PatternSearch, LongestPatternFitsTheWindowAndLongerOnesAreRefused) {
  Bytes longest = random_pattern(MAX_PATTERN_LENGTH);
  // The last start position of the first window, and the very end of a file
  // read in several pieces.
  EXPECT_EQ(search(planted(100000, longest, {16383}), longest), 32768u);
  EXPECT_EQ(search(planted(100000, longest, {100000 - MAX_PATTERN_LENGTH}), longest), 100000u);
  Bytes longer = random_pattern(MAX_PATTERN_LENGTH + 1);
  EXPECT_EQ(search(planted(100000, longer, {1000}), longer), PATTERN_NOT_FOUND);
}

TEST_F(FilePatch, WritesAtAPositionAndBeyondTheEnd) {
  Bytes content = planted(50, Bytes(), {});
  Bytes after = patch(content, 100, "HELLO");
  ASSERT_EQ(after.size(), 105u);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), after.begin()));
  EXPECT_EQ(std::count(after.begin() + 50, after.begin() + 100, 0), 50);
  EXPECT_EQ(std::string(after.begin() + 100, after.end()), "HELLO");

  Bytes inside = patch(bytes_of("0123456789"), 2, "ab");
  EXPECT_EQ(std::string(inside.begin(), inside.end()), "01ab456789");
}

TEST_F(FilePatch, WritesBehindTheFirstMatchWithItsMacrosExpanded) {
  Bytes after = patch(bytes_of("[FOLDER=............] [FOLDER=............]"), PATCH_SEARCH,
                      "#InstallDir#", bytes_of("FOLDER="));
  EXPECT_EQ(std::string(after.begin(), after.end()),
            "[FOLDER=C:\\Apps\\Tool] [FOLDER=............]");

  // A pattern that ends the 40,000-byte file: the text lengthens it.
  Bytes big = planted(40000, bytes_of("END:"), {39996});
  after = patch(big, PATCH_SEARCH, "tail", bytes_of("END:"));
  ASSERT_EQ(after.size(), 40004u);
  EXPECT_EQ(std::string(after.end() - 8, after.end()), "END:tail");
}

TEST_F(FilePatch, EntriesWithoutEffectLeaveTheFileAsItWas) {
  const Bytes content = bytes_of("KEY=value KEY=value");
  struct Case {
    const char* what;
    int32_t position;
    std::string text;
    Bytes pattern;
  } cases[] = {
      {"text expands to nothing", 0, "#Nothing#", {}},
      {"pattern not found", PATCH_SEARCH, "x", bytes_of("MISSING")},
      {"search without a pattern", PATCH_SEARCH, "x", {}},
      {"negative position", -5, "x", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(patch(content, c.position, c.text, c.pattern), content) << c.what;

  // A pattern longer than the window can hold is not searched for, even
  // where it is present.
  const Bytes ks(20000, 'K');
  EXPECT_EQ(patch(ks, PATCH_SEARCH, "x", Bytes(MAX_PATTERN_LENGTH + 1, 'K')), ks);
}

TEST_F(FilePatch, MissingFileIsNotCreated) {
  std::string path = dir.file("absent.txt");
  PatchEntry e{0, "absent.txt", "text", nullptr, 0};
  patch_file(path.c_str(), e);
  EXPECT_FALSE(file_exists(path));
}
