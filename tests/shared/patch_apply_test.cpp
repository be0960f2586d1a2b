// The patch interpreter and the packed-blob reader, with hand-made streams:
// every command form and displacement form, the base cursor, progress in
// units of 10,000 bytes, and the failures of malformed patches.
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <string>
#include <vector>

#include "builder/encoder.h"
#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "decode/archive.h"
#include "decode/patch.h"
#include "decode/stream_decoder.h"
#include "support/package_maker.h"
#include "support/temp_dir.h"

namespace {

const uint32_t BASE_SIZE = 70000;

// A base whose bytes differ from their neighbours, so every offset shows.
Bytes make_base() {
  Bytes b(BASE_SIZE);
  for (uint32_t i = 0; i < BASE_SIZE; i++) b[i] = (uint8_t)(i * 7 + (i >> 8) * 13 + (i >> 16));
  return b;
}

Bytes slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + (long)from, b.begin() + (long)(from + n));
}
Bytes join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::vector<uint32_t> g_reports;
void record_report(uint32_t percent) {
  g_reports.push_back(percent);
}

class PatchApply : public ::testing::Test {
protected:
  void SetUp() override {
    base = make_base();
    base_path = dir.write("base.bin", base);
    g_reports.clear();
  }

  // Runs the commands over the base; the result file's bytes land in output,
  // the progress reports in g_reports.
  int run(const Bytes& commands, const Bytes& data, PatchProgress progress = {0, 0, 0, nullptr},
          bool data_absent = false) {
    progress.report = record_report;
    FileHandle b = file_open(base_path.c_str(), FILE_READ);
    FileHandle o = file_create(dir.file("out.bin").c_str());
    EXPECT_NE(b, INVALID_FILE);
    EXPECT_NE(o, INVALID_FILE);
    PatchStreams s = {commands.data(), (uint32_t)commands.size(),
                      data_absent ? nullptr : data.data(), (uint32_t)data.size()};
    uint32_t written = 0;
    int err = run_patch(s, b, o, progress, &written);
    file_close(b);
    file_close(o);
    output = read_file_bytes(dir.file("out.bin"));
    if (err == PATCH_OK) {
      EXPECT_EQ(written, output.size());
    }
    return err;
  }

  TempDir dir;
  Bytes base, output;
  std::string base_path;
};

// Copy commands that move the base cursor to `at` (copying base[0, at)).
Bytes copy_prefix(uint32_t at) {
  Bytes c;
  while (at) {
    uint32_t n = at > 65664 ? 65664 : at;
    if (at - n == 1) n--; // no copy is shorter than 2 bytes
    if (n <= 128) {
      c.push_back((uint8_t)(n - 1));
    } else {
      c.push_back(0);
      c.push_back((uint8_t)(n - 129));
      c.push_back((uint8_t)((n - 129) >> 8));
    }
    c.push_back(0x80); // displacement 0
    at -= n;
  }
  return c;
}

// A copy of n bytes (2 to 128) from cursor + d, with the three-byte
// displacement form (d from 16,416 on, or -16,417 and below), else the
// two-byte one (d from 32, or -33 and below).
void add_copy(Bytes& c, uint32_t n, int32_t d) {
  c.push_back((uint8_t)(n - 1));
  if (d >= 16416 || d < -16416) {
    int32_t v = d >= 0 ? d - 16416 : d + 16416;
    uint32_t u = (uint32_t)v & 0x3FFFFF;
    c.insert(c.end(), {(uint8_t)(0xC0 | (u >> 16)), (uint8_t)(u >> 8), (uint8_t)u});
  } else {
    int32_t v = d >= 0 ? d - 32 : d + 32;
    uint32_t u = (uint32_t)v & 0x7FFF;
    c.insert(c.end(), {(uint8_t)(u >> 8), (uint8_t)u});
  }
}

} // namespace

TEST_F(PatchApply, EachCommandFormInsertsAndCopiesWhatItSays) {
  struct Case {
    const char* name;
    Bytes commands, data, expected;
  } cases[] = {
      {"0x85 inserts 6", {0x85}, text("abcdef"), text("abcdef")},
      {"0x80 inserts 1, 0x9F inserts 32",
       {0x80, 0x9F},
       text("xABCDEFGHIJKLMNOPQRSTUVWXYZ012345"),
       text("xABCDEFGHIJKLMNOPQRSTUVWXYZ012345")},
      {"0xA3 inserts 1 and copies 5", {0xA3, 0x80}, text("X"), join(text("X"), slice(base, 0, 5))},
      {"0xDF inserts 2 and copies 33",
       {0xDF, 0x80},
       text("XY"),
       join(text("XY"), slice(base, 0, 33))},
      {"0xE0 inserts 3 and copies 2",
       {0xE0, 0x80},
       text("XYZ"),
       join(text("XYZ"), slice(base, 0, 2))},
      {"0x01 copies 2", {0x01, 0x80}, {}, slice(base, 0, 2)},
      {"0x05 copies 6", {0x05, 0x80}, {}, slice(base, 0, 6)},
      {"0x7F copies 128", {0x7F, 0x80}, {}, slice(base, 0, 128)},
      {"0x00 with length 0 copies 129", {0x00, 0x00, 0x00, 0x80}, {}, slice(base, 0, 129)},
      {"0x00 with length 0xFFFF copies 65,664",
       {0x00, 0xFF, 0xFF, 0x80},
       {},
       slice(base, 0, 65664)},
      // The cursor ends behind each copy's source: d = 0 continues in order,
      // d = 4 skips 4 base bytes, d = -8 goes back over the last 8.
      {"copies in order, forward and back",
       {0x05, 0x80, 0x03, 0x84, 0x07, 0xB8},
       {},
       join(join(slice(base, 0, 6), slice(base, 10, 4)), slice(base, 6, 8))},
      {"literals of combined commands follow each other in the data stream",
       {0xA1, 0x80, 0x81, 0xC1, 0x80},
       text("abcde"),
       join(join(join(text("a"), slice(base, 0, 3)), text("bcde")), slice(base, 3, 3))},
      {"no commands make an empty file", {}, text("unused"), {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.commands, c.data), PATCH_OK) << c.name;
    EXPECT_EQ(output, c.expected) << c.name;
  }
}

TEST_F(PatchApply, DisplacementFormsReachTheirValues) {
  // The cursor is first moved to 20,000; then a copy of 2 bytes uses the
  // displacement under test, so its bytes come from 20,000 + d.
  struct Case {
    Bytes displacement;
    int32_t d;
  } cases[] = {
      {{0x80}, 0},
      {{0xBF}, -1},
      {{0x9F}, 31},
      {{0xA0}, -32},
      {{0x00, 0x00}, 32},
      {{0x7F, 0xFF}, -33},
      {{0x3F, 0xFF}, 16415},
      {{0x40, 0x00}, -16416},
      {{0xC0, 0x00, 0x00}, 16416},
      {{0xFF, 0xFF, 0xFF}, -16417},
      {{0xC0, 0x00, 0x01}, 16417},
      {{0xFF, 0xFF, 0xFE}, -16418},
  };
  const uint32_t at = 20000;
  for (const Case& c : cases) {
    Bytes commands = copy_prefix(at);
    commands.push_back(0x01);
    commands.insert(commands.end(), c.displacement.begin(), c.displacement.end());
    ASSERT_EQ(run(commands, {}), PATCH_OK) << c.d;
    ASSERT_EQ(output.size(), at + 2u) << c.d;
    EXPECT_EQ(slice(output, at, 2), slice(base, at + c.d, 2)) << "displacement " << c.d;
  }
}

TEST_F(PatchApply, CopyingTheWholeBaseInOrderGivesTheBase) {
  EXPECT_EQ(run(copy_prefix(BASE_SIZE), {}), PATCH_OK);
  EXPECT_EQ(output, base);
}

TEST_F(PatchApply, ScatteredCopiesOverTheWholeBaseReadTheirOwnBytes) {
  // Short copies jumping back and forth over a base larger than the read
  // buffer, some just behind or ahead of the last one, some far away, some
  // running over a place where the buffered part of the base would end.
  Bytes commands, expected;
  uint32_t cursor = 0, seed = 12345;
  for (int i = 0; i < 3000; i++) {
    seed = seed * 1103515245u + 12345u;
    uint32_t n = 2 + (seed >> 8) % 127;
    uint32_t from;
    switch ((seed >> 20) % 4) {
    case 0:
      from = (seed >> 4) % (BASE_SIZE - n);
      break; // anywhere
    case 1:
      from = cursor >= 1500 ? cursor - 1500 : cursor + 40;
      break; // a little back
    case 2:
      from = cursor + 40 + (seed >> 12) % 300;
      break; // a little ahead
    default:
      from = 65536 + (seed >> 16) % 4096;
      break; // near the end of the base
    }
    if (from + n > BASE_SIZE) from = BASE_SIZE - n - 100;
    // Two- and three-byte displacement forms only: |d| of 33 and more.
    if (from + 33 > cursor && from < cursor + 32) from = cursor >= 33 ? cursor - 33 : cursor + 32;
    int32_t d = (int32_t)from - (int32_t)cursor;
    add_copy(commands, n, d);
    expected.insert(expected.end(), base.begin() + from, base.begin() + from + n);
    cursor = from + n;
  }
  ASSERT_EQ(run(commands, {}), PATCH_OK);
  EXPECT_TRUE(output == expected) << "the result differs from the copies' sources";
}

TEST_F(PatchApply, CopiesReachABaseFilePastTwoGibibytes) {
  // A sparse base of 2 GiB + 64 KiB with a mark past 2 GiB; the cursor gets
  // there by hops of the largest displacement (2-byte copies of zeros).
  const uint32_t mark_at = 0x80000100u, size = 0x80010000u;
  std::string big = dir.file("big.bin");
  {
    std::fstream f(big, std::ios::out | std::ios::binary);
    f.seekp((std::streamoff)mark_at);
    f.write("PAST2GIB", 8);
    f.seekp((std::streamoff)size - 1);
    f.write("", 1);
    ASSERT_TRUE(f.good());
  }
  base_path = big;
  Bytes commands;
  uint32_t cursor = 0, hops = 0;
  while (mark_at - cursor > 2113567u) {
    add_copy(commands, 2, 2113567);
    cursor += 2113567 + 2;
    hops++;
  }
  add_copy(commands, 8, (int32_t)(mark_at - cursor));
  ASSERT_EQ(run(commands, {}), PATCH_OK);
  Bytes expected(hops * 2, 0);
  for (char ch : std::string("PAST2GIB")) expected.push_back((uint8_t)ch);
  EXPECT_EQ(output, expected);
}

TEST_F(PatchApply, ProgressIsReportedInUnitsOfTenThousandBytesOnlyWhenItChanges) {
  // 70,000 bytes are 8 units; after the first copy 65,664 bytes are written
  // (7 units: 10 + 7 * 10 / 8 = 18), after the second all of them (20).
  Bytes commands = copy_prefix(BASE_SIZE);
  ASSERT_EQ(run(commands, {}, PatchProgress{10, 20, BASE_SIZE, nullptr}), PATCH_OK);
  EXPECT_EQ(g_reports, (std::vector<uint32_t>{18, 20}));

  // Small commands: the percent goes up one step at a time, never repeated.
  g_reports.clear();
  Bytes small;
  for (int i = 0; i < 200; i++) small.insert(small.end(), {0x7F, 0x80}); // 25,600 bytes
  ASSERT_EQ(run(small, {}, PatchProgress{0, 100, 25600, nullptr}), PATCH_OK);
  // 3 units: 33 from the first command, 66 at 10,000 bytes, 100 at 20,000.
  EXPECT_EQ(g_reports, (std::vector<uint32_t>{33, 66, 100}));

  g_reports.clear();
  ASSERT_EQ(run(commands, {}, PatchProgress{40, 40, BASE_SIZE, nullptr}), PATCH_OK);
  EXPECT_TRUE(g_reports.empty()) << "start = end reports nothing";
}

TEST_F(PatchApply, MalformedPatchesFailWithoutReadingOutsideTheirStreams) {
  struct Case {
    const char* name;
    Bytes commands, data;
    int expected;
    bool data_absent;
  } cases[] = {
      {"long copy without its length", {0x00}, {}, PATCH_ERR_READ, false},
      {"long copy with half its length", {0x00, 0x05}, {}, PATCH_ERR_READ, false},
      {"copy without displacement", {0x05}, {}, PATCH_ERR_READ, false},
      {"two-byte displacement cut short", {0x05, 0x40}, {}, PATCH_ERR_READ, false},
      {"three-byte displacement cut short", {0x05, 0xC0, 0x00}, {}, PATCH_ERR_READ, false},
      {"combined command without displacement", {0xA1}, text("x"), PATCH_ERR_READ, false},
      {"insert beyond the data stream", {0x85}, text("abc"), PATCH_ERR_READ, false},
      {"second insert beyond the data stream", {0x82, 0x82}, text("abcde"), PATCH_ERR_READ, false},
      {"copy from before the base", {0x05, 0xBF}, {}, PATCH_ERR_READ, false},
      {"copy far before the base", {0x05, 0xFF, 0xFF, 0xFF}, {}, PATCH_ERR_READ, false},
      {"copy past the end of the base", {0x05, 0xDF, 0xFF, 0xFF}, {}, PATCH_ERR_READ, false},
      {"copy running over the end of the base",
       join(copy_prefix(BASE_SIZE - 4), {0x05, 0x80}),
       {},
       PATCH_ERR_READ,
       false},
      {"insert without a data stream", {0x83}, {}, PATCH_ERR_WRITE, true},
      {"combined insert without a data stream", {0xA3, 0x80}, {}, PATCH_ERR_WRITE, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.commands, c.data, {0, 0, 0, nullptr}, c.data_absent), c.expected) << c.name;
  }
  // A failure ends the run: nothing after it is applied.
  EXPECT_EQ(run({0x81, 0x05, 0xBF, 0x81}, text("abcd")), PATCH_ERR_READ);
  EXPECT_LE(output.size(), 2u);
}

// ---------------------------------------------------------------------------
// Packed blobs, read through the archive reader from a one-volume archive,
// and from memory.

namespace {

class PackedBlob : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = g_archive;
    g_archive = ArchiveState{INVALID_FILE, 0, 0, 0, 0, 0, false, 0, 0, nullptr, 0};
    ASSERT_TRUE(app_alloc_buffers());
  }
  void TearDown() override {
    close_archive();
    g_archive = saved_;
    app_free_buffers();
  }
  // Serves `bytes` as the archive: volume 0 of a package file whose size
  // word is at offset 0 (there is no volume 1), positioned at its start.
  void serve(const Bytes& bytes) {
    close_archive();
    Bytes file;
    put_u32(file, (uint32_t)bytes.size());
    file.insert(file.end(), bytes.begin(), bytes.end());
    std::string path = dir.write("archive.bin", file);
    strcpy(g_app.package_path, path.c_str());
    strcpy(g_app.archive_path, path.c_str());
    g_app.error_file_name[0] = 0;
    g_archive = ArchiveState{file_open(path.c_str(), FILE_READ),
                             0,
                             0,
                             (uint32_t)bytes.size(),
                             (int32_t)bytes.size(),
                             0,
                             false,
                             0,
                             0,
                             nullptr,
                             0};
    ASSERT_EQ(SeekArchive(0), 0);
  }
  // Reads one blob from the archive, or from `input`; its content lands in
  // `content`.
  int read(Bytes* content, InputSource* input = nullptr) {
    uint8_t* block = nullptr;
    uint32_t size = 12345;
    int err = input ? read_packed_blob(input, &block, &size) : read_archive_blob(&block, &size);
    content->assign(block, block + (block ? size : 0));
    if (!block) {
      EXPECT_EQ(size, 0u);
    }
    free_and_clear(block);
    return err;
  }

  TempDir dir;

private:
  ArchiveState saved_;
};

Bytes stream_of(const Bytes& content) {
  return pakwiz::encode_stream(content.data(), content.size(), pakwiz::default_compression_level());
}

Bytes repeated(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = (uint8_t)("patch blob "[i % 11]);
  return b;
}

} // namespace

TEST_F(PackedBlob, StoredAndCompressedBlobsWithEitherFieldWidth) {
  Bytes small = text("hello"), big = repeated(70000);
  Bytes small_stream = stream_of(repeated(300)), big_stream = stream_of(big);
  ASSERT_LT(big_stream.size(), 65536u);

  Bytes archive = {0x00, 5, 0}; // stored, 2-byte size
  archive = join(archive, small);
  archive = join(archive, {0x02, 0x70, 0x11, 0x01, 0x00}); // stored, 4-byte size 70,000
  archive = join(archive, big);
  archive = join(archive, {0x01, 0x2C, 0x01}); // compressed, 2-byte size 300
  put_u16(archive, (uint16_t)small_stream.size());
  archive = join(archive, small_stream);
  archive = join(archive, {0x07, 0x70, 0x11, 0x01, 0x00}); // compressed, both fields 4 bytes
  put_u32(archive, (uint32_t)big_stream.size());
  archive = join(archive, big_stream);
  archive = join(archive, {0x03, 0x70, 0x11, 0x01, 0x00}); // compressed, 4-byte size only
  put_u16(archive, (uint16_t)big_stream.size());
  archive = join(archive, big_stream);
  archive = join(archive, {0x00, 0x00, 0x00});     // absent: nothing follows
  archive = join(archive, {0x00, 2, 0, 'o', 'k'}); // read right behind the absent one
  serve(archive);

  Bytes expected[] = {small, big, repeated(300), big, big, {}, text("ok")};
  for (const Bytes& e : expected) {
    Bytes content;
    EXPECT_EQ(read(&content), PATCH_OK);
    EXPECT_EQ(content, e);
  }
  MemorySource memory(archive.data(), (uint32_t)archive.size());
  for (const Bytes& e : expected) {
    Bytes content;
    EXPECT_EQ(read(&content, &memory), PATCH_OK);
    EXPECT_EQ(content, e);
  }
  EXPECT_EQ(memory.position(), archive.size());
}

TEST_F(PackedBlob, DataBlobStartsWhereTheDecoderStoppedTakingBytes) {
  // The packed size claims 10 bytes more than the stream has: the second
  // blob is read right behind the stream's last byte, not behind the claim.
  Bytes stream = stream_of(repeated(500));
  Bytes archive = {0x01, 0xF4, 0x01};
  put_u16(archive, (uint16_t)(stream.size() + 10));
  archive = join(archive, stream);
  archive = join(archive, {0x00, 3, 0, 'e', 'n', 'd'});
  archive = join(archive, Bytes(10, 0xEE));
  serve(archive);
  MemorySource memory(archive.data(), (uint32_t)archive.size());
  for (InputSource* input : {(InputSource*)nullptr, (InputSource*)&memory}) {
    Bytes content;
    EXPECT_EQ(read(&content, input), PATCH_OK);
    EXPECT_EQ(content, repeated(500));
    EXPECT_EQ(read(&content, input), PATCH_OK);
    EXPECT_EQ(content, text("end"));
  }
}

TEST_F(PackedBlob, DamagedBlobsAreArchiveReadFailuresNamingTheArchive) {
  Bytes stream = stream_of(repeated(500));
  ASSERT_LT(stream.size(), 255u);
  uint8_t n = (uint8_t)stream.size();
  struct Case {
    const char* name;
    Bytes archive;
    bool damaged_in_memory;
  } cases[] = {
      {"size field cut short", {0x00, 0x05}, true},
      {"stored content cut short", {0x00, 10, 0, 'a', 'b', 'c'}, true},
      {"packed size field cut short", {0x01, 0xF4, 0x01, 0x10}, true},
      {"compressed stream with packed size 0", join({0x01, 0xF4, 0x01, 0, 0}, stream), true},
      // The stream holds 500 bytes; the blob claims 600, then 400.
      {"stream shorter than the size", join({0x01, 0x58, 0x02, n, 0}, stream), true},
      {"stream longer than the size", join({0x01, 0x90, 0x01, n, 0}, stream), true},
      // The archive has no volume to continue in; in memory the end of the
      // buffer is just the end of the input, and the stream is complete.
      {"packed size beyond the archive", join({0x01, 0xF4, 0x01, 0xFF, 0x00}, stream), false},
  };
  for (const Case& c : cases) {
    serve(c.archive);
    Bytes content;
    EXPECT_EQ(read(&content), PATCH_ERR_READ) << c.name;
    EXPECT_TRUE(content.empty()) << c.name;
    EXPECT_NE(g_app.error_file_name[0], 0) << c.name;
    EXPECT_STREQ(g_app.error_file_name, g_app.archive_path) << c.name;
    // From memory: the same verdict, and no file is named.
    g_app.error_file_name[0] = 0;
    MemorySource memory(c.archive.data(), (uint32_t)c.archive.size());
    EXPECT_EQ(read(&content, &memory), c.damaged_in_memory ? PATCH_ERR_READ : PATCH_OK) << c.name;
    EXPECT_EQ(content.empty(), c.damaged_in_memory) << c.name;
    EXPECT_EQ(g_app.error_file_name[0], 0) << c.name;
  }
}

namespace {
size_t g_largest_request = 0;
bool record_request(size_t n, int) {
  if (n > g_largest_request) g_largest_request = n;
  return false;
}
} // namespace

TEST_F(PackedBlob, BlobsClaimingMoreThanTheInputHoldsAreRefusedBeforeAllocating) {
  // Where the input's length is known (an entry read into memory), a blob
  // claiming more content than that length can give fails without asking
  // the heap for anything; a claim within the bounds is allocated and then
  // checked by reading, as before.
  Bytes stream = stream_of(repeated(500));
  ASSERT_LT(stream.size(), 255u);
  uint8_t n = (uint8_t)stream.size();
  uint32_t bound = (uint32_t)max_unpacked_size(n); // the most n packed bytes can claim
  auto compressed = [&](uint32_t size) {
    Bytes b = {0x03};
    put_u32(b, size);
    b.push_back(n);
    b.push_back(0);
    return join(b, stream);
  };
  const long ANY = -1;
  struct Case {
    const char* name;
    Bytes blob;
    int expected;
    long request; // 0: nothing allocated; ANY; else the least largest request
    Bytes content;
  } cases[] = {
      {"stored, claiming 3.7 GB", {0x02, 0x4A, 0x2B, 0x11, 0xDD, 'a', 'b'}, PATCH_ERR_READ, 0, {}},
      {"stored, one byte more than the input", {0x00, 4, 0, 'a', 'b', 'c'}, PATCH_ERR_READ, 0, {}},
      {"compressed, packed size beyond the input",
       join({0x01, 0xF4, 0x01, (uint8_t)(n + 1), 0}, stream),
       PATCH_ERR_READ,
       0,
       {}},
      {"compressed, 0xF0000000 bytes from a short stream",
       compressed(0xF0000000u),
       PATCH_ERR_READ,
       0,
       {}},
      {"compressed, one byte beyond the expansion bound",
       compressed(bound + 1),
       PATCH_ERR_READ,
       0,
       {}},
      // Within the bound: allocated, then found not to decode to its size.
      {"compressed, at the expansion bound", compressed(bound), PATCH_ERR_READ, (long)bound, {}},
      {"stored, exactly the input", {0x00, 3, 0, 'a', 'b', 'c'}, PATCH_OK, ANY, text("abc")},
      {"compressed, exactly the input", compressed(500), PATCH_OK, ANY, repeated(500)},
  };
  for (const Case& c : cases) {
    MemorySource memory(c.blob.data(), (uint32_t)c.blob.size());
    g_largest_request = 0;
    heap_set_failure_hook(record_request);
    uint8_t* block = nullptr;
    uint32_t size = 0;
    int err = read_packed_blob(&memory, &block, &size, (uint32_t)c.blob.size());
    heap_set_failure_hook(nullptr);
    EXPECT_EQ(err, c.expected) << c.name;
    if (c.request == 0) {
      EXPECT_EQ(g_largest_request, 0u) << c.name;
    } else if (c.request != ANY) {
      EXPECT_GE(g_largest_request, (size_t)c.request) << c.name;
    }
    EXPECT_EQ(Bytes(block, block + (block ? size : 0)), c.content) << c.name;
    EXPECT_EQ(block == nullptr, c.expected != PATCH_OK) << c.name;
    free_and_clear(block);
  }
}
