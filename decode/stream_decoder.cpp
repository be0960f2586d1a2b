// The stream decoder.
//
// Design. The hot loop is small and the tables do the work:
//
// * Bits come from a 64-bit buffer that is refilled 8 bytes at a time while
//   plenty of input is at hand: one unaligned load, shifted above the bits
//   held, and the input pointer advanced by the whole bytes that fitted. The
//   bits above the count held are then the next input bytes (or zero), so a
//   later refill that ORs the same bytes in again changes nothing, and a
//   table lookup may peek at them. After a refill at least 56 bits are held,
//   enough for a length, its extra bits, a distance and its extra bits (48),
//   or for four literals, without checking again.
//
// * A lookup table entry is one 32-bit word that says everything needed for
//   the symbol: how many bits to drop (codeword plus extra bits), where the
//   extra bits start, the literal byte or the base value, or a link to a
//   sub-table for codewords longer than the table's index width (11 bits for
//   literal/length, 8 for distance). So a literal costs one load, one shift
//   and one store.
//
// * Near the end of the input the careful path takes over: one symbol at a
//   time, bytes fetched one by one, and zero bits standing in for missing
//   input. Those stand-in bits may be looked at, but consuming one ends the
//   decode (status 1), so a damaged stream cannot run on forever.
//
// * Output is decoded into a buffer holding 32 KB of history followed by
//   128 KB of new output. Complete 32 KB runs go to the sink, and the last
//   32 KB plus the incomplete run are moved to the front, so matches never
//   wrap and copies may write a few bytes past their end. Decoding into a
//   caller's memory buffer skips all that and writes straight to it.
//
// * The bytes read ahead are given back when the decode ends, so the input
//   position is just behind the last byte holding a consumed bit.
#include "decode/stream_decoder.h"

#include <string.h>

#include "common/heap.h"

namespace {

enum : uint32_t {
  WINDOW_SIZE = 32768,
  REGION_SIZE = 4 * WINDOW_SIZE, // output decoded between two moves of the history
  IN_CHUNK = 16384,              // input bytes read per refill
  IN_MARGIN = 16,                // input bytes the fast loop needs at hand
  OUT_MARGIN = 304,              // room for one fast-loop step: at most 265 bytes written

  LL_BITS = 11,
  D_BITS = 8,
  CL_BITS = 7,
  // Main table plus the most sub-table space the longest codes can need: at
  // most one sub-table per codeword longer than the index width, each of at
  // most 2^(15 - index width) entries.
  LL_ENTRIES = (1u << LL_BITS) + 288u * (1u << (15 - LL_BITS)),
  D_ENTRIES = (1u << D_BITS) + 32u * (1u << (15 - D_BITS)),
  CL_ENTRIES = 1u << CL_BITS,
};

// Table entry layout:
//   bits 0-5   bits to drop at this level (codeword, plus the extra bits of a
//              length or distance); for a link: the index width
//   bits 8-11  codeword bits at this level (the extra bits start there); for
//              a link: the sub-table's index width
//   bit 12     literal      bit 13  end of block
//   bit 14     link to a sub-table      bit 15  invalid code
//   bits 16-31 value: the literal, the base value, or the sub-table's offset
// Bits 6, 7 and 8-31 are multiples of 64, so an entry is congruent to its
// drop count modulo 64, which the fast loop relies on.
const uint32_t E_LITERAL = 0x1000, E_END = 0x2000, E_LINK = 0x4000, E_BAD = 0x8000;

inline uint32_t entry_drop(uint32_t e) {
  return e & 0x3F;
}
inline uint32_t entry_shift(uint32_t e) {
  return (e >> 8) & 0xF;
}
inline uint32_t entry_value(uint32_t e) {
  return e >> 16;
}
inline uint64_t low_bits(uint64_t v, uint32_t n) {
  return v & (((uint64_t)1 << n) - 1);
}
// Base value plus extra bits of a length or distance entry, from the bits
// as they were before the entry was dropped.
inline uint32_t entry_decode(uint32_t e, uint64_t bits) {
  return entry_value(e) + (uint32_t)(low_bits(bits, entry_drop(e)) >> entry_shift(e));
}

const uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code lengths are sent.
const uint8_t CL_ORDER[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

enum TableKind { KIND_LITLEN, KIND_DIST, KIND_CL };

// What a symbol decodes to, before its codeword length is added: the kind
// flags, the value, and the extra bit count in the low byte.
uint32_t symbol_template(TableKind kind, uint32_t sym) {
  if (kind == KIND_CL) return E_LITERAL | (sym << 16); // the code-length symbol
  if (kind == KIND_DIST)
    return sym < 30 ? ((uint32_t)DIST_BASE[sym] << 16) | DIST_EXTRA[sym] : E_BAD;
  if (sym < 256) return E_LITERAL | (sym << 16);
  if (sym == 256) return E_END;
  if (sym < 286) return ((uint32_t)LENGTH_BASE[sym - 257] << 16) | LENGTH_EXTRA[sym - 257];
  return E_BAD; // 286 and 287 exist only in the fixed code
}

inline uint64_t load_u64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}
inline void copy8(uint8_t* dst, const uint8_t* src) {
  memcpy(dst, src, 8);
}

// Builds the lookup table for n code lengths (0 = unused symbol) with an
// index width of table_bits and room for capacity entries. Returns 0 for a
// complete code (or a lone codeword of length 1), 1 for an incomplete code
// (its missing codewords decode as invalid), 2 for over-subscribed lengths.
// *present is false when every length is 0; the table is then not touched.
int build_table(uint32_t* table, uint32_t table_bits, uint32_t capacity, const uint8_t* lens,
                uint32_t n, TableKind kind, bool* present) {
  uint32_t count[16] = {};
  for (uint32_t s = 0; s < n; s++) count[lens[s]]++;
  *present = count[0] != n;
  if (!*present) return 0;

  int32_t left = 1;
  uint32_t max_len = 0;
  for (uint32_t len = 1; len <= 15; len++) {
    left = 2 * left - (int32_t)count[len];
    if (left < 0) return 2;
    if (count[len]) max_len = len;
  }
  int result = (left > 0 && max_len != 1) ? 1 : 0;

  // Symbols by code length, in symbol order within a length; their codewords
  // follow canonically, bit-reversed since the first code bit comes first.
  uint32_t offset[17];
  offset[1] = 0;
  for (uint32_t len = 1; len <= 15; len++) offset[len + 1] = offset[len] + count[len];
  uint16_t sorted[288];
  for (uint32_t s = 0; s < n; s++)
    if (lens[s]) sorted[offset[lens[s]]++] = (uint16_t)s;
  uint32_t used = offset[15]; // offsets have advanced to the end of their lengths

  uint32_t next_code[16];
  uint32_t code = 0;
  count[0] = 0;
  for (uint32_t len = 1; len <= 15; len++) {
    code = (code + count[len - 1]) << 1;
    next_code[len] = code;
  }
  uint16_t reversed[288];
  for (uint32_t i = 0; i < used; i++) {
    uint32_t len = lens[sorted[i]];
    uint32_t c = next_code[len]++, r = 0;
    for (uint32_t b = 0; b < len; b++, c >>= 1) r = (r << 1) | (c & 1);
    reversed[i] = (uint16_t)r;
  }

  const uint32_t main_size = 1u << table_bits;
  if (left > 0)
    for (uint32_t i = 0; i < main_size; i++) table[i] = E_BAD;
  uint32_t next_free = main_size, prefix = ~0u, sub_start = 0, sub_bits = 0;
  for (uint32_t i = 0; i < used; i++) {
    uint32_t sym = sorted[i], len = lens[sym], r = reversed[i];
    uint32_t tmpl = symbol_template(kind, sym);
    if (len <= table_bits) {
      uint32_t e = tmpl + len + (len << 8);
      for (uint32_t j = r; j < main_size; j += 1u << len) table[j] = e;
      continue;
    }
    // Longer codewords sharing their first table_bits bits are neighbours in
    // this order, the longest last: one sub-table serves them all.
    if ((r & (main_size - 1)) != prefix) {
      prefix = r & (main_size - 1);
      uint32_t last = i;
      while (last + 1 < used && (reversed[last + 1] & (main_size - 1)) == prefix) last++;
      sub_bits = lens[sorted[last]] - table_bits;
      sub_start = next_free;
      next_free += 1u << sub_bits;
      if (next_free > capacity) return 2; // cannot happen with the sizes above
      if (left > 0)
        for (uint32_t j = 0; j < (1u << sub_bits); j++) table[sub_start + j] = E_BAD;
      table[prefix] = E_LINK | table_bits | (sub_bits << 8) | (sub_start << 16);
    }
    uint32_t sub_len = len - table_bits;
    uint32_t e = tmpl + sub_len + (sub_len << 8);
    for (uint32_t j = r >> table_bits; j < (1u << sub_bits); j += 1u << sub_len)
      table[sub_start + j] = e;
  }
  return result;
}

// Copies a match whose source starts before the output's first byte: those
// source bytes read as zero.
void copy_from_before_start(uint8_t* out, uint32_t dist, uint32_t length, const uint8_t* floor) {
  size_t back = (size_t)(out - floor);
  for (uint32_t i = 0; i < length; i++) out[i] = back + i >= dist ? floor[back + i - dist] : 0;
}

} // namespace

// The tables of the fixed codes are the same for every decode: built once,
// on the first fixed block, into zero-initialised storage that takes no room
// in the program file (with -fdata-sections mingw would put it in a .data$
// section, 9 KB of zeros in the setup program; named .bss it stays out).
struct FixedTables {
  uint32_t litlen[1u << LL_BITS];
  uint32_t dist[1u << D_BITS];
};
#if defined(_WIN32) && defined(__GNUC__)
static FixedTables fixed_storage __attribute__((section(".bss")));
#else
static FixedTables fixed_storage;
#endif

static bool build_fixed_tables() {
  uint8_t lens[288];
  memset(lens, 8, 144);
  memset(lens + 144, 9, 112);
  memset(lens + 256, 7, 24);
  memset(lens + 280, 8, 8);
  bool present;
  build_table(fixed_storage.litlen, LL_BITS, 1u << LL_BITS, lens, 288, KIND_LITLEN, &present);
  // 30 codewords of 5 bits leave two patterns without a symbol (invalid).
  memset(lens, 5, 30);
  build_table(fixed_storage.dist, D_BITS, 1u << D_BITS, lens, 30, KIND_DIST, &present);
  return true;
}

static const FixedTables& fixed_tables() {
  static const bool built = build_fixed_tables(); // once (thread-safe in the tools)
  (void)built;
  return fixed_storage;
}

struct DecoderWork {
  uint32_t litlen[LL_ENTRIES];
  uint32_t dist[D_ENTRIES];
  uint32_t cl[CL_ENTRIES];
  uint8_t lens[286 + 30];
  bool sink_failed;
  OutputSink* sink; // null when decoding straight into memory
  uint8_t* window;  // sink mode: WINDOW_SIZE of history, then REGION_SIZE
  uint8_t* floor;   // a match reaching below this reads zeros
  uint8_t* out;
  uint8_t* out_end;
};

// Buffers left by the last decode while keeping is on (zero-initialised: no
// start-up code). A decode takes them and gives them back when it ends, so a
// decode started inside another allocates its own.
enum KeptBuffer { KEPT_INPUT, KEPT_WORK, KEPT_WINDOW, KEPT_COUNT };
static struct {
  bool on;
  void* slot[KEPT_COUNT];
} kept;

static void* take_buffer(KeptBuffer which, size_t n) {
  void* block = kept.slot[which];
  kept.slot[which] = nullptr;
  return block ? block : heap_alloc(n);
}

static void give_back(KeptBuffer which, void* block) {
  if (kept.on && !kept.slot[which])
    kept.slot[which] = block;
  else
    heap_free(block);
}

void keep_decoder_buffers(bool keep) {
  kept.on = keep;
  if (!keep)
    for (void*& block : kept.slot) free_and_clear(block);
}

// ---------------------------------------------------------------------------
// Sinks

bool MemorySink::Write(const uint8_t* data, uint16_t count) {
  if (!cursor_) return false;
  if (count > capacity_ - written()) return false;
  memcpy(cursor_, data, count);
  cursor_ += count;
  return true;
}

bool FileSink::Write(const uint8_t* data, uint16_t count) {
  if (result_ != FILE_OK) return false;
  if (output_ == INVALID_FILE || !count) return true;
  result_ = file_write_exact(output_, data, count);
  if (result_ != FILE_OK) return false;
  if (written_) written_->Add(data, count);
  return true;
}

// ---------------------------------------------------------------------------
// Sources

bool MemorySource::Read(uint8_t* buffer, uint32_t count, uint32_t* got) {
  uint32_t n = size_ - at_;
  if (n > count) n = count;
  if (n) memcpy(buffer, data_ + at_, n);
  at_ += n;
  *got = n;
  return true;
}

void MemorySource::Unread(uint32_t count) {
  at_ -= count < at_ ? count : at_;
}

bool FileSource::Read(uint8_t* buffer, uint32_t count, uint32_t* got) {
  *got = file_read_some(file_, buffer, count);
  return true;
}

void FileSource::Unread(uint32_t count) {
  file_seek(file_, -(int32_t)count, FROM_CURRENT);
}

// ---------------------------------------------------------------------------
// Input adapter

StreamDecoder::StreamDecoder()
    : in_buffer_(nullptr), in_(nullptr), in_end_(nullptr), input_(nullptr), budget_(0),
      budgeted_(false), input_ended_(false), input_failed_(false), bitbuf_(0), bits_(0),
      virtual_bytes_(0) {}

StreamDecoder::~StreamDecoder() {
  CloseInput();
}

bool StreamDecoder::OpenInput(InputSource* input, uint32_t budget) {
  CloseInput();
  in_buffer_ = (uint8_t*)take_buffer(KEPT_INPUT, IN_CHUNK);
  if (!in_buffer_) return false;
  in_ = in_end_ = in_buffer_;
  input_ = input;
  budget_ = budget;
  budgeted_ = budget != 0;
  input_ended_ = input_failed_ = false;
  bitbuf_ = 0;
  bits_ = virtual_bytes_ = 0;
  return true;
}

// Moves the unread bytes to the front of the buffer and reads behind them;
// true when something was read.
// Sets input_ended_ at the end of the source or budget, and input_failed_ too
// when the source reports a failure (the decode is then abandoned).
bool StreamDecoder::Refill() {
  if (input_ended_) return false;
  size_t keep = (size_t)(in_end_ - in_);
  memmove(in_buffer_, in_, keep);
  in_ = in_buffer_;
  in_end_ = in_buffer_ + keep;
  uint32_t want = IN_CHUNK - (uint32_t)keep, got = 0;
  if (budgeted_ && want > budget_) want = budget_;
  if (want) {
    if (!input_->Read(in_buffer_ + keep, want, &got)) {
      input_failed_ = input_ended_ = true;
      return false;
    }
    if (got > want) got = want;
    if (budgeted_) budget_ -= got;
  }
  if (got == 0) input_ended_ = true;
  in_end_ += got;
  return got != 0;
}

void StreamDecoder::CloseInput() {
  if (input_ && in_buffer_) {
    // Give back what was read ahead: the unread buffer and the whole bytes
    // still in the bit buffer (the stand-in zero bytes were never read).
    uint32_t unread = (uint32_t)(in_end_ - in_);
    if (!Overrun()) unread += (bits_ - 8 * virtual_bytes_) / 8;
    if (unread) input_->Unread(unread);
  }
  give_back(KEPT_INPUT, in_buffer_);
  in_buffer_ = nullptr;
  in_ = in_end_ = nullptr;
  input_ = nullptr;
  budget_ = 0;
}

// Makes at least n (<= 56) bits available, one byte at a time, with zero
// bytes standing in once the input has ended.
void StreamDecoder::Ensure(uint32_t n) {
  while (bits_ < n) {
    if (in_ == in_end_ && !Refill()) {
      virtual_bytes_++;
      bits_ += 8;
      continue;
    }
    bitbuf_ |= (uint64_t)*in_++ << bits_;
    bits_ += 8;
  }
}

// Drops n consumed bits. A call rather than a macro: on the 32-bit setup
// program each 64-bit shift spelt out costs about 30 bytes, and the paths
// that drop bits this way run once per block header or near the end of the
// input (the fast loop keeps its bits in locals).
void StreamDecoder::Drop(uint32_t n) {
  bitbuf_ >>= n;
  bits_ -= n;
}

// Careful path: the next symbol of `table` (main index width index_bits),
// its bits dropped: its entry and its value (the literal, or a length or
// distance with its extra bits). False for an invalid code, and for one that
// took stand-in bits beyond the input.
bool StreamDecoder::TakeSymbol(const uint32_t* table, uint32_t index_bits, uint32_t* entry,
                               uint32_t* value) {
  uint32_t e = table[bitbuf_ & ((1u << index_bits) - 1)];
  if (e & E_LINK) {
    Drop(index_bits);
    e = table[entry_value(e) + (bitbuf_ & ((1u << entry_shift(e)) - 1))];
  }
  if (e & E_BAD) return false;
  uint64_t before = bitbuf_;
  Drop(entry_drop(e));
  *entry = e;
  *value = entry_decode(e, before);
  return !Overrun();
}

// ---------------------------------------------------------------------------
// Output

// Sink mode: writes the complete 32 KB runs and moves the last 32 KB of
// output, plus the incomplete run, to the front of the window.
int StreamDecoder::MakeRoom(DecoderWork* w) {
  uint8_t* run = w->window + WINDOW_SIZE;
  uint32_t runs = (uint32_t)(w->out - run) / WINDOW_SIZE;
  for (uint32_t k = 0; k < runs; k++) {
    if (!w->sink->Write(run + k * WINDOW_SIZE, (uint16_t)WINDOW_SIZE)) {
      w->sink_failed = true;
      return DECODE_BAD_DATA;
    }
  }
  uint8_t* boundary = run + runs * WINDOW_SIZE;
  size_t keep = (size_t)(w->out - boundary) + WINDOW_SIZE;
  memmove(w->window, boundary - WINDOW_SIZE, keep);
  w->out = w->window + keep;
  return DECODE_OK;
}

// Ends a decode: the complete runs produced so far are written; on success
// the rest follows as the final write (possibly of 0 bytes).
int StreamDecoder::Finish(DecoderWork* w, int status) {
  if (status != DECODE_OK && Overrun()) status = DECODE_BAD_DATA;
  if (!w->sink || w->sink_failed) return status;
  uint8_t* run = w->window + WINDOW_SIZE;
  for (; w->out - run >= (ptrdiff_t)WINDOW_SIZE; run += WINDOW_SIZE) {
    if (!w->sink->Write(run, (uint16_t)WINDOW_SIZE)) return status ? status : DECODE_BAD_DATA;
  }
  if (status == DECODE_OK && !w->sink->Write(run, (uint16_t)(w->out - run)))
    status = DECODE_BAD_DATA;
  return status;
}

// ---------------------------------------------------------------------------
// Blocks

int StreamDecoder::DecodeStored(DecoderWork* w) {
  Drop(bits_ & 7);
  Ensure(16);
  uint32_t len = (uint32_t)(bitbuf_ & 0xFFFF);
  Drop(16);
  if (input_failed_ || Overrun()) return DECODE_BAD_DATA;

  // Whole bytes still in the bit buffer come first.
  while (len && bits_ >= 8) {
    if (w->sink && w->out_end - w->out < (ptrdiff_t)OUT_MARGIN && MakeRoom(w))
      return DECODE_BAD_DATA;
    if (w->out == w->out_end) return DECODE_BAD_DATA; // memory buffer full
    uint8_t b = (uint8_t)bitbuf_;
    Drop(8);
    if (Overrun()) return DECODE_BAD_DATA;
    *w->out++ = b;
    len--;
  }
  if (!len) return DECODE_OK;
  bitbuf_ = 0; // the bits held are used up; drop the read-ahead copies

  while (len) {
    if (in_ == in_end_ && !Refill()) return DECODE_BAD_DATA;
    if (w->sink && w->out_end - w->out < (ptrdiff_t)OUT_MARGIN && MakeRoom(w))
      return DECODE_BAD_DATA;
    size_t n = len;
    if (n > (size_t)(in_end_ - in_)) n = (size_t)(in_end_ - in_);
    if (n > (size_t)(w->out_end - w->out)) n = (size_t)(w->out_end - w->out);
    if (n == 0) return DECODE_BAD_DATA; // memory buffer full
    memcpy(w->out, in_, n);
    w->out += n;
    in_ += n;
    len -= (uint32_t)n;
  }
  return DECODE_OK;
}

// Reads the code lengths of a dynamic block and builds its tables into
// w->litlen and w->dist.
int StreamDecoder::DecodeDynamicHeader(DecoderWork* w) {
  Ensure(14);
  uint32_t hlit = (uint32_t)(bitbuf_ & 31) + 257;
  uint32_t hdist = (uint32_t)((bitbuf_ >> 5) & 31) + 1;
  uint32_t hclen = (uint32_t)((bitbuf_ >> 10) & 15) + 4;
  Drop(14);
  if (hlit > 286 || hdist > 30) return DECODE_BAD_DATA;

  uint8_t cl_lens[19] = {};
  for (uint32_t i = 0; i < hclen; i++) {
    Ensure(3);
    cl_lens[CL_ORDER[i]] = (uint8_t)(bitbuf_ & 7);
    Drop(3);
  }
  if (input_failed_) return DECODE_BAD_DATA;
  bool present;
  int r = build_table(w->cl, CL_BITS, CL_ENTRIES, cl_lens, 19, KIND_CL, &present);
  if (r) return r;
  if (!present) return DECODE_BAD_DATA; // no code-length code at all

  uint32_t total = hlit + hdist, i = 0;
  uint8_t prev = 0;
  while (i < total) {
    Ensure(CL_BITS + 7);
    uint32_t e = w->cl[bitbuf_ & (CL_ENTRIES - 1)];
    if (e & E_BAD) return DECODE_BAD_DATA;
    Drop(entry_drop(e));
    uint32_t sym = entry_value(e), run;
    uint8_t value = 0;
    if (sym < 16) {
      w->lens[i++] = prev = (uint8_t)sym;
      continue;
    }
    if (sym == 16) {
      run = 3 + (uint32_t)(bitbuf_ & 3);
      Drop(2);
      value = prev;
    } else if (sym == 17) {
      run = 3 + (uint32_t)(bitbuf_ & 7);
      Drop(3);
      prev = 0;
    } else {
      run = 11 + (uint32_t)(bitbuf_ & 127);
      Drop(7);
      prev = 0;
    }
    if (run > total - i) return DECODE_BAD_DATA;
    memset(w->lens + i, value, run);
    i += run;
  }
  if (input_failed_) return DECODE_BAD_DATA;

  bool litlen_present, dist_present;
  r = build_table(w->litlen, LL_BITS, LL_ENTRIES, w->lens, hlit, KIND_LITLEN, &litlen_present);
  if (r) return r;

  r = build_table(w->dist, D_BITS, D_ENTRIES, w->lens + hlit, hdist, KIND_DIST, &dist_present);
  if (r) return r;
  if (!dist_present) // a block of literals only: any length symbol is an error
    for (uint32_t k = 0; k < (1u << D_BITS); k++) w->dist[k] = E_BAD;
  if (!litlen_present) return DECODE_BAD_DATA;
  return DECODE_OK;
}

// Decodes the symbols of one fixed or dynamic block up to its end-of-block
// symbol.
int StreamDecoder::DecodeHuffman(DecoderWork* w, const uint32_t* ll, const uint32_t* dt) {
  uint8_t* const floor = w->floor;
  for (;;) {
    if (in_end_ - in_ < (ptrdiff_t)IN_MARGIN && !input_ended_) {
      Refill();
      if (input_failed_) return DECODE_BAD_DATA;
    }
    if (w->sink && w->out_end - w->out < (ptrdiff_t)OUT_MARGIN && MakeRoom(w))
      return DECODE_BAD_DATA;

    if (in_end_ - in_ >= (ptrdiff_t)IN_MARGIN && w->out_end - w->out >= (ptrdiff_t)OUT_MARGIN) {
      // Fast loop: input and output room are checked once per iteration.
      // The next literal/length entry is looked up as soon as the bits of
      // the current symbol are dropped, before the refill and the copy, so
      // that the table load overlaps with them.
      const uint8_t* in = in_;
      const uint8_t* const in_limit = in_end_ - IN_MARGIN;
      uint8_t* out = w->out;
      uint8_t* const out_limit = w->out_end - OUT_MARGIN;
      uint64_t bitbuf = bitbuf_;
      // Only the low 6 bits of `bits` count: whole entries are subtracted
      // from it, and an entry is congruent to its drop count modulo 64.
      uint32_t bits = bits_;
      int result = -1;
      const uint32_t ll_mask = (1u << LL_BITS) - 1, d_mask = (1u << D_BITS) - 1;
      // After a refill all 64 bits of bitbuf are input bits, of which at
      // least 56 are counted as held; the bits above the count are the next
      // bytes, which the following refill ORs in again unchanged.
#define REFILL() (bitbuf |= load_u64(in) << (bits & 63), in += 7 - ((bits >> 3) & 7), bits |= 56)
#define FAST_DROP(e) (bitbuf >>= ((e)&63), bits -= (e))
#define LITERAL(e) (*out++ = (uint8_t)((e) >> 16))
      REFILL();
      uint32_t e = ll[bitbuf & ll_mask];
      do {
        REFILL();
        if (e & E_LITERAL) {
          // Up to four literals from the main table (4 * 11 bits) before the
          // next refill; the lookup behind them still sees 20 input bits.
          FAST_DROP(e);
          LITERAL(e);
          e = ll[bitbuf & ll_mask];
          if (e & E_LITERAL) {
            FAST_DROP(e);
            LITERAL(e);
            e = ll[bitbuf & ll_mask];
            if (e & E_LITERAL) {
              FAST_DROP(e);
              LITERAL(e);
              e = ll[bitbuf & ll_mask];
              if (e & E_LITERAL) {
                FAST_DROP(e);
                LITERAL(e);
                e = ll[bitbuf & ll_mask];
              }
            }
          }
          continue;
        }
        if (e & E_LINK) {
          FAST_DROP(e);
          e = ll[entry_value(e) + (bitbuf & ((1u << entry_shift(e)) - 1))];
          if (e & E_LITERAL) {
            FAST_DROP(e);
            LITERAL(e);
            e = ll[bitbuf & ll_mask];
            continue;
          }
        }
        if (e & (E_END | E_BAD)) {
          if (e & E_BAD) {
            result = DECODE_BAD_DATA;
          } else {
            FAST_DROP(e);
            result = DECODE_OK;
          }
          break;
        }
        uint64_t saved = bitbuf;
        FAST_DROP(e);
        uint32_t length = entry_decode(e, saved);
        uint32_t d = dt[bitbuf & d_mask];
        if (d & E_LINK) {
          FAST_DROP(d);
          d = dt[entry_value(d) + (bitbuf & ((1u << entry_shift(d)) - 1))];
        }
        if (d & E_BAD) {
          result = DECODE_BAD_DATA;
          break;
        }
        saved = bitbuf;
        FAST_DROP(d);
        uint32_t dist = entry_decode(d, saved);
        e = ll[bitbuf & ll_mask]; // at most 48 bits used since the refill

        if (dist > (size_t)(out - floor)) {
          copy_from_before_start(out, dist, length, floor);
          out += length;
          continue;
        }
        const uint8_t* src = out - dist;
        uint8_t* end = out + length;
        if (dist >= 8) {
          // Words: at least 40 bytes, up to 7 past the end (OUT_MARGIN).
          copy8(out, src);
          copy8(out + 8, src + 8);
          copy8(out + 16, src + 16);
          copy8(out + 24, src + 24);
          copy8(out + 32, src + 32);
          out += 40;
          src += 40;
          while (out < end) {
            copy8(out, src);
            out += 8;
            src += 8;
          }
        } else if (dist == 1) {
          uint64_t v = 0x0101010101010101ull * *src;
          for (; out < end; out += 8) memcpy(out, &v, 8);
        } else {
          // A word at a time, advancing by the distance: each step writes
          // `dist` good bytes (the rest is rewritten by the next step).
          for (; out < end; out += dist, src += dist) {
            uint64_t v;
            memcpy(&v, src, 8);
            memcpy(out, &v, 8);
          }
        }
        out = end;
      } while (in <= in_limit && out <= out_limit);
#undef REFILL
#undef FAST_DROP
#undef LITERAL
      in_ = in;
      w->out = out;
      bitbuf_ = bitbuf;
      bits_ = bits & 63;
      if (result >= 0) return result;
      continue;
    }

    // Careful path: one symbol, with exact input and output bounds.
    Ensure(48);
    if (input_failed_) return DECODE_BAD_DATA;
    uint32_t e, length, dist;
    if (!TakeSymbol(ll, LL_BITS, &e, &length)) return DECODE_BAD_DATA;
    if (e & E_LITERAL) {
      if (w->out == w->out_end) return DECODE_BAD_DATA; // memory buffer full
      *w->out++ = (uint8_t)length;
      continue;
    }
    if (e & E_END) return DECODE_OK;
    if (!TakeSymbol(dt, D_BITS, &e, &dist)) return DECODE_BAD_DATA;
    if ((size_t)(w->out_end - w->out) < length) return DECODE_BAD_DATA; // memory buffer full
    if (dist > (size_t)(w->out - floor)) {
      copy_from_before_start(w->out, dist, length, floor);
      w->out += length;
    } else {
      const uint8_t* src = w->out - dist;
      for (uint32_t k = 0; k < length; k++) *w->out++ = *src++;
    }
  }
}

int StreamDecoder::Run(DecoderWork* w) {
  w->sink_failed = false;
  for (;;) {
    Ensure(4);
    uint32_t h = (uint32_t)(bitbuf_ & 15);
    Drop(4);
    if (input_failed_ || Overrun()) return Finish(w, DECODE_BAD_DATA);
    int status;
    switch (h & 7) {
    case 5: {
      const FixedTables& fixed = fixed_tables();
      status = DecodeHuffman(w, fixed.litlen, fixed.dist);
      break;
    }
    case 6:
      status = DecodeDynamicHeader(w);
      if (status == DECODE_OK) status = DecodeHuffman(w, w->litlen, w->dist);
      break;
    case 7:
      status = DecodeStored(w);
      break;
    default:
      status = DECODE_BAD_BLOCK;
      break;
    }
    if (status != DECODE_OK) return Finish(w, status);
    if (h & 8) return Finish(w, DECODE_OK);
  }
}

int StreamDecoder::Decode(OutputSink* sink, InputSource* input, uint32_t budget) {
  if (!input || !input->IsReady() || !sink || !sink->IsReady()) return DECODE_BAD_DATA;
  if (!OpenInput(input, budget)) return DECODE_NO_MEMORY;
  int status = DECODE_NO_MEMORY;
  DecoderWork* w = (DecoderWork*)take_buffer(KEPT_WORK, sizeof(DecoderWork));
  uint8_t* window = (uint8_t*)take_buffer(KEPT_WINDOW, WINDOW_SIZE + REGION_SIZE);
  if (w && window) {
    memset(window, 0, WINDOW_SIZE); // history before the first byte reads as zeros
    w->sink = sink;
    w->window = w->floor = window;
    w->out = window + WINDOW_SIZE;
    w->out_end = window + WINDOW_SIZE + REGION_SIZE;
    status = Run(w);
  }
  give_back(KEPT_WINDOW, window);
  give_back(KEPT_WORK, w);
  CloseInput();
  return status;
}

int StreamDecoder::DecodeInto(uint8_t* dest, uint32_t capacity, InputSource* input, uint32_t budget,
                              uint32_t* produced) {
  if (produced) *produced = 0;
  if (!input || !input->IsReady() || !dest) return DECODE_BAD_DATA;
  if (!OpenInput(input, budget)) return DECODE_NO_MEMORY;
  int status = DECODE_NO_MEMORY;
  DecoderWork* w = (DecoderWork*)take_buffer(KEPT_WORK, sizeof(DecoderWork));
  if (w) {
    w->sink = nullptr;
    w->window = nullptr;
    w->floor = w->out = dest;
    w->out_end = dest + capacity;
    status = Run(w);
    if (produced) *produced = (uint32_t)(w->out - dest);
  }
  give_back(KEPT_WORK, w);
  CloseInput();
  return status;
}

int DecodeToMemory(uint8_t* destination, uint32_t capacity, InputSource* input, uint32_t budget,
                   uint32_t* produced) {
  StreamDecoder decoder;
  return decoder.DecodeInto(destination, capacity, input, budget, produced) == DECODE_OK;
}

int DecodeToFile(FileHandle output, InputSource* input, uint32_t budget) {
  StreamDecoder decoder;
  FileSink sink(output);
  return decoder.Decode(&sink, input, budget) == DECODE_OK;
}
