// Encoder of the package's compressed stream format (the decoder's inverse).
// Compression itself is Deflate (libdeflate, or zlib where libdeflate is not
// available); its raw output is transcoded into this format's block framing.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <vector>

namespace pakwiz {

// Data is compressed in pieces of this size at most, each piece on its own
// (a back-reference never reaches into an earlier piece), so that a file of
// any size is encoded in bounded memory. It is a multiple of the stored
// block size: stored data is framed as if it were one piece.
const size_t ENCODE_PIECE = 64 * 65535;

// Highest level accepted; 0 means stored blocks only.
int max_compression_level();
int default_compression_level();

// Encodes `size` bytes into one stream, piece by piece (ENCODE_PIECE). At
// level 0, or for each piece that compression does not shrink, the data is
// stored: 3 bytes of framing per block of up to 65,535 bytes.
std::vector<uint8_t> encode_stream(const uint8_t* data, size_t size, int level);

class EncoderBits;

// The same encoding, fed a piece at a time: the stream's bytes go to `sink`
// as they are made, so that memory stays bounded by one piece (the piece,
// its compressed form and the compressor's state). Feeding the pieces that
// encode_stream would cut gives the same bytes.
class StreamEncoder {
public:
  typedef std::function<void(const uint8_t* data, size_t size)> Sink;
  StreamEncoder(int level, Sink sink);
  ~StreamEncoder();
  // Encodes one piece (at most ENCODE_PIECE bytes for bounded memory);
  // `last` ends the stream. Nothing may be added after the last piece.
  void add(const uint8_t* data, size_t size, bool last);
  // Stream bytes handed to the sink so far.
  uint64_t written() const { return written_; }

private:
  void flush(bool last);
  int level_;
  Sink sink_;
  std::vector<uint8_t> pending_, raw_;
  std::unique_ptr<EncoderBits> writer_;
  uint64_t written_ = 0;
};

} // namespace pakwiz
