// Decoder of the package's compressed streams: Deflate at heart, with a 4-bit
// block header (type = h & 7: 5 fixed, 6 dynamic, 7 stored; last block = h & 8),
// stored blocks with LEN only (no NLEN), and code-length code lengths sent in
// the order 18, 17, 16, 0, 1, ..., 15.
//
// Input comes from an InputSource positioned at the stream's first byte: a
// file (FileSource), a buffer (MemorySource) or the file archive with its
// volumes (ArchiveSource, decode/archive.h). The decoder knows nothing of
// where the bytes lie. With a budget of 0 it reads the source until the
// source ends; with a non-zero budget it fetches at most `budget` bytes and
// nothing behind them.
//
// Input position: after a decode (successful or not) the source's position
// is just behind the last byte holding a bit that the decoder consumed;
// bytes that were read ahead but not consumed are given back (Unread). Bits
// that were only looked at for a table lookup do not count. So a second
// stream, or other data, can be read directly behind a stream.
//
// End of input: bits beyond the end of the input (the end of the source, or
// of the budget) read as zero for table lookups, but consuming any of them
// stops the decode with DECODE_BAD_DATA. A read that the source reports as
// failed (for the archive: a volume could not be had) also stops it at once
// with DECODE_BAD_DATA; the source tells why (g_archive.error).
//
// Output goes to an OutputSink in writes of exactly 32,768 bytes, one each
// time another 32,768 bytes have been produced, and on success one final
// write of the rest (0 to 32,767 bytes; a count of 0 is written too). On a
// failure the complete 32,768-byte runs produced before it have been written
// and the rest is dropped. A copy from before the start of the output reads
// zero bytes.
#pragma once
#include <stdint.h>

#include "common/file.h"
#include "decode/checksum.h"

// The most a compressed stream of `packed` bytes can decode to: a copy of
// 258 bytes takes at least two bits, so 1,032 bytes per packed byte, plus
// 1,024 bytes of slack for the block headers. Every reader checks a stated
// size against it, so that a damaged size is found before anything is
// allocated or decoded.
inline uint64_t max_unpacked_size(uint64_t packed) {
  return packed * 1032 + 1024;
}

// Results of a decode.
enum DecodeStatus {
  DECODE_OK = 0,
  DECODE_BAD_DATA = 1,  // invalid code or header values, missing table, input
                        // exhausted or failed, sink refused or full
  DECODE_BAD_BLOCK = 2, // unknown block type, over-subscribed code lengths
  DECODE_NO_MEMORY = 3, // window, tables or input buffer could not be allocated
};

class OutputSink {
public:
  virtual ~OutputSink() {}
  virtual int IsReady() = 0;
  // Takes the next count decoded bytes; false stops the decode (status 1).
  virtual bool Write(const uint8_t* data, uint16_t count) = 0;
};

// Copies into a caller's buffer, never past its capacity: a write that does
// not fit is refused whole (nothing is copied) and the decode fails.
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

// Writes to an open file. A failing write stops the decode (status 1) and is
// kept: write_result() is then FILE_SHORT_WRITE (the disk is full) or
// FILE_WRITE_FAILED, so that the caller can tell it from a damaged stream.
class FileSink : public OutputSink {
public:
  // With `written`, the checksum of every byte written to the file is kept
  // there (the proof of the file's content without reading it back).
  explicit FileSink(FileHandle output, RunningChecksum* written = nullptr)
      : output_(output), result_(FILE_OK), written_(written) {}
  int IsReady() override { return 1; }
  bool Write(const uint8_t* data, uint16_t count) override;
  int write_result() const { return result_; }

private:
  FileHandle output_;
  int result_; // FileResult of the first write that failed, else FILE_OK
  RunningChecksum* written_;
};

// Where a decode takes its compressed bytes from. The decoder reads in
// chunks of up to 16 KB and, when it ends, gives back what it read ahead.
class InputSource {
public:
  virtual ~InputSource() {}
  // Non-zero when the source can be read (a decode of a source that is not
  // ready fails before anything is read).
  virtual int IsReady() = 0;
  // Reads up to count (> 0) bytes into buffer; *got receives how many (0 at
  // the end of the input). False when the read failed in a way that must
  // abandon the decode (not merely the end of the input).
  virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) = 0;
  // Gives back the last `count` bytes read: the position moves back by
  // count, so that it ends just behind the last byte the decoder took.
  virtual void Unread(uint32_t count) = 0;
};

// Reads a caller's buffer (not copied, not owned); its end is the end of the
// input.
class MemorySource : public InputSource {
public:
  MemorySource(const uint8_t* data, uint32_t size) : data_(data), size_(size), at_(0) {}
  int IsReady() override { return data_ != nullptr || size_ == 0; }
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) override;
  void Unread(uint32_t count) override;
  // Bytes of the buffer taken so far.
  uint32_t position() const { return at_; }

private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t at_;
};

// Reads an open file from its current position up to its end; a failing
// read counts as the end. The file stays open (the caller closes it).
class FileSource : public InputSource {
public:
  explicit FileSource(FileHandle file) : file_(file) {}
  int IsReady() override { return file_ != INVALID_FILE; }
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) override;
  void Unread(uint32_t count) override;

private:
  FileHandle file_;
};

struct DecoderWork; // tables and window of one decode (stream_decoder.cpp)

// One decoder, made on the caller's stack and used for one or more decodes.
// The bulky state (window, tables, input buffer) lives for one decode only.
class StreamDecoder {
public:
  StreamDecoder();
  ~StreamDecoder();

  // Decodes one stream from `input` (budget as above) into `sink`. Returns a
  // DecodeStatus; an input or sink that is missing or not ready gives
  // DECODE_BAD_DATA (nothing is read then), an input buffer that cannot be
  // had DECODE_NO_MEMORY.
  int Decode(OutputSink* sink, InputSource* input, uint32_t budget);

  // Decodes one stream straight into dest (capacity bytes), as a MemorySink
  // would receive it but without the intermediate window. *produced gets the
  // bytes decoded into dest (on failure: those before the failing symbol).
  // A stream that decodes to more than capacity bytes fails (status 1)
  // without writing past dest + capacity.
  int DecodeInto(uint8_t* dest, uint32_t capacity, InputSource* input, uint32_t budget,
                 uint32_t* produced);

private:
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  bool OpenInput(InputSource* input, uint32_t budget);
  void CloseInput();
  bool Refill();
  int Run(DecoderWork* w);
  int DecodeStored(DecoderWork* w);
  int DecodeDynamicHeader(DecoderWork* w);
  int DecodeHuffman(DecoderWork* w, const uint32_t* litlen, const uint32_t* dist);
  int MakeRoom(DecoderWork* w);
  int Finish(DecoderWork* w, int status);
  bool Overrun() const { return bits_ < 8 * virtual_bytes_; }
  void Ensure(uint32_t n);
  void Drop(uint32_t n);
  bool TakeSymbol(const uint32_t* table, uint32_t index_bits, uint32_t* entry, uint32_t* value);

  // Input adapter.
  uint8_t* in_buffer_; // owned for one decode
  const uint8_t* in_;  // next byte not yet in the bit buffer
  const uint8_t* in_end_;
  InputSource* input_; // null when no input is open
  uint32_t budget_;    // bytes still to fetch when budgeted_
  bool budgeted_;      // this decode fetches at most the budget
  bool input_ended_;   // end of the source, end of budget, or a failed read
  bool input_failed_;  // the source reported a failure

  // Bit buffer: the next bit in bit 0. bits_ counts the valid bits, of which
  // the top 8 * virtual_bytes_ are zero bits standing in for missing input.
  uint64_t bitbuf_;
  uint32_t bits_;
  uint32_t virtual_bytes_;
};

// While keeping is on, a decode that ends leaves its buffers (input buffer,
// tables, window: about 220 KB) for the next one instead of freeing them, so
// that a run of many small files allocates them once. Turning it off frees
// what is kept. Off by default; the install driver turns it on for its run.
void keep_decoder_buffers(bool keep);

// Decode one stream from `input` into `destination` (capacity bytes). Returns
// 1 on success, 0 on failure (including a stream that decodes to more than
// capacity bytes). `produced` (optional) receives the byte count decoded.
int DecodeToMemory(uint8_t* destination, uint32_t capacity, InputSource* input, uint32_t budget,
                   uint32_t* produced = nullptr);
// Decode one stream from `input` into the open file `output` (which the
// caller closes). 1 on success, 0 on failure (a damaged stream, or a write
// that failed; a FileSink of one's own tells which).
int DecodeToFile(FileHandle output, InputSource* input, uint32_t budget);
