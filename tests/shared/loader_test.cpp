#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "common/heap.h"
#include "common/state.h"
#include "decode/archive.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"
#include "support/package_maker.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> g_messages;

int record_message(const char* text, unsigned, void*) {
  g_messages.push_back(text);
  return ANSWER_OK;
}

class Loader : public ::testing::Test {
protected:
  void SetUp() override {
    release_package();
    app_free_buffers();
    g_package = PackageState{};
    ASSERT_TRUE(app_alloc_buffers());
    g_messages.clear();
    set_message_answerer(record_message, nullptr);
  }
  void TearDown() override {
    set_message_answerer(nullptr, nullptr);
    release_package();
    app_free_buffers();
  }
  bool load(const Bytes& file, uint32_t stub_length = 64) {
    std::string path = dir.write("setup.exe", file);
    strcpy(g_app.package_path, path.c_str());
    g_app.stub_length = stub_length;
    return load_package();
  }
  TempDir dir;
};

const std::vector<std::string> TABLE6 = {"Frame title",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "Package damaged"};

} // namespace

TEST_F(Loader, ReadsEveryRecordIntoItsPlaceAndOwnsPerBlockRecordsByTheLastLanguage) {
  PackageMaker p;
  Bytes flags;
  put_u32(flags, 0x11);
  p.record(REC_SETUP_FLAGS, flags);
  p.record(REC_TEMPLATES, minimal_templates(), true);
  p.record(REC_TITLE, Bytes{'T', 'i', 't', 0});
  Bytes font(60, 7);
  p.record(REC_TITLE_FONT, font);
  p.record(REC_PREFIX, Bytes(100, 0xAB));
  for (int block = 0; block < 2; block++) {
    LanguageMaker lang;
    lang.name = block ? "Deutsch" : "English";
    lang.default_folder = block ? "C:\\Programme\\App\\" : "C:\\Program Files\\App\\";
    lang.has_uninstall_key = true;
    lang.uninstall_key = "App";
    lang.flags = 2;
    lang.table(6, TABLE6);
    lang.table(7, {block ? "< Zurueck" : "< Back", block ? "Weiter >" : "Next >"});
    p.record(REC_LANGUAGE, lang.bytes(), block == 1);
    EntryMaker e;
    e.strings[0] = block ? "liesmich.txt" : "readme.txt";
    EntryMaker e2;
    e2.flags = ENTRY_VERSION_TEST | ENTRY_FILE_TIMES;
    e2.version[4] = 0x409;
    e2.times[5] = 0x01D00000;
    e2.strings[0] = "bin\\tool.exe";
    e2.strings[2] = "Tool";
    p.record(REC_FILE_LIST,
             file_list(block ? std::vector<EntryMaker>{e} : std::vector<EntryMaker>{e, e2}));
    Bytes ini;
    put_u16(ini, 1);
    ini.push_back(1);
    for (const char* s : {"app.ini", "Main", "Folder", "#InstallDir#"}) put_text(ini, s);
    p.record(REC_INI_LIST, ini);
  }
  Bytes start;
  put_u16(start, 0xFFFF);
  put_u16(start, 1);
  p.record(REC_START, start);
  ASSERT_TRUE(load(p.finish(Bytes(10, 'A'))));
  EXPECT_TRUE(g_messages.empty());

  EXPECT_EQ(g_package.setup_flags, 0x11u);
  EXPECT_EQ(g_package.block_count, 2);
  EXPECT_EQ(g_package.start_page, 0xFFFF);
  EXPECT_EQ(g_package.current_block, 1); // the start language block
  EXPECT_STREQ(get_string(7, 1), "Weiter >");
  EXPECT_STREQ(get_string(6, 31), "Package damaged");
  EXPECT_STREQ((const char*)g_package.title.data, "Tit");
  EXPECT_EQ(g_package.title_font.size, 60u);
  EXPECT_EQ(g_package.prefix.size, 100u);
  EXPECT_STREQ(g_package.blocks[0].language.name, "English");
  EXPECT_STREQ(g_package.blocks[1].language.uninstall_key, "App");
  EXPECT_EQ(g_package.blocks[1].language.flags, 2);
  EXPECT_STREQ(g_app.install_folder, "C:\\Programme\\App\\");
  EXPECT_STREQ(g_package.blocks[0].folder, "C:\\Program Files\\App\\");

  // Per-block records belong to the language record in front of them.
  ASSERT_EQ(g_package.entry_count, 1u);
  EXPECT_STREQ(entry_string(g_package.first_entry, STR_TARGET), "liesmich.txt");
  uint8_t* tool = find_file_entry(0, 1);
  ASSERT_NE(tool, nullptr);
  EXPECT_STREQ(entry_string(tool, STR_TARGET), "bin\\tool.exe");
  EXPECT_STREQ(entry_string(tool, STR_MENU_NAME), "Tool");
  EXPECT_EQ(read_u32(entry_version_block(tool) + 16), 0x409u);
  EXPECT_EQ(read_u32(entry_file_times(tool) + 20), 0x01D00000u);
  EXPECT_EQ(find_file_entry(0, 2), nullptr);
  EXPECT_EQ(g_package.blocks[1].ini_list.size, g_package.blocks[0].ini_list.size);

  // The archive position and size are handed on.
  EXPECT_EQ(g_package.archive_size, 10u);
  EXPECT_EQ(g_package.archive_offset + 4 + 10,
            (uint32_t)read_file_bytes(dir.file("setup.exe")).size());

  // Templates: a copy of everything from the template's offset to the end.
  uint8_t* copy = (uint8_t*)copy_dialog_template(8);
  ASSERT_NE(copy, nullptr);
  uint32_t offset = read_u32(g_package.templates.data + 32);
  EXPECT_EQ(memcmp(copy, g_package.templates.data + offset, g_package.templates.size - offset), 0);
  EXPECT_EQ(copy[g_package.templates.size - offset], 0); // zero-filled behind
  free_dialog_template(copy);
  EXPECT_EQ(copy_dialog_template(9), nullptr);
}

TEST_F(Loader, ArchiveSizeWordMustMatchTheFile) {
  for (int delta : {-1, 1}) {
    SetUp();
    EXPECT_FALSE(load(simple_package(TABLE6).finish(Bytes(20, 'x'), delta))) << delta;
    ASSERT_EQ(g_messages.size(), 1u) << delta;
    EXPECT_EQ(g_messages[0], "Package damaged");
  }
  SetUp();
  EXPECT_TRUE(load(simple_package(TABLE6).finish(Bytes(20, 'x'))));
  EXPECT_TRUE(g_messages.empty());
}

// A signing tool appends a certificate table behind the archive and names
// it in the PE security directory: such a file is complete. Any other bytes
// behind the archive still make it damaged.
TEST_F(Loader, CertificateTableBehindTheArchiveIsAcceptedAndNothingElse) {
  struct Case {
    const char* what;
    bool pe32_plus;
    bool aligned;                       // the archive ends at a multiple of 8: no padding
    std::function<void(Bytes&)> tamper; // applied to the signed file
    bool loads;
  };
  auto put32 = [](Bytes& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) f[at + i] = (uint8_t)(v >> (8 * i));
  };
  auto table_offset = [](const Bytes& f, bool plus) {
    size_t e = pe_security_entry(plus);
    return (size_t)f[e] | (size_t)f[e + 1] << 8 | (size_t)f[e + 2] << 16;
  };
  const Case cases[] = {
      {"PE32, padded", false, false, nullptr, true},
      {"PE32+, padded", true, false, nullptr, true},
      {"no padding needed", false, true, nullptr, true},
      {"bytes behind the table", false, false, [](Bytes& f) { f.push_back(0); }, false},
      {"padding not zero", false, false, [&](Bytes& f) { f[table_offset(f, false) - 1] = 1; },
       false},
      {"no security directory", false, false,
       [&](Bytes& f) { put32(f, pe_security_entry(false), 0); }, false},
      {"table offset one further", false, false,
       [&](Bytes& f) {
         size_t e = pe_security_entry(false);
         put32(f, e, (uint32_t)table_offset(f, false) + 8);
         put32(f, e + 4, 56);
       },
       false},
      {"table length beyond the table", false, false,
       [&](Bytes& f) { put32(f, table_offset(f, false), 65); }, false},
      {"not a PKCS#7 certificate", false, false,
       [&](Bytes& f) { f[table_offset(f, false) + 6] = 1; }, false},
      {"not a PE image", false, false, [](Bytes& f) { f[0] = 'X'; }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    PackageMaker p = simple_package(TABLE6);
    p.stub = pe_header_stub(c.pe32_plus);
    size_t archive = 21;
    if (c.aligned) archive += 8 - p.finish(Bytes(archive, 'x')).size() % 8;
    Bytes file = p.finish(Bytes(archive, 'x'));
    ASSERT_EQ(file.size() % 8 == 0, c.aligned) << c.what;
    append_certificate_table(file, c.pe32_plus);
    if (c.tamper) c.tamper(file);
    EXPECT_EQ(load(file, 0x200), c.loads) << c.what;
    EXPECT_EQ(g_messages.size(), c.loads ? 0u : 1u) << c.what;
  }
}

TEST_F(Loader, StartRecordMakesAPackageCompleteWithoutAnArchive) {
  PackageMaker p = simple_package(TABLE6);
  Bytes start;
  put_u16(start, 6);
  put_u16(start, 0);
  p.record(REC_START, start);
  Bytes file = p.stub;
  file.insert(file.end(), p.script.begin(), p.script.end());
  Bytes end_marker = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0}; // payload length 0: no size word
  file.insert(file.end(), end_marker.begin(), end_marker.end());
  EXPECT_TRUE(load(file));
  EXPECT_EQ(g_package.start_page, 6);

  // The same end marker without a start record: the package is incomplete.
  SetUp();
  PackageMaker q = simple_package(TABLE6);
  Bytes file2 = q.stub;
  file2.insert(file2.end(), q.script.begin(), q.script.end());
  file2.insert(file2.end(), end_marker.begin(), end_marker.end());
  EXPECT_FALSE(load(file2));
  EXPECT_EQ(g_messages.size(), 1u);
}

// A complete package file that holds only the script (a start record, an end
// marker without a size word) and its whole archive in setup.D01: the archive
// reader takes the package file's share as empty, as the loader found it, and
// reads from the volume, not from the program's own first bytes.
TEST_F(Loader, ScriptOnlyPackageFileHasItsArchiveInTheVolumes) {
  PackageMaker p = simple_package(TABLE6);
  Bytes start;
  put_u16(start, 0xFFFF);
  put_u16(start, 0);
  p.record(REC_START, start);
  Bytes file = p.stub;
  file.insert(file.end(), p.script.begin(), p.script.end());
  Bytes end_marker = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
  file.insert(file.end(), end_marker.begin(), end_marker.end());
  Bytes volume;
  put_u32(volume, 12);
  for (char c : std::string("volume data!")) volume.push_back((uint8_t)c);
  dir.write("setup.D01", volume);
  ASSERT_TRUE(load(file));

  ASSERT_EQ(open_archive(), 0);
  EXPECT_EQ(SeekArchive(0), 0);
  EXPECT_EQ(g_archive.volume, 1u);
  char got[12] = {};
  uint32_t n = 0;
  EXPECT_EQ(ReadArchive(g_archive.handle, got, sizeof got, &n), 0);
  EXPECT_EQ(std::string(got, n), "volume data!");
  close_archive();
}

TEST_F(Loader, SkipsEmptyUnknownAndUnusedRecordsAndReadsSetupFlagsRaw) {
  PackageMaker p = simple_package(TABLE6);
  p.raw_record(0x1234 + 6, 0, Bytes());                   // length 0: no payload at all
  p.raw_record(0x1238, 0, Bytes(5, 0xEE));                // type 4
  p.raw_record(0x123C, 1, Bytes(3, 0xEE));                // type 8, even "compressed"
  p.raw_record(0x1300, 0, Bytes(7, 0xEE));                // unknown tag
  p.raw_record(0x1233, 1, Bytes(2, 0xEE));                // below the first tag
  p.raw_record(0x1234, 1, Bytes{0x01, 0x00, 0x00, 0x00}); // flags, read raw
  Bytes first_bmp(14, 0), second_bmp(14, 0);
  for (Bytes* bmp : {&first_bmp, &second_bmp}) {
    Bytes info;
    put_u32(info, 40);
    put_u32(info, 2); // width
    put_u32(info, 1); // height
    put_u16(info, 1);
    put_u16(info, 24);
    info.resize(40, 0);
    bmp->insert(bmp->end(), info.begin(), info.end());
    bmp->resize(bmp->size() + 8, bmp == &first_bmp ? 1 : 2);
  }
  p.record(REC_BILLBOARD, first_bmp);
  p.record(REC_BILLBOARD, second_bmp); // replaces the first
  EntryMaker e;
  e.strings[0] = "first.txt";
  p.record(REC_FILE_LIST, file_list({e}));
  e.strings[0] = "second.txt";
  p.record(REC_FILE_LIST, file_list({e})); // replaces the first list of the block
  ASSERT_TRUE(load(p.finish()));
  EXPECT_EQ(g_package.setup_flags, 1u);
  EXPECT_EQ(g_package.billboard.data[g_package.billboard.size - 1], 2);
  EXPECT_STREQ(entry_string(g_package.first_entry, STR_TARGET), "second.txt");
}

TEST_F(Loader, TruncatedPackageFailsWithoutAMessage) {
  Bytes file = simple_package(TABLE6).finish(Bytes(20, 'x'));
  for (size_t cut : {size_t(64 + 4), size_t(64 + 100), file.size() - 24 - 4}) {
    SetUp();
    EXPECT_FALSE(load(Bytes(file.begin(), file.begin() + cut))) << cut;
    EXPECT_TRUE(g_messages.empty()) << cut;
  }
  SetUp();
  g_app.stub_length = 0;
  strcpy(g_app.package_path, dir.write("x.exe", file).c_str());
  EXPECT_FALSE(load_package()); // no package at all
}

namespace {

std::vector<std::pair<uint32_t, uint32_t>> g_check_calls;
std::string g_check_title;

void record_check(uint32_t done, uint32_t total) {
  g_check_calls.push_back({done, total});
  g_check_title = get_message(MESSAGE_TITLE);
}

} // namespace

// The check's observer hears of the archive in slices, from (0, total) to
// (total, total), with the start block's texts readable; a damaged archive
// ends the same way (so that a window the observer shows goes before the
// message); a package without the integrity record is not checked.
TEST_F(Loader, CheckObserverFollowsTheArchiveCheckToItsEnd) {
  PackageMaker p = simple_package(TABLE6);
  const uint32_t total = 2 * CHECK_SLICE + 300;
  const Bytes archive(total, 'a');
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0, total}, {CHECK_SLICE, total}, {2 * CHECK_SLICE, total}, {total, total}};
  set_check_observer(record_check);
  g_check_calls.clear();
  EXPECT_TRUE(load(p.finish_checked(archive)));
  EXPECT_EQ(g_check_calls, expected);
  EXPECT_EQ(g_check_title, "Frame title");

  SetUp();
  Bytes damaged = p.finish_checked(archive);
  damaged.back() ^= 0x10;
  g_check_calls.clear();
  EXPECT_FALSE(load(damaged));
  EXPECT_EQ(g_check_calls, expected);
  EXPECT_EQ(g_messages.size(), 1u);

  SetUp();
  g_check_calls.clear();
  EXPECT_TRUE(load(p.finish(archive)));
  EXPECT_TRUE(g_check_calls.empty());
  set_check_observer(nullptr);
}

// The integrity record: a package whose script or archive differs from it
// in any byte, or whose record is out of place, is refused with message 31
// at load time; the record's volume list goes to the archive reader; a
// signature's certificate table behind the archive is not covered; and a
// package without the record still loads.
TEST_F(Loader, IntegrityRecordChecksScriptAndArchiveAtLoad) {
  PackageMaker p = simple_package(TABLE6);
  p.record(REC_TITLE, Bytes{'T', 'i', 't', 'l', 'e', 0}); // bytes only the checksum guards
  const Bytes archive(300, 'a');
  const Bytes good = p.finish_checked(archive, {Bytes{2, 0, 0, 0, 'v', 'w'}});
  const size_t script_end = 64 + p.script.size(); // the integrity record's header
  const size_t end_marker = script_end + 8 + INTEGRITY_FIXED_SIZE + INTEGRITY_VOLUME_SIZE;
  ASSERT_TRUE(load(good));
  EXPECT_TRUE(g_messages.empty());
  EXPECT_EQ(g_archive.volume_check_count, 1u);
  ASSERT_NE(g_archive.volume_checks, nullptr);
  EXPECT_EQ(read_u32(g_archive.volume_checks), 2u);

  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"first script byte", [](Bytes& f) { f[64] ^= 0x01; }},
      {"a letter of the title", [&](Bytes& f) { f[script_end - 3] ^= 0x20; }},
      {"first archive byte", [&](Bytes& f) { f[end_marker + 12] ^= 0x01; }},
      {"last archive byte", [](Bytes& f) { f.back() ^= 0x40; }},
      {"two bits that cancel in a rotate-add sum",
       [&](Bytes& f) {
         f[end_marker + 12] ^= 0x01; // 'a' = 0x61: bit 0 set, cleared: -1
         f[end_marker + 16] ^= 0x02; // bit 1 clear, set: +2 one word on
       }},
      {"the record's archive byte count", [&](Bytes& f) { f[script_end + 12] ^= 0x01; }},
      {"the record's script CRC", [&](Bytes& f) { f[script_end + 8] ^= 0x01; }},
      {"the end marker no longer announces the record", [&](Bytes& f) { f[end_marker + 2] = 0; }},
      {"a record behind the integrity record",
       [&](Bytes& f) {
         Bytes empty_title = {0x37, 0x12, 0, 0, 0, 0, 0, 0}; // tag of type 3, length 0
         f.insert(f.begin() + (long)end_marker, empty_title.begin(), empty_title.end());
       }},
  };
  for (const Case& c : cases) {
    SetUp();
    Bytes bad = good;
    c.damage(bad);
    EXPECT_FALSE(load(bad)) << c.what;
    ASSERT_EQ(g_messages.size(), 1u) << c.what;
    EXPECT_EQ(g_messages[0], "Package damaged") << c.what;
  }

  // An end marker that announces a record that is not there.
  SetUp();
  Bytes announced = p.finish(archive);
  announced[64 + p.script.size() + 2] = (uint8_t)END_INTEGRITY;
  EXPECT_FALSE(load(announced));
  EXPECT_EQ(g_messages.size(), 1u);

  // Signed: the certificate table behind the archive is not covered.
  SetUp();
  p.stub = pe_header_stub(false);
  Bytes signed_file = p.finish_checked(archive);
  append_certificate_table(signed_file, false);
  EXPECT_TRUE(load(signed_file, (uint32_t)p.stub.size()));
  EXPECT_TRUE(g_messages.empty());

  // Without the record (an older package) nothing is checked as a whole.
  SetUp();
  PackageMaker old = simple_package(TABLE6);
  Bytes unchecked = old.finish(archive);
  unchecked.back() ^= 0x40;
  EXPECT_TRUE(load(unchecked));
  EXPECT_TRUE(g_messages.empty());
  EXPECT_EQ(g_archive.volume_checks, nullptr);
}

// Packages that break the format's rules or point outside their buffers.
TEST_F(Loader, DamagedScriptsAreRejectedWithMessage31) {
  auto lang_with = [](const std::function<void(LanguageMaker&)>& edit) {
    LanguageMaker lang;
    lang.table(6, TABLE6);
    edit(lang);
    return lang.bytes();
  };
  auto base = [&]() {
    PackageMaker p;
    p.record(REC_TEMPLATES, minimal_templates());
    p.record(REC_LANGUAGE, lang_with([](LanguageMaker&) {}));
    return p;
  };
  struct Case {
    const char* what;
    std::function<PackageMaker()> make;
    bool message; // whether message 31 can be shown at all
  };
  std::vector<Case> cases = {
      {"no language record", [] { return PackageMaker(); }, false},
      {"seven language records",
       [&] {
         PackageMaker p = base();
         for (int i = 0; i < 6; i++) p.record(REC_LANGUAGE, lang_with([](LanguageMaker&) {}));
         return p;
       },
       true},
      {"file list before any language record",
       [&] {
         PackageMaker p;
         p.record(REC_FILE_LIST, file_list({}));
         p.record(REC_LANGUAGE, lang_with([](LanguageMaker&) {}));
         return p;
       },
       true},
      {"start language block beyond the blocks",
       [&] {
         PackageMaker p = base();
         Bytes start;
         put_u16(start, 0xFFFF);
         put_u16(start, 1);
         p.record(REC_START, start);
         return p;
       },
       true},
      {"language text offset outside the record",
       [&] {
         PackageMaker p = base();
         Bytes lang = lang_with([](LanguageMaker&) {});
         lang[8] = 0xF0;
         lang[9] = 0xFF;
         p.record(REC_LANGUAGE, lang);
         return p;
       },
       true},
      {"string table count beyond the record",
       [&] {
         PackageMaker p = base();
         Bytes lang = lang_with([](LanguageMaker& l) { l.table(0, {"a"}); });
         uint32_t t0 = lang[40] | (lang[41] << 8);
         lang[t0] = 200; // 200 strings announced, 1 present
         p.record(REC_LANGUAGE, lang);
         return p;
       },
       true},
      {"file entry longer than its list",
       [&] {
         PackageMaker p = base();
         EntryMaker e;
         e.strings[0] = "a.txt";
         Bytes list = file_list({e});
         list[4] = 0xFF;
         p.record(REC_FILE_LIST, list);
         return p;
       },
       true},
      {"file entry strings past the entry",
       [&] {
         PackageMaker p = base();
         EntryMaker e;
         e.strings[0] = "a.txt";
         Bytes list = file_list({e});
         list[4] = 31; // the entry ends inside its first string
         list.resize(4 + 31);
         p.record(REC_FILE_LIST, list);
         return p;
       },
       true},
      {"target name too long for a path buffer",
       [&] {
         PackageMaker p = base();
         EntryMaker e;
         e.strings[0] = std::string(260, 'a');
         p.record(REC_FILE_LIST, file_list({e}));
         return p;
       },
       true},
      {"patched entry naming a missing base entry",
       [&] {
         PackageMaker p = base();
         EntryMaker e;
         e.flags = ENTRY_PATCH;
         e.base_entry = 3;
         p.record(REC_FILE_LIST, file_list({e}));
         return p;
       },
       true},
      {"registry list running past its record",
       [&] {
         PackageMaker p = base();
         Bytes reg;
         put_u16(reg, 2);
         put_u32(reg, 2);
         reg.push_back(0);
         for (const char* s : {"Software\\A", "v", "x"}) put_text(reg, s);
         p.record(REC_REGISTRY_LIST, reg);
         return p;
       },
       true},
      {"file patch pattern past its record",
       [&] {
         PackageMaker p = base();
         Bytes patch;
         put_u16(patch, 1);
         put_u32(patch, 0xFFFFFFFF);
         put_u32(patch, 50);
         put_u32(patch, 0);
         patch.push_back(0);
         put_text(patch, "a.txt");
         put_text(patch, "x");
         patch.push_back('p');
         p.record(REC_PATCH_LIST, patch);
         return p;
       },
       true},
      {"template offset outside the record",
       [&] {
         PackageMaker p = base();
         Bytes t = minimal_templates();
         t[4 * 8] = 0xFF;
         t[4 * 8 + 1] = 0xFF;
         p.record(REC_TEMPLATES, t);
         return p;
       },
       true},
      {"template items past the record",
       [&] {
         PackageMaker p = base();
         Bytes t = minimal_templates();
         uint32_t last = t[32] | (t[33] << 8);
         t[last + 8] = 5; // five items announced in the last template
         p.record(REC_TEMPLATES, t);
         return p;
       },
       true},
      {"bitmap bits beyond the image",
       [&] {
         PackageMaker p = base();
         Bytes bmp(14, 0);
         put_u32(bmp, 40);
         put_u32(bmp, 100);
         put_u32(bmp, 100);
         put_u16(bmp, 1);
         put_u16(bmp, 8);
         bmp.resize(14 + 40 + 1024 + 50, 0);
         p.record(REC_BACKGROUND, bmp);
         return p;
       },
       true},
      {"title without its NUL",
       [&] {
         PackageMaker p = base();
         p.record(REC_TITLE, Bytes{'a', 'b'});
         return p;
       },
       true},
      {"compressed record that decodes short",
       [&] {
         PackageMaker p = base();
         Bytes body;
         put_u32(body, 500); // says 500 bytes, the stream holds 3
         body.insert(body.end(), {0x0F, 3, 0, 'a', 'b', 'c'});
         p.raw_record(0x1234 + REC_TITLE, 1, body);
         return p;
       },
       true},
      {"compressed record shorter than its size word",
       [&] {
         PackageMaker p = base();
         p.raw_record(0x1234 + REC_TITLE, 1, Bytes{0x0F, 0});
         return p;
       },
       true},
      {"compressed record stating an impossible size",
       [&] {
         PackageMaker p = base();
         Bytes body;
         put_u32(body, 0xFFFFFFF0);
         body.insert(body.end(), {0x0F, 0, 0});
         p.raw_record(0x1234 + REC_PREFIX, 1, body);
         return p;
       },
       true},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_FALSE(load(c.make().finish())) << c.what;
    if (c.message) {
      ASSERT_EQ(g_messages.size(), 1u) << c.what;
      EXPECT_EQ(g_messages[0], "Package damaged") << c.what;
    } else {
      EXPECT_TRUE(g_messages.empty()) << c.what;
    }
  }
}

// Image editors write 8-bit bitmaps with only the colours they use
// (biClrUsed 1..255); their pixel bits follow that short table.
TEST_F(Loader, EightBitBitmapsWithAShortColourTableAreAccepted) {
  struct Case {
    size_t colours;
    bool loads;
  } cases[] = {{1, true}, {16, true}, {255, true}, {256, true}, {257, false}};
  for (const Case& c : cases) {
    SetUp();
    PackageMaker p = simple_package(TABLE6);
    p.record(REC_BILLBOARD,
             bitmap_8bit(5, 3, std::vector<uint32_t>(c.colours, 0x102030), Bytes(15, 0)));
    EXPECT_EQ(load(p.finish()), c.loads) << c.colours << " colours";
    EXPECT_EQ(g_messages.size(), c.loads ? 0u : 1u) << c.colours << " colours";
  }
}

TEST_F(Loader, EachBlockKeepsItsFolderAcrossLanguageSwitches) {
  PackageMaker p;
  p.record(REC_TEMPLATES, minimal_templates());
  for (const char* folder : {"C:\\Program Files\\App\\", "C:\\Programme\\App\\"}) {
    LanguageMaker lang;
    lang.default_folder = folder;
    lang.table(6, TABLE6);
    p.record(REC_LANGUAGE, lang.bytes());
  }
  ASSERT_TRUE(load(p.finish()));
  EXPECT_STREQ(g_app.install_folder, "C:\\Program Files\\App\\"); // block 0, its own default
  select_language_block(1);
  EXPECT_STREQ(g_app.install_folder, "C:\\Programme\\App\\");
  strcpy(g_app.install_folder, "D:\\Edited\\");
  select_language_block(0);
  EXPECT_STREQ(g_app.install_folder, "C:\\Program Files\\App\\");
  select_language_block(1);
  EXPECT_STREQ(g_app.install_folder, "D:\\Edited\\");
}

TEST_F(Loader, LanguageWithoutDefaultFolderInheritsThePreviousOne) {
  PackageMaker p;
  p.record(REC_TEMPLATES, minimal_templates());
  LanguageMaker first, second;
  first.default_folder = "C:\\First\\";
  second.has_default_folder = false;
  p.record(REC_LANGUAGE, first.bytes());
  p.record(REC_LANGUAGE, second.bytes());
  ASSERT_TRUE(load(p.finish()));
  EXPECT_STREQ(g_package.blocks[1].folder, "C:\\First\\");
}

TEST_F(Loader, StringLookupsNeverFailAndFormatOnlyWithPercentS) {
  PackageMaker p;
  p.record(REC_TEMPLATES, minimal_templates());
  LanguageMaker lang;
  lang.table(6, {}); // count 0
  lang.table(1, {"zero", "", "two"});
  p.record(REC_LANGUAGE, lang.bytes());
  ASSERT_TRUE(load(p.finish()));
  EXPECT_STREQ(get_string(6, 0), "");
  EXPECT_STREQ(get_string(11, 0), "");
  EXPECT_STREQ(get_string(2, 0), ""); // absent table
  EXPECT_STREQ(get_string(1, 2), "two");
  EXPECT_STREQ(get_string(1, 1), "");
  EXPECT_STREQ(get_string(1, 3), "");

  release_package();
  PackageMaker q;
  q.record(REC_TEMPLATES, minimal_templates());
  LanguageMaker l2;
  std::vector<std::string> t6(23, "");
  t6[21] = "File %s is damaged";
  t6[22] = "Disk %d and %s";
  t6[20] = "Disk %d only";
  l2.table(6, t6);
  q.record(REC_LANGUAGE, l2.bytes());
  ASSERT_TRUE(load(q.finish()));
  strcpy(g_app.error_file_name, "C:\\A\\B.DLL");
  char out[1024];
  format_message(out, sizeof out, 21);
  EXPECT_STREQ(out, "File C:\\A\\B.DLL is damaged");
  format_message(out, sizeof out, 20);
  EXPECT_STREQ(out, "Disk %d only"); // no %s: copied unchanged
}
