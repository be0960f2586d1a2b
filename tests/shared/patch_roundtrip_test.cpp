// The builder's patch generator against the setup program's applier: many
// (base, target) pairs, each patch packed as the archive holds it and
// rebuilt by the real blob reader and interpreter; every stream is walked
// to check that it keeps to the format (complete operands, inserts within
// the data stream, copies inside the base, no data left over).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "builder/encoder.h"
#include "builder/errors.h"
#include "builder/patch_generator.h"
#include "builder/patch_rebuild.h"
#include "support/package_maker.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct StreamWalk {
  std::string problem; // empty when the streams keep to the format
  size_t commands = 0, copies = 0, combined = 0, inserted = 0, copied = 0;
};

// Walks the streams as the format defines them, without the applier.
StreamWalk walk(const Bytes& base, const pakwiz::PatchStreamBytes& s, size_t target_size) {
  StreamWalk w;
  const Bytes& c = s.commands;
  size_t at = 0, data_at = 0;
  int64_t cursor = 0;
  auto fail = [&](const std::string& what) {
    w.problem = what + " at command byte " + std::to_string(at);
    return w;
  };
  while (at < c.size()) {
    uint8_t op = c[at++];
    w.commands++;
    size_t insert = 0, copy = 0;
    if (op >= 0xA0) {
      insert = (op >> 5) & 3;
      copy = (op & 0x1F) + 2;
      w.combined++;
    } else if (op >= 0x80) {
      insert = (op & 0x1F) + 1;
    } else if (op) {
      copy = op + 1;
    } else {
      if (at + 2 > c.size()) return fail("long copy without its length");
      copy = (size_t)(c[at] | (c[at + 1] << 8)) + 129;
      at += 2;
    }
    if (data_at + insert > s.data.size()) return fail("insert beyond the data stream");
    data_at += insert;
    w.inserted += insert;
    if (copy) {
      if (at >= c.size()) return fail("copy without displacement");
      int64_t d;
      uint8_t b = c[at++];
      if (b >= 0x80 && b < 0xC0) {
        d = (b & 0x3F) >= 32 ? (b & 0x3F) - 64 : (b & 0x3F);
      } else if (b < 0x80) {
        if (at >= c.size()) return fail("displacement cut short");
        int64_t v = ((b & 0x7F) << 8) | c[at++];
        d = v >= 0x4000 ? v - 0x8000 - 32 : v + 32;
      } else {
        if (at + 2 > c.size()) return fail("displacement cut short");
        int64_t v = ((int64_t)(b & 0x3F) << 16) | (c[at] << 8) | c[at + 1];
        at += 2;
        d = v >= 0x200000 ? v - 0x400000 - 16416 : v + 16416;
      }
      int64_t from = cursor + d;
      if (from < 0 || from + (int64_t)copy > (int64_t)base.size())
        return fail("copy from outside the base");
      cursor = from + (int64_t)copy;
      w.copies++;
      w.copied += copy;
    }
  }
  if (data_at != s.data.size()) return fail("data left over");
  if (w.inserted + w.copied != target_size) return fail("result of the wrong size");
  return w;
}

// Generates, walks, packs and rebuilds; returns the packed patch's size.
size_t round_trip(const Bytes& base, const Bytes& target, const std::string& name,
                  StreamWalk* stats = nullptr) {
  pakwiz::PatchStreamBytes streams =
      pakwiz::generate_patch(base.data(), base.size(), target.data(), target.size());
  StreamWalk w = walk(base, streams, target.size());
  EXPECT_EQ(w.problem, "") << name;
  if (stats) *stats = w;
  Bytes patch = pakwiz::make_patch(base, target, pakwiz::default_compression_level());
  Bytes rebuilt;
  try {
    rebuilt = pakwiz::rebuild_patched_file(base, patch);
  } catch (const pakwiz::BuildError& e) {
    ADD_FAILURE() << name << ": " << e.what();
  }
  EXPECT_TRUE(rebuilt == target) << name << ": the rebuilt file differs (" << rebuilt.size()
                                 << " bytes, expected " << target.size() << ")";
  return patch.size();
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (uint8_t& x : b) x = (uint8_t)rng();
  return b;
}

// Replaced, inserted, removed, moved and repeated pieces, `count` edits.
Bytes random_edits(Bytes b, std::mt19937& rng, int count) {
  for (int k = 0; k < count && b.size() > 16; k++) {
    size_t at = rng() % b.size();
    size_t n = 1 + rng() % std::max<size_t>(1, std::min<size_t>(b.size() / 20, 4000));
    n = std::min(n, b.size() - at);
    switch (rng() % 5) {
    case 0: // replace
      for (size_t i = at; i < at + n && i < at + 64; i++) b[i] = (uint8_t)rng();
      break;
    case 1: { // insert
      Bytes x = random_bytes(rng, 1 + rng() % 200);
      b.insert(b.begin() + (long)at, x.begin(), x.end());
      break;
    }
    case 2: // remove
      b.erase(b.begin() + (long)at, b.begin() + (long)(at + n));
      break;
    case 3: { // move
      Bytes piece(b.begin() + (long)at, b.begin() + (long)(at + n));
      b.erase(b.begin() + (long)at, b.begin() + (long)(at + n));
      size_t to = rng() % (b.size() + 1);
      b.insert(b.begin() + (long)to, piece.begin(), piece.end());
      break;
    }
    default: { // repeat
      Bytes piece(b.begin() + (long)at, b.begin() + (long)(at + n));
      size_t to = rng() % (b.size() + 1);
      b.insert(b.begin() + (long)to, piece.begin(), piece.end());
    }
    }
  }
  return b;
}

// A few MB of real programs (Z: maps to / under Wine) and this tree's sources.
std::vector<fs::path> real_files() {
#ifdef _WIN32
  const char* programs = "Z:\\usr\\bin";
#else
  const char* programs = "/usr/bin";
#endif
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::directory_iterator(programs, ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec) && it->file_size(ec) > 200000 &&
        it->file_size(ec) < 1500000)
      files.push_back(it->path());
  std::sort(files.begin(), files.end());
  if (files.size() > 3) files.resize(3);
  for (const char* name : {"/decode/patch.cpp", "/builder/project.cpp", "/docs/project-file.md"})
    files.push_back(fs::path(PAKWIZ_SOURCE_DIR + std::string(name)));
  return files;
}

} // namespace

TEST(PatchRoundTrip, RandomEditsOfRealFiles) {
  std::vector<fs::path> files = real_files();
  ASSERT_GE(files.size(), 4u);
  std::mt19937 rng(20240501);
  size_t patches = 0, streams = 0;
  for (const fs::path& p : files) {
    Bytes base = read_file_bytes(p.string());
    ASSERT_FALSE(base.empty()) << p;
    for (int edits : {1, 10, 60}) {
      Bytes target = random_edits(base, rng, edits);
      std::string name = p.string() + " with " + std::to_string(edits) + " edits";
      patches += round_trip(base, target, name);
      streams += pakwiz::encode_stream(target.data(), target.size(), 6).size();
    }
    // The other way round: the edited file as the base.
    Bytes edited = random_edits(base, rng, 10);
    round_trip(edited, base, p.string() + " from its edited copy");
  }
  // Few edits make small patches: far below compressing the targets.
  EXPECT_LT(patches * 5, streams);
}

TEST(PatchRoundTrip, IdenticalEmptyAndTinyFiles) {
  std::mt19937 rng(7);
  Bytes file = random_bytes(rng, 1 << 20);
  StreamWalk w;
  size_t identical = round_trip(file, file, "identical", &w);
  EXPECT_LT(identical, 100u) << "a copy of the whole base is a few long copies";
  EXPECT_EQ(w.inserted, 0u);
  EXPECT_EQ(w.copies, (file.size() + 65663) / 65664);

  EXPECT_EQ(round_trip(Bytes(), Bytes(), "both empty"), 6u) << "two absent blobs";
  EXPECT_EQ(round_trip(file, Bytes(), "empty target"), 6u);
  round_trip(Bytes(), file, "empty base", &w);
  EXPECT_EQ(w.copies, 0u);
  round_trip(Bytes{1}, Bytes{1}, "one byte");
  round_trip(Bytes{1, 2}, Bytes{1, 2}, "two bytes");
  round_trip(Bytes{1, 2, 3}, Bytes{3, 2, 1}, "three bytes reversed");
  // Copies just longer than one command can copy are split with no piece
  // shorter than 2 bytes.
  for (size_t n : {65663u, 65664u, 65665u, 65666u, 131329u}) {
    Bytes b(file.begin(), file.begin() + (long)n);
    round_trip(b, b, "identical " + std::to_string(n) + " bytes", &w);
    EXPECT_EQ(w.inserted, 0u) << n;
  }
}

TEST(PatchRoundTrip, ReplacedBytesUseTheCombinedInsertAndCopy) {
  std::mt19937 rng(11);
  Bytes base = random_bytes(rng, 20000), target = base;
  for (size_t i = 10; i < target.size(); i += 25) target[i] ^= 0xFF;
  StreamWalk w;
  size_t size = round_trip(base, target, "every 25th byte replaced", &w);
  EXPECT_EQ(w.inserted, 800u);
  EXPECT_GE(w.combined, 790u) << "one command per replaced byte and the copy behind it";
  EXPECT_LT(size, 3000u);
}

TEST(PatchRoundTrip, LargeFilesWithMovedBlocks) {
  std::mt19937 rng(3);
  // 2 MB: every block lies within a displacement's reach of every other.
  Bytes base = random_bytes(rng, 2 << 20);
  // Blocks of 64 KB in a new order, with new data between some of them.
  std::vector<size_t> order(base.size() / 65536);
  for (size_t i = 0; i < order.size(); i++) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  Bytes target;
  for (size_t k = 0; k < order.size(); k++) {
    target.insert(target.end(), base.begin() + (long)(order[k] * 65536),
                  base.begin() + (long)(order[k] * 65536 + 65536));
    if (k % 8 == 0) {
      Bytes fresh = random_bytes(rng, 1000);
      target.insert(target.end(), fresh.begin(), fresh.end());
    }
  }
  size_t size = round_trip(base, target, "shuffled blocks");
  EXPECT_LT(size, 12000u) << "32 moved blocks and 4 KB of new data";

  // A block farther away than a displacement reaches (2,113,567 bytes) is
  // sent as literal data; the rest is still copied.
  Bytes far = random_bytes(rng, 5 << 20);
  Bytes moved(far.begin() + (4 << 20), far.end());
  moved.insert(moved.end(), far.begin(), far.begin() + (1 << 20));
  StreamWalk w;
  round_trip(far, moved, "a block 4 MB away", &w);
  EXPECT_EQ(w.copied, (size_t)1 << 20);
}

TEST(PatchBlob, FieldWidthsFollowTheValues) {
  std::mt19937 rng(5);
  Bytes half_entropy(200000);
  for (uint8_t& b : half_entropy) b = (uint8_t)(rng() & 15);
  struct Case {
    const char* name;
    Bytes content;
    uint8_t flags;
  } cases[] = {
      {"incompressible, small: stored with a 2-byte size", random_bytes(rng, 100), 0x00},
      {"compressible, small: 2-byte size and packed size", Bytes(1000, 'a'), 0x01},
      {"over 65,535 bytes: 4-byte size", Bytes(70000, 'a'), 0x03},
      {"incompressible, large: stored with a 4-byte size", random_bytes(rng, 300000), 0x02},
      {"compressed to over 65,535 bytes: both fields 4 bytes", half_entropy, 0x07},
  };
  for (const Case& c : cases) {
    Bytes blob = pakwiz::pack_blob(c.content, pakwiz::default_compression_level());
    ASSERT_FALSE(blob.empty());
    EXPECT_EQ(blob[0], c.flags) << c.name;
    if (!(c.flags & 1)) {
      EXPECT_EQ(blob.size(), 1 + ((c.flags & 2) ? 4 : 2) + c.content.size());
    }
    // As a data blob behind an absent command blob it reads back whole.
    Bytes patch = {0x00, 0x00, 0x00};
    patch.insert(patch.end(), blob.begin(), blob.end());
    EXPECT_NO_THROW(pakwiz::rebuild_patched_file(Bytes(), patch)) << c.name;
  }
  EXPECT_EQ(pakwiz::pack_blob(Bytes(), 6), (Bytes{0, 0, 0}));
}
