// Patched entries in the builder: `patch_from` in the project file,
// automatic patches against other language blocks, the archive layout that
// keeps every base read and patch read forward (or stores the file in full),
// list, verify and extract, and a built package with volumes installed entry
// by entry through the setup program's own placement code.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "builder/archive_layout.h"
#include "builder/encoder.h"
#include "builder/errors.h"
#include "builder/inspect.h"
#include "builder/package_reader.h"
#include "builder/project.h"
#include "builder/script_writer.h"
#include "builder/source_files.h"
#include "builder_test_util.h"
#include "common/state.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "install/place_file.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "support/install_package.h"

using namespace pakwiz;
using namespace builder_test;

namespace {

std::vector<uint8_t> random_bytes(uint32_t seed, size_t n) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b(n);
  for (uint8_t& x : b) x = (uint8_t)rng();
  return b;
}

// A new version of a file: some bytes replaced, a piece inserted, one removed.
std::vector<uint8_t> new_version(std::vector<uint8_t> b, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int k = 0; k < 20; k++) b[rng() % b.size()] ^= 0xA5;
  std::vector<uint8_t> piece = random_bytes(seed + 1, 500);
  b.insert(b.begin() + (long)(rng() % b.size()), piece.begin(), piece.end());
  size_t at = rng() % (b.size() - 1000);
  b.erase(b.begin() + (long)at, b.begin() + (long)at + 700);
  return b;
}

const FileEntryFields& entry_of(const PackageInfo& info, size_t block, size_t i) {
  return (*info.blocks[block].files)[i];
}

} // namespace

TEST(PatchProject, BuildListVerifyAndExtractPatchedFiles) {
  TempDir dir;
  std::vector<uint8_t> v1 = random_bytes(1, 40000), v2 = new_version(v1, 2),
                       v3 = new_version(v1, 3);
  dir.write("v1.dat", v1);
  dir.write("v2.dat", v2);
  dir.write("v3.dat", v3);
  build_project(dir, R"(product = "Patch"
# No uninstaller entry: the entry numbers below count from 0.
uninstaller = false
[[languages]]
language = "en"
[[languages.files]]
source = "v1.dat"
target = "app.dat"
[[languages.files]]
source = "v3.dat"
target = "update.dat"
patch_of = "app.dat"          # the same language block

[[languages]]
language = "de"
[[languages.files]]
source = "v2.dat"
target = "app.dat"
patch_from = { language = "en" }  # English app.dat
)");
  std::string setup = dir.file("setup.exe");
  PackageInfo info = read_package(setup);

  struct Case {
    size_t block, entry;
    const std::vector<uint8_t>* target;
    const char* source;
  } cases[] = {{0, 1, &v3, "v3.dat"}, {1, 0, &v2, "v2.dat"}};
  for (const Case& c : cases) {
    const FileEntryFields& e = entry_of(info, c.block, c.entry);
    EXPECT_EQ(e.flags & 0x10, 0x10);
    EXPECT_EQ(e.base_block, 0);
    EXPECT_EQ(e.base_entry, 0);
    EXPECT_EQ(e.file_size, c.target->size());
    EXPECT_EQ(e.checksum, rotate_add(0, c.target->data(), c.target->size()));
    EXPECT_EQ(e.times[2], file_modification_filetime(dir.file(c.source), SourcePos{}));
    // A patch of a few edits against a file of random bytes: far below
    // the file itself.
    EXPECT_LT(e.packed_size, c.target->size() / 10);
  }
  EXPECT_EQ(entry_of(info, 0, 0).flags & 0x10, 0);

  std::ostringstream listing;
  list_package(setup, listing);
  EXPECT_NE(listing.str().find("patch of block 0 entry 0 (app.dat)"), std::string::npos)
      << listing.str();

  std::ostringstream verified;
  EXPECT_TRUE(verify_package(setup, verified)) << verified.str();
  EXPECT_NE(verified.str().find("3 entries checked"), std::string::npos) << verified.str();

  std::ostringstream extracted;
  extract_package(setup, dir.file("de"), 1, extracted);
  extract_package(setup, dir.file("en"), 0, extracted);
  EXPECT_EQ(read_file_bytes(dir.file("de/app.dat")), v2);
  EXPECT_EQ(read_file_bytes(dir.file("en/app.dat")), v1);
  EXPECT_EQ(read_file_bytes(dir.file("en/update.dat")), v3);

  // A damaged patch is found by verify and named.
  std::vector<uint8_t> file = read_file_bytes(setup);
  const FileEntryFields& de = entry_of(info, 1, 0);
  file[info.archive_offset + 4 + de.position + de.packed_size / 2] ^= 0x40;
  dir.write("damaged.exe", file);
  std::ostringstream damaged;
  EXPECT_FALSE(verify_package(dir.file("damaged.exe"), damaged));
  EXPECT_NE(damaged.str().find("damaged: block 1 entry 0 (app.dat)"), std::string::npos)
      << damaged.str();
}

TEST(PatchProject, ProjectErrorsNameThePlace) {
  TempDir dir;
  const std::string head =
      "product = \"P\"\n[uninstaller]\nprogram = \"u.exe\"\n"
      "[[languages]]\nlanguage = \"en\"\n"
      "[[languages.files]]\nsource = \"a.dat\"\n"
      "[[languages.files]]\nsource = \"b.dat\"\n"
      "patch_of = { target = \"a.dat\", destination = \"install\" }\n"
      "[[languages.files]]\ntarget = \"gone.dat\"\nremoval = \"not-installed\"\n"
      "[[languages.files]]\nsource = \"a.dat\"\ndestination = \"windows\"\n"
      "[[languages.files]]\n";
  struct Case {
    std::string entry, error;
  } cases[] = {
      {"source = \"c.dat\"\npatch_of = { language = \"fr\" }",
       "project.toml:19:12: language block 0: 'c.dat': patch_of names language 'fr', which the "
       "project does not have"},
      {"source = \"c.dat\"\npatch_of = { language = 3, target = \"a.dat\" }",
       "patch_of names language '3'"},
      {"source = \"c.dat\"\npatch_of = \"nothing.dat\"",
       "patch_of names 'nothing.dat' of language block 0, which has no such entry"},
      {"source = \"c.dat\"\npatch_of = \"c.dat\"", "a file cannot be its own base"},
      {"source = \"c.dat\"\npatch_of = { language = 0 }", "a file cannot be its own base"},
      {"source = \"c.dat\"\npatch_of = \"b.dat\"", "is itself a patch"},
      {"source = \"c.dat\"\npatch_of = \"gone.dat\"", "is not installed"},
      {"source = \"c.dat\"\npatch_of = \"Uninstall.exe\"", "is the uninstaller entry"},
      {"source = \"c.dat\"\ntarget = \"a2.dat\"\npatch_of = { target = \"A.DAT\" }",
       "which several entries install (to different folders); say which with 'destination'"},
      {"source = \"c.dat\"\npatch_of = {}", "patch_of needs its 'language' or its 'target'"},
      {"source = \"c.dat\"\npatch_of = { file = \"a.dat\" }",
       "unknown key 'file' in patch_of; the nearest valid key is"},
      {"source = \"c.dat\"\npatch_of = 1", "'patch_of' must be a table"},
      {"source = \"c.dat\"\npatch_from = \"nothing.dat\"",
       "patch_from names 'nothing.dat' of language block 0, which has no such entry"},
      {"source = \"c.dat\"\npatch_from = \"a.dat\"\npatch_of = \"a.dat\"",
       "give the base once: 'patch_from' and 'patch_of' are the same key"},
      {"target = \"c.dat\"\nremoval = \"not-installed\"\npatch_of = \"a.dat\"",
       "a file that is not installed (removal = \"not-installed\") cannot be a patch"},
  };
  for (const Case& c : cases) {
    std::string error = "(no error)";
    try {
      parse_project(head + c.entry + "\n", dir.file("project.toml"));
    } catch (const BuildError& e) {
      error = e.what();
    }
    EXPECT_NE(error.find(c.error), std::string::npos) << c.entry << "\n got: " << error;
  }
  // With `destination` the same name is found once; the base may be in a
  // later block.
  Project p = parse_project(
      head + "source = \"c.dat\"\ntarget = \"a2.dat\"\n"
             "patch_of = { target = \"a.dat\", destination = \"windows\" }\n"
             "[[languages.files]]\nsource = \"d.dat\"\npatch_of = { language = \"de\", "
             "target = \"z.dat\" }\n[[languages]]\nlanguage = \"de\"\n[[languages.files]]\n"
             "source = \"z.dat\"\n",
      dir.file("project.toml"));
  ASSERT_EQ(p.languages[0].files.size(), 7u);
  EXPECT_EQ(p.languages[0].files[5].patch_of->block, 0);
  EXPECT_EQ(p.languages[0].files[5].patch_of->entry, 4);
  EXPECT_EQ(p.languages[0].files[6].patch_of->block, 1);
  EXPECT_EQ(p.languages[0].files[6].patch_of->entry, 1); // behind block 1's uninstaller
}

// ---------------------------------------------------------------------------
// Layout: the walk of each block reads, for a patched entry, its base's data
// and then the patch; nothing may lie in an earlier volume than the walk has
// reached.

namespace {

struct Walk {
  std::string problem;
};

Walk walk_forward(const ArchiveLayout& layout, const std::vector<std::vector<int64_t>>& blocks,
                  const std::vector<std::vector<EntryRef>>& bases,
                  const std::vector<uint64_t>& packed, const VolumePlan& plan) {
  for (size_t b = 0; b < blocks.size(); b++) {
    uint32_t volume = 0;
    auto read = [&](size_t bb, size_t i, const char* what) {
      uint64_t pos = layout.positions[bb][i], size = packed[(size_t)blocks[bb][i]];
      if (plan.volume_of(pos) < volume)
        return "block " + std::to_string(b) + " entry " + std::to_string(i) + ": " + what +
               " lies behind the reader";
      volume = std::max(volume, plan.volume_of(pos + size - 1));
      return std::string();
    };
    for (size_t i = 0; i < blocks[b].size(); i++) {
      if (blocks[b][i] == NO_CONTENT) continue;
      std::string problem;
      if (bases[b][i].valid())
        problem = read((size_t)bases[b][i].block, (size_t)bases[b][i].entry, "the base");
      if (problem.empty()) problem = read(b, i, "the data");
      if (!problem.empty()) return Walk{problem};
    }
  }
  return Walk{};
}

} // namespace

TEST(PatchLayout, BasesAreReadForwardAndPatchesLieBehindThem) {
  // Block 0 patches block 1's entry: the base gets its position when the
  // patch needs it, and the patch lies behind it.
  VolumePlan single;
  std::vector<std::vector<int64_t>> blocks = {{1}, {0}};
  std::vector<std::vector<EntryRef>> bases = {{EntryRef{1, 0}}, {EntryRef{}}};
  ArchiveLayout l = lay_out_archive(blocks, {100, 10}, single, bases);
  ASSERT_FALSE(l.conflict);
  EXPECT_EQ(l.positions[1][0], 0u);
  EXPECT_EQ(l.positions[0][0], 100u);

  // Volumes of 100 bytes. Block 1 reads content 1 (volumes 0 to 2) before
  // its patch of block 0's first entry; laid out in list order that base
  // would lie behind the reader, so block 1 goes first and places it.
  VolumePlan split;
  split.first = 100;
  split.each = 100;
  blocks = {{0, 1}, {1, 2}};
  bases = {{EntryRef{}, EntryRef{}}, {EntryRef{}, EntryRef{0, 0}}};
  std::vector<uint64_t> packed = {50, 250, 10};
  l = lay_out_archive(blocks, packed, split, bases);
  ASSERT_FALSE(l.conflict);
  EXPECT_EQ(walk_forward(l, blocks, bases, packed, split).problem, "");
  EXPECT_GT(l.positions[1][1], l.positions[0][0]);

  // One block whose patch comes before its own base, with a large entry
  // between them: no order of blocks helps.
  blocks = {{2, 1, 0}};
  bases = {{EntryRef{0, 2}, EntryRef{}, EntryRef{}}};
  l = lay_out_archive(blocks, packed, split, bases);
  ASSERT_TRUE(l.conflict);
  EXPECT_EQ(l.conflict->block, 0u);
  EXPECT_EQ(l.conflict->entry, 2u);
  EXPECT_FALSE(l.conflict->base);
  EXPECT_EQ(l.conflict->volume, 0u);
  EXPECT_EQ(l.conflict->reader_volume, 3u);
}

TEST(PatchLayout, RandomListsWithPatchesNeverSendTheReaderBack) {
  std::mt19937 rng(777);
  int conflicts = 0, checked = 0;
  for (int round = 0; round < 400; round++) {
    int contents = 2 + (int)(rng() % 8);
    std::vector<uint64_t> packed;
    for (int c = 0; c < contents; c++) packed.push_back(1 + rng() % 300);
    std::vector<std::vector<int64_t>> blocks(1 + rng() % 6);
    for (auto& block : blocks)
      for (int i = 1 + (int)(rng() % 8); i > 0; i--)
        block.push_back(rng() % 7 == 0 ? NO_CONTENT : (int64_t)(rng() % contents));
    // Every entry with content that is not itself a base candidate may be
    // a patch of a random stored entry.
    std::vector<std::vector<EntryRef>> bases(blocks.size());
    for (size_t b = 0; b < blocks.size(); b++) bases[b].assign(blocks[b].size(), EntryRef{});
    for (size_t b = 0; b < blocks.size(); b++)
      for (size_t i = 0; i < blocks[b].size(); i++) {
        if (blocks[b][i] == NO_CONTENT || rng() % 3) continue;
        size_t bb = rng() % blocks.size(), be = rng() % blocks[bb].size();
        if (blocks[bb][be] == NO_CONTENT || bases[bb][be].valid() || (bb == b && be == i)) continue;
        bool is_base = false; // a base must not itself be a patch
        for (auto& list : bases)
          for (EntryRef r : list) is_base = is_base || (r.block == (int)b && r.entry == (int)i);
        if (!is_base) bases[b][i] = EntryRef{(int)bb, (int)be};
      }
    VolumePlan plan;
    if (rng() % 3) {
      plan.first = 50 + rng() % 400;
      plan.each = 50 + rng() % 400;
    }
    ArchiveLayout layout = lay_out_archive(blocks, packed, plan, bases);
    if (layout.conflict) {
      EXPECT_TRUE(plan.split()) << "without volumes nothing can lie behind the reader";
      conflicts++;
      continue;
    }
    checked++;
    Walk w = walk_forward(layout, blocks, bases, packed, plan);
    ASSERT_EQ(w.problem, "") << "round " << round;
  }
  EXPECT_GT(checked, 200) << conflicts << " layouts had conflicts";
}

// ---------------------------------------------------------------------------
// The setup program installs a built package with volumes: every block's
// entries are placed in list order by place_file, reading the archive
// forward through the volume files.

namespace {

class PatchInstall : public InstallTest {};

} // namespace

TEST_F(PatchInstall, SetupProgramInstallsPatchedFilesFromVolumes) {
  std::vector<uint8_t> base = random_bytes(10, 8000);
  std::vector<uint8_t> filler = random_bytes(11, 30000), filler2 = random_bytes(12, 25000);
  std::vector<uint8_t> update = new_version(base, 13), german = new_version(base, 14);
  dir.write("src/base.dat", base);
  dir.write("src/filler.dat", filler);
  dir.write("src/filler2.dat", filler2);
  dir.write("src/update.dat", update);
  dir.write("src/german.dat", german);
  // Every read of the base has to find it in the volume the walk has got
  // to: each patch comes right after the base (or first in its block).
  BuildSummary summary = build_project(dir, R"(product = "Volumes"
# No uninstaller entry: the entry numbers below count from 0.
uninstaller = false
[[languages]]
language = "en"
[[languages.files]]
source = "src/base.dat"
[[languages.files]]
source = "src/update.dat"
patch_of = "base.dat"
[[languages.files]]
source = "src/filler.dat"

[[languages]]
language = "de"
[[languages.files]]
source = "src/german.dat"
target = "base.dat"
patch_of = { language = "en" }
[[languages.files]]
source = "src/filler2.dat"
)",
                                       "setup.exe", 20000);
  ASSERT_GE(summary.volumes.size(), 3u);
  std::ostringstream verified;
  EXPECT_TRUE(verify_package(dir.file("setup.exe"), verified)) << verified.str();

  strcpy(g_app.package_path, dir.file("setup.exe").c_str());
  g_app.stub_length = (uint32_t)stand_in_stub().size();
  ASSERT_TRUE(load_package());
  struct Expected {
    const char* name;
    const std::vector<uint8_t>* bytes;
  };
  std::vector<std::vector<Expected>> expected = {
      {{"base.dat", &base}, {"update.dat", &update}, {"filler.dat", &filler}},
      {{"base.dat", &german}, {"filler2.dat", &filler2}}};
  for (int block = 0; block < 2; block++) {
    // Each block is a separate installation: the archive is opened afresh.
    ASSERT_EQ(open_archive(), 0);
    std::string folder = dir.file("install" + std::to_string(block)) + "/";
    for (uint32_t i = 0; i < expected[block].size(); i++) {
      std::string path = folder + expected[block][i].name;
      strcpy(g_app.destination_path, path.c_str());
      ASSERT_TRUE(
          place_file(file_entry(find_file_entry(block, i)), g_app.destination_path, false, 0, 100))
          << "block " << block << " entry " << i << ": error " << g_install.error_code << " "
          << g_app.error_file_name;
      EXPECT_EQ(read_file_bytes(path), *expected[block][i].bytes) << path;
    }
    EXPECT_GE(g_archive.volume, 2u) << "the walk went through the volume files";
    close_archive();
  }
}

TEST(PatchProject, APatchTheForwardReaderCannotReachIsStoredInFull) {
  TempDir dir;
  std::vector<uint8_t> base = random_bytes(20, 30000), update = new_version(base, 22);
  dir.write("base.dat", base);
  dir.write("filler.dat", random_bytes(21, 30000));
  dir.write("new.dat", update);
  // The base lies in the setup file, but the walk has gone on to volume 1
  // with filler.dat by the time it reaches new.dat.
  BuildSummary summary = build_project(dir, R"(product = "Volumes"
# No uninstaller entry: the entry numbers below count from 0.
uninstaller = false
[[files]]
source = "base.dat"
[[files]]
source = "filler.dat"
[[files]]
source = "new.dat"
patch_from = "base.dat"
)",
                                       "setup.exe", 20000);
  ASSERT_EQ(summary.notes.size(), 1u);
  EXPECT_EQ(summary.notes[0],
            "'new.dat' of language block 0 is stored in full, not as a patch: the setup program "
            "reads language block 0's files forward and is at volume 3 by then, but the base's "
            "data lie in the setup file");
  EXPECT_EQ(summary.patched, 0u);
  PackageInfo info = read_package(dir.file("setup.exe"));
  EXPECT_EQ(entry_of(info, 0, 2).flags & 0x10, 0);
  std::ostringstream out;
  extract_package(dir.file("setup.exe"), dir.file("x"), 0, out);
  EXPECT_EQ(read_file_bytes(dir.file("x/new.dat")), update);
}

// Verify walks each block's list as the setup program does and names an
// entry whose base or patch lies in an earlier volume than the walk has
// reached. The package is built right, then its entry list is edited.
TEST(PatchProject, VerifyNamesAnEntryTheForwardReaderCannotReach) {
  TempDir dir;
  std::vector<uint8_t> base = random_bytes(40, 8000), update = new_version(base, 41);
  dir.write("base.dat", base);
  dir.write("new.dat", update);
  dir.write("filler.dat", random_bytes(42, 50000));
  BuildSummary summary = build_project(dir, R"(product = "Volumes"
# No uninstaller entry: the entry numbers below count from 0.
uninstaller = false
[[files]]
source = "base.dat"
[[files]]
source = "new.dat"
patch_from = "base.dat"
[[files]]
source = "filler.dat"
)",
                                       "setup.exe", 20000);
  ASSERT_EQ(summary.patched, 1u);
  ASSERT_EQ(summary.volumes.size(), 3u); // the filler ends in volume 3
  std::string setup = dir.file("setup.exe");
  std::ostringstream good;
  ASSERT_TRUE(verify_package(setup, good)) << good.str();

  std::vector<uint8_t> built = read_file_bytes(setup);
  size_t stub_length = read_u32(&built[STUB_FIELD]);
  std::vector<RawRecord> records = walk_records(built, stub_length);
  // The package with block 0's entry list changed by `edit`.
  auto edited = [&](const std::function<void(std::vector<FileEntryFields>&)>& edit) {
    std::vector<uint8_t> out(built.begin(), built.begin() + (long)stub_length);
    for (const RawRecord& r : records) {
      if (r.tag == 0x7F7F) {
        out.insert(out.end(), built.begin() + (long)r.offset, built.end());
        break;
      }
      if (r.tag == 0x1234 + REC_FILE_LIST) {
        std::vector<FileEntryFields> list = parse_file_list(r.payload, "test");
        edit(list);
        append_record(out, REC_FILE_LIST, file_list_payload(list), true, 6);
      } else {
        out.insert(out.end(), built.begin() + (long)r.offset,
                   built.begin() + (long)(r.offset + 8 + r.length));
      }
    }
    return out;
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<FileEntryFields>&)> edit;
    std::string expected;
  } cases[] = {
      {"the patch listed behind the filler, which takes the walk to the last volume",
       [](std::vector<FileEntryFields>& l) { std::swap(l[1], l[2]); },
       "damaged: block 0 entry 2 (new.dat): its base's data (block 0 entry 0) lie in the setup "
       "file, but the setup program reads block 0's files forward and is at volume 3 by then"},
      {"the filler, which ends in the last volume, named as the base",
       [](std::vector<FileEntryFields>& l) { l[1].base_entry = 2; },
       "damaged: block 0 entry 1 (new.dat): its patch's data lie in the setup file, but the setup "
       "program reads block 0's files forward and is at volume 3 by then"},
  };
  for (const Case& c : cases) {
    dir.write("setup.exe", edited(c.edit));
    std::ostringstream out;
    EXPECT_FALSE(verify_package(setup, out)) << c.what;
    EXPECT_NE(out.str().find(c.expected), std::string::npos) << c.what << "\n" << out.str();
  }
}

TEST(PatchProject, AutomaticPatchesTakeTheSameNameFromAnEarlierBlockWhenClearlySmaller) {
  TempDir dir;
  std::vector<uint8_t> app = random_bytes(30, 50000), lib = random_bytes(31, 20000);
  std::vector<uint8_t> readme = random_bytes(32, 3000);
  std::map<std::string, std::vector<uint8_t>> files = {
      {"en/app.exe", app},
      {"de/app.exe", new_version(app, 33)},
      {"fr/app.exe", new_version(app, 34)},
      {"en/readme.txt", readme},
      {"de/readme.txt", readme}, // the same bytes: shared, not patched
      {"en/notes.txt", random_bytes(35, 4000)},
      {"de/notes.txt", random_bytes(36, 4000)}, // unrelated: the patch is no smaller
      {"en/lib.dat", lib},
      {"de/lib.dat", new_version(lib, 37)}, // the base of en/lib2.dat: stays whole
      {"en/lib2.dat", new_version(lib, 38)}};
  for (const auto& [name, bytes] : files) dir.write(name, bytes);
  const std::string project = R"(product = "Auto"
# No uninstaller entry: the entry numbers below count from 0.
uninstaller = false
[[languages]]
language = "en"
files = [{ source = "en/app.exe" }, { source = "en/readme.txt" }, { source = "en/notes.txt" },
         { source = "en/lib.dat" },
         { source = "en/lib2.dat", patch_from = { language = "de", target = "lib.dat" } }]
[[languages]]
language = "de"
files = [{ source = "de/app.exe" }, { source = "de/readme.txt" }, { source = "de/notes.txt" },
         { source = "de/lib.dat" }]
[[languages]]
language = "en"
name = "English 2"
files = [{ source = "fr/app.exe" }]
)";
  struct Expected {
    size_t block, entry;
    int base_block; // -1: stored in full
    int base_block_off;
  } expected[] = {
      {0, 0, -1, -1},
      {0, 1, -1, -1},
      {0, 2, -1, -1},
      {0, 3, -1, -1},
      {0, 4, 1, 1},
      {1, 0, 0, -1},
      {1, 1, -1, -1},
      {1, 2, -1, -1},
      {1, 3, -1, -1},
      // de's app.exe is a patch itself, so fr's is one of en's.
      {2, 0, 0, -1},
  };
  uint64_t archive[2] = {0, 0};
  for (int automatic = 1; automatic >= 0; automatic--) {
    dir.write("stub.bin", stand_in_stub());
    BuildOptions o;
    o.project = dir.write("project.toml", project);
    o.output = dir.file("setup.exe");
    o.stub = dir.file("stub.bin");
    o.uninstaller = dir.write("uninstall.bin", stand_in_uninstaller());
    o.auto_patches = automatic == 1;
    BuildSummary summary = build_setup(o);
    archive[automatic] = summary.archive_bytes;
    EXPECT_EQ(summary.patched, automatic ? 3u : 1u);
    PackageInfo info = read_package(dir.file("setup.exe"));
    for (const Expected& e : expected) {
      const FileEntryFields& f = entry_of(info, e.block, e.entry);
      int want = automatic ? e.base_block : e.base_block_off;
      if (e.block == 0 && e.entry == 4) want = 1; // patch_from holds either way
      EXPECT_EQ((f.flags & 0x10) != 0, want >= 0) << e.block << "/" << e.entry;
      if (want >= 0) {
        EXPECT_EQ(f.base_block, want) << e.block << "/" << e.entry;
      }
    }
    std::ostringstream out;
    EXPECT_TRUE(verify_package(dir.file("setup.exe"), out)) << out.str();
    for (int block = 0; block < 3; block++) {
      std::string to = dir.file("x" + std::to_string(automatic) + std::to_string(block));
      extract_package(dir.file("setup.exe"), to, block, out);
      const char* code = block == 0 ? "en" : block == 1 ? "de" : "fr";
      for (const auto& [name, bytes] : files)
        if (name.rfind(code, 0) == 0) {
          EXPECT_EQ(read_file_bytes(to + name.substr(2)), bytes) << name;
        }
    }
  }
  // Two patches of about a kilobyte in place of two files of 50,000
  // random bytes.
  EXPECT_LT(archive[1] + 90000, archive[0]);
}
