// Encoder and decoder together: round trips through both output paths,
// block types, determinism and the stored-block bound.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "builder/encoder.h"
#include "common/file.h"
#include "decode/stream_decoder.h"
#include "support/temp_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes encode(const Bytes& data, int level) {
  return pakwiz::encode_stream(data.data(), data.size(), level);
}

size_t stored_bound(size_t n) {
  return n + 3 * (n == 0 ? 1 : (n + 65534) / 65535);
}

class CodecTest : public ::testing::Test {
protected:
  // Decodes `stream` (followed by unrelated bytes) into memory, from the file
  // and from memory, and into a file; checks each against `data` and that
  // the position ends behind the stream.
  void expect_round_trip(const Bytes& data, const Bytes& stream, const std::string& what) {
    Bytes file = stream;
    file.insert(file.end(), {'n', 'e', 'x', 't'});
    std::string in_path = dir.write("stream", file);
    std::string out_path = dir.file("out");

    FileHandle in = file_open(in_path.c_str(), FILE_READ);
    ASSERT_NE(in, INVALID_FILE);
    FileSource file_input(in);
    Bytes buffer(data.size() + 1);
    uint32_t produced = 0;
    EXPECT_EQ(DecodeToMemory(buffer.data(), (uint32_t)data.size(), &file_input, 0, &produced), 1)
        << what;
    EXPECT_EQ(produced, data.size()) << what;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin())) << what;
    EXPECT_EQ(file_tell(in), stream.size()) << what;

    MemorySource memory_input(file.data(), (uint32_t)file.size());
    std::fill(buffer.begin(), buffer.end(), 0);
    produced = 0;
    EXPECT_EQ(DecodeToMemory(buffer.data(), (uint32_t)data.size(), &memory_input, 0, &produced), 1)
        << what;
    EXPECT_EQ(produced, data.size()) << what;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin())) << what;
    EXPECT_EQ(memory_input.position(), stream.size()) << what;

    file_seek(in, 0, FROM_START);
    FileHandle out = file_create(out_path.c_str());
    ASSERT_NE(out, INVALID_FILE);
    EXPECT_EQ(DecodeToFile(out, &file_input, 0), 1) << what;
    EXPECT_EQ(file_tell(in), stream.size()) << what;
    file_close(out);
    file_close(in);
    EXPECT_TRUE(read_file_bytes(out_path) == data) << what;
  }

  TempDir dir;
};

Bytes pseudo_random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = (uint8_t)rng();
  return b;
}

TEST_F(CodecTest, RoundTripsAtEveryLevel) {
  Bytes repetitive;
  for (int i = 0; i < 300000; i++) repetitive.push_back("abcabcabd"[i % 9] + (i / 50000));
  Bytes mixed = pseudo_random(40000, 1);
  mixed.insert(mixed.end(), repetitive.begin(), repetitive.begin() + 100000);
  Bytes sparse(200000, 0);
  for (size_t i = 0; i < sparse.size(); i += 997) sparse[i] = (uint8_t)i;
  struct Case {
    const char* name;
    Bytes data;
  } cases[] = {
      {"empty", {}},
      {"one byte", {42}},
      {"32768 bytes", Bytes(repetitive.begin(), repetitive.begin() + 32768)},
      {"32769 bytes", Bytes(repetitive.begin(), repetitive.begin() + 32769)},
      {"repetitive", repetitive},
      {"random", pseudo_random(150000, 2)},
      {"random then repetitive", mixed},
      {"sparse", sparse},
  };
  std::vector<int> levels = {0, 1, 6, pakwiz::default_compression_level()};
  for (const Case& c : cases) {
    for (int level : levels) {
      Bytes stream = encode(c.data, level);
      EXPECT_LE(stream.size(), stored_bound(c.data.size())) << c.name << " level " << level;
      expect_round_trip(c.data, stream, std::string(c.name) + " level " + std::to_string(level));
    }
  }
  // Repetitive data shrinks a lot; random data stays in stored blocks.
  EXPECT_LT(encode(repetitive, pakwiz::default_compression_level()).size(), repetitive.size() / 50);
  Bytes random = pseudo_random(150000, 2);
  EXPECT_EQ(encode(random, pakwiz::default_compression_level()).size(),
            stored_bound(random.size()));
}

// The type of the stream's first block: 5 fixed, 6 dynamic, 7 stored.
int first_block_type(const Bytes& stream) {
  return stream.empty() ? -1 : stream[0] & 7;
}

TEST_F(CodecTest, EveryBlockTypeIsProduced) {
  int best = pakwiz::default_compression_level();
  std::string phrase = "Installing files... installing files... installing files.";
  Bytes small(phrase.begin(), phrase.end());
  Bytes text;
  std::mt19937 rng(5);
  static const char* words[] = {"alpha ", "beta ",  "gamma ", "delta ", "epsilon ", "zeta ",
                                "eta ",   "theta ", "iota ",  "kappa ", "lambda\n", "mu, "};
  while (text.size() < 100000) {
    const char* w = words[rng() % 12];
    text.insert(text.end(), w, w + strlen(w));
  }
  Bytes random = pseudo_random(5000, 9);
  Bytes fixed = encode(small, best), dynamic = encode(text, best), stored = encode(random, best);
  EXPECT_EQ(first_block_type(fixed), 5);
  EXPECT_EQ(first_block_type(dynamic), 6);
  EXPECT_EQ(first_block_type(stored), 7);
  EXPECT_EQ(first_block_type(encode(text, 0)), 7); // level 0: stored only
  expect_round_trip(small, fixed, "fixed");
  expect_round_trip(text, dynamic, "dynamic");
  expect_round_trip(random, stored, "stored");
}

TEST_F(CodecTest, OutputIsDeterministic) {
  Bytes data = pseudo_random(20000, 4);
  for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(data[i] % 7 + 'a');
  for (int level : {1, 6, pakwiz::default_compression_level()}) {
    EXPECT_EQ(encode(data, level), encode(data, level)) << level;
  }
  EXPECT_GE(pakwiz::max_compression_level(), pakwiz::default_compression_level());
  // Levels above the highest are taken as the highest.
  EXPECT_EQ(encode(data, pakwiz::max_compression_level() + 5),
            encode(data, pakwiz::max_compression_level()));
}

// Large data is encoded in pieces that join into one stream: a piece may end
// inside a byte, be stored, or be empty, and the stream still decodes whole.
TEST_F(CodecTest, PiecesJoinIntoOneStream) {
  Bytes text;
  std::mt19937 rng(11);
  while (text.size() < pakwiz::ENCODE_PIECE + 700000) {
    std::string line = "entry " + std::to_string(rng() % 5000) + " of the list\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  Bytes random = pseudo_random(pakwiz::ENCODE_PIECE + 100, 12);
  Bytes mixed(text.begin(), text.begin() + 2000000);
  mixed.insert(mixed.end(), random.begin(), random.begin() + 3000000);
  mixed.insert(mixed.end(), text.begin(), text.begin() + 1000000);
  for (const Bytes* data : {&text, &mixed}) {
    Bytes stream = encode(*data, 1);
    EXPECT_LT(stream.size(), data->size());
    expect_round_trip(*data, stream, "across pieces");
  }
  // Stored data is framed as if it were one piece.
  EXPECT_EQ(encode(random, 1).size(), stored_bound(random.size()));

  // Small pieces of every kind, each joined where the last one ended.
  Bytes data, stream;
  pakwiz::StreamEncoder encoder(
      pakwiz::default_compression_level(),
      [&stream](const uint8_t* p, size_t n) { stream.insert(stream.end(), p, p + n); });
  for (int k = 0; k < 12; k++) {
    Bytes piece = k % 3 == 0   ? Bytes(text.begin() + 1000 * k, text.begin() + 1000 * k + 3001)
                  : k % 3 == 1 ? pseudo_random(2000 + k, 20 + k)
                               : Bytes();
    data.insert(data.end(), piece.begin(), piece.end());
    encoder.add(piece.data(), piece.size(), k == 11);
  }
  EXPECT_EQ(encoder.written(), stream.size());
  expect_round_trip(data, stream, "small pieces");
}

// Real files: a few MB from the system's program folder (Z: maps to / under
// Wine) and the files of this source tree.
TEST_F(CodecTest, RoundTripsRealFiles) {
  namespace fs = std::filesystem;
#ifdef _WIN32
  const char* programs = "Z:\\usr\\bin";
#else
  const char* programs = "/usr/bin";
#endif
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::directory_iterator(programs, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec) && it->file_size(ec) > 100000 &&
        it->file_size(ec) < 2000000)
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  if (files.size() > 4) files.resize(4);
  for (auto it = fs::recursive_directory_iterator(PAKWIZ_SOURCE_DIR "/decode", ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path());
  ASSERT_GE(files.size(), 5u);

  size_t total = 0, packed = 0;
  for (const fs::path& p : files) {
    Bytes data = read_file_bytes(p.string());
    Bytes stream = encode(data, pakwiz::default_compression_level());
    total += data.size();
    packed += stream.size();
    expect_round_trip(data, stream, p.string());
  }
  EXPECT_GT(total, 1000000u);
  EXPECT_LT(packed, total);
}

} // namespace
