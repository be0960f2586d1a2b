// Archive layout: sharing identical contents without ever sending the setup
// program's forward-only reader back a volume, volume files, and the
// inspection of packages spread over them.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "builder/archive_layout.h"
#include "builder/errors.h"
#include "builder/inspect.h"
#include "builder/volume_files.h"
#include "builder_test_util.h"

using namespace pakwiz;
using namespace builder_test;

namespace {

// Walks each block's list as the setup program does: seek to each entry and
// read it forward. Fails when a seek would need an earlier volume.
void expect_forward_only(const ArchiveLayout& layout,
                         const std::vector<std::vector<int64_t>>& blocks,
                         const std::vector<uint64_t>& packed, const VolumePlan& plan) {
  for (size_t b = 0; b < blocks.size(); b++) {
    uint32_t volume = 0;
    for (size_t i = 0; i < blocks[b].size(); i++) {
      if (blocks[b][i] == NO_CONTENT) continue;
      uint64_t pos = layout.positions[b][i], size = packed[(size_t)blocks[b][i]];
      ASSERT_GE(plan.volume_of(pos), volume) << "block " << b << " entry " << i;
      volume = plan.volume_of(pos + size - 1);
    }
  }
}

// Each entry's position must hold a stored copy of its own content.
void expect_positions_hold_their_content(const ArchiveLayout& layout,
                                         const std::vector<std::vector<int64_t>>& blocks) {
  for (size_t b = 0; b < blocks.size(); b++)
    for (size_t i = 0; i < blocks[b].size(); i++) {
      if (blocks[b][i] == NO_CONTENT) continue;
      bool found = false;
      for (const ArchivePiece& p : layout.pieces)
        found = found || (p.position == layout.positions[b][i] && p.content == blocks[b][i]);
      EXPECT_TRUE(found) << "block " << b << " entry " << i;
    }
}

} // namespace

TEST(ArchiveLayout, SharesContentsUnlessThatWouldGoBackAVolume) {
  VolumePlan single;
  VolumePlan split;
  split.first = 100;
  split.each = 100;
  struct Case {
    const char* name;
    std::vector<std::vector<int64_t>> blocks;
    std::vector<uint64_t> packed;
    VolumePlan plan;
    std::vector<uint64_t> expected_positions0, expected_positions1;
    size_t stored;
  } cases[] = {
      // Without volumes every content is stored once, whatever the order.
      {"single file, reversed order",
       {{0, 1, 2}, {2, 1, 0}},
       {60, 60, 60},
       single,
       {0, 60, 120},
       {120, 60, 0},
       3},
      // Block 1 reads content 1 (ends in volume 1) and then wants content 0,
      // whose copy lies in volume 0: stored again at the end.
      {"volumes, content behind the reader",
       {{0, 1}, {1, 0}},
       {60, 60},
       split,
       {0, 60},
       {60, 120},
       3},
      // Going back inside the volume being read is fine.
      {"volumes, back within a volume", {{0, 1}, {1, 0}}, {30, 30}, split, {0, 30}, {30, 0}, 2},
      // An entry without data does not move the reader.
      {"entries without data",
       {{0, NO_CONTENT, 1}, {NO_CONTENT, 1, 0}},
       {150, 20},
       split,
       {0, 0, 150},
       {0, 150, 170},
       3},
      // The same content twice in one list.
      {"repeated in one list", {{0, 1, 0}}, {40, 80}, split, {0, 40, 120}, {}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveLayout layout = lay_out_archive(c.blocks, c.packed, c.plan);
    EXPECT_EQ(layout.positions[0], c.expected_positions0);
    if (c.blocks.size() > 1) {
      EXPECT_EQ(layout.positions[1], c.expected_positions1);
    }
    EXPECT_EQ(layout.pieces.size(), c.stored);
    expect_forward_only(layout, c.blocks, c.packed, c.plan);
    expect_positions_hold_their_content(layout, c.blocks);
  }
}

TEST(ArchiveLayout, RandomListsNeverSendTheReaderBackAVolume) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; round++) {
    int contents = 1 + (int)(rng() % 8);
    std::vector<uint64_t> packed;
    for (int c = 0; c < contents; c++) packed.push_back(1 + rng() % 300);
    std::vector<std::vector<int64_t>> blocks(1 + rng() % 6);
    for (auto& block : blocks)
      for (int i = (int)(rng() % 10); i > 0; i--)
        block.push_back(rng() % 7 == 0 ? NO_CONTENT : (int64_t)(rng() % contents));
    VolumePlan plan;
    if (rng() % 4) {
      plan.first = rng() % 400;
      plan.each = 1 + rng() % 400;
    }
    ArchiveLayout layout = lay_out_archive(blocks, packed, plan);
    expect_forward_only(layout, blocks, packed, plan);
    expect_positions_hold_their_content(layout, blocks);
    uint64_t total = 0;
    for (const ArchivePiece& p : layout.pieces) {
      EXPECT_EQ(p.position, total); // copies lie back to back
      total += packed[(size_t)p.content];
    }
    EXPECT_EQ(layout.size, total);
    if (HasFailure()) return;
  }
}

TEST(ArchiveLayout, VolumePlanCountsBytesPerFile) {
  VolumePlan plan;
  plan.first = 10;
  plan.each = 4;
  EXPECT_EQ(plan.volume_of(9), 0u);
  EXPECT_EQ(plan.volume_of(10), 1u); // a volume boundary belongs to the next volume
  EXPECT_EQ(plan.volume_of(14), 2u);
  EXPECT_EQ(plan.volume_count(10), 1u);
  EXPECT_EQ(plan.volume_count(11), 2u);
  EXPECT_EQ(plan.volume_count(19), 4u);
  EXPECT_EQ(plan.volume_bytes(0, 19), 10u);
  EXPECT_EQ(plan.volume_bytes(2, 19), 4u);
  EXPECT_EQ(plan.volume_bytes(3, 19), 1u);
}

TEST(VolumeFiles, NamesReplaceTheExtensionLikeTheSetupProgram) {
  EXPECT_EQ(volume_file_path("A:\\SETUP.EXE", 2), "A:\\SETUP.D02");
  EXPECT_EQ(volume_file_path("A:\\SETUP", 2), "A:\\SETUP.D02");
  EXPECT_EQ(volume_file_path("A:\\DIR.X\\SETUP", 2), "A:\\DIR.X\\SETUP.D02");
  EXPECT_EQ(volume_file_path("out/dir.v/setup.exe", 1), "out/dir.v/setup.D01");
  EXPECT_EQ(volume_file_path("setup.exe", 100), "setup.D100");
}

TEST(VolumeFiles, BuildSpreadsTheArchiveAndVerifyReadsAcrossTheVolumes) {
  TempDir dir;
  std::mt19937 rng(7);
  std::vector<uint8_t> big(30000), small(3000);
  for (uint8_t& b : big) b = (uint8_t)rng();
  for (uint8_t& b : small) b = (uint8_t)rng();
  dir.write("big.bin", big);
  dir.write("small.bin", small);
  // Block 1 reads big.bin (ending in a late volume) and then small.bin,
  // whose first copy lies in volume 0: it must be stored a second time.
  const char* toml = R"(product = "V"
uninstaller = false # the layout below is that of these files alone
[[languages]]
[[languages.files]]
source = "small.bin"
[[languages.files]]
source = "big.bin"
[[languages]]
[[languages.files]]
source = "big.bin"
[[languages.files]]
source = "small.bin"
target = "again.bin"
)";
  const uint64_t volume_size = 8000;
  BuildSummary s = build_project(dir, toml, "setup.exe", volume_size);
  EXPECT_EQ(s.stored, 3u);
  ASSERT_GE(s.volumes.size(), 4u);
  uint64_t archive_seen = 0;
  for (size_t v = 0; v < s.volumes.size(); v++) {
    EXPECT_EQ(s.volumes[v], volume_file_path(dir.file("setup.exe"), (uint32_t)v + 1));
    std::vector<uint8_t> bytes = read_file_bytes(s.volumes[v]);
    EXPECT_LE(bytes.size(), volume_size);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(read_u32(bytes.data()), bytes.size() - 4); // each volume starts with its size
    archive_seen += bytes.size() - 4;
  }
  std::vector<uint8_t> package = read_file_bytes(dir.file("setup.exe"));
  EXPECT_LE(package.size(), volume_size);
  PackageInfo info = read_package(dir.file("setup.exe"));
  EXPECT_EQ(info.archive_offset + 4 + info.archive_size, package.size());
  EXPECT_EQ(archive_seen + info.archive_size, s.archive_bytes);
  // The second copy of small.bin lies behind everything block 1 read before.
  const FileEntryFields& again = (*info.blocks[1].files)[1];
  EXPECT_GE(again.position, (*info.blocks[1].files)[0].position);

  std::ostringstream out;
  EXPECT_TRUE(verify_package(dir.file("setup.exe"), out)) << out.str();

  // A truncated middle volume is damage, named by its file.
  std::string middle = s.volumes[1];
  std::filesystem::resize_file(middle, std::filesystem::file_size(middle) - 1);
  std::ostringstream damaged;
  EXPECT_FALSE(verify_package(dir.file("setup.exe"), damaged));
  EXPECT_NE(damaged.str().find(middle + ": the volume holds"), std::string::npos) << damaged.str();
}

TEST(VolumeFiles, AVolumeSizeTooSmallForTheScriptIsRefused) {
  TempDir dir;
  dir.write("a.txt", "a");
  EXPECT_THROW(
      build_project(dir, "product = \"V\"\n[[files]]\nsource = \"a.txt\"\n", "setup.exe", 500),
      BuildError);
  EXPECT_FALSE(file_exists(dir.file("setup.exe")));
}
