// The package writer: the bytes of a built package read back field by field,
// the setup program's own loader taking them in, the stub rules, record
// compression, determinism and the all-or-nothing outputs.
#include <gtest/gtest.h>

#include <string.h>

#include <filesystem>

#include "builder/encoder.h"
#include "builder/errors.h"
#include "builder/script_writer.h"
#include "builder_test_util.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/checksum.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"

using namespace pakwiz;
using namespace builder_test;

namespace {

const char* const SAMPLE = R"(product = "Sample"
full_screen = true
remove_previous = true
start_language = 1
title = { text = "Sample 2.0", face = "Georgia", height = 40, weight = "bold", italic = true }

[uninstaller]
program = "uninst.bin"
menu = { name = "Uninstall" }

[[files]]
source = "data.bin"
target = "bin/data.bin"
version = "1.2.3.4"
product_version = "5.6.0.0"
language_id = 1031
version_test = true
language_test = true
time = 2020-01-02T03:04:05Z
end_action = "start"
shared = true
destination = "windows"
special = "screensaver"
menu = { folder = "Games", name = "Data", args = "-x", icon = 7 }
desktop = { name = "Data!", args = "-y" }

[[languages]]
name = "Eng"
folder = "#Program Files#\\Sample"
folder_registry = { root = "HKLM", key = "Software\\Sample", value = "Dir" }
folder_ini = { file = "s.ini", section = "Sec", key = "Key", store = false }
[[languages.ini]]
file = "#InstallDir#\\s.ini"
section = "A"
key = "B"
value = "C"
only_if_absent = true
[[languages.registry]]
root = "HKU"
key = "K"
name = "N"
value = "V"
[[languages.patches]]
file = "bin\\data.bin"
position = 100
text = "T"
[[languages.patches]]
file = "f"
pattern_hex = "0D 0A"
text = "U"

[[languages]]
language = "de"
uninstaller = false
[[languages.files]]
source = "data.bin"
target = "copy.bin"
file_times = false
)";

std::vector<uint8_t> sample_data() {
  std::vector<uint8_t> d(5000);
  for (size_t i = 0; i < d.size(); i++) d[i] = (uint8_t)(i * 7 % 251);
  return d;
}

void write_sample_sources(const TempDir& dir) {
  dir.write("data.bin", sample_data());
  dir.write("uninst.bin", "UNINSTALLER");
}

} // namespace

TEST(WriterLayout, PackageBytesReadBackFieldByField) {
  TempDir dir;
  write_sample_sources(dir);
  BuildSummary s = build_project(dir, SAMPLE);
  std::vector<uint8_t> file = read_file_bytes(dir.file("setup.exe"));
  std::vector<uint8_t> stub = stand_in_stub();
  ASSERT_GT(file.size(), stub.size());
  // The stub comes first, its length field set to its own size.
  EXPECT_EQ(read_u32(&file[STUB_FIELD]), stub.size());
  EXPECT_EQ(memcmp(file.data(), stub.data(), STUB_FIELD), 0);

  std::vector<RawRecord> records = walk_records(file, stub.size());
  std::vector<uint16_t> tags;
  for (const RawRecord& r : records) tags.push_back(r.tag);
  EXPECT_EQ(tags,
            (std::vector<uint16_t>{0x1234, 0x123B, 0x1239, 0x1237, 0x123D, 0x123F, 0x123E, 0x123A,
                                   0x1240, 0x1241, 0x1242, 0x123E, 0x123A, 0x1243, 0x7F7F}));
  // Setup flags and start record: raw, never compressed.
  EXPECT_EQ(records[0].flags, 0);
  EXPECT_EQ(records[0].length, 4u);
  EXPECT_EQ(read_u32(records[0].payload.data()), 0x11u);
  EXPECT_EQ(records[1].flags, 0);
  EXPECT_EQ(read_u16(&records[1].payload[0]), 0xFFFF); // whole wizard
  EXPECT_EQ(read_u16(&records[1].payload[2]), 1);      // start in block 1
  // End marker: length 4, then the archive size word, then exactly that much.
  const RawRecord& end = records.back();
  EXPECT_EQ(end.length, 4u);
  uint32_t archive = read_u32(&file[end.offset + 8]);
  EXPECT_EQ(end.offset + 12 + archive, file.size());
  EXPECT_EQ(archive, s.archive_bytes);
  // The integrity record, last before the end marker (whose flags announce
  // it): the CRC-32 of the script before it and of the archive, no volumes.
  EXPECT_EQ(end.flags, END_INTEGRITY);
  const RawRecord& integrity = records[records.size() - 2];
  ASSERT_EQ(integrity.payload.size(), 16u);
  EXPECT_EQ(integrity.flags, 0);
  EXPECT_EQ(read_u32(&integrity.payload[0]),
            crc32_update(0, &file[stub.size()], integrity.offset - stub.size()));
  EXPECT_EQ(read_u32(&integrity.payload[4]), archive);
  EXPECT_EQ(read_u32(&integrity.payload[8]), crc32_update(0, &file[end.offset + 12], archive));
  EXPECT_EQ(read_u32(&integrity.payload[12]), 0u);

  // Title and its LOGFONTA.
  const RawRecord* title = find_record(records, 3);
  EXPECT_EQ(std::string((const char*)title->payload.data(), title->payload.size()),
            std::string("Sample 2.0\0", 11));
  const std::vector<uint8_t>& font = find_record(records, 9)->payload;
  ASSERT_EQ(font.size(), 60u);
  EXPECT_EQ((int32_t)read_u32(&font[0]), -40);
  EXPECT_EQ(read_u32(&font[16]), 700u);
  EXPECT_EQ(font[20], 1); // italic
  EXPECT_STREQ((const char*)&font[28], "Georgia");
  EXPECT_EQ(find_record(records, 11)->payload,
            (std::vector<uint8_t>{'U', 'N', 'I', 'N', 'S', 'T', 'A', 'L', 'L', 'E', 'R'}));

  // Language record of block 0: flags and offsets at their fixed places.
  const std::vector<uint8_t>& lang = find_record(records, 10, 0)->payload;
  auto text_at = [&](size_t field) {
    uint32_t offset = read_u32(&lang[field]);
    return offset ? std::string((const char*)&lang[offset]) : std::string("(absent)");
  };
  EXPECT_EQ(read_u16(&lang[0]), 0x2 | 0x4); // changeable, store in registry (not in INI)
  EXPECT_EQ(text_at(4), "Sample");          // uninstall key: the product
  EXPECT_EQ(text_at(8), "Eng");
  EXPECT_EQ(text_at(12), "#Program Files#\\Sample");
  EXPECT_EQ(read_u32(&lang[16]), 2u); // HKLM
  EXPECT_EQ(text_at(20), "Software\\Sample");
  EXPECT_EQ(text_at(24), "Dir");
  EXPECT_EQ(text_at(28), "s.ini");
  EXPECT_EQ(text_at(32), "Sec");
  EXPECT_EQ(text_at(36), "Key");
  uint32_t table6 = read_u32(&lang[40 + 4 * 6]);
  EXPECT_EQ(read_u16(&lang[table6]), 32);
  EXPECT_STREQ((const char*)&lang[table6 + 2], "Sample Setup");
  EXPECT_EQ(read_u32(&lang[40 + 4 * 8]), 0u); // table 8: absent
  // Block 1 has no uninstaller, so no uninstall key.
  EXPECT_EQ(read_u32(&find_record(records, 10, 1)->payload[4]), 0u);

  // File list of block 0: the uninstaller entry first, then data.bin.
  std::vector<uint8_t> list = find_record(records, 6, 0)->payload;
  ASSERT_EQ(read_u32(list.data()), 2u);
  uint8_t* e = list.data() + 4;
  EXPECT_EQ(entry_flags(e), ENTRY_UNINSTALLER);
  // The prefix block, the uninstaller's data record, the 8 bytes the log overwrites.
  ASSERT_GT(entry_file_size(e), 11u + 8u + 8u);
  uint32_t uninstaller_data_size = entry_file_size(e) - 11;
  EXPECT_STREQ(entry_string(e, STR_TARGET), "Uninstall.exe");
  EXPECT_STREQ(entry_string(e, STR_MENU_FOLDER), "Sample");
  EXPECT_STREQ(entry_string(e, STR_MENU_NAME), "Uninstall");
  uint32_t uninstaller_position = entry_archive_position(e);
  e = next_entry(e);
  std::vector<uint8_t> data = sample_data();
  EXPECT_EQ(entry_icon_index(e), 7);
  EXPECT_EQ(entry_file_size(e), data.size());
  EXPECT_EQ(entry_checksum(e), rotate_add(0, data.data(), data.size()));
  EXPECT_EQ(entry_flags(e), ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST | ENTRY_FILE_TIMES);
  EXPECT_EQ(entry_destination(e), DEST_WINDOWS);
  EXPECT_EQ(entry_end_action(e), END_START_PROGRAM);
  EXPECT_EQ(entry_shared_count(e), 1);
  EXPECT_EQ(entry_removal_mode(e), REMOVAL_REMOVE);
  EXPECT_EQ(entry_special(e), SPECIAL_SCREEN_SAVER);
  const uint8_t* v = entry_version_block(e);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(read_u32(v), 0x00010002u);
  EXPECT_EQ(read_u32(v + 4), 0x00030004u);
  EXPECT_EQ(read_u32(v + 8), 0x00050006u);
  EXPECT_EQ(read_u32(v + 12), 0u);
  EXPECT_EQ(read_u32(v + 16), 1031u);
  const uint8_t* t = entry_file_times(e);
  uint64_t filetime = (1577934245ull + 11644473600ull) * 10000000ull; // 2020-01-02 03:04:05 UTC
  for (int k = 0; k < 3; k++) EXPECT_EQ(read_u64(t + 8 * k), filetime) << k;
  EXPECT_STREQ(entry_string(e, STR_TARGET), "bin\\data.bin");
  EXPECT_STREQ(entry_string(e, STR_MENU_FOLDER), "Games");
  EXPECT_STREQ(entry_string(e, STR_MENU_NAME), "Data");
  EXPECT_STREQ(entry_string(e, STR_MENU_ARGS), "-x");
  EXPECT_STREQ(entry_string(e, STR_DESKTOP_NAME), "Data!");
  EXPECT_STREQ(entry_string(e, STR_DESKTOP_ARGS), "-y");
  EXPECT_EQ(entry_length(e), 30u + 20 + 24 + 13 + 6 + 5 + 3 + 6 + 3);

  // The entry's archive data decodes to the file; the uninstaller's to its
  // data record (tag 0x1240, flags 0, the body's length) and 8 zeros.
  std::vector<uint8_t> archive_bytes(file.begin() + end.offset + 12, file.end());
  auto decoded = [&](uint32_t position, uint32_t packed, uint32_t size) {
    std::vector<uint8_t> stream(archive_bytes.begin() + position,
                                archive_bytes.begin() + position + packed);
    std::vector<uint8_t> out;
    EXPECT_TRUE(decode_stream(stream, size, &out));
    return out;
  };
  EXPECT_EQ(decoded(entry_archive_position(e), entry_packed_size(e), (uint32_t)data.size()), data);
  uint8_t* u = list.data() + 4;
  std::vector<uint8_t> own =
      decoded(uninstaller_position, entry_packed_size(u), uninstaller_data_size);
  ASSERT_EQ(own.size(), uninstaller_data_size);
  EXPECT_EQ(read_u16(own.data()), UNINSTALLER_DATA_TAG);
  EXPECT_EQ(read_u16(own.data() + 2), 0);
  EXPECT_EQ(8u + read_u32(own.data() + 4) + 8u, own.size());
  EXPECT_EQ(std::vector<uint8_t>(own.end() - 8, own.end()), std::vector<uint8_t>(8, 0));

  // Block 1: no uninstaller; the common entry, then its own copy of the same
  // data, which shares the stored copy and has no times.
  std::vector<uint8_t> list1 = find_record(records, 6, 1)->payload;
  ASSERT_EQ(read_u32(list1.data()), 2u);
  uint8_t* c = list1.data() + 4;
  EXPECT_STREQ(entry_string(c, STR_TARGET), "bin\\data.bin");
  c = next_entry(c);
  EXPECT_STREQ(entry_string(c, STR_TARGET), "copy.bin");
  EXPECT_EQ(entry_archive_position(c), entry_archive_position(e));
  EXPECT_EQ(entry_packed_size(c), entry_packed_size(e));
  EXPECT_EQ(entry_flags(c), 0); // data.bin has no version resource: no test by default
  EXPECT_EQ(s.stored, 2u);

  // INI, registry and patch lists.
  std::vector<uint8_t> ini = find_record(records, 12)->payload;
  std::vector<uint8_t> expected_ini = {1, 0, 1};
  for (const char* s : {"#InstallDir#\\s.ini", "A", "B", "C"})
    expected_ini.insert(expected_ini.end(), s, s + strlen(s) + 1);
  EXPECT_EQ(ini, expected_ini);
  std::vector<uint8_t> reg = find_record(records, 13)->payload;
  EXPECT_EQ(reg, (std::vector<uint8_t>{1, 0, 3, 0, 0, 0, 0, 'K', 0, 'N', 0, 'V', 0}));
  std::vector<uint8_t> patches = find_record(records, 14)->payload;
  std::vector<uint8_t> expected_patches = {2, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (const char* s : {"bin\\data.bin", "T"})
    expected_patches.insert(expected_patches.end(), s, s + strlen(s) + 1);
  std::vector<uint8_t> second = {0xFF, 0xFF, 0xFF, 0xFF, 2, 0,   0, 0,    0,   0,
                                 0,    0,    0,    'f',  0, 'U', 0, 0x0D, 0x0A};
  expected_patches.insert(expected_patches.end(), second.begin(), second.end());
  EXPECT_EQ(patches, expected_patches);
}

// The setup program's loader (package/loader.cpp) is the reader that counts.
TEST(WriterLayout, TheSetupProgramsLoaderLoadsWhatTheBuilderWrote) {
  TempDir dir;
  write_sample_sources(dir);
  build_project(dir, SAMPLE);
  release_package();
  g_package = PackageState{};
  ASSERT_TRUE(app_alloc_buffers());
  std::string path = dir.file("setup.exe");
  ASSERT_TRUE(text_copy(g_app.package_path, PATH_SIZE, path.c_str()));
  g_app.stub_length = (uint32_t)stand_in_stub().size();
  bool loaded = load_package();
  EXPECT_TRUE(loaded);
  if (loaded) {
    EXPECT_EQ(g_package.block_count, 2);
    EXPECT_EQ(g_package.setup_flags, 0x11u);
    EXPECT_EQ(g_package.start_block, 1);
    EXPECT_EQ(g_package.current_block, 1);
    EXPECT_STREQ(get_string(6, 0), "Sample Setup");
    EXPECT_STREQ(get_string(7, 1), "&Weiter >");
    EXPECT_STREQ(g_package.blocks[0].language.name, "Eng");
    EXPECT_EQ(g_package.prefix.size, 11u);
    EXPECT_EQ(g_package.entry_count, 2u);
    uint8_t* e = find_file_entry(0, 1);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(entry_string(e, STR_TARGET), "bin\\data.bin");
    void* copy = copy_dialog_template(8);
    EXPECT_NE(copy, nullptr);
    free_dialog_template(copy);
  }
  release_package();
  g_package = PackageState{};
  app_free_buffers();
}

TEST(WriterLayout, StubMustHoldExactlyOneMarkerWithAZeroField) {
  std::vector<uint8_t> stub = stand_in_stub();
  std::vector<uint8_t> ready = prepare_stub(stub, "s");
  EXPECT_EQ(read_u32(&ready[STUB_FIELD]), stub.size());
  ready[STUB_FIELD] = 0; // only the field changes
  EXPECT_EQ(ready, stub);

  std::vector<uint8_t> twice = stub;
  twice.insert(twice.end(), stub.begin(), stub.end());
  std::vector<uint8_t> used = prepare_stub(stub, "s");
  std::vector<uint8_t> none(stub.begin(), stub.begin() + 20);
  std::vector<uint8_t> cut(stub.begin(), stub.begin() + STUB_FIELD + 2);
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
  } cases[] = {{none, "marker bytes 77 77 67 54 29 48 are missing"},
               {twice, "occurs 2 times"},
               {used, "already carries a package"},
               {cut, "ends inside its length field"}};
  for (const Case& c : cases) {
    try {
      prepare_stub(c.bytes, "stub.exe");
      ADD_FAILURE() << c.message;
    } catch (const BuildError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(WriterLayout, RecordsAreCompressedOnlyWhenThatIsSmaller) {
  std::vector<uint8_t> repetitive(4000, 'a');
  std::vector<uint8_t> noise(64);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = (uint8_t)(i * 97 + 13);
  std::vector<uint8_t> out;
  append_record(out, REC_LANGUAGE, repetitive, true, default_compression_level());
  EXPECT_EQ(read_u16(&out[0]), 0x123E);
  EXPECT_EQ(read_u16(&out[2]), 1); // compressed
  EXPECT_LT(read_u32(&out[4]), repetitive.size() / 10);
  EXPECT_EQ(read_u32(&out[8]), repetitive.size()); // unpacked size word
  std::vector<uint8_t> unpacked;
  EXPECT_TRUE(decode_stream(std::vector<uint8_t>(out.begin() + 12, out.end()), 4000, &unpacked));
  EXPECT_EQ(unpacked, repetitive);

  out.clear();
  append_record(out, REC_TITLE, noise, true, default_compression_level());
  EXPECT_EQ(read_u16(&out[2]), 0); // stored: compression would not shrink it
  EXPECT_EQ(read_u32(&out[4]), noise.size());
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 8, out.end()), noise);
}

TEST(WriterLayout, SameInputGivesTheSameBytesWhateverTheNumberOfJobs) {
  TempDir dir;
  write_sample_sources(dir);
  for (int i = 0; i < 6; i++)
    dir.write("f" + std::to_string(i), std::string(1000 * i + 1, 'a' + i));
  std::string toml = SAMPLE;
  for (int i = 0; i < 6; i++)
    toml += "[[languages.files]]\nsource = \"f" + std::to_string(i) + "\"\n";
  build_project(dir, toml, "one.exe", 0, -1, 1);
  build_project(dir, toml, "two.exe", 0, -1, 4);
  build_project(dir, toml, "three.exe", 0, -1, 0);
  std::vector<uint8_t> one = read_file_bytes(dir.file("one.exe"));
  EXPECT_EQ(one, read_file_bytes(dir.file("two.exe")));
  EXPECT_EQ(one, read_file_bytes(dir.file("three.exe")));
}

TEST(WriterLayout, AFailedBuildLeavesNoOutputBehind) {
  TempDir dir;
  write_sample_sources(dir);
  // An earlier good build must survive a failing one that targets it.
  build_project(dir, SAMPLE);
  std::vector<uint8_t> good = read_file_bytes(dir.file("setup.exe"));
  std::string broken = std::string(SAMPLE) + "[[languages.files]]\nsource = \"missing.bin\"\n";
  EXPECT_THROW(build_project(dir, broken, "setup.exe", 3000), BuildError);
  EXPECT_EQ(read_file_bytes(dir.file("setup.exe")), good);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find("pakwiz-tmp"), std::string::npos) << name;
    EXPECT_EQ(name.find(".D0"), std::string::npos) << name;
  }
}
