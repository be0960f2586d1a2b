// Version resources read from PE files made by mingw with a windres version
// resource (tests/cli/fixtures): file version 1.2.3.4, product version
// 5.6.7.8, language 0x0407.
#include <gtest/gtest.h>

#include <random>

#include "builder/pe_version.h"
#include "builder_test_util.h"

using namespace pakwiz;

namespace {
std::string fixture(const char* name) {
  return std::string(PAKWIZ_BINARY_DIR "/fixtures/") + name;
}
} // namespace

TEST(PeVersion, ReadsFixedInfoAndLanguageFromPe32AndPe32Plus) {
  for (const char* name : {"version64.dll", "version32.exe"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> image = read_file_bytes(fixture(name));
    ASSERT_FALSE(image.empty());
    VersionInfo v;
    ASSERT_TRUE(read_pe_version(image.data(), image.size(), &v));
    EXPECT_EQ(v.file_ms, 0x00010002u);
    EXPECT_EQ(v.file_ls, 0x00030004u);
    EXPECT_EQ(v.product_ms, 0x00050006u);
    EXPECT_EQ(v.product_ls, 0x00070008u);
    EXPECT_EQ(v.language, 0x0407);
  }
}

TEST(PeVersion, FilesWithoutAVersionResourceHaveNone) {
  std::vector<uint8_t> plain = read_file_bytes(fixture("plain64.exe"));
  ASSERT_FALSE(plain.empty());
  VersionInfo v;
  v.file_ms = 99;
  EXPECT_FALSE(read_pe_version(plain.data(), plain.size(), &v));
  EXPECT_EQ(v.file_ms, 99u); // untouched
  std::string text = "MZ but nothing else";
  EXPECT_FALSE(read_pe_version((const uint8_t*)text.data(), text.size(), &v));
  EXPECT_FALSE(read_pe_version(nullptr, 0, &v));
}

// Damaged images: every cut and many corruptions give "no version" or the
// right one, never a read outside the data (the sanitizers watch).
TEST(PeVersion, CutOrCorruptedImagesAreReadSafely) {
  std::vector<uint8_t> image = read_file_bytes(fixture("version64.dll"));
  ASSERT_FALSE(image.empty());
  VersionInfo v;
  for (size_t n = 0; n < image.size(); n += 97) {
    std::vector<uint8_t> cut(image.begin(), image.begin() + n); // exact size: ASan sees overreads
    if (read_pe_version(cut.data(), cut.size(), &v)) {
      EXPECT_EQ(v.file_ms, 0x00010002u);
    }
  }
  std::mt19937 rng(3);
  for (int round = 0; round < 2000; round++) {
    std::vector<uint8_t> bad = image;
    for (int k = 0; k < 4; k++) bad[rng() % bad.size()] = (uint8_t)rng();
    read_pe_version(bad.data(), bad.size(), &v);
  }
}

TEST(PeVersion, BuildTakesTheVersionBlockFromTheSourceByDefault) {
  TempDir dir;
  std::string toml = "product = \"P\"\n[[files]]\nsource = \"" + fixture("version64.dll") +
                     "\"\n[[files]]\nsource = \"" + fixture("version32.exe") +
                     "\"\nversion_test = false\nlanguage_test = true\nproduct_version = \"9.0\"\n";
  builder_test::build_project(dir, toml);
  PackageInfo info = read_package(dir.file("setup.exe"));
  const std::vector<FileEntryFields>& files = *info.blocks[0].files;
  // files[0] is the uninstaller entry that every block carries.
  EXPECT_EQ(files[1].flags, 0x02 | 0x08); // version test because it has a version resource
  EXPECT_EQ(files[1].version, (std::array<uint32_t, 5>{0x10002, 0x30004, 0x50006, 0x70008, 0x407}));
  EXPECT_EQ(files[2].flags, 0x04 | 0x08);
  EXPECT_EQ(files[2].version, (std::array<uint32_t, 5>{0x10002, 0x30004, 0x90000, 0, 0x407}));
}
