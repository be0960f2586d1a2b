// The stream decoder on hand-made bit streams: block framing, code-length
// order, code checks, matches, sink writes, input position and bounds. Every
// stream goes through both output paths, read from a file and from memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "builder/encoder.h"
#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/stream_decoder.h"
#include "support/bit_writer.h"
#include "support/temp_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes text_bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class RecordingSink : public OutputSink {
public:
  int IsReady() override { return 1; }
  bool Write(const uint8_t* data, uint16_t count) override {
    writes.push_back(count);
    data_out.insert(data_out.end(), data, data + count);
    return true;
  }
  Bytes data_out;
  std::vector<size_t> writes;
};

struct Result {
  int status;
  Bytes data;
  std::vector<size_t> writes; // sink mode only
  uint32_t end;               // input position after the decode
};

// A dynamic block header. The code lengths are sent with the code-length
// code `cl` (lengths per code-length symbol, default: symbols 0-15 with 4
// bits each), its lengths in `order`.
const uint8_t OUR_ORDER[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const uint8_t RFC_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

std::vector<uint8_t> default_cl() {
  std::vector<uint8_t> cl(19, 0);
  for (int s = 0; s < 16; s++) cl[s] = 4;
  return cl;
}

void put_dynamic_header(BitWriter& w, bool last, const Bytes& litlen, const Bytes& dist,
                        std::vector<uint8_t> cl = default_cl(), const uint8_t* order = OUR_ORDER) {
  w.bits(last ? 14 : 6, 4);
  w.bits((uint32_t)litlen.size() - 257, 5);
  w.bits((uint32_t)dist.size() - 1, 5);
  unsigned hclen = 19;
  while (hclen > 4 && cl[order[hclen - 1]] == 0) hclen--;
  w.bits(hclen - 4, 4);
  for (unsigned i = 0; i < hclen; i++) w.bits(cl[order[i]], 3);
  std::vector<uint32_t> codes = canonical_codes(cl);
  for (const Bytes* part : {&litlen, &dist})
    for (uint8_t len : *part) w.code(codes[len], cl[len]);
}

// Literal/length lengths: at least `count` entries (257 up to the highest
// symbol set), all 0 except those in `set`.
Bytes litlen_lengths(std::initializer_list<std::pair<int, int>> set, size_t count = 257) {
  for (auto& p : set) count = std::max(count, (size_t)p.first + 1);
  Bytes lens(count, 0);
  for (auto& p : set) lens[p.first] = (uint8_t)p.second;
  return lens;
}

class DecoderTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(app_alloc_buffers()); }
  void TearDown() override {
    close_archive();
    app_free_buffers();
    heap_set_failure_hook(nullptr);
  }

  std::string put_file(const Bytes& bytes) {
    return dir.write("in" + std::to_string(files++), bytes);
  }

  // Decodes `stream` through a sink (the window path), from a file or
  // from memory.
  Result decode_sink(const Bytes& stream, bool from_memory = false) {
    RecordingSink sink;
    StreamDecoder decoder;
    Result r;
    if (from_memory) {
      MemorySource input(stream.data(), (uint32_t)stream.size());
      r.status = decoder.Decode(&sink, &input, 0);
      r.end = input.position();
    } else {
      FileHandle f = file_open(put_file(stream).c_str(), FILE_READ);
      EXPECT_NE(f, INVALID_FILE);
      FileSource input(f);
      r.status = decoder.Decode(&sink, &input, 0);
      r.end = file_tell(f);
      file_close(f);
    }
    r.data = sink.data_out;
    r.writes = sink.writes;
    return r;
  }

  // Decodes `stream` straight into a buffer of `capacity` bytes; bytes behind
  // the buffer are checked to stay untouched.
  Result decode_memory(const Bytes& stream, uint32_t capacity) {
    FileHandle f = file_open(put_file(stream).c_str(), FILE_READ);
    EXPECT_NE(f, INVALID_FILE);
    Bytes buffer(capacity + 64, 0xA5);
    uint32_t produced = 0;
    StreamDecoder decoder;
    FileSource input(f);
    Result r;
    r.status = decoder.DecodeInto(buffer.data(), capacity, &input, 0, &produced);
    r.end = file_tell(f);
    file_close(f);
    EXPECT_LE(produced, capacity);
    for (size_t i = capacity; i < buffer.size(); i++) {
      EXPECT_EQ(buffer[i], 0xA5) << "written past the buffer at " << i;
      if (buffer[i] != 0xA5) break;
    }
    r.data.assign(buffer.begin(), buffer.begin() + std::min(produced, capacity));
    return r;
  }

  // Both paths, which must agree as long as the output fits the capacity,
  // and the sink path once more from memory, which must match the file in
  // everything: status, bytes, writes and the position it ends at.
  Result decode(const Bytes& stream, uint32_t capacity = 1u << 20) {
    Result s = decode_sink(stream);
    Result m = decode_memory(stream, capacity);
    if (s.status == DECODE_OK && s.data.size() > capacity) {
      EXPECT_EQ(m.status, DECODE_BAD_DATA);
    } else if (m.data.size() < capacity) {
      EXPECT_EQ(s.status, m.status);
      if (s.status == DECODE_OK) {
        EXPECT_EQ(s.data, m.data);
        EXPECT_EQ(s.end, m.end);
      }
    }
    Result from_memory = decode_sink(stream, true);
    EXPECT_EQ(from_memory.status, s.status);
    EXPECT_EQ(from_memory.data, s.data);
    EXPECT_EQ(from_memory.writes, s.writes);
    EXPECT_EQ(from_memory.end, s.end);
    return s;
  }

  TempDir dir;
  int files = 0;
};

// A stored stream of `data`, hand-made: blocks of up to 65,535 bytes.
Bytes stored_stream(const Bytes& data) {
  Bytes s;
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(data.size() - at, 65535);
    bool last = at + n == data.size();
    s.push_back(last ? 0x0F : 0x07);
    s.push_back((uint8_t)n);
    s.push_back((uint8_t)(n >> 8));
    s.insert(s.end(), data.begin() + at, data.begin() + at + n);
    at += n;
  } while (at < data.size());
  return s;
}

Bytes pseudo_random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = (uint8_t)rng();
  return b;
}

Bytes some_text(size_t n) {
  std::string s;
  std::mt19937 rng(7);
  static const char* words[] = {"setup ",   "file ",  "archive ", "volume ", "decoder ", "window ",
                                "literal ", "match ", "\n",       "table ",  "block ",   "stream "};
  while (s.size() < n) s += words[rng() % 12];
  s.resize(n);
  return text_bytes(s);
}

TEST_F(DecoderTest, StoredBlocksHaveLenWithoutNlen) {
  // The two bytes that would be NLEN elsewhere are data here.
  Result r = decode({0x0F, 4, 0, 'A', 'B', 'C', 'D'});
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, text_bytes("ABCD"));

  // Two blocks: the second header follows the first block's data directly.
  r = decode({0x07, 2, 0, 'x', 'y', 0x0F, 1, 0, 'z'});
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, text_bytes("xyz"));

  // LEN 0: no output, and the final write of 0 bytes still happens.
  r = decode({0x0F, 0, 0});
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_TRUE(r.data.empty());
  EXPECT_EQ(r.writes, std::vector<size_t>{0});

  // A stored block after a fixed one starts at the next byte boundary.
  BitWriter w;
  w.bits(5, 4);
  put_fixed_symbol(w, 'q');
  put_fixed_symbol(w, 256);
  w.bits(15, 4).align().bits(2, 16).byte('r').byte('s');
  r = decode(w.bytes());
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, text_bytes("qrs"));
}

TEST_F(DecoderTest, BlockHeaderValues) {
  for (unsigned h : {0u, 1u, 2u, 3u, 4u, 8u, 9u, 10u, 11u, 12u}) {
    Result r = decode({(uint8_t)h, 0, 0, 0, 0});
    EXPECT_EQ(r.status, DECODE_BAD_BLOCK) << "header " << h;
  }
  // 13 = fixed codes, last block: an end-of-block symbol (seven 0 bits) ends it.
  Result r = decode({13, 0});
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_TRUE(r.data.empty());
  // 5 = fixed codes, not last: the next block follows.
  BitWriter w;
  w.bits(5, 4);
  put_fixed_symbol(w, 'a');
  put_fixed_symbol(w, 256);
  w.bits(13, 4);
  put_fixed_symbol(w, 'b');
  put_fixed_symbol(w, 256);
  r = decode(w.bytes());
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, text_bytes("ab"));
}

TEST_F(DecoderTest, CodeLengthCodeLengthsComeInTheirOwnOrder) {
  // Code-length symbols 0 and 1 with one bit each; 'A' and end of block with
  // one bit each; one distance code of one bit.
  std::vector<uint8_t> cl(19, 0);
  cl[0] = cl[1] = 1;
  Bytes litlen = litlen_lengths({{'A', 1}, {256, 1}});
  Bytes dist = {1};
  auto stream = [&](const uint8_t* order) {
    BitWriter w;
    put_dynamic_header(w, true, litlen, dist, cl, order);
    w.code(0, 1).code(0, 1).code(0, 1).code(1, 1); // A A A end
    return w.bytes();
  };
  Result r = decode(stream(OUR_ORDER));
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, text_bytes("AAA"));
  // Sent in the RFC 1951 order, length 1 of symbol 1 lands on symbol 14:
  // the code lengths come out as 14 and the literal/length code breaks.
  r = decode(stream(RFC_ORDER));
  EXPECT_NE(r.status, DECODE_OK);
}

TEST_F(DecoderTest, HeaderLimitsAndCodeChecks) {
  struct Case {
    const char* name;
    Bytes litlen, dist;
    std::vector<uint8_t> cl;
    int status;
  };
  std::vector<uint8_t> no_cl(19, 0);
  std::vector<uint8_t> over_cl = default_cl();
  over_cl[16] = 1; // 16 codes of 4 bits plus one of 1 bit
  Bytes ok_litlen = litlen_lengths({{'a', 2}, {256, 2}, {257, 1}});
  std::vector<Case> cases = {
      {"complete codes", ok_litlen, {1, 1}, default_cl(), DECODE_OK},
      {"one distance code of one bit", ok_litlen, {1}, default_cl(), DECODE_OK},
      {"incomplete distance code", ok_litlen, {1, 2}, default_cl(), DECODE_BAD_DATA},
      {"incomplete literal/length code",
       litlen_lengths({{'a', 2}, {256, 2}, {257, 2}}),
       {1, 1},
       default_cl(),
       DECODE_BAD_DATA},
      {"over-subscribed literal/length code",
       litlen_lengths({{'a', 1}, {256, 1}, {257, 1}}),
       {1, 1},
       default_cl(),
       DECODE_BAD_BLOCK},
      {"over-subscribed distance code", ok_litlen, {1, 1, 1}, default_cl(), DECODE_BAD_BLOCK},
      {"over-subscribed code-length code", ok_litlen, {1, 1}, over_cl, DECODE_BAD_BLOCK},
      {"no code-length code", ok_litlen, {1, 1}, no_cl, DECODE_BAD_DATA},
      {"no literal/length code", Bytes(257, 0), {1, 1}, default_cl(), DECODE_BAD_DATA},
      {"HLIT above 286",
       litlen_lengths({{'a', 2}, {256, 2}, {257, 1}}, 287),
       {1, 1},
       default_cl(),
       DECODE_BAD_DATA},
      {"HDIST above 30", ok_litlen, Bytes(31, 5), default_cl(), DECODE_BAD_DATA},
  };
  for (const Case& c : cases) {
    BitWriter w;
    put_dynamic_header(w, true, c.litlen, c.dist, c.cl);
    // 'a', a match of length 3 at distance 1, end of block.
    w.code(2, 2).code(0, 1).code(0, 1).code(3, 2);
    for (int i = 0; i < 8; i++) w.byte(0);
    Result r = decode(w.bytes());
    EXPECT_EQ(r.status, c.status) << c.name;
    if (c.status == DECODE_OK) {
      EXPECT_EQ(r.data, text_bytes("aaaa")) << c.name;
    }
  }
}

TEST_F(DecoderTest, LoneCodewordsAndMissingDistanceCodes) {
  // The only literal/length code is end of block, with one bit: accepted.
  // Its unused pattern (bit 1) is an invalid code.
  Bytes eob_only = litlen_lengths({{256, 1}});
  for (uint32_t bit : {0u, 1u}) {
    BitWriter w;
    put_dynamic_header(w, true, eob_only, {0});
    w.code(bit, 1);
    for (int i = 0; i < 4; i++) w.byte(0);
    EXPECT_EQ(decode(w.bytes()).status, bit ? DECODE_BAD_DATA : DECODE_OK);
  }
  // No distance codes at all: literals decode, a length symbol fails.
  Bytes litlen = litlen_lengths({{'a', 2}, {256, 2}, {257, 1}});
  for (bool with_match : {false, true}) {
    BitWriter w;
    put_dynamic_header(w, false, litlen, {0});
    w.code(2, 2).code(3, 2); // 'a', end
    put_dynamic_header(w, true, litlen, {0});
    w.code(2, 2);
    if (with_match) w.code(0, 1).code(0, 1); // length 3, then a distance code that does not exist
    w.code(3, 2);
    for (int i = 0; i < 4; i++) w.byte(0);
    Result r = decode(w.bytes());
    EXPECT_EQ(r.status, with_match ? DECODE_BAD_DATA : DECODE_OK);
    if (!with_match) {
      EXPECT_EQ(r.data, text_bytes("aa"));
    }
  }
}

TEST_F(DecoderTest, CodeLengthRunsStayWithinTheAnnouncedCount) {
  // Code-length code: symbols 0-13 with 4 bits, 14, 15, 16 and 18 with 5.
  std::vector<uint8_t> cl(19, 0);
  for (int s = 0; s < 14; s++) cl[s] = 4;
  cl[14] = cl[15] = cl[16] = cl[18] = 5;
  std::vector<uint32_t> codes = canonical_codes(cl);
  // 258 literal/length lengths ('a' 2, end of block 2, length symbol 257 1),
  // then 2 distance lengths, written with runs; `last_run` repeats the
  // previous length 3 + n times at the very end.
  auto stream = [&](bool overrun) {
    BitWriter w;
    w.bits(14, 4).bits(1, 5).bits(1, 5).bits(15, 4);
    for (int i = 0; i < 19; i++) w.bits(cl[OUR_ORDER[i]], 3);
    auto sym = [&](int s) { w.code(codes[s], cl[s]); };
    sym(18), w.bits(97 - 11, 7);  // 0..96
    sym(2);                       // 'a'
    sym(18), w.bits(138 - 11, 7); // 98..235
    sym(18), w.bits(20 - 11, 7);  // 236..255
    sym(2), sym(1);               // 256, 257
    sym(1);                       // distance 0
    if (overrun) {
      sym(16), w.bits(0, 2); // three more 1s: one too many
    } else {
      sym(1); // distance 1
    }
    w.code(2, 2).code(0, 1).code(0, 1).code(3, 2); // 'a', length 3 at distance 1, end
    for (int i = 0; i < 8; i++) w.byte(0);
    return w.bytes();
  };
  Result r = decode(stream(false));
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, text_bytes("aaaa"));
  EXPECT_EQ(decode(stream(true)).status, DECODE_BAD_DATA);
}

TEST_F(DecoderTest, FixedSymbols286And287AreInvalid) {
  for (unsigned sym : {286u, 287u}) {
    BitWriter w;
    w.bits(13, 4);
    put_fixed_symbol(w, 'x');
    put_fixed_symbol(w, sym);
    for (int i = 0; i < 8; i++) w.byte(0); // zero bits would decode as end of block
    EXPECT_EQ(decode(w.bytes()).status, DECODE_BAD_DATA) << sym;
  }
  // Symbol 285 (length 258) is fine; the fixed distance code, 30 codewords of
  // 5 bits out of 32 patterns, is accepted.
  BitWriter w;
  w.bits(13, 4);
  put_fixed_symbol(w, 'x');
  put_fixed_match(w, 258, 1);
  put_fixed_symbol(w, 256);
  Result r = decode(w.bytes());
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, Bytes(259, 'x'));
  // Distance patterns 30 and 31 are invalid codes.
  for (uint32_t d : {30u, 31u}) {
    BitWriter v;
    v.bits(13, 4);
    put_fixed_symbol(v, 'x');
    put_fixed_symbol(v, 257);
    v.code(d, 5);
    for (int i = 0; i < 8; i++) v.byte(0);
    EXPECT_EQ(decode(v.bytes()).status, DECODE_BAD_DATA) << d;
  }
}

// Reference model of a sequence of literals and matches; a match reaching
// before the start reads zeros.
struct Op {
  int literal; // -1 for a match
  unsigned length, distance;
};
Bytes model(const std::vector<Op>& ops) {
  Bytes out;
  for (const Op& op : ops) {
    if (op.literal >= 0) {
      out.push_back((uint8_t)op.literal);
      continue;
    }
    for (unsigned i = 0; i < op.length; i++)
      out.push_back(out.size() >= op.distance ? out[out.size() - op.distance] : 0);
  }
  return out;
}
Bytes fixed_stream(const std::vector<Op>& ops) {
  BitWriter w;
  w.bits(13, 4);
  for (const Op& op : ops) {
    if (op.literal >= 0)
      put_fixed_symbol(w, (unsigned)op.literal);
    else
      put_fixed_match(w, op.length, op.distance);
  }
  put_fixed_symbol(w, 256);
  return w.bytes();
}

TEST_F(DecoderTest, MatchesRepeatOverlapAndReadZerosBeforeTheStart) {
  std::vector<std::vector<Op>> cases;
  // 10 bytes, then a match 10 back of length 258: the 10 bytes cyclically.
  std::vector<Op> ten;
  for (int i = 0; i < 10; i++) ten.push_back({'0' + i, 0, 0});
  ten.push_back({-1, 258, 10});
  cases.push_back(ten);
  // Every short distance (the copy has special cases below 8) and long runs.
  for (unsigned d = 1; d <= 17; d++) {
    std::vector<Op> ops;
    for (unsigned i = 0; i < d; i++) ops.push_back({(int)('a' + i), 0, 0});
    ops.push_back({-1, 258, d});
    ops.push_back({-1, 3, d});
    ops.push_back({-1, 100, d + 1 < 18 ? d + 1 : d});
    cases.push_back(ops);
  }
  // Matches reaching before the first byte.
  cases.push_back({{-1, 4, 3}, {'x', 0, 0}, {-1, 3, 2}, {-1, 20, 30}, {'y', 0, 0}});
  cases.push_back({{'q', 0, 0}, {-1, 258, 32768}, {-1, 258, 300}});
  for (const auto& ops : cases) {
    Result r = decode(fixed_stream(ops));
    EXPECT_EQ(r.status, DECODE_OK);
    EXPECT_EQ(r.data, model(ops));
  }
  Bytes first = model(cases[0]);
  ASSERT_EQ(first.size(), 268u);
  for (size_t i = 0; i < first.size(); i++) ASSERT_EQ(first[i], '0' + i % 10);
}

TEST_F(DecoderTest, SinkGetsFullWindowsThenTheRest) {
  for (size_t size : {size_t(0), size_t(1), size_t(32767), size_t(32768), size_t(32769),
                      size_t(65536), size_t(300001)}) {
    Bytes data = some_text(size);
    std::vector<size_t> expected(size / 32768, 32768);
    expected.push_back(size % 32768);
    for (int level : {0, pakwiz::default_compression_level()}) {
      Result r = decode(pakwiz::encode_stream(data.data(), data.size(), level));
      EXPECT_EQ(r.status, DECODE_OK) << size;
      EXPECT_EQ(r.data, data) << size;
      EXPECT_EQ(r.writes, expected) << size << " at level " << level;
    }
  }
}

// A file that refuses the writes (here a handle open for reading only) stops
// the decode, and the sink tells a write failure from a damaged stream.
TEST_F(DecoderTest, FileSinkStopsAtAFailingWriteAndKeepsItsResult) {
  Bytes data = some_text(100000);
  Bytes stream = pakwiz::encode_stream(data.data(), data.size(), 0);
  FileHandle input = file_open(put_file(stream).c_str(), FILE_READ);
  FileHandle output = file_open(put_file(Bytes()).c_str(), FILE_READ);
  ASSERT_NE(input, INVALID_FILE);
  ASSERT_NE(output, INVALID_FILE);
  StreamDecoder decoder;
  FileSink sink(output);
  FileSource source(input);
  EXPECT_EQ(decoder.Decode(&sink, &source, 0), DECODE_BAD_DATA);
  EXPECT_EQ(sink.write_result(), FILE_WRITE_FAILED);
  file_close(input);
  file_close(output);
}

TEST_F(DecoderTest, CapacityBoundsTheOutput) {
  Bytes data = some_text(100000);
  for (int level : {0, pakwiz::default_compression_level()}) {
    Bytes stream = pakwiz::encode_stream(data.data(), data.size(), level);
    EXPECT_EQ(decode_memory(stream, 100000).status, DECODE_OK);
    for (uint32_t capacity : {0u, 1u, 65536u, 99999u}) {
      Result r = decode_memory(stream, capacity);
      EXPECT_EQ(r.status, DECODE_BAD_DATA) << capacity;
      EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), data.begin()));
    }
    // The same through the public call and through a MemorySink.
    std::string path = put_file(stream);
    Bytes buffer(99999 + 16, 0x5A);
    FileHandle f = file_open(path.c_str(), FILE_READ);
    FileSource input(f);
    EXPECT_EQ(DecodeToMemory(buffer.data(), 99999, &input, 0), 0);
    file_seek(f, 0, FROM_START);
    MemorySink sink(buffer.data(), 99999);
    StreamDecoder decoder;
    EXPECT_EQ(decoder.Decode(&sink, &input, 0), DECODE_BAD_DATA);
    EXPECT_EQ(sink.written(), 98304u); // three windows fit, the final 1,696 bytes do not
    file_close(f);
    for (size_t i = 99999; i < buffer.size(); i++) ASSERT_EQ(buffer[i], 0x5A);
  }
  // A null destination, and an input that is missing or not ready, are
  // refused before anything is read.
  FileHandle f = file_open(put_file({0x0F, 0, 0}).c_str(), FILE_READ);
  FileSource input(f), closed(INVALID_FILE);
  Bytes buffer(16);
  RecordingSink sink;
  StreamDecoder decoder;
  EXPECT_EQ(DecodeToMemory(nullptr, 0, &input, 0), 0);
  EXPECT_EQ(file_tell(f), 0u);
  EXPECT_EQ(DecodeToMemory(buffer.data(), 16, &closed, 0), 0);
  EXPECT_EQ(DecodeToMemory(buffer.data(), 16, nullptr, 0), 0);
  EXPECT_EQ(decoder.Decode(&sink, &closed, 0), DECODE_BAD_DATA);
  EXPECT_EQ(decoder.Decode(&sink, nullptr, 0), DECODE_BAD_DATA);
  EXPECT_TRUE(sink.writes.empty());
  EXPECT_EQ(DecodeToMemory(buffer.data(), 16, &input, 0), 1); // the same file is fine
  file_close(f);
}

// Five 9-bit literals and the end of block after the 4-bit header fill
// exactly 7 bytes: the last lookup peeks past the end of the stream.
Bytes exact_seven_bytes() {
  BitWriter w;
  w.bits(13, 4);
  for (int i = 0; i < 5; i++) put_fixed_symbol(w, 200 + i);
  put_fixed_symbol(w, 256);
  EXPECT_EQ(w.bit_count(), 56u);
  return w.bytes();
}

TEST_F(DecoderTest, PeekingPastTheEndIsFineConsumingIsNot) {
  Bytes stream = exact_seven_bytes();
  Result r = decode(stream);
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.data, Bytes({200, 201, 202, 203, 204}));

  // Truncated anywhere, and the decoder stops instead of reading zeros.
  for (size_t cut = 0; cut < stream.size(); cut++)
    EXPECT_EQ(decode(Bytes(stream.begin(), stream.begin() + cut)).status, DECODE_BAD_DATA) << cut;

  // A stream that would go on producing output from zero bits: a dynamic
  // code in which all-zero bits mean the literal 'a'.
  BitWriter w;
  put_dynamic_header(w, true, litlen_lengths({{'a', 1}, {256, 1}}), {1});
  w.code(0, 1);
  EXPECT_EQ(decode(w.bytes()).status, DECODE_BAD_DATA);
}

TEST_F(DecoderTest, TruncatedAndCorruptedStreamsFailCleanly) {
  Bytes data = some_text(200000);
  Bytes random = pseudo_random(70000, 3);
  data.insert(data.end(), random.begin(), random.end());
  Bytes stream =
      pakwiz::encode_stream(data.data(), data.size(), pakwiz::default_compression_level());
  ASSERT_EQ(decode(stream, (uint32_t)data.size()).data, data);

  for (size_t cut : {size_t(0), size_t(1), size_t(2), size_t(5), stream.size() / 3,
                     stream.size() / 2, stream.size() - 70005, stream.size() - 1}) {
    Result r = decode(Bytes(stream.begin(), stream.begin() + cut), (uint32_t)data.size());
    EXPECT_EQ(r.status, DECODE_BAD_DATA) << cut;
    for (size_t n : r.writes) EXPECT_LE(n, 32768u);
  }

  std::mt19937 rng(11);
  int failed = 0;
  for (int round = 0; round < 40; round++) {
    Bytes bad = stream;
    for (int k = 0; k < 3; k++) bad[rng() % (bad.size() - 70010)] ^= (uint8_t)(1 + rng() % 255);
    Result r = decode(bad, (uint32_t)data.size()); // checks the buffer bounds
    for (size_t n : r.writes) EXPECT_LE(n, 32768u);
    if (r.status != DECODE_OK || r.data != data) failed++;
  }
  EXPECT_EQ(failed, 40); // damage in the compressed part always shows
}

TEST_F(DecoderTest, InputPositionIsBehindTheLastByteTaken) {
  Bytes big = some_text(150000);
  std::vector<Bytes> streams = {
      exact_seven_bytes(), stored_stream(text_bytes("stored")),
      pakwiz::encode_stream(big.data(), big.size(), pakwiz::default_compression_level()),
      fixed_stream({{'a', 0, 0}, {-1, 10, 1}}), // ends inside its last byte
  };
  for (size_t k = 0; k < streams.size(); k++) {
    const Bytes& stream = streams[k];
    // Package-like file: size word, then "HEAD", the stream, the stream again, "TAIL".
    Bytes file = {0, 0, 0, 0};
    Bytes data = text_bytes("HEAD");
    data.insert(data.end(), stream.begin(), stream.end());
    data.insert(data.end(), stream.begin(), stream.end());
    Bytes tail = text_bytes("TAIL");
    data.insert(data.end(), tail.begin(), tail.end());
    uint32_t n = (uint32_t)data.size();
    file[0] = (uint8_t)n, file[1] = (uint8_t)(n >> 8), file[2] = (uint8_t)(n >> 16);
    file.insert(file.end(), data.begin(), data.end());
    std::string path = put_file(file);
    Bytes out(200000);
    char text[5] = {};

    // Unbudgeted: the decoder reads ahead and gives back what it did not take.
    FileHandle f = file_open(path.c_str(), FILE_READ);
    file_seek(f, 8, FROM_START);
    FileSource input(f);
    EXPECT_EQ(DecodeToMemory(out.data(), (uint32_t)out.size(), &input, 0), 1) << k;
    EXPECT_EQ(file_tell(f), 8 + stream.size()) << k;
    EXPECT_EQ(DecodeToMemory(out.data(), (uint32_t)out.size(), &input, 0), 1) << k;
    EXPECT_EQ(file_read_exact(f, text, 4), FILE_OK);
    EXPECT_STREQ(text, "TAIL") << k;
    file_close(f);

    // Budgeted, through the archive reader, with the exact budget and with a
    // budget larger than the stream: the reader's count follows the position.
    for (uint32_t extra : {0u, 3u}) {
      text_copy(g_app.package_path, PATH_SIZE, path.c_str());
      g_archive.archive_offset = 0;
      g_archive.archive_size = n;
      ASSERT_EQ(open_archive(), 0);
      ASSERT_EQ(SeekArchive(4), 0);
      RecordingSink sink;
      StreamDecoder decoder;
      ArchiveSource archive;
      EXPECT_EQ(decoder.Decode(&sink, &archive, (uint32_t)stream.size() + extra), DECODE_OK);
      EXPECT_EQ(file_tell(g_archive.handle), 8 + stream.size()) << k;
      EXPECT_EQ(g_archive.bytes_left, (int32_t)(n - 4 - stream.size())) << k;
      EXPECT_EQ(DecodeToMemory(out.data(), (uint32_t)out.size(), &archive, (uint32_t)stream.size()),
                1);
      uint32_t got = 0;
      EXPECT_EQ(ReadArchive(g_archive.handle, text, 4, &got), 0);
      EXPECT_STREQ(text, "TAIL") << k << " " << extra;
      close_archive();
    }
  }
}

static size_t failing_size;
static bool fail_big(size_t n, int) {
  return n >= failing_size;
}

TEST_F(DecoderTest, AllocationFailuresAreStatus3) {
  Bytes stream = {0x0F, 1, 0, 'z'};
  // The window (sink mode only), the tables, the input buffer.
  struct Case {
    size_t fail_from;
    int sink_status, memory_status;
  } cases[] = {{100000, DECODE_NO_MEMORY, DECODE_OK},
               {40000, DECODE_NO_MEMORY, DECODE_NO_MEMORY},
               {1000, DECODE_NO_MEMORY, DECODE_NO_MEMORY}};
  for (const Case& c : cases) {
    failing_size = c.fail_from;
    heap_set_failure_hook(fail_big);
    Result s = decode_sink(stream);
    Result m = decode_memory(stream, 10);
    heap_set_failure_hook(nullptr);
    EXPECT_EQ(s.status, c.sink_status) << c.fail_from;
    EXPECT_EQ(m.status, c.memory_status) << c.fail_from;
  }
}

static bool fail_every(size_t, int) {
  return true;
}

TEST_F(DecoderTest, KeptBuffersServeTheNextDecodesUntilKeepingStops) {
  // The first decode fills the history with 'q'; the second reaches before
  // its own start, which must still read zeros from a reused window.
  std::vector<Op> fill = {{'q', 0, 0}, {-1, 258, 1}, {-1, 258, 1}};
  std::vector<Op> reach = {{'x', 0, 0}, {-1, 20, 30}, {'y', 0, 0}};
  keep_decoder_buffers(true);
  Result a = decode_sink(fixed_stream(fill));
  heap_set_failure_hook(fail_every); // from here on no allocation succeeds
  Result b = decode_sink(fixed_stream(reach));
  Result c = decode_memory(fixed_stream(reach), 64);
  keep_decoder_buffers(false);
  Result d = decode_sink(fixed_stream(reach));
  heap_set_failure_hook(nullptr);
  EXPECT_EQ(a.status, DECODE_OK);
  EXPECT_EQ(a.data, model(fill));
  EXPECT_EQ(b.status, DECODE_OK);
  EXPECT_EQ(b.data, model(reach));
  EXPECT_EQ(c.status, DECODE_OK);
  EXPECT_EQ(d.status, DECODE_NO_MEMORY); // the kept buffers were freed
}

} // namespace
