// The encoder: a Deflate compressor does the hard part, and its raw output is
// transcoded into this format's framing. The two differ only in framing:
//
//   raw Deflate                      this format
//   3-bit header, BFINAL + BTYPE     4-bit header: 5 fixed, 6 dynamic, 7 stored, +8 last
//   stored: LEN, NLEN                stored: LEN only
//   code-length code lengths in      in the order 18, 17, 16, 0, 1, ..., 15, with
//   the order 16, 17, 18, 0, 8, ...  HCLEN recomputed for that order
//
// Everything else (code lengths, Huffman codes, symbols) is the same bit for
// bit, so the transcoder parses each block only to find where it ends and
// copies its bits behind the new header. Codeword assignment is canonical by
// symbol, so sending the code-length code lengths in another order changes
// nothing that follows them.
//
// The compressor is libdeflate, or zlib in builds without it (the Windows
// builder); both produce complete Huffman codes, which the decoder requires.
#include "builder/encoder.h"

#include <string.h>

#include <memory>

#ifdef PAKWIZ_ENCODER_ZLIB
#include <zlib.h>
#else
#include <libdeflate.h>
#endif

namespace pakwiz {

// Bits in the order the decoder reads them, least significant first.
class EncoderBits {
public:
  explicit EncoderBits(std::vector<uint8_t>& out) : out_(out) {}
  void put(uint32_t value, unsigned count) { // count <= 32
    acc_ |= (uint64_t)(value & (count == 32 ? 0xFFFFFFFFu : ((1u << count) - 1))) << used_;
    used_ += count;
    while (used_ >= 8) {
      out_.push_back((uint8_t)acc_);
      acc_ >>= 8;
      used_ -= 8;
    }
  }
  void align() {
    if (used_) put(0, 8 - used_);
  }
  void bytes(const uint8_t* p, size_t n) { // only when aligned
    out_.insert(out_.end(), p, p + n);
  }
  // Bits written so far, counting those handed out by take_bytes().
  uint64_t bits() const { return 8 * (taken_ + out_.size()) + used_; }
  // A point to come back to (only before take_bytes() is called again).
  struct Mark {
    size_t size;
    uint64_t acc;
    unsigned used;
  };
  Mark mark() const { return Mark{out_.size(), acc_, used_}; }
  void rewind(const Mark& m) {
    out_.resize(m.size);
    acc_ = m.acc;
    used_ = m.used;
  }
  // Hands the complete bytes to `sink` and forgets them; a partial byte stays.
  template <class Sink> void take_bytes(Sink& sink) {
    if (out_.empty()) return;
    sink(out_.data(), out_.size());
    taken_ += out_.size();
    out_.clear();
  }

private:
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  unsigned used_ = 0;
  uint64_t taken_ = 0;
};

namespace {

typedef EncoderBits BitWriter;

#ifdef PAKWIZ_ENCODER_ZLIB
const int MAX_LEVEL = 9;
#else
const int MAX_LEVEL = 12;
#endif

const size_t STORED_MAX = 65535;

class BitReader {
public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool failed() const { return failed_; }
  size_t position() const { return pos_; }
  uint32_t get(unsigned count) { // count <= 32
    uint32_t v = peek_at(pos_, count);
    pos_ += count;
    return v;
  }
  uint32_t peek_at(size_t pos, unsigned count) {
    uint32_t v = 0;
    for (unsigned i = 0; i < count; i++, pos++) {
      if (pos / 8 >= size_) {
        failed_ = true;
        break;
      }
      v |= (uint32_t)((data_[pos / 8] >> (pos % 8)) & 1) << i;
    }
    return v;
  }
  void align() { pos_ = (pos_ + 7) & ~(size_t)7; }
  const uint8_t* bytes(size_t n) { // only when aligned
    if (pos_ / 8 + n > size_) {
      failed_ = true;
      return nullptr;
    }
    const uint8_t* p = data_ + pos_ / 8;
    pos_ += 8 * n;
    return p;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// A canonical Huffman code for parsing: counts per length and the symbols in
// code order.
struct Code {
  uint16_t count[16];
  uint16_t symbol[288];
  bool make(const uint8_t* lens, unsigned n) {
    memset(count, 0, sizeof count);
    for (unsigned s = 0; s < n; s++) count[lens[s]]++;
    uint16_t offs[16];
    offs[1] = 0;
    for (unsigned len = 1; len < 15; len++) offs[len + 1] = offs[len] + count[len];
    for (unsigned s = 0; s < n; s++)
      if (lens[s]) symbol[offs[lens[s]]++] = (uint16_t)s;
    return count[0] != n;
  }
  int decode(BitReader& in) const {
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= 15; len++) {
      code |= (int)in.get(1);
      int n = count[len];
      if (code - n < first) return in.failed() ? -1 : symbol[index + (code - first)];
      index += n;
      first = (first + n) << 1;
      code <<= 1;
    }
    return -1;
  }
};

const uint8_t RAW_CL_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const uint8_t OUR_CL_ORDER[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Skips the symbols of one block up to its end-of-block symbol.
bool skip_symbols(BitReader& in, const Code& litlen, const Code& dist) {
  for (;;) {
    int sym = litlen.decode(in);
    if (sym < 0 || sym > 285) return false;
    if (sym == 256) return true;
    if (sym < 256) continue;
    in.get(LENGTH_EXTRA[sym - 257]);
    int d = dist.decode(in);
    if (d < 0 || d > 29) return false;
    in.get(DIST_EXTRA[d]);
    if (in.failed()) return false;
  }
}

void copy_bits(BitReader& in, size_t from, size_t to, BitWriter& out) {
  for (size_t pos = from; pos < to;) {
    unsigned n = to - pos < 32 ? (unsigned)(to - pos) : 32;
    out.put(in.peek_at(pos, n), n);
    pos += n;
  }
}

// Transcodes a raw Deflate stream behind what `out` holds. Its last block is
// marked last only when `final`: a stream may be made of several raw streams,
// one per piece of the data. False when it cannot be parsed.
bool transcode(const uint8_t* raw, size_t size, BitWriter& out, bool final) {
  BitReader in(raw, size);
  for (;;) {
    uint32_t raw_last = in.get(1), type = in.get(2);
    uint32_t last = final ? raw_last : 0;
    if (in.failed()) return false;
    if (type == 0) {
      out.put(7 | (last << 3), 4);
      in.align();
      uint32_t len = in.get(16);
      in.get(16); // NLEN, which this format does not have
      const uint8_t* p = in.bytes(len);
      if (!p) return false;
      out.align();
      out.put(len, 16);
      out.bytes(p, len);
    } else if (type == 1) {
      out.put(5 | (last << 3), 4);
      uint8_t lens[288];
      memset(lens, 8, 144);
      memset(lens + 144, 9, 112);
      memset(lens + 256, 7, 24);
      memset(lens + 280, 8, 8);
      Code litlen, dist;
      litlen.make(lens, 288);
      memset(lens, 5, 30);
      dist.make(lens, 30);
      size_t from = in.position();
      if (!skip_symbols(in, litlen, dist)) return false;
      copy_bits(in, from, in.position(), out);
    } else if (type == 2) {
      out.put(6 | (last << 3), 4);
      uint32_t hlit = in.get(5), hdist = in.get(5), hclen = in.get(4) + 4;
      uint8_t cl_lens[19] = {};
      for (uint32_t i = 0; i < hclen; i++) cl_lens[RAW_CL_ORDER[i]] = (uint8_t)in.get(3);
      unsigned our_hclen = 19;
      while (our_hclen > 4 && cl_lens[OUR_CL_ORDER[our_hclen - 1]] == 0) our_hclen--;
      out.put(hlit, 5);
      out.put(hdist, 5);
      out.put(our_hclen - 4, 4);
      for (unsigned i = 0; i < our_hclen; i++) out.put(cl_lens[OUR_CL_ORDER[i]], 3);

      // The run-length coded code lengths and the symbols are copied as they
      // are; they are parsed only to find the block's end.
      size_t from = in.position();
      Code cl;
      if (!cl.make(cl_lens, 19)) return false;
      unsigned total = hlit + 257 + hdist + 1;
      uint8_t lens[320] = {};
      unsigned i = 0;
      while (i < total) {
        int sym = cl.decode(in);
        if (sym < 0) return false;
        if (sym < 16) {
          lens[i++] = (uint8_t)sym;
          continue;
        }
        unsigned run;
        uint8_t value = 0;
        if (sym == 16) {
          if (i == 0) return false;
          value = lens[i - 1];
          run = 3 + in.get(2);
        } else if (sym == 17) {
          run = 3 + in.get(3);
        } else {
          run = 11 + in.get(7);
        }
        if (run > total - i) return false;
        memset(lens + i, value, run);
        i += run;
      }
      Code litlen, dist;
      if (!litlen.make(lens, hlit + 257)) return false;
      dist.make(lens + hlit + 257, hdist + 1);
      if (!skip_symbols(in, litlen, dist)) return false;
      copy_bits(in, from, in.position(), out);
    } else {
      return false;
    }
    if (raw_last) break;
  }
  return !in.failed();
}

// Stored blocks of up to 65,535 bytes: the 4-bit header, padding to a byte,
// the 16-bit length and the bytes. The last block is marked last only when
// `final`.
void append_stored(BitWriter& out, const uint8_t* data, size_t size, bool final) {
  do {
    size_t n = size < STORED_MAX ? size : STORED_MAX;
    bool last = final && n == size;
    out.put(last ? 0x0F : 0x07, 4);
    out.align();
    out.put((uint32_t)n, 16);
    out.bytes(data, n);
    data += n;
    size -= n;
  } while (size > 0);
}

size_t stored_size(size_t size) {
  size_t blocks = size == 0 ? 1 : (size + STORED_MAX - 1) / STORED_MAX;
  return size + 3 * blocks;
}

#ifdef PAKWIZ_ENCODER_ZLIB
bool compress_raw(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& raw) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  raw.resize(deflateBound(&zs, (uLong)size) + 16);
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = (uInt)size;
  zs.next_out = raw.data();
  zs.avail_out = (uInt)raw.size();
  int r = deflate(&zs, Z_FINISH);
  raw.resize(zs.total_out);
  deflateEnd(&zs);
  return r == Z_STREAM_END;
}
#else
// One compressor per thread and level, kept: making one for the higher
// levels costs more than compressing a small file, and a project may mix
// levels from file to file.
struct CompressorCache {
  libdeflate_compressor* compressor[MAX_LEVEL + 1] = {};
  ~CompressorCache() {
    for (libdeflate_compressor* c : compressor)
      if (c) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* get(int wanted) {
    if (wanted < 0 || wanted > MAX_LEVEL) return nullptr;
    if (!compressor[wanted]) compressor[wanted] = libdeflate_alloc_compressor(wanted);
    return compressor[wanted];
  }
};

bool compress_raw(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& raw) {
  static thread_local CompressorCache cache;
  libdeflate_compressor* c = cache.get(level);
  if (!c) return false;
  raw.resize(libdeflate_deflate_compress_bound(c, size));
  size_t n = libdeflate_deflate_compress(c, data, size, raw.data(), raw.size());
  raw.resize(n);
  return n != 0;
}
#endif

} // namespace

int max_compression_level() {
  return MAX_LEVEL;
}
int default_compression_level() {
  return MAX_LEVEL;
}

StreamEncoder::StreamEncoder(int level, Sink sink)
    : level_(level > MAX_LEVEL ? MAX_LEVEL : level), sink_(std::move(sink)),
      writer_(std::make_unique<EncoderBits>(pending_)) {}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::add(const uint8_t* data, size_t size, bool last) {
  EncoderBits& out = *writer_;
  if (level_ > 0) {
    // Compressed, unless that does not make the piece smaller than stored
    // blocks would; a piece starting on a byte boundary that is the whole
    // stream thus comes out as encode_stream always made it.
    EncoderBits::Mark start = out.mark();
    uint64_t start_bits = out.bits();
    if (compress_raw(data, size, level_, raw_) && transcode(raw_.data(), raw_.size(), out, last) &&
        (out.bits() - start_bits + 7) / 8 < stored_size(size)) {
      flush(last);
      return;
    }
    out.rewind(start);
  }
  append_stored(out, data, size, last);
  flush(last);
}

void StreamEncoder::flush(bool last) {
  if (last) writer_->align();
  auto sink = [this](const uint8_t* p, size_t n) {
    sink_(p, n);
    written_ += n;
  };
  writer_->take_bytes(sink);
}

std::vector<uint8_t> encode_stream(const uint8_t* data, size_t size, int level) {
  std::vector<uint8_t> out;
  StreamEncoder encoder(level,
                        [&out](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); });
  do {
    size_t n = size < ENCODE_PIECE ? size : ENCODE_PIECE;
    encoder.add(data, n, n == size);
    data += n;
    size -= n;
  } while (size > 0);
  return out;
}

} // namespace pakwiz
