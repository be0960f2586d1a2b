// Decoder of the package's compressed streams: Deflate at heart, with a 4-bit
// block header (type = h & 7: 5 fixed, 6 dynamic, 7 stored; last block = h & 8),
// stored blocks with LEN only (no NLEN), and code-length code lengths sent in
// the order 18, 17, 16, 0, 1, ..., 15.
//
// Input comes from an open file handle positioned at the stream's first byte.
// With a budget of 0 the handle is read directly; with a non-zero budget the
// bytes are fetched through the archive reader (ReadArchive, decode/archive.h),
// which may continue in the next volume file. After a decode the handle's
// position is just behind the last byte the decoder took from it.
//
// Output goes to an OutputSink in writes of at most 32,768 bytes.
#pragma once
#include <stdint.h>

#include "common/file.h"

// Results of a decode (DecodeBlocks and the block decoders).
enum DecodeStatus {
  DECODE_OK = 0,
  DECODE_BAD_DATA = 1,      // invalid code, bad header values, input exhausted, sink full
  DECODE_BAD_BLOCK = 2,     // unknown block type, over-subscribed code lengths
  DECODE_NO_MEMORY = 3,     // window or lookup tables could not be allocated
};

class OutputSink {
 public:
  virtual ~OutputSink() {}
  virtual int IsReady() = 0;
  // Takes the next count decoded bytes; false stops the decode (status 1).
  virtual bool Write(const uint8_t* data, uint16_t count) = 0;
};

// Copies into a caller's buffer, never past its capacity.
class MemorySink : public OutputSink {
 public:
  MemorySink(uint8_t* destination, uint32_t capacity)
      : start_(destination), cursor_(destination), capacity_(capacity) {}
  int IsReady() override { return cursor_ != nullptr; }
  bool Write(const uint8_t* data, uint16_t count) override;
  uint32_t written() const { return (uint32_t)(cursor_ - start_); }

 private:
  uint8_t* start_;
  uint8_t* cursor_;
  uint32_t capacity_;
};

// Writes to an open file; write failures are not reported here (the caller
// judges the file by its checksum).
class FileSink : public OutputSink {
 public:
  explicit FileSink(FileHandle output) : output_(output) {}
  int IsReady() override { return 1; }
  bool Write(const uint8_t* data, uint16_t count) override;

 private:
  FileHandle output_;
};

// Decode one stream from `input` into `destination` (capacity bytes). Returns
// 1 on success, 0 on failure. `produced` (optional) receives the byte count
// written to the destination.
int DecodeToMemory(uint8_t* destination, uint32_t capacity, FileHandle input, uint32_t budget,
                   uint32_t* produced = nullptr);
// Decode one stream from `input` into the open file `output`. 1 on success.
int DecodeToFile(FileHandle output, FileHandle input, uint32_t budget);
