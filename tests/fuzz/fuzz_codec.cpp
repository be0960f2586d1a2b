// Arbitrary bytes through the encoder and back through the decoder.
// Input: a level byte (modulo the highest level + 1), then the data.
// The stream must decode to the data, leave the input position at its end,
// and never be longer than stored blocks would be.
#include <string.h>

#include <vector>

#include "builder/encoder.h"
#include "decode/stream_decoder.h"
#include "fuzz/fuzz_input.h"

// The decoder keeps its buffers, as during an installation: fresh ones
// would make their page faults most of the run (the decoder target tests
// fresh ones too).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  keep_decoder_buffers(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int level = data[0] % (pakwiz::max_compression_level() + 1);
  const uint8_t* content = data + 1;
  size_t length = size - 1;
  std::vector<uint8_t> stream = pakwiz::encode_stream(content, length, level);
  size_t blocks = length == 0 ? 1 : (length + 65534) / 65535;
  FUZZ_CHECK(stream.size() <= length + 3 * blocks);

  // The stream followed by other bytes, which the decoder must leave alone.
  std::vector<uint8_t> bytes = stream;
  bytes.insert(bytes.end(), 8, 0x5A);
  MemorySource input(bytes.data(), (uint32_t)bytes.size());
  std::vector<uint8_t> out(length + 1);
  uint32_t produced = 0;
  FUZZ_CHECK(DecodeToMemory(out.data(), (uint32_t)length, &input, 0, &produced) == 1);
  FUZZ_CHECK(produced == length);
  FUZZ_CHECK(length == 0 || memcmp(out.data(), content, length) == 0);
  FUZZ_CHECK(input.position() == stream.size());
  return 0;
}
