// The package rules shared by list, verify and extract: breaches of the
// format that the reader can read past are each reported by verify, naming
// the record and its offset (or the block and entry); and a sweep of single
// flipped bytes over a whole package.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <sstream>

#include "builder/inspect.h"
#include "builder/script_writer.h"
#include "builder_test_util.h"

using namespace pakwiz;
using builder_test::RawRecord;

namespace {

const char* const PROJECT = R"(product = "Rules"
# No uninstaller entry: the entry numbers below count from 0.
uninstaller = false
[[files]]
source = "a.txt"
[[files]]
source = "b.txt"
target = "sub\\b.txt"
[[languages]]
language = "en"
[[languages.ini]]
file = "x.ini"
section = "S"
key = "K"
value = "V"
)";

struct Package {
  std::vector<uint8_t> bytes;
  size_t stub_length;
  std::vector<RawRecord> records;
};

Package build_sample(const TempDir& dir) {
  dir.write("a.txt", std::string("first file\n"));
  dir.write("b.txt", std::string("second file, a little longer\n"));
  builder_test::build_project(dir, PROJECT);
  Package p;
  p.bytes = read_file_bytes(dir.file("setup.exe"));
  p.stub_length = read_u32(&p.bytes[builder_test::STUB_FIELD]);
  p.records = builder_test::walk_records(p.bytes, p.stub_length);
  return p;
}

// Rewrites the script: `edit` gets each record (but the integrity record and
// the end marker) and appends what takes its place to `out` (nothing drops
// it). The integrity record goes, so that each rule shows on its own; the
// stub, the end marker (no longer announcing the record) and the archive
// stay as they were.
std::vector<uint8_t>
rewritten(const Package& p,
          const std::function<void(const RawRecord&, std::vector<uint8_t>& out)>& edit) {
  std::vector<uint8_t> out(p.bytes.begin(), p.bytes.begin() + (long)p.stub_length);
  for (const RawRecord& r : p.records) {
    if (r.tag == TAG_END) {
      size_t end = out.size();
      out.insert(out.end(), p.bytes.begin() + (long)r.offset, p.bytes.end());
      out[end + 2] = 0; // flags
      break;
    }
    if (r.tag != TAG_BASE + REC_INTEGRITY) edit(r, out);
  }
  return out;
}

void keep(const RawRecord& r, const Package& p, std::vector<uint8_t>& out) {
  out.insert(out.end(), p.bytes.begin() + (long)r.offset,
             p.bytes.begin() + (long)(r.offset + 8 + r.length));
}

bool is(const RawRecord& r, int type) {
  return r.tag == TAG_BASE + type;
}

std::string verify_text(const std::string& path, bool* good) {
  std::ostringstream out;
  *good = verify_package(path, out);
  return out.str();
}

} // namespace

TEST(PackageRules, VerifyReportsEveryBreachNamingItsPlace) {
  TempDir dir;
  Package p = build_sample(dir);
  bool good = false;
  std::string text = verify_text(dir.file("setup.exe"), &good);
  ASSERT_TRUE(good) << text;

  // An entry list with one entry changed by `change`.
  auto entry_edit = [&](std::function<void(FileEntryFields&)> change) {
    return [&p, change](const RawRecord& r, std::vector<uint8_t>& out) {
      if (!is(r, REC_FILE_LIST)) return keep(r, p, out);
      std::vector<FileEntryFields> list = parse_file_list(r.payload, "test");
      change(list.back());
      append_record(out, REC_FILE_LIST, file_list_payload(list), true, 6);
    };
  };
  struct Case {
    const char* what;
    std::function<void(const RawRecord&, std::vector<uint8_t>&)> edit;
    const char* expected;
  } cases[] = {
      {"unknown tag",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         keep(r, p, out);
         if (is(r, REC_INI_LIST)) out[out.size() - 8 - r.length] = 0x34 + 8; // type 8
       },
       "(unused type 8): an unknown record tag"},
      {"a second file list",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         keep(r, p, out);
         if (is(r, REC_FILE_LIST)) keep(r, p, out);
       },
       "(file list): a second one in its language block"},
      {"no templates",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         if (!is(r, REC_TEMPLATES)) keep(r, p, out);
       },
       "(end marker): the script has no dialog templates"},
      {"setup flags not first",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         if (is(r, REC_SETUP_FLAGS)) return;
         keep(r, p, out);
         if (is(r, REC_TEMPLATES)) keep(p.records[0], p, out);
       },
       "(setup flags): not the first record"},
      {"global record after a language record",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         if (is(r, REC_TEMPLATES)) return;
         keep(r, p, out);
         if (is(r, REC_LANGUAGE))
           keep(*builder_test::find_record(p.records, REC_TEMPLATES), p, out);
       },
       "(templates): after the first language record"},
      {"no file list",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         if (!is(r, REC_FILE_LIST)) keep(r, p, out);
       },
       "language block 0 ended without its file list"},
      {"an empty record",
       [&](const RawRecord& r, std::vector<uint8_t>& out) {
         keep(r, p, out);
         if (is(r, REC_TEMPLATES)) append_record(out, REC_BILLBOARD, {}, false, 0);
       },
       "(billboard): an empty record"},
      {"a target the setup program refuses",
       entry_edit([](FileEntryFields& e) { e.strings[0] = std::string(300, 'a'); }),
       "(file list): the setup program refuses it"},
      {"unknown destination", entry_edit([](FileEntryFields& e) { e.destination = 9; }),
       "entry 1 (sub\\b.txt): unknown destination code 9"},
      {"unsafe target", entry_edit([](FileEntryFields& e) { e.strings[0] = "..\\up.txt"; }),
       "entry 1 (..\\up.txt): the target name cannot be written safely"},
      {"a size no stream reaches",
       entry_edit([](FileEntryFields& e) { e.file_size = e.packed_size * 2000; }),
       "cannot decode to its"},
      {"a missing base entry", entry_edit([](FileEntryFields& e) {
         e.flags |= ENTRY_PATCH;
         e.base_block = 3;
       }),
       "its base entry, block 3 entry 0, does not exist"},
  };
  for (const Case& c : cases) {
    std::string path = dir.write(std::string("case.exe"), rewritten(p, c.edit));
    text = verify_text(path, &good);
    EXPECT_FALSE(good) << c.what << "\n" << text;
    if (*c.expected) {
      EXPECT_NE(text.find(c.expected), std::string::npos) << c.what << "\n" << text;
    }
    // Every script breach names its record's offset, entry breaches their entry.
    EXPECT_TRUE(text.find(" at offset ") != std::string::npos ||
                text.find("block 0 entry") != std::string::npos)
        << c.what << "\n"
        << text;
  }
}

// Any one byte of the script or the archive of the sample project changed:
// verify rejects the package (the integrity record's CRC-32 values cover
// both, and the record and the end marker are checked against them and each
// other), each time in well under a second of processor time. Every byte of
// the archive, the integrity record and the end marker is changed, and every
// fifth byte of the records before them (the CRC-32 finds any one changed
// byte wherever it lies; the stride keeps the sanitizer build's run short).
TEST(PackageRules, FlippedScriptAndArchiveBytesAreRejected) {
  TempDir dir;
  BuildOptions o;
  dir.write("stub.bin", builder_test::stand_in_stub());
  o.project = std::string(PAKWIZ_SOURCE_DIR) + "/examples/hello/hello.toml";
  o.output = dir.file("setup.exe");
  o.stub = dir.file("stub.bin");
  // The sample's [uninstaller] names no program: a stand-in keeps this test
  // independent of whether the Windows programs have been built yet.
  o.uninstaller = dir.write("uninstall.bin", builder_test::stand_in_stub());
  build_setup(o);
  std::vector<uint8_t> good = read_file_bytes(o.output);
  PackageInfo info = read_package(o.output);
  ASSERT_TRUE(info.integrity.has_value());
  bool ok;
  std::string text = verify_text(o.output, &ok);
  ASSERT_TRUE(ok) << text;
  EXPECT_NE(text.find("integrity record matches"), std::string::npos) << text;
  const size_t archive = (size_t)info.archive_offset + 4;
  const size_t checked_script_end = (size_t)info.integrity->offset;
  size_t flips = 0, rejected = 0;
  double slowest = 0;
  std::string path = dir.file("flipped.exe");
  for (size_t at = info.stub_length; at < good.size(); at += at < checked_script_end ? 5 : 1) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0xFF;
    dir.write("flipped.exe", bad);
    flips++;
    std::clock_t start = std::clock();
    text = verify_text(path, &ok);
    double seconds = (double)(std::clock() - start) / CLOCKS_PER_SEC;
    slowest = std::max(slowest, seconds);
    EXPECT_LT(seconds, 1.0) << "byte " << at;
    EXPECT_FALSE(ok) << "byte " << at << " changed, verify said\n" << text;
    if (!ok) rejected++;
  }
  EXPECT_GT(good.size() - archive, 500u); // the sample has an archive worth the sweep
  printf("flipped %zu bytes of the %zu behind the stub (script %zu, archive %zu): %zu rejected; "
         "slowest verify %.3f s of processor time\n",
         flips, good.size() - info.stub_length, archive - info.stub_length, good.size() - archive,
         rejected, slowest);
}
