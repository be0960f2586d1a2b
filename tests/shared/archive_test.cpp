// The archive reader over real volume files: seeks and reads across volume
// boundaries, volume names, missing volumes with and without the disk
// prompt, and a budgeted decode whose stream continues in the next volume,
// which must come out as it does from memory and from a plain file.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "builder/encoder.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "decode/stream_decoder.h"
#include "install/install.h"
#include "package/package.h"
#include "package/script.h"
#include "support/temp_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const uint32_t STUB_SIZE = 100;

void put_u32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}

uint8_t content_at(uint32_t position) {
  return (uint8_t)(position * 7 + position / 251);
}

struct Answerer {
  std::vector<std::string> texts;
  std::vector<unsigned> styles;
  std::vector<int> answers;     // given in turn; OK once they run out
  std::string create_on_prompt; // a file created when the disk prompt shows
};

int answer(const char* text, unsigned style, void* context) {
  Answerer* a = (Answerer*)context;
  size_t k = a->texts.size();
  a->texts.push_back(text);
  a->styles.push_back(style);
  if (!a->create_on_prompt.empty()) {
    // Windows' rename does not replace a file: the wrong disk goes first.
    std::remove(a->create_on_prompt.c_str());
    std::rename((a->create_on_prompt + ".away").c_str(), a->create_on_prompt.c_str());
    a->create_on_prompt.clear();
  }
  if (k < a->answers.size()) return a->answers[k];
  if (k < 20) return ANSWER_OK;
  // A prompt that keeps coming back: give up, so that the test ends.
  return (style & 0xF) == MSG_YESNO ? ANSWER_YES : ANSWER_CANCEL;
}

// The install driver's disk request answers the prompt; giving up reaches
// the wizard as "abandoned".
bool g_abandoned = false;
void record_abandoned(void*) {
  g_abandoned = true;
}
const InstallObserver ABANDON_RECORDER = {nullptr, nullptr, nullptr, nullptr, record_abandoned};

class ArchiveTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    g_app.temp_copy = false;
    g_abandoned = false;
    set_disk_request(request_disk, nullptr);
    set_install_observer(&ABANDON_RECORDER);
    // String table 6 of the current language: the caption, the cancel
    // question (13), the cancel notice (15) and the disk prompt (28).
    put_u16(strings, 29);
    for (int i = 0; i < 29; i++) {
      std::string s = i == 0    ? "Setup"
                      : i == 13 ? "Cancel setup?"
                      : i == 15 ? "Setup was cancelled."
                      : i == 28 ? "Please insert disk %d."
                                : "";
      strings.insert(strings.end(), s.begin(), s.end());
      strings.push_back(0);
    }
    language = LanguageRecord{};
    language.data = strings.data();
    language.size = (uint32_t)strings.size();
    language.tables[6] = strings.data();
    g_package.current_language = &language;
    set_message_answerer(answer, &answerer);
  }
  void TearDown() override {
    close_archive();
    set_disk_request(nullptr, nullptr);
    set_install_observer(nullptr);
    set_message_answerer(nullptr, nullptr);
    g_package.current_language = nullptr;
    g_app.temp_copy = false;
    app_free_buffers();
  }
  static void put_u16(Bytes& b, uint16_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
  }

  // The package file (a stub, its archive size word, volume 0's data) and
  // the volume files beside it, named `base`.EXE, `base`.D01, ...
  void make_archive(const std::vector<Bytes>& volumes, const std::string& base = "SETUP") {
    for (size_t v = 0; v < volumes.size(); v++) {
      Bytes file;
      if (v == 0) file.assign(STUB_SIZE, 'S');
      put_u32(file, (uint32_t)volumes[v].size());
      file.insert(file.end(), volumes[v].begin(), volumes[v].end());
      if (v == 0) file.insert(file.end(), 16, 'X'); // trailing bytes that are not archive data
      dir.write(volume_name(v, base), file);
    }
    text_copy(g_app.package_path, PATH_SIZE, dir.file(base + ".EXE").c_str());
    g_archive.archive_offset = STUB_SIZE;
    g_archive.archive_size = (uint32_t)volumes[0].size(); // as the loader hands it over
    ASSERT_EQ(open_archive(), 0);
  }
  // Volumes of the given sizes holding content_at(position).
  void make_sized_archive(const std::vector<uint32_t>& sizes) {
    std::vector<Bytes> volumes;
    uint32_t position = 0;
    for (uint32_t size : sizes) {
      Bytes v;
      for (uint32_t i = 0; i < size; i++) v.push_back(content_at(position++));
      volumes.push_back(v);
    }
    make_archive(volumes);
  }
  static std::string volume_name(size_t v, const std::string& base) {
    char ext[8];
    snprintf(ext, sizeof ext, ".D%02d", (int)v);
    return base + (v == 0 ? std::string(".EXE") : std::string(ext));
  }
  bool path_ends_with(const char* path, const std::string& tail) {
    std::string p = path;
    return p.size() >= tail.size() && p.compare(p.size() - tail.size(), tail.size(), tail) == 0;
  }
  std::string read(uint32_t count, uint32_t* got_out = nullptr) {
    std::string buffer(count, '\0');
    uint32_t got = 0;
    EXPECT_EQ(ReadArchive(g_archive.handle, &buffer[0], count, &got), 0);
    if (got_out) *got_out = got;
    buffer.resize(got);
    return buffer;
  }
  std::string expected(uint32_t position, uint32_t count) {
    std::string s;
    for (uint32_t i = 0; i < count; i++) s.push_back((char)content_at(position + i));
    return s;
  }

  TempDir dir;
  Bytes strings;
  LanguageRecord language;
  Answerer answerer;
};

TEST_F(ArchiveTest, SeeksFindTheVolumeOfAPosition) {
  make_sized_archive({100, 50, 30});
  EXPECT_EQ(g_archive.volume_size, 100u);
  EXPECT_EQ(SeekArchive(40), 0);
  EXPECT_EQ(g_archive.bytes_left, 60);
  EXPECT_EQ(read(5), expected(40, 5));
  EXPECT_EQ(g_archive.bytes_left, 55);

  // The end of volume 0 belongs to volume 1.
  EXPECT_EQ(SeekArchive(100), 0);
  EXPECT_EQ(g_archive.volume, 1u);
  EXPECT_TRUE(path_ends_with(g_app.archive_path, "SETUP.D01")) << g_app.archive_path;
  EXPECT_EQ(g_archive.bytes_done, 100u);
  EXPECT_EQ(g_archive.bytes_left, 50);
  EXPECT_EQ(read(3), expected(100, 3));

  // Skipping a whole volume, and the last byte of the archive.
  EXPECT_EQ(SeekArchive(179), 0);
  EXPECT_EQ(g_archive.volume, 2u);
  EXPECT_EQ(g_archive.bytes_left, 1);
  EXPECT_EQ(read(1), expected(179, 1));

  // The archive is read forward: an earlier volume cannot be reached.
  EXPECT_EQ(SeekArchive(120), 18);
  EXPECT_TRUE(path_ends_with(g_app.error_file_name, "SETUP.D02"));
  EXPECT_TRUE(answerer.texts.empty());
}

TEST_F(ArchiveTest, ReadsContinueInTheNextVolume) {
  make_sized_archive({100, 50, 30});
  // 3 bytes from volume 0 (not its trailing bytes), 7 from volume 1.
  EXPECT_EQ(SeekArchive(97), 0);
  uint32_t got = 0;
  EXPECT_EQ(read(10, &got), expected(97, 10));
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(g_archive.volume, 1u);
  EXPECT_EQ(g_archive.bytes_left, 43);

  // A volume that was cut short is reopened at its read position.
  EXPECT_NE(NextVolume(), INVALID_FILE);
  EXPECT_EQ(g_archive.volume, 1u);
  EXPECT_EQ(g_archive.bytes_left, 43);
  EXPECT_EQ(read(4), expected(107, 4));

  // Reading past the last volume: the missing .D03 fails the read.
  EXPECT_EQ(SeekArchive(175), 0);
  std::string buffer(10, '\0');
  EXPECT_EQ(ReadArchive(g_archive.handle, &buffer[0], 10, &got), 1);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(g_archive.error, 18);
  EXPECT_TRUE(path_ends_with(g_app.error_file_name, "SETUP.D03")) << g_app.error_file_name;
}

TEST_F(ArchiveTest, MissingVolumeWithoutTheTemporaryCopyFailsAtOnce) {
  make_sized_archive({100, 50});
  std::string d01 = dir.file("SETUP.D01");
  std::rename(d01.c_str(), (d01 + ".away").c_str());
  EXPECT_EQ(SeekArchive(120), 18);
  EXPECT_TRUE(path_ends_with(g_app.error_file_name, "SETUP.D01"));
  EXPECT_TRUE(answerer.texts.empty());
  // The temporary copy without a disk request fails at once as well.
  g_app.temp_copy = true;
  set_disk_request(nullptr, nullptr);
  EXPECT_EQ(SeekArchive(120), 18);
  EXPECT_TRUE(answerer.texts.empty());
  // The failed volume is tried again, not skipped.
  std::rename((d01 + ".away").c_str(), d01.c_str());
  EXPECT_EQ(SeekArchive(120), 0);
  EXPECT_EQ(g_archive.volume, 1u);
  EXPECT_EQ(read(2), expected(120, 2));
}

TEST_F(ArchiveTest, DiskPromptUntilTheUserGivesUp) {
  make_sized_archive({100, 50});
  std::string d01 = dir.file("SETUP.D01");
  std::rename(d01.c_str(), (d01 + ".away").c_str());
  g_app.temp_copy = true;
  uint8_t dummy = 0;
  g_install.document = g_install.program = g_install.screen_saver = &dummy;
  // Cancel, No (ask again), Cancel, Yes, then the notice.
  answerer.answers = {ANSWER_CANCEL, ANSWER_NO, ANSWER_CANCEL, ANSWER_YES, ANSWER_OK};
  EXPECT_EQ(SeekArchive(100), 15);
  ASSERT_EQ(answerer.texts.size(), 5u);
  EXPECT_EQ(answerer.texts[0], "Please insert disk 2.");
  EXPECT_EQ(answerer.styles[0], (unsigned)(MSG_OKCANCEL | MSG_ICONINFORMATION));
  EXPECT_EQ(answerer.texts[1], "Cancel setup?");
  EXPECT_EQ(answerer.styles[1], (unsigned)(MSG_YESNO | MSG_ICONQUESTION));
  EXPECT_EQ(answerer.texts[2], "Please insert disk 2.");
  EXPECT_EQ(answerer.texts[4], "Setup was cancelled.");
  EXPECT_EQ(answerer.styles[4], (unsigned)MSG_ICONINFORMATION);
  EXPECT_TRUE(g_abandoned);
  EXPECT_EQ(g_install.document, nullptr);
  EXPECT_EQ(g_install.program, nullptr);
  EXPECT_EQ(g_install.screen_saver, nullptr);
}

TEST_F(ArchiveTest, DiskPromptRetriesWhenTheDiskIsInserted) {
  make_sized_archive({100, 50, 30});
  std::string d02 = dir.file("SETUP.D02");
  std::rename(d02.c_str(), (d02 + ".away").c_str());
  g_app.temp_copy = true;
  answerer.create_on_prompt = d02; // the user inserts the disk, then presses OK
  EXPECT_EQ(SeekArchive(97), 0);
  uint32_t got = 0;
  EXPECT_EQ(read(60, &got), expected(97, 53)); // one volume change per read
  EXPECT_EQ(got, 53u);
  EXPECT_EQ(read(10), expected(150, 10));
  ASSERT_EQ(answerer.texts.size(), 1u);
  EXPECT_EQ(answerer.texts[0], "Please insert disk 3.");
  EXPECT_FALSE(g_abandoned);
}

TEST_F(ArchiveTest, UnreadableSizeWordCountsAsMissing) {
  make_sized_archive({100});
  dir.write("SETUP.D01", Bytes{1, 2});
  EXPECT_EQ(SeekArchive(100), 18);
  EXPECT_TRUE(answerer.texts.empty());
  g_app.temp_copy = true;
  answerer.answers = {ANSWER_CANCEL, ANSWER_YES, ANSWER_OK};
  EXPECT_EQ(SeekArchive(100), 15);
  EXPECT_EQ(answerer.texts.size(), 3u);
}

// With the integrity record's volume list, a volume file is compared whole
// when it is opened: a changed byte anywhere in it (even behind the data the
// read needs), a changed size word or a file the list does not hold counts
// as missing, before any of its data is handed out; on removable media the
// disk prompt asks again and the right disk is then taken.
TEST_F(ArchiveTest, VolumesThatDifferFromTheIntegrityListCountAsMissing) {
  struct Case {
    const char* what;
    std::function<void(Bytes& d01)> damage;
    uint32_t listed; // volumes in the list
  };
  const Case cases[] = {
      {"last byte changed", [](Bytes& f) { f.back() ^= 0x01; }, 1},
      {"size word changed", [](Bytes& f) { f[0]--; }, 1},
      {"a byte added", [](Bytes& f) { f.push_back(0); }, 1},
      {"not in the list", nullptr, 0},
  };
  for (const Case& c : cases) {
    TearDown();
    answerer = Answerer{};
    strings.clear();
    SetUp();
    make_sized_archive({100, 50});
    std::string d01 = dir.file("SETUP.D01");
    Bytes good = read_file_bytes(d01);
    Bytes list;
    put_u32(list, 50);
    put_u32(list, crc32_update(0, good.data(), good.size()));
    set_volume_checks(list.data(), c.listed);
    Bytes bad = good;
    if (c.damage) c.damage(bad);
    dir.write("SETUP.D01", bad);
    EXPECT_EQ(SeekArchive(100), 18) << c.what;
    EXPECT_TRUE(path_ends_with(g_app.error_file_name, "SETUP.D01")) << c.what;
    if (c.listed) {
      // On removable media: the prompt, then the right disk is read.
      g_app.temp_copy = true;
      dir.write("SETUP.D01.away", good);
      answerer.create_on_prompt = d01;
      EXPECT_EQ(SeekArchive(100), 0) << c.what;
      EXPECT_EQ(read(50), expected(100, 50)) << c.what;
      ASSERT_EQ(answerer.texts.size(), 1u) << c.what;
      EXPECT_EQ(answerer.texts[0], "Please insert disk 2.");
    }
    set_volume_checks(nullptr, 0);
  }
  // The unchanged volume passes and reads as before.
  TearDown();
  answerer = Answerer{};
  strings.clear();
  SetUp();
  make_sized_archive({100, 50});
  Bytes good = read_file_bytes(dir.file("SETUP.D01"));
  Bytes list;
  put_u32(list, 50);
  put_u32(list, crc32_update(0, good.data(), good.size()));
  set_volume_checks(list.data(), 1);
  EXPECT_EQ(SeekArchive(110), 0);
  EXPECT_EQ(read(20), expected(110, 20));
  set_volume_checks(nullptr, 0);
}

TEST_F(ArchiveTest, VolumeNamesReplaceTheExtension) {
  struct Case {
    const char *package, *volume2;
  } cases[] = {{"A:\\SETUP.EXE", "A:\\SETUP.D02"},
               {"A:\\SETUP", "A:\\SETUP.D02"},
               {"A:\\DIR.X\\SETUP", "A:\\DIR.X\\SETUP.D02"}};
  for (const Case& c : cases) {
    text_copy(g_app.package_path, PATH_SIZE, c.package);
    text_copy(g_app.archive_path, PATH_SIZE, c.package);
    g_archive = ArchiveState{INVALID_FILE, 1, 0, 0, 0, 0, false, 0, 0, nullptr, 0};
    EXPECT_EQ(NextVolume(), INVALID_FILE); // no such disk here
    EXPECT_STREQ(g_app.archive_path, c.volume2);
    EXPECT_EQ(g_archive.error, 18);
  }
  // A name that does not fit fails without a prompt, even as the temporary copy.
  std::string long_name = "C:\\" + std::string(255, 'x');
  text_copy(g_app.package_path, PATH_SIZE, long_name.c_str());
  text_copy(g_app.archive_path, PATH_SIZE, long_name.c_str());
  g_archive = ArchiveState{INVALID_FILE, 0, 0, 0, 0, 0, false, 0, 0, nullptr, 0};
  g_app.temp_copy = true;
  EXPECT_EQ(SeekArchive(0), 18);
  EXPECT_STREQ(g_app.archive_path, long_name.c_str());
  EXPECT_TRUE(answerer.texts.empty());
}

TEST_F(ArchiveTest, BudgetedDecodeCrossesAVolumeBoundary) {
  std::string text;
  std::mt19937 rng(2);
  while (text.size() < 120000) text += "volume " + std::to_string(rng() % 100000) + " ";
  Bytes data(text.begin(), text.end());
  Bytes stream =
      pakwiz::encode_stream(data.data(), data.size(), pakwiz::default_compression_level());
  ASSERT_GT(stream.size(), 20000u);
  // Volume 0: 10 other bytes and the stream's first 10,000 bytes; volume 1:
  // the rest, then "TAIL".
  Bytes v0(stream.begin(), stream.begin() + 10000), v1(stream.begin() + 10000, stream.end());
  v0.insert(v0.begin(), 10, 'h');
  for (char c : std::string("TAIL")) v1.push_back((uint8_t)c);
  make_archive({v0, v1});
  uint32_t packed = (uint32_t)stream.size();

  Bytes out(data.size());
  ArchiveSource archive;
  ASSERT_EQ(SeekArchive(10), 0);
  EXPECT_EQ(DecodeToMemory(out.data(), (uint32_t)out.size(), &archive, packed), 1);
  EXPECT_EQ(out, data);
  EXPECT_EQ(g_archive.volume, 1u);
  EXPECT_EQ(read(4), "TAIL");

  // Into a file, from a fresh start of the archive.
  close_archive();
  ASSERT_EQ(open_archive(), 0);
  ASSERT_EQ(SeekArchive(10), 0);
  std::string out_path = dir.file("out.bin");
  FileHandle f = file_create(out_path.c_str());
  EXPECT_EQ(DecodeToFile(f, &archive, packed), 1);
  file_close(f);
  EXPECT_TRUE(read_file_bytes(out_path) == data);
  EXPECT_EQ(read(4), "TAIL");

  // Without volume 1 the decode is abandoned and the reader tells why.
  close_archive();
  std::string d01 = dir.file("SETUP.D01");
  std::remove(d01.c_str());
  ASSERT_EQ(open_archive(), 0);
  ASSERT_EQ(SeekArchive(10), 0);
  EXPECT_EQ(DecodeToMemory(out.data(), (uint32_t)out.size(), &archive, packed), 0);
  EXPECT_EQ(g_archive.error, 18);
}

class RecordingSink : public OutputSink {
public:
  int IsReady() override { return 1; }
  bool Write(const uint8_t* data, uint16_t count) override {
    writes.push_back(count);
    bytes.insert(bytes.end(), data, data + count);
    return true;
  }
  Bytes bytes;
  std::vector<uint16_t> writes;
};

struct Outcome {
  int status;
  Bytes bytes;
  std::vector<uint16_t> writes;
  uint32_t end; // input position behind the stream's first byte
};

Outcome decode_through_sink(InputSource* input, uint32_t budget) {
  RecordingSink sink;
  StreamDecoder decoder;
  Outcome o;
  o.status = decoder.Decode(&sink, input, budget);
  o.bytes = sink.bytes;
  o.writes = sink.writes;
  o.end = 0;
  return o;
}

TEST_F(ArchiveTest, DecodeFromMemoryAFileAndTwoVolumesComesOutAlike) {
  std::string text;
  std::mt19937 rng(5);
  while (text.size() < 90000) text += "part " + std::to_string(rng() % 1000) + " ";
  Bytes data(text.begin(), text.end());
  Bytes sound =
      pakwiz::encode_stream(data.data(), data.size(), pakwiz::default_compression_level());
  Bytes stored = pakwiz::encode_stream(data.data(), 70000, 0);
  Bytes damaged = sound;
  damaged[damaged.size() / 2] ^= 0x5A;
  Bytes cut(sound.begin(), sound.begin() + (long)(sound.size() * 2 / 3));
  Bytes tail = {'T', 'A', 'I', 'L'};
  struct Case {
    const char* name;
    Bytes stream;
  } cases[] = {{"sound", sound}, {"stored", stored}, {"damaged", damaged}, {"cut short", cut}};

  for (const Case& c : cases) {
    const Bytes& stream = c.stream;
    uint32_t size = (uint32_t)stream.size();
    Bytes with_tail = stream;
    with_tail.insert(with_tail.end(), tail.begin(), tail.end());

    // Budgeted: the stream's size, from memory and across two volumes split
    // at several points (volume 0 starts with 10 other bytes).
    MemorySource memory(with_tail.data(), (uint32_t)with_tail.size());
    Outcome reference = decode_through_sink(&memory, size);
    reference.end = memory.position();
    if (c.stream == sound || c.stream == stored) {
      EXPECT_EQ(reference.status, DECODE_OK) << c.name;
      EXPECT_TRUE(std::equal(reference.bytes.begin(), reference.bytes.end(), data.begin()))
          << c.name;
      EXPECT_EQ(reference.end, size) << c.name;
    } else {
      EXPECT_TRUE(reference.status != DECODE_OK || reference.bytes != data) << c.name;
    }
    for (uint32_t split : {1u, size / 2, size - 1, size}) {
      close_archive();
      Bytes v0(10, 'h'), v1(with_tail.begin() + split, with_tail.end());
      v0.insert(v0.end(), stream.begin(), stream.begin() + split);
      make_archive({v0, v1});
      ASSERT_EQ(SeekArchive(10), 0);
      ArchiveSource archive;
      Outcome o = decode_through_sink(&archive, size);
      EXPECT_EQ(o.status, reference.status) << c.name << " split " << split;
      EXPECT_EQ(o.bytes, reference.bytes) << c.name << " split " << split;
      EXPECT_EQ(o.writes, reference.writes) << c.name << " split " << split;
      if (o.status == DECODE_OK) {
        // Behind the stream, in whichever volume that is: the next bytes
        // read are the tail.
        EXPECT_EQ(g_archive.volume, split == size ? 0u : 1u) << c.name << " split " << split;
        EXPECT_EQ(read(4), "TAIL") << c.name << " split " << split;
      }
    }

    // Unbudgeted: from memory and from a file, with the tail behind the
    // stream for the decoder to read ahead into and give back.
    MemorySource free_memory(with_tail.data(), (uint32_t)with_tail.size());
    Outcome from_memory = decode_through_sink(&free_memory, 0);
    from_memory.end = free_memory.position();
    Bytes file = {'H', 'E', 'A', 'D'};
    file.insert(file.end(), with_tail.begin(), with_tail.end());
    FileHandle f = file_open(dir.write("stream.bin", file).c_str(), FILE_READ);
    ASSERT_EQ(file_seek(f, 4, FROM_START), 4u);
    FileSource file_input(f);
    Outcome from_file = decode_through_sink(&file_input, 0);
    from_file.end = file_tell(f) - 4;
    file_close(f);
    EXPECT_EQ(from_file.status, from_memory.status) << c.name;
    EXPECT_EQ(from_file.bytes, from_memory.bytes) << c.name;
    EXPECT_EQ(from_file.writes, from_memory.writes) << c.name;
    EXPECT_EQ(from_file.end, from_memory.end) << c.name;
    if (reference.status == DECODE_OK) {
      EXPECT_EQ(from_memory.status, DECODE_OK) << c.name;
      EXPECT_EQ(from_memory.bytes, reference.bytes) << c.name;
      EXPECT_EQ(from_memory.end, size) << c.name;
    }
  }
}

TEST_F(ArchiveTest, OpenArchiveNeedsThePackageFile) {
  text_copy(g_app.package_path, PATH_SIZE, dir.file("NONE.EXE").c_str());
  EXPECT_EQ(open_archive(), 16);
  EXPECT_TRUE(path_ends_with(g_app.error_file_name, "NONE.EXE"));
  EXPECT_EQ(g_archive.handle, INVALID_FILE);
}

} // namespace
