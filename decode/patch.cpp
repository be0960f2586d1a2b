// Patched files: packed blobs read from the archive, and the command
// interpreter that rebuilds a file from its base and a patch.
//
// The interpreter writes through one 65,536-byte buffer: literal bytes and
// copied bytes are gathered in it, in pieces when a copy (up to 65,664
// bytes) does not fit, and the buffer goes to the output file whenever it
// is full. The base is read through a second buffer of the same size, a
// window of the base file that serves every copy whose source lies inside
// it; the window moves (one seek when needed, one read) only when a copy
// leaves it. So a patch of many small commands costs few reads and writes,
// memory stays at two buffers whatever the file sizes, and a long copy
// needs no larger buffer.
//
// The streams are never trusted: every command byte, operand and literal is
// taken through a bounds check, and a copy is checked against the base
// file's size before anything is read.
#include "decode/patch.h"

#include "common/bytes.h"
#include "common/file.h"
#include "common/heap.h"
#include "common/package_format.h"
#include "common/state.h"
#include "common/text.h"
#include "decode/archive.h"
#include "decode/stream_decoder.h"

namespace {

const uint32_t BUFFER_SIZE = 65536;
// A new window starts this far before the copy that needs it, so that
// copies going a little back are served too.
const uint32_t WINDOW_BACK = 1024;
const uint32_t PROGRESS_UNIT = 10000;

void name_error_file(const char* path) {
  if (g_app.error_file_name && path) text_copy_cut(g_app.error_file_name, PATH_SIZE, path);
}

// An archive read failed: the reader's own verdict (15, or 18 naming the
// volume), else 18 naming the archive.
int archive_failure() {
  if (g_archive.error == 15) return 15;
  name_error_file(g_app.archive_path);
  return PATCH_ERR_READ;
}

// Exactly n bytes from the input (across volume ends, for the archive).
bool read_exact(InputSource* input, void* buffer, uint32_t n) {
  uint8_t* p = (uint8_t*)buffer;
  while (n) {
    uint32_t got = 0;
    if (!input->Read(p, n, &got) || got == 0 || got > n) return false;
    p += got;
    n -= got;
  }
  return true;
}

// A little-endian field of 2 or 4 bytes.
bool read_field(InputSource* input, bool wide, uint32_t* value) {
  uint8_t b[4] = {0, 0, 0, 0};
  if (!read_exact(input, b, wide ? 4 : 2)) return false;
  *value = read_u32(b);
  return true;
}

// One of the two streams, taken from the front with every take checked.
struct Stream {
  const uint8_t* at;
  uint32_t left;
  bool take(uint32_t n, const uint8_t** bytes) {
    if (n > left) return false;
    *bytes = at;
    at += n;
    left -= n;
    return true;
  }
};

// Reads a copy's displacement; false when the command stream ends inside it.
bool take_displacement(Stream& commands, int32_t* d) {
  const uint8_t* b;
  if (!commands.take(1, &b)) return false;
  uint32_t first = b[0];
  if (first >= 0x80 && first < 0xC0) {
    int32_t v = (int32_t)(first & 0x3F);
    *d = v >= 0x20 ? v - 0x40 : v;
    return true;
  }
  if (first < 0x80) {
    const uint8_t* next;
    if (!commands.take(1, &next)) return false;
    int32_t v = (int32_t)(((first & 0x7F) << 8) | next[0]);
    *d = v >= 0x4000 ? v - 0x8000 - 32 : v + 32;
    return true;
  }
  const uint8_t* next;
  if (!commands.take(2, &next)) return false;
  int32_t v = (int32_t)(((first & 0x3F) << 16) | (next[0] << 8) | next[1]);
  *d = v >= 0x200000 ? v - 0x400000 - 16416 : v + 16416;
  return true;
}

// The output side of the interpreter: the buffer and the file behind it.
struct Output {
  FileHandle file;
  uint8_t* buffer;
  uint32_t fill;
  uint32_t produced; // bytes of the result so far, buffered ones included

  int flush() {
    if (!fill) return PATCH_OK;
    int w = file_write_exact(file, buffer, fill);
    fill = 0;
    if (w == FILE_SHORT_WRITE) return PATCH_ERR_DISK_FULL;
    return w == FILE_OK ? PATCH_OK : PATCH_ERR_WRITE;
  }
  // Room for n more bytes of the result; false when the result would pass
  // 4 GiB, which no file of a package can hold.
  bool fits(uint32_t n) const { return produced <= 0xFFFFFFFFu - n; }
};

// The input side: a window of the base file.
struct BaseWindow {
  FileHandle file;
  uint8_t* bytes;
  uint32_t size;  // the base file's size
  uint32_t start; // the window holds base bytes [start, start + fill)
  uint32_t fill;
  uint32_t file_at; // the file's position (saves seeks)

  // Copies n bytes from base position `from` (checked to lie in the base)
  // to `to`; false when the base cannot be read.
  bool copy(uint32_t from, uint8_t* to, uint32_t n) {
    while (n) {
      if (from < start || from - start >= fill) {
        uint32_t at = from > WINDOW_BACK ? from - WINDOW_BACK : 0;
        uint32_t want = size - at < BUFFER_SIZE ? size - at : BUFFER_SIZE;
        fill = 0;
        if ((at != file_at && file_seek_to(file, at) != at) ||
            file_read_exact(file, bytes, want) != FILE_OK) {
          file_at = FILE_BAD_POSITION;
          return false;
        }
        start = at;
        fill = want;
        file_at = at + want;
      }
      uint32_t k = start + fill - from;
      if (k > n) k = n;
      const uint8_t* p = bytes + (from - start);
      for (uint32_t i = 0; i < k; i++) to[i] = p[i];
      to += k;
      from += k;
      n -= k;
    }
    return true;
  }
};

} // namespace

int read_packed_blob(InputSource* input, uint8_t** out, uint32_t* size, uint32_t available) {
  *out = nullptr;
  *size = 0;
  uint8_t flags = 0;
  uint32_t n = 0;
  if (!read_exact(input, &flags, 1) || !read_field(input, (flags & BLOB_WIDE_SIZE) != 0, &n))
    return PATCH_ERR_READ;
  if (n == 0) return PATCH_OK;
  bool compressed = (flags & BLOB_COMPRESSED) != 0;
  bool wide_packed = (flags & BLOB_WIDE_PACKED_SIZE) != 0;
  // A packed size of 0 would make the decoder read the file unbudgeted.
  uint32_t packed = 0;
  if (compressed && (!read_field(input, wide_packed, &packed) || packed == 0))
    return PATCH_ERR_READ;
  if (available != BLOB_SIZE_UNKNOWN) {
    // What the header took; the content must come from what is left.
    uint32_t header =
        1 + ((flags & BLOB_WIDE_SIZE) ? 4 : 2) + (compressed ? (wide_packed ? 4 : 2) : 0);
    uint32_t rest = available > header ? available - header : 0;
    if (compressed ? packed > rest || n > max_unpacked_size(packed) : n > rest)
      return PATCH_ERR_READ;
  }
  uint8_t* buffer = (uint8_t*)heap_alloc(n);
  if (!buffer) return PATCH_ERR_NO_MEMORY;
  bool ok;
  if (compressed) {
    uint32_t produced = 0;
    ok = DecodeToMemory(buffer, n, input, packed, &produced) && produced == n;
  } else {
    ok = read_exact(input, buffer, n);
  }
  if (!ok) {
    heap_free(buffer);
    return PATCH_ERR_READ;
  }
  *out = buffer;
  *size = n;
  return PATCH_OK;
}

int read_archive_blob(uint8_t** out, uint32_t* size) {
  g_archive.error = 0;
  ArchiveSource archive;
  int err = read_packed_blob(&archive, out, size);
  return err == PATCH_ERR_READ ? archive_failure() : err;
}

int run_patch(const PatchStreams& streams, FileHandle base, FileHandle out,
              const PatchProgress& progress, uint32_t* written) {
  if (written) *written = 0;
  uint32_t base_size = file_size(base);
  if (base_size == FILE_BAD_POSITION) return PATCH_ERR_READ;
  // One block for both buffers.
  uint8_t* buffers = (uint8_t*)heap_alloc(2 * BUFFER_SIZE);
  if (!buffers) return PATCH_ERR_NO_MEMORY;
  Output o = {out, buffers, 0, 0};
  BaseWindow window = {base, buffers + BUFFER_SIZE, base_size, 0, 0, 0};

  Stream commands = {streams.commands, streams.commands ? streams.command_size : 0};
  Stream data = {streams.data, streams.data ? streams.data_size : 0};
  bool has_data = data.left != 0;
  uint32_t cursor = 0; // base position behind the last copy's source
  uint32_t units = progress.file_size / PROGRESS_UNIT + 1;
  uint32_t last_percent = progress.start;
  int err = PATCH_OK;

  while (commands.left > 0 && err == PATCH_OK) {
    const uint8_t* b;
    commands.take(1, &b);
    uint32_t c = b[0], insert = 0, copy = 0;
    if (c >= 0xA0) {
      insert = (c >> 5) & 3;
      copy = (c & 0x1F) + 2;
    } else if (c >= 0x80) {
      insert = (c & 0x1F) + 1;
    } else if (c) {
      copy = c + 1;
    } else {
      const uint8_t* length;
      if (!commands.take(2, &length)) {
        err = PATCH_ERR_READ;
        break;
      }
      copy = read_u16(length) + 129u;
    }

    if (insert) {
      const uint8_t* literal;
      if (!has_data) {
        err = PATCH_ERR_WRITE; // there is no data stream at all
        break;
      }
      if (!data.take(insert, &literal) || !o.fits(insert)) {
        err = PATCH_ERR_READ;
        break;
      }
      if (o.fill + insert > BUFFER_SIZE && (err = o.flush()) != PATCH_OK) break;
      for (uint32_t i = 0; i < insert; i++) o.buffer[o.fill + i] = literal[i];
      o.fill += insert;
      o.produced += insert;
    }

    if (copy) {
      int32_t d;
      if (!take_displacement(commands, &d)) {
        err = PATCH_ERR_READ;
        break;
      }
      int64_t from = (int64_t)cursor + d;
      if (from < 0 || from + copy > (int64_t)base_size || !o.fits(copy)) {
        err = PATCH_ERR_READ; // outside the base file
        break;
      }
      for (uint32_t left = copy, at = (uint32_t)from; left > 0;) {
        if (o.fill == BUFFER_SIZE && (err = o.flush()) != PATCH_OK) break;
        uint32_t piece = BUFFER_SIZE - o.fill;
        if (piece > left) piece = left;
        if (!window.copy(at, o.buffer + o.fill, piece)) {
          err = PATCH_ERR_READ;
          break;
        }
        o.fill += piece;
        o.produced += piece;
        at += piece;
        left -= piece;
      }
      cursor = (uint32_t)from + copy;
    }

    if (err == PATCH_OK && progress.start != progress.end) {
      uint32_t done = o.produced / PROGRESS_UNIT + 1;
      uint32_t percent =
          progress.start + scale_down(done, (uint32_t)(progress.end - progress.start), units);
      if (percent != last_percent) {
        last_percent = percent;
        if (progress.report) progress.report(percent);
      }
    }
  }
  if (err == PATCH_OK) err = o.flush();
  if (written) *written = o.produced;
  heap_free(buffers);
  return err;
}
