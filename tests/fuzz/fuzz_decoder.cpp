// Arbitrary bytes into the stream decoder, read from memory.
// Input: u32 capacity (little-endian, taken modulo 256 KB), a flag byte (bit 0:
// budgeted read, bits 1-2: budget beyond the stream, bits 3-4: 0 = the
// decoder allocates fresh buffers, else it keeps them from one decode to the
// next, as during an installation), then the stream.
// Checks beyond the sanitizers: the memory path never goes past its
// capacity; the sink path writes runs of 32,768 bytes and a final rest; both
// paths agree on the result, the bytes and the input position.
#include <sanitizer/asan_interface.h>
#include <string.h>

#include <vector>

#include "decode/stream_decoder.h"
#include "fuzz/fuzz_input.h"

namespace {

const size_t MAX_SINK_BYTES = 64u << 20;
const uint32_t MAX_CAPACITY = 1u << 18;
const size_t GUARD_BYTES = 32;

// One output buffer for every run: a fresh one of up to 256 KB each run
// would cost more page faults than the decode itself. It is filled anew
// (a byte read before the decoder wrote it differs from the sink's zero
// history); the bytes behind the run's capacity are a guard that must keep
// its fill, and the sanitizer refuses any access beyond the guard, as it
// would past a buffer of its own.
uint8_t* output_buffer(uint32_t capacity) {
  static uint8_t* buffer = new uint8_t[MAX_CAPACITY + GUARD_BYTES];
  ASAN_UNPOISON_MEMORY_REGION(buffer, MAX_CAPACITY + GUARD_BYTES);
  memset(buffer, 0xEE, capacity + GUARD_BYTES);
  ASAN_POISON_MEMORY_REGION(buffer + capacity + GUARD_BYTES, MAX_CAPACITY - capacity);
  return buffer;
}

class CheckingSink : public OutputSink {
public:
  // The bytes go into a vector kept from run to run (cleared), which saves
  // growing a new one through fresh pages every run.
  explicit CheckingSink(std::vector<uint8_t>& into) : bytes(into) { bytes.clear(); }
  int IsReady() override { return 1; }
  bool Write(const uint8_t* data, uint16_t count) override {
    FUZZ_CHECK(count <= 32768);
    FUZZ_CHECK(!short_seen); // only the final write may be short
    if (count < 32768) short_seen = true;
    if (bytes.size() + count > MAX_SINK_BYTES) return false;
    bytes.insert(bytes.end(), data, data + count);
    return true;
  }
  std::vector<uint8_t>& bytes;
  bool short_seen = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  uint32_t capacity =
      (data[0] | (data[1] << 8) | (data[2] << 16) | ((uint32_t)data[3] << 24)) % MAX_CAPACITY;
  uint8_t flags = data[4];
  const uint8_t* stream = data + 5;
  size_t length = size - 5;
  uint32_t budget = (flags & 1) ? (uint32_t)length + ((flags >> 1) & 3) : 0;
  if ((flags & 1) && budget == 0) return 0; // an empty stream cannot be budgeted

  // Kept buffers save the page faults of fresh ones, most of a run's cost;
  // one input in four gets fresh ones, so that a use after free inside the
  // decoder still shows.
  keep_decoder_buffers((flags & 0x18) != 0);

  // A budget beyond the data ends where the data ends.
  uint8_t* buffer = output_buffer(capacity);
  MemorySource memory_input(stream, (uint32_t)length);
  uint32_t produced = 0;
  StreamDecoder memory_decoder;
  int memory_status = memory_decoder.DecodeInto(buffer, capacity, &memory_input, budget, &produced);
  uint32_t memory_position = memory_input.position();
  FUZZ_CHECK(produced <= capacity);
  for (size_t i = capacity; i < capacity + GUARD_BYTES; i++) FUZZ_CHECK(buffer[i] == 0xEE);
  FUZZ_CHECK(memory_position <= length);

  MemorySource sink_input(stream, (uint32_t)length);
  static std::vector<uint8_t> sink_bytes;
  CheckingSink sink(sink_bytes);
  StreamDecoder sink_decoder;
  int sink_status = sink_decoder.Decode(&sink, &sink_input, budget);
  uint32_t sink_position = sink_input.position();
  FUZZ_CHECK(sink_status >= DECODE_OK && sink_status <= DECODE_NO_MEMORY);
  FUZZ_CHECK(sink_status != DECODE_OK || sink.short_seen); // the final write happened

  if (sink_status == DECODE_OK && sink.bytes.size() <= capacity) {
    FUZZ_CHECK(memory_status == DECODE_OK);
    FUZZ_CHECK(produced == sink.bytes.size());
    FUZZ_CHECK(produced == 0 || memcmp(buffer, sink.bytes.data(), produced) == 0);
    FUZZ_CHECK(memory_position == sink_position);
  }
  if (memory_status == DECODE_OK) {
    FUZZ_CHECK(sink_status == DECODE_OK && sink.bytes.size() == produced);
  }
  return 0;
}
