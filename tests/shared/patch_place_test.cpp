// Placing patched entries: the base entry's content (from the same or
// another language block) is decoded beside the destination, proven by the
// base entry's checksum, patched, proven again and swapped into place.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "builder/encoder.h"
#include "builder/patch_generator.h"
#include "common/heap.h"
#include "common/state.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "decode/patch.h"
#include "install/place_file.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "support/install_package.h"

namespace {

#ifdef _WIN32
const char SEP[] = "\\";
#else
const char SEP[] = "/";
#endif

std::vector<uint32_t> g_reports;
void record_progress(uint32_t percent, void*) {
  g_reports.push_back(percent);
}
const InstallObserver PROGRESS_RECORDER = {nullptr, nullptr, record_progress, nullptr, nullptr};

// Deterministic content of n bytes: words of a small vocabulary, so that
// edits leave most of it to copy.
Bytes sample(size_t n, uint32_t seed) {
  static const char* const words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ",
                                      "zeta ",  "eta ",  "theta ", "iota\n",  "kappa "};
  Bytes b;
  uint32_t x = seed * 2654435761u + 1;
  while (b.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % 10];
    b.insert(b.end(), w, w + strlen(w));
  }
  b.resize(n);
  return b;
}

Bytes edited(Bytes b) {
  for (size_t i = 100; i < b.size(); i += 997) b[i] ^= 0x5A;                     // replaced bytes
  b.insert(b.begin() + (long)b.size() / 3, 40, 'I');                             // inserted
  b.erase(b.begin() + (long)b.size() / 2, b.begin() + (long)b.size() / 2 + 300); // removed
  return b;
}

// 2001-01-01T00:00:00Z as a FILETIME, for all three times of an entry.
void set_times(EntryMaker& e) {
  const uint64_t t = 126227808000000000ull;
  e.flags |= ENTRY_FILE_TIMES;
  for (int i = 0; i < 3; i++) {
    e.times[2 * i] = (uint32_t)t;
    e.times[2 * i + 1] = (uint32_t)(t >> 32);
  }
}

class PatchPlace : public InstallTest {
protected:
  void SetUp() override {
    InstallTest::SetUp();
    set_install_observer(&PROGRESS_RECORDER);
    g_reports.clear();
  }
  void TearDown() override {
    set_install_observer(nullptr);
    InstallTest::TearDown();
  }

  // An entry whose content is stored as one compressed stream.
  EntryMaker stored(const std::string& target, const Bytes& content) {
    Bytes stream =
        pakwiz::encode_stream(content.data(), content.size(), pakwiz::default_compression_level());
    return add(target, content, stream);
  }
  // A patched entry: `content` made from `base` by a patch.
  EntryMaker patched(const std::string& target, const Bytes& base, const Bytes& content,
                     uint8_t base_block, uint8_t base_entry) {
    EntryMaker e = add(target, content, pakwiz::make_patch(base, content, 6));
    e.flags |= ENTRY_PATCH;
    e.base_block = base_block;
    e.base_entry = base_entry;
    return e;
  }
  EntryMaker add(const std::string& target, const Bytes& content, const Bytes& data) {
    EntryMaker e;
    e.strings[0] = target;
    e.position = (uint32_t)archive.size();
    e.packed = (uint32_t)data.size();
    e.size = (uint32_t)content.size();
    e.checksum = rotate_add(0, content.data(), content.size());
    archive.insert(archive.end(), data.begin(), data.end());
    return e;
  }

  // Writes and loads a package with these language blocks (block 0
  // current) and opens its archive. With `first_part`, the package file
  // holds that many archive bytes and setup.D01 the rest.
  void load_blocks(const std::vector<std::vector<EntryMaker>>& blocks,
                   size_t first_part = SIZE_MAX) {
    PackageMaker p;
    p.record(REC_TEMPLATES, minimal_templates());
    for (const std::vector<EntryMaker>& list : blocks) {
      LanguageMaker lang;
      lang.table(6, install_messages());
      p.record(REC_LANGUAGE, lang.bytes());
      p.record(REC_FILE_LIST, file_list(list));
    }
    if (first_part > archive.size()) first_part = archive.size();
    std::string path = dir.write(
        "setup.exe", p.finish(Bytes(archive.begin(), archive.begin() + (long)first_part)));
    if (first_part < archive.size()) {
      Bytes volume;
      put_u32(volume, (uint32_t)(archive.size() - first_part));
      volume.insert(volume.end(), archive.begin() + (long)first_part, archive.end());
      dir.write("setup.D01", volume);
    }
    strcpy(g_app.package_path, path.c_str());
    g_app.stub_length = 64;
    ASSERT_TRUE(load_package());
    install_folder = dir.file("app") + SEP;
    strcpy(g_app.install_folder, install_folder.c_str());
    ASSERT_EQ(open_archive(), 0);
  }

  std::string dest(const std::string& name) { return install_folder + name; }
  int place(int block, uint32_t index, const std::string& path, uint32_t start = 0,
            uint32_t end = 0) {
    strcpy(g_app.destination_path, path.c_str());
    return place_file(file_entry(find_file_entry(block, index)), g_app.destination_path, false,
                      start, end);
  }
  // No temporary or patched file is left beside the destination.
  void expect_no_leftovers() {
    std::error_code ec;
    for (auto& f : std::filesystem::directory_iterator(dir.file("app"), ec)) {
      std::string name = f.path().filename().string();
      EXPECT_EQ(name.find(".$"), std::string::npos) << name;
    }
  }

  Bytes archive;

private:
  ProgressReport saved_report_ = nullptr;
};

} // namespace

TEST_F(PatchPlace, BaseInTheSameBlockGivesTheTargetWithItsTimesAndProgress) {
  Bytes base = sample(60000, 1), target = edited(base);
  EntryMaker b = stored("tool.dll", base);
  EntryMaker t = patched("tool2.dll", base, target, 0, 0);
  set_times(b);
  set_times(t);
  ASSERT_LT(t.packed, b.packed / 4) << "a patch of a few edits is small";
  load_blocks({{b, t}});

  ASSERT_EQ(place(0, 0, dest("tool.dll")), 1);
  ASSERT_EQ(place(0, 1, dest("tool2.dll"), 20, 40), 1) << g_install.error_code;
  EXPECT_EQ(read_file_bytes(dest("tool2.dll")), target);
  EXPECT_EQ(entry_status(find_file_entry(0, 1)), STATUS_CREATED);
  EXPECT_EQ(g_install.error_code, 0u);
  expect_no_leftovers();
  // The patched file got the entry's times, as the plainly decoded one did.
  EXPECT_EQ(std::filesystem::last_write_time(dest("tool2.dll")),
            std::filesystem::last_write_time(dest("tool.dll")));
  // Progress between the entry's start and end percent, rising to the end.
  ASSERT_FALSE(g_reports.empty());
  for (size_t i = 0; i < g_reports.size(); i++) {
    EXPECT_GT(g_reports[i], i ? g_reports[i - 1] : 20u);
    EXPECT_LE(g_reports[i], 40u);
  }
  EXPECT_EQ(g_reports.back(), 40u);
}

TEST_F(PatchPlace, BaseInAnotherBlockReplacesAnEarlierFile) {
  Bytes base = sample(30000, 2), target = edited(sample(30000, 2));
  target.insert(target.end(), base.begin(), base.begin() + 5000); // a block copied again
  EntryMaker en = stored("readme.txt", base);
  EntryMaker other = stored("other.txt", sample(2000, 3));
  EntryMaker de = patched("readme.txt", base, target, 0, 0);
  load_blocks({{en}, {other, de}});
  std::string path = dir.write(std::string("app") + SEP + "readme.txt", "installed before");

  ASSERT_EQ(place(1, 0, dest("other.txt")), 1);
  ASSERT_EQ(place(1, 1, path), 1) << g_install.error_code;
  EXPECT_EQ(read_file_bytes(path), target);
  EXPECT_EQ(entry_status(find_file_entry(1, 1)), STATUS_REPLACED);
  expect_no_leftovers();
  EXPECT_TRUE(g_reports.empty()) << "start = end percent: no progress";
}

TEST_F(PatchPlace, WrongBaseIsNotPatchedAndTheDestinationStays) {
  Bytes base = sample(20000, 4), target = edited(base);
  EntryMaker b = stored("lib.dll", base);
  b.checksum ^= 1; // the base decodes to other bytes than the entry says
  EntryMaker t = patched("lib.dll", base, target, 0, 0);
  load_blocks({{b, t}});
  std::string path = dir.write(std::string("app") + SEP + "lib.dll", "old library");

  EXPECT_EQ(place(0, 1, path), 0);
  EXPECT_EQ(g_install.error_code, (uint32_t)PLACE_ERR_CHECKSUM);
  EXPECT_STREQ(g_app.error_file_name, path.c_str());
  EXPECT_EQ(read_file_bytes(path), text_bytes("old library"));
  EXPECT_FALSE(file_exists(dest("lib.$AA"))) << "the patch was not attempted";
  EXPECT_EQ(std::string(g_app.temp_path), dest("lib.$$A")); // left for the driver to delete
}

TEST_F(PatchPlace, FailedPatchDeletesThePatchedFileAndKeepsTheDestination) {
  Bytes base = sample(20000, 5), target = edited(base);
  EntryMaker b = stored("lib.dll", base);
  EntryMaker wrong = patched("lib.dll", base, target, 0, 0);
  wrong.checksum ^= 1; // the result does not match

  // A patch whose data blob is absent although its commands insert bytes.
  EntryMaker no_data =
      add("lib.dll", text_bytes("abc"), Bytes{0x00, 1, 0, 0x82, /* data blob */ 0x00, 0, 0});
  no_data.flags = ENTRY_PATCH;
  // A patch that copies from beyond the base.
  EntryMaker beyond =
      add("lib.dll", text_bytes("abc"), Bytes{0x00, 4, 0, 0x05, 0xDF, 0x00, 0x00, 0x00, 0, 0});
  beyond.flags = ENTRY_PATCH;
  load_blocks({{b, wrong, no_data, beyond}});
  std::string path = dir.write(std::string("app") + SEP + "lib.dll", "old library");

  struct Case {
    uint32_t entry;
    uint32_t error;
    std::string named;
  } cases[] = {
      {1, PLACE_ERR_CHECKSUM, path},
      {2, PLACE_ERR_WRITE, dest("lib.$AA")},
      {3, PLACE_ERR_READ, path},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(place(0, c.entry, path), 0) << c.entry;
    EXPECT_EQ(g_install.error_code, c.error) << c.entry;
    EXPECT_EQ(std::string(g_app.error_file_name), c.named) << c.entry;
    EXPECT_EQ(read_file_bytes(path), text_bytes("old library")) << c.entry;
    EXPECT_FALSE(file_exists(dest("lib.$AA"))) << c.entry;
    // The base file is left under the temporary name for the driver.
    EXPECT_EQ(read_file_bytes(g_app.temp_path), base) << c.entry;
    std::filesystem::remove(g_app.temp_path);
  }
}

namespace {
// Fails the interpreter's buffers (one block of two 64 KiB buffers).
bool fail_patch_buffers(size_t n, int) {
  return n == 2 * 65536;
}
} // namespace

TEST_F(PatchPlace, PatchedNamesTakenAndOtherFailuresLeaveTheDestination) {
  Bytes base = sample(20000, 7), target = edited(base);
  EntryMaker b = stored("lib.dll", base);
  EntryMaker t = patched("lib.dll", base, target, 0, 0);
  load_blocks({{b, t}});
  std::string path = dir.write(std::string("app") + SEP + "lib.dll", "old library");
  auto occupy = [&](char from, char to) {
    for (char c = from; c <= to; c++)
      dir.write(std::string("app") + SEP + "lib.$A" + c, std::string("earlier ") + c);
  };
  auto clear_names = [&] {
    for (char c = 'A'; c <= 'Z'; c++) std::filesystem::remove(dest(std::string("lib.$A") + c));
  };

  // .$AA taken: the patch is made under .$AB, and .$AA is left alone.
  occupy('A', 'A');
  ASSERT_EQ(place(0, 1, path), 1) << g_install.error_code;
  EXPECT_EQ(read_file_bytes(path), target);
  EXPECT_EQ(read_file_bytes(dest("lib.$AA")), text_bytes("earlier A"));
  EXPECT_FALSE(file_exists(dest("lib.$AB")));
  clear_names();

  struct Case {
    const char* name;
    char taken_to; // .$AA up to this name exist (0: none)
    HeapFailureHook hook;
    uint32_t error;
  } cases[] = {
      {"every name from .$AA to .$AZ taken", 'Z', nullptr, PATCH_ERR_CREATE},
      {"no memory for the buffers", 0, fail_patch_buffers, PATCH_ERR_NO_MEMORY},
  };
  for (const Case& c : cases) {
    dir.write(std::string("app") + SEP + "lib.dll", "old library");
    if (c.taken_to) occupy('A', c.taken_to);
    heap_set_failure_hook(c.hook);
    EXPECT_EQ(place(0, 1, path), 0) << c.name;
    heap_set_failure_hook(nullptr);
    EXPECT_EQ(g_install.error_code, c.error) << c.name;
    EXPECT_EQ(read_file_bytes(path), text_bytes("old library")) << c.name;
    // The failure came after the base was decoded and proven.
    EXPECT_EQ(read_file_bytes(g_app.temp_path), base) << c.name;
    if (c.taken_to)
      EXPECT_EQ(read_file_bytes(dest("lib.$AZ")), text_bytes("earlier Z"));
    else
      EXPECT_FALSE(file_exists(dest("lib.$AA"))) << c.name;
    std::filesystem::remove(g_app.temp_path);
    clear_names();
  }

  // A base file that cannot be opened is error 16 naming it.
  std::string missing = dest("gone.$$A");
  strcpy(g_app.destination_path, path.c_str());
  EXPECT_FALSE(apply_patch(file_entry(find_file_entry(0, 1)), missing.c_str(), path.c_str(), 0, 0));
  EXPECT_EQ(g_install.error_code, (uint32_t)PATCH_ERR_OPEN);
  EXPECT_STREQ(g_app.error_file_name, missing.c_str());
}

TEST_F(PatchPlace, PatchAndBaseReadAcrossAVolumeBoundary) {
  Bytes base = sample(50000, 6), target = edited(base);
  EntryMaker b = stored("big.dat", base);
  EntryMaker t = patched("big2.dat", base, target, 0, 0);
  ASSERT_GT(t.packed, 20u);
  // The cut lies inside the patch: its command blob begins in the package
  // file and ends in setup.D01.
  load_blocks({{b, t}}, t.position + 9);
  ASSERT_EQ(place(0, 1, dest("big2.dat")), 1) << g_install.error_code;
  EXPECT_EQ(read_file_bytes(dest("big2.dat")), target);
  EXPECT_EQ(g_archive.volume, 1u);
}

namespace {
bool give_up_at_the_disk_prompt(uint32_t, void*) {
  return false;
}
} // namespace

// The patch itself fails half way (the base was decoded and proven): the
// destination keeps its old contents, no patched file is left, and the only
// other file is the base under the temporary name, which the install
// driver deletes after any failed placement.
TEST_F(PatchPlace, GivingUpAtTheDiskPromptInsideAPatchLeavesTheDestination) {
  Bytes base = sample(50000, 8), target = edited(base);
  EntryMaker b = stored("big.dat", base);
  EntryMaker t = patched("big.dat", base, target, 0, 0);
  // The patch's command blob starts in the package file and goes on in
  // setup.D01, which is not there: the temporary copy asks for the disk.
  load_blocks({{b, t}}, t.position + 9);
  std::string d01 = dir.file("setup.D01");
  ASSERT_EQ(std::rename(d01.c_str(), (d01 + ".away").c_str()), 0);
  std::string path = dir.write(std::string("app") + SEP + "big.dat", "old data");
  g_app.temp_copy = true;
  set_disk_request(give_up_at_the_disk_prompt, nullptr);

  int placed = place(0, 1, path);
  g_app.temp_copy = false;
  set_disk_request(nullptr, nullptr);
  EXPECT_EQ(placed, 0);
  EXPECT_EQ(g_install.error_code, 15u);
  EXPECT_EQ(read_file_bytes(path), text_bytes("old data"));
  EXPECT_EQ(read_file_bytes(g_app.temp_path), base);
  std::filesystem::remove(g_app.temp_path);
  expect_no_leftovers();
}

#ifndef _WIN32
// The disk fills up while the patched file is written: error 20 naming the
// destination (as for a file decoded in full), the destination untouched.
// A file size limit makes writes past it fail the way a full disk does; the
// base (decoded first) stays under the limit, the patched file does not.
TEST_F(PatchPlace, FullDiskWhilePatchingIsReportedAsAFullDisk) {
  Bytes base = sample(30000, 9), target = edited(base);
  for (int i = 0; i < 6; i++) target.insert(target.end(), base.begin(), base.end());
  EntryMaker b = stored("big.dat", base);
  EntryMaker t = patched("big.dat", base, target, 0, 0);
  load_blocks({{b, t}});
  std::string path = dir.write(std::string("app") + SEP + "big.dat", "old data");
  g_app.error_file_name[0] = 0;

  struct rlimit saved, limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  limit = saved;
  limit.rlim_cur = 100000;
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  int placed = place(0, 1, path);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(placed, 0);
  EXPECT_EQ(g_install.error_code, (uint32_t)PATCH_ERR_DISK_FULL);
  EXPECT_STREQ(g_app.error_file_name, path.c_str());
  EXPECT_EQ(read_file_bytes(path), text_bytes("old data"));
  EXPECT_EQ(read_file_bytes(g_app.temp_path), base);
  std::filesystem::remove(g_app.temp_path);
  expect_no_leftovers();
}
#endif
