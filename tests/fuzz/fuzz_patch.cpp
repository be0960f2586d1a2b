// Arbitrary patches applied to an arbitrary base through the real blob
// reader and command interpreter.
// Input: u16 base length, u8 mode, then the base, then the rest:
//   mode bit 0: the rest holds the command blob and the data blob (read
//               from memory with read_packed_blob); else the rest is u16
//               command length, the command stream, and the data stream
//   mode bit 1: the data stream is absent
//   mode bits 2-7: the end percent of the progress (the start is 10)
// Checks beyond the sanitizers: the result equals what a plain model of the
// commands yields (on failure: a prefix of it, with the same error code);
// progress stays between the start and end percent and never repeats.
#include <string.h>

#include <vector>

#include "common/heap.h"
#include "decode/patch.h"
#include "decode/stream_decoder.h"
#include "fuzz/fuzz_input.h"

namespace {

MemoryFile base_file, out_file;

struct Model {
  std::vector<uint8_t> out;
  int err = PATCH_OK;
};

// The commands as the format defines them, over plain vectors.
Model model(const uint8_t* c, size_t cn, const uint8_t* d, size_t dn, bool has_data,
            const uint8_t* base, size_t bn) {
  Model m;
  size_t at = 0, dat = 0;
  int64_t cursor = 0;
  while (at < cn) {
    uint8_t op = c[at++];
    size_t insert = 0, copy = 0;
    if (op >= 0xA0) {
      insert = (op >> 5) & 3;
      copy = (op & 0x1F) + 2;
    } else if (op >= 0x80) {
      insert = (op & 0x1F) + 1;
    } else if (op) {
      copy = op + 1u;
    } else {
      if (at + 2 > cn) return m.err = PATCH_ERR_READ, m;
      copy = (size_t)(c[at] | (c[at + 1] << 8)) + 129;
      at += 2;
    }
    if (insert) {
      if (!has_data) return m.err = PATCH_ERR_WRITE, m;
      if (dat + insert > dn) return m.err = PATCH_ERR_READ, m;
      m.out.insert(m.out.end(), d + dat, d + dat + insert);
      dat += insert;
    }
    if (copy) {
      if (at >= cn) return m.err = PATCH_ERR_READ, m;
      uint8_t b = c[at++];
      int64_t disp;
      if (b >= 0x80 && b < 0xC0) {
        disp = (b & 0x3F) >= 32 ? (b & 0x3F) - 64 : (b & 0x3F);
      } else if (b < 0x80) {
        if (at >= cn) return m.err = PATCH_ERR_READ, m;
        int64_t v = ((b & 0x7F) << 8) | c[at++];
        disp = v >= 0x4000 ? v - 0x8000 - 32 : v + 32;
      } else {
        if (at + 2 > cn) return m.err = PATCH_ERR_READ, m;
        int64_t v = ((int64_t)(b & 0x3F) << 16) | (c[at] << 8) | c[at + 1];
        at += 2;
        disp = v >= 0x200000 ? v - 0x400000 - 16416 : v + 16416;
      }
      int64_t from = cursor + disp;
      if (from < 0 || from + (int64_t)copy > (int64_t)bn) return m.err = PATCH_ERR_READ, m;
      m.out.insert(m.out.end(), base + from, base + from + copy);
      cursor = from + (int64_t)copy;
    }
  }
  return m;
}

// Blob sizes come from the input: a block beyond 64 MB fails as it would
// on an exhausted heap (error 12) instead of tripping the fuzzer's limit.
bool refuse_huge(size_t n, int) {
  return n > (64u << 20);
}

uint32_t g_start, g_end, g_last;
void check_progress(uint32_t percent) {
  FUZZ_CHECK(percent != g_last);
  FUZZ_CHECK(percent >= g_start && percent <= g_end);
  g_last = percent;
}

std::vector<uint8_t> read_all(FileHandle f) {
  uint32_t size = file_size(f);
  std::vector<uint8_t> bytes(size);
  FUZZ_CHECK(file_seek(f, 0, FROM_START) == 0);
  FUZZ_CHECK(size == 0 || file_read_exact(f, bytes.data(), size) == FILE_OK);
  return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  heap_set_failure_hook(refuse_huge);
  if (size < 3) return 0;
  size_t base_len = (size_t)(data[0] | (data[1] << 8));
  uint8_t mode = data[2];
  data += 3;
  size -= 3;
  if (base_len > size) base_len = size;
  const uint8_t* base = data;
  const uint8_t* rest = data + base_len;
  size_t rest_len = size - base_len;
  bool data_absent = (mode & 2) != 0;

  const uint8_t *commands = nullptr, *stream = nullptr;
  size_t command_len = 0, stream_len = 0;
  uint8_t *blob_commands = nullptr, *blob_data = nullptr;
  if (mode & 1) {
    MemorySource blobs(rest, (uint32_t)rest_len);
    uint32_t cn = 0, dn = 0;
    int err = read_packed_blob(&blobs, &blob_commands, &cn);
    if (!err) err = read_packed_blob(&blobs, &blob_data, &dn);
    FUZZ_CHECK(err == PATCH_OK || err == PATCH_ERR_READ || err == PATCH_ERR_NO_MEMORY);
    FUZZ_CHECK(blobs.position() <= rest_len);
    if (err) {
      FUZZ_CHECK(!blob_data);
      free_and_clear(blob_commands);
      return 0;
    }
    FUZZ_CHECK((blob_commands != nullptr) == (cn != 0) && (blob_data != nullptr) == (dn != 0));
    commands = blob_commands;
    command_len = cn;
    stream = blob_data;
    stream_len = dn;
  } else {
    if (rest_len < 2) return 0;
    command_len = (size_t)(rest[0] | (rest[1] << 8));
    if (command_len > rest_len - 2) command_len = rest_len - 2;
    commands = rest + 2;
    stream = commands + command_len;
    stream_len = rest_len - 2 - command_len;
  }
  if (data_absent) stream_len = 0;
  bool has_data = stream_len != 0;

  Model expected = model(commands, command_len, stream, stream_len, has_data, base, base_len);

  g_start = 10;
  g_end = 10 + (mode >> 2);
  g_last = g_start;
  FileHandle b = base_file.put(base, base_len);
  FileHandle o = out_file.put(nullptr, 0);
  PatchStreams streams = {commands, (uint32_t)command_len, has_data ? stream : nullptr,
                          (uint32_t)stream_len};
  uint32_t written = 0;
  int err = run_patch(streams, b, o,
                      PatchProgress{g_start, g_end, (uint32_t)expected.out.size(), check_progress},
                      &written);
  std::vector<uint8_t> out = read_all(o);

  FUZZ_CHECK(err == expected.err);
  if (err == PATCH_OK) {
    FUZZ_CHECK(out == expected.out);
    FUZZ_CHECK(written == out.size());
    if (g_start != g_end && !out.empty()) FUZZ_CHECK(g_last == g_end);
  } else {
    FUZZ_CHECK(out.size() <= expected.out.size());
    FUZZ_CHECK(out.empty() || memcmp(out.data(), expected.out.data(), out.size()) == 0);
  }
  free_and_clear(blob_commands);
  free_and_clear(blob_data);
  return 0;
}
