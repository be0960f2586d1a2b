// The package rules shared by list, verify and extract: breaches of the
// format that the reader can read past are each reported by verify, naming
// the record and its offset (or the block and entry); and a sweep of single
// flipped bytes over a whole package.
#include <gtest/gtest.h>

#include <chrono>
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

// Rewrites the script: `edit` gets each record (but the end marker) and
// appends what takes its place to `out` (nothing drops it). The stub, the end
// marker and the archive stay as they were.
std::vector<uint8_t>
rewritten(const Package& p,
          const std::function<void(const RawRecord&, std::vector<uint8_t>& out)>& edit) {
  std::vector<uint8_t> out(p.bytes.begin(), p.bytes.begin() + (long)p.stub_length);
  for (const RawRecord& r : p.records) {
    if (r.tag == TAG_END) {
      out.insert(out.end(), p.bytes.begin() + (long)r.offset, p.bytes.end());
      break;
    }
    edit(r, out);
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

// Any one byte of the archive of the sample project changed: verify rejects
// the package, or the package lists exactly as before (the byte was
// harmless: verify has checked every entry's data against the checksum that
// the listing shows). Each verify in well under a second. (The script records
// carry no checksum yet: a change inside a compressed record that still
// decodes to its stated size goes unnoticed, so the sweep stays behind the
// script.)
TEST(PackageRules, FlippedArchiveBytesAreRejectedOrHarmless) {
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
  size_t archive = (size_t)read_package(o.output).archive_offset + 4;
  auto listing = [&](const std::string& path) {
    std::ostringstream out;
    list_package(path, out);
    std::string text = out.str();
    return text.substr(text.find('\n')); // without the path
  };
  const std::string good_listing = listing(o.output);
  size_t flips = 0, rejected = 0, harmless = 0;
  double slowest = 0;
  std::string path = dir.file("flipped.exe");
  for (size_t at = archive; at < good.size(); at++) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0xFF;
    dir.write("flipped.exe", bad);
    flips++;
    auto start = std::chrono::steady_clock::now();
    bool ok;
    std::string text = verify_text(path, &ok);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    slowest = std::max(slowest, seconds);
    EXPECT_LT(seconds, 1.0) << "byte " << at;
    if (!ok) {
      rejected++;
      continue;
    }
    // Accepted: it must be the same package in every way that shows.
    std::string bad_listing = listing(path);
    EXPECT_EQ(bad_listing, good_listing) << "byte " << at << " changed, verify said\n" << text;
    if (bad_listing == good_listing) harmless++;
  }
  EXPECT_GT(flips, 500u); // the sample has an archive worth the sweep
  printf(
      "flipped %zu archive bytes (of %zu): %zu rejected, %zu accepted with an unchanged listing; "
      "slowest verify %.3f s\n",
      flips, good.size() - archive, rejected, harmless, slowest);
}
