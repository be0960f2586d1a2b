// Patched files: a file entry with flags bit 4 is rebuilt from the file of
// another entry (its base entry, stored in full in some language block) and
// a patch that lies at the entry's archive position.
//
// A patch is two packed blobs, back to back: the command stream, then the
// data stream. A packed blob (little-endian):
//   u8 flags      BLOB_COMPRESSED, BLOB_WIDE_SIZE: the size field has 4 bytes
//                 (else 2), BLOB_WIDE_PACKED_SIZE: so has the packed-size field
//   size          bytes of content; 0 = no blob, nothing else follows
//   packed size   only when compressed: bytes of the compressed stream
//   content       the compressed stream, or `size` stored bytes
// The data blob starts wherever reading the command blob ended; behind a
// compressed blob that is just behind the last byte the decoder took.
//
// Commands (byte c, then the operands in the command stream):
//   0x80-0x9F  insert (c & 0x1F) + 1 bytes from the data stream
//   0xA0-0xFF  insert n = (c >> 5) & 3 bytes, then copy (c & 0x1F) + 2 bytes
//   0x01-0x7F  copy c + 1 bytes
//   0x00       u16 L follows; copy L + 129 bytes (129 to 65,664)
// Every copy is followed by its displacement d, by its first byte b:
//   0x80-0xBF  d = 6-bit two's complement of b & 0x3F           (-32..31)
//   0x00-0x7F  v = 15-bit two's complement of (b & 0x7F) << 8 | next byte;
//              d = v + 32 when v >= 0, else v - 32           (-16,416..16,415)
//   0xC0-0xFF  v = 22-bit two's complement of (b & 0x3F) << 16 | 2 bytes;
//              d = v + 16,416 when v >= 0, else v - 16,416
// A copy reads from base position cursor + d and leaves the cursor behind
// the bytes it read (the cursor starts at 0), so copies that follow the base
// in order have d = 0.
//
// Malformed patches fail cleanly: a command or operand that runs past the end
// of the command stream, an insert beyond the end of the data stream and a
// copy from outside the base file are error 18; nothing is read or written
// outside the streams and buffers.
#pragma once
#include <stdint.h>

#include "common/file.h"

class InputSource;

// Errors (message numbers of string table 6).
enum PatchError {
  PATCH_OK = 0,
  PATCH_ERR_NO_MEMORY = 12,
  PATCH_ERR_OPEN = 16,
  PATCH_ERR_CREATE = 17,
  PATCH_ERR_READ = 18,
  PATCH_ERR_WRITE = 19,
  PATCH_ERR_DISK_FULL = 20,
  PATCH_ERR_CHECKSUM = 21,
};

// The two streams of a patch in memory; a null stream has size 0.
struct PatchStreams {
  const uint8_t* commands;
  uint32_t command_size;
  const uint8_t* data;
  uint32_t data_size;
};

// Progress while a patch is applied: percents from `start` to `end` over a
// result of `file_size` bytes, in units of 10,000 bytes, handed to `report`
// (the install driver's progress in the setup program). Nothing is reported
// when start equals end or `report` is null.
typedef void (*ProgressReport)(uint32_t percent);
struct PatchProgress {
  uint32_t start, end, file_size;
  ProgressReport report;
};

// `available` of read_packed_blob when the input's length is not known.
const uint32_t BLOB_SIZE_UNKNOWN = 0xFFFFFFFFu;

// Reads one packed blob at the position of `input`. *out gets a heap block
// of *size bytes (the caller frees it), or null when the blob is absent
// (size 0). Returns 0; 12 when the block cannot be had; 18 when the input
// fails or ends early, or the blob is damaged (a compressed blob that does
// not decode to exactly its size). The input is left behind the blob.
// `available`, when known, is how many bytes the input holds from its
// position on: a blob that claims more content than that could give (a
// stored size or packed size beyond it, or a size beyond max_unpacked_size
// of the packed size) fails with 18 before its block is allocated.
int read_packed_blob(InputSource* input, uint8_t** out, uint32_t* size,
                     uint32_t available = BLOB_SIZE_UNKNOWN);
// The same at the archive's read position (ArchiveSource), failing as the
// archive does: 15 when the user gave up at a disk prompt; 18 with the
// archive path as error file name.
int read_archive_blob(uint8_t** out, uint32_t* size);

// Runs the commands: reads the base from `base` (its whole size is the
// base), writes the result to `out` from its current position. Returns 0,
// 12 (no buffer), 18 (malformed patch, or the base cannot be read), 19 (an
// insert without a data stream, or a write failed) or 20 (a short write:
// the disk is full). `written` (optional) gets the bytes written.
int run_patch(const PatchStreams& streams, FileHandle base, FileHandle out,
              const PatchProgress& progress, uint32_t* written = nullptr);
