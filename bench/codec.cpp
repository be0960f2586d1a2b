// Codec benchmark over a corpus folder: decompression throughput of our
// decoder, zlib's raw inflate and libdeflate, measured side by side in the
// same run, and our compressed size against zlib level 9.
//
// Method: every file is compressed on its own (per-file streams, as the
// archive holds them). Our streams are what encode_stream makes at the
// default level; zlib and libdeflate decode libdeflate's raw Deflate output at
// the same level, i.e. the same Huffman data before transcoding. All streams
// of one kind are put into one memory-backed temporary file (memfd), and each
// decoder reads its input from that file: ours as the setup program does,
// through the archive reader (SeekArchive, then a budgeted decode of the
// stream's packed size, read in chunks of 16 KB), zlib through pread in
// chunks of 16 KB, libdeflate through one pread of the whole stream (it has
// no streaming interface). Output goes to
// a memory buffer of the file's size. Each decoder runs ROUNDS times,
// interleaved, and its best round counts. Our decoder is also timed through
// a sink (the path used for files), with the sink only counting bytes, and
// reading its streams from memory (the path of the builder's reader).
//
// Figures go to stdout as "name: value" lines; commentary to stderr.
#include <libdeflate.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builder/encoder.h"
#include "decode/archive.h"
#include "decode/stream_decoder.h"

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;

namespace {

const int ROUNDS = 5;
const size_t ZLIB_CHUNK = 16384;

struct Item {
  Bytes data;
  uint64_t ours_at, ours_size, raw_at, raw_size;
};

// Process CPU time: the machine may be shared, and all decoders are
// single-threaded, so CPU time is the fairer clock.
double now() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

Bytes zlib_raw(const Bytes& data, int level) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  deflateInit2(&zs, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&zs, data.size()) + 16);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = (uInt)data.size();
  zs.next_out = out.data();
  zs.avail_out = (uInt)out.size();
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

int make_memfd(const char* name, const Bytes& content) {
  int fd = memfd_create(name, 0);
  if (fd < 0) {
    perror("memfd_create");
    exit(2);
  }
  size_t done = 0;
  while (done < content.size()) {
    ssize_t w = write(fd, content.data() + done, content.size() - done);
    if (w <= 0) exit(2);
    done += (size_t)w;
  }
  return fd;
}

class CountingSink : public OutputSink {
public:
  int IsReady() override { return 1; }
  bool Write(const uint8_t*, uint16_t count) override {
    bytes += count;
    return true;
  }
  uint64_t bytes = 0;
};

} // namespace

int main(int argc, char** argv) {
  std::string corpus = argc > 1 ? argv[1] : "/tmp/corpus";
  std::vector<fs::path> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(corpus, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) paths.push_back(it->path());
  std::sort(paths.begin(), paths.end());
  if (paths.empty()) {
    fprintf(stderr, "codec: no files in %s\n", corpus.c_str());
    return 2;
  }

  const int level = pakwiz::default_compression_level();
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  std::vector<Item> items;
  Bytes ours_all, raw_all;
  uint64_t total = 0, zlib9_total = 0;
  double encode_time = 0;
  for (const fs::path& p : paths) {
    std::ifstream in(p, std::ios::binary);
    Item item;
    item.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    total += item.data.size();

    double t0 = now();
    Bytes ours = pakwiz::encode_stream(item.data.data(), item.data.size(), level);
    encode_time += now() - t0;
    Bytes raw(libdeflate_deflate_compress_bound(compressor, item.data.size()));
    raw.resize(libdeflate_deflate_compress(compressor, item.data.data(), item.data.size(),
                                           raw.data(), raw.size()));
    zlib9_total += zlib_raw(item.data, 9).size();

    item.ours_at = ours_all.size();
    item.ours_size = ours.size();
    ours_all.insert(ours_all.end(), ours.begin(), ours.end());
    item.raw_at = raw_all.size();
    item.raw_size = raw.size();
    raw_all.insert(raw_all.end(), raw.begin(), raw.end());
    items.push_back(std::move(item));
  }
  libdeflate_free_compressor(compressor);
  fprintf(stderr, "codec: %zu files, %.2f MB; encoded at level %d in %.1f s\n", items.size(),
          total / 1e6, level, encode_time);

  // Our streams form volume 0 of an archive: a size word, then the data.
  Bytes volume = {(uint8_t)ours_all.size(), (uint8_t)(ours_all.size() >> 8),
                  (uint8_t)(ours_all.size() >> 16), (uint8_t)(ours_all.size() >> 24)};
  volume.insert(volume.end(), ours_all.begin(), ours_all.end());
  int ours_fd = make_memfd("pakwiz-ours", volume);
  g_archive.handle = (FileHandle)ours_fd;
  g_archive.archive_offset = 0;
  g_archive.volume_size = (uint32_t)ours_all.size();
  int raw_fd = make_memfd("pakwiz-raw", raw_all);
  size_t largest = 0;
  for (const Item& item : items) largest = std::max(largest, item.data.size());
  Bytes out(largest + 1), in_buffer(largest * 2 + 1024);

  double best_ours = 1e9, best_sink = 1e9, best_memory = 1e9, best_zlib = 1e9,
         best_libdeflate = 1e9;
  bool ok = true;
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  inflateInit2(&zs, -15);
  for (int round = 0; round < ROUNDS; round++) {
    // Ours, straight into memory.
    double t0 = now();
    for (const Item& item : items) {
      uint32_t produced = 0;
      ArchiveSource archive;
      if (SeekArchive((uint32_t)item.ours_at) != 0 ||
          !DecodeToMemory(out.data(), (uint32_t)item.data.size(), &archive,
                          (uint32_t)item.ours_size, &produced) ||
          produced != item.data.size())
        ok = false;
      if (round == 0 && memcmp(out.data(), item.data.data(), item.data.size()) != 0) ok = false;
    }
    best_ours = std::min(best_ours, now() - t0);

    // Ours, through a sink.
    t0 = now();
    for (const Item& item : items) {
      CountingSink sink;
      StreamDecoder decoder;
      ArchiveSource archive;
      if (SeekArchive((uint32_t)item.ours_at) != 0 ||
          decoder.Decode(&sink, &archive, (uint32_t)item.ours_size) != DECODE_OK ||
          sink.bytes != item.data.size())
        ok = false;
    }
    best_sink = std::min(best_sink, now() - t0);

    // Ours, from the streams in memory.
    t0 = now();
    for (const Item& item : items) {
      uint32_t produced = 0;
      MemorySource memory(ours_all.data() + item.ours_at, (uint32_t)item.ours_size);
      if (!DecodeToMemory(out.data(), (uint32_t)item.data.size(), &memory, 0, &produced) ||
          produced != item.data.size())
        ok = false;
    }
    best_memory = std::min(best_memory, now() - t0);

    // zlib, reading the file in chunks.
    t0 = now();
    for (const Item& item : items) {
      inflateReset(&zs);
      zs.next_out = out.data();
      zs.avail_out = (uInt)item.data.size() + 1;
      uint64_t at = item.raw_at, left = item.raw_size;
      int r = Z_OK;
      while (r == Z_OK && left) {
        size_t n = std::min<uint64_t>(left, ZLIB_CHUNK);
        if (pread(raw_fd, in_buffer.data(), n, (off_t)at) != (ssize_t)n) break;
        at += n;
        left -= n;
        zs.next_in = in_buffer.data();
        zs.avail_in = (uInt)n;
        r = inflate(&zs, Z_NO_FLUSH);
      }
      if (r != Z_STREAM_END || zs.total_out != item.data.size()) ok = false;
    }
    best_zlib = std::min(best_zlib, now() - t0);

    // libdeflate, whole stream at once.
    t0 = now();
    for (const Item& item : items) {
      if (pread(raw_fd, in_buffer.data(), item.raw_size, (off_t)item.raw_at) !=
          (ssize_t)item.raw_size)
        ok = false;
      size_t actual = 0;
      if (libdeflate_deflate_decompress(decompressor, in_buffer.data(), item.raw_size, out.data(),
                                        item.data.size(), &actual) != LIBDEFLATE_SUCCESS ||
          actual != item.data.size())
        ok = false;
    }
    best_libdeflate = std::min(best_libdeflate, now() - t0);
  }
  inflateEnd(&zs);
  libdeflate_free_decompressor(decompressor);
  g_archive.handle = INVALID_FILE;
  close(ours_fd);
  close(raw_fd);
  if (!ok) {
    fprintf(stderr, "codec: a decoder produced wrong output\n");
    return 1;
  }

  double mb = total / 1e6;
  fprintf(stderr,
          "codec: best of %d rounds (process CPU time); decode from a memory-backed file into "
          "memory\n",
          ROUNDS);
  printf("codec_corpus_files: %zu\n", items.size());
  printf("codec_corpus_bytes: %llu\n", (unsigned long long)total);
  printf("decode_ours_mb_s: %.1f\n", mb / best_ours);
  printf("decode_ours_sink_mb_s: %.1f\n", mb / best_sink);
  printf("decode_ours_memory_source_mb_s: %.1f\n", mb / best_memory);
  printf("decode_zlib_inflate_mb_s: %.1f\n", mb / best_zlib);
  printf("decode_libdeflate_mb_s: %.1f\n", mb / best_libdeflate);
  printf("decode_vs_zlib_inflate: %.2f\n", best_zlib / best_ours);
  printf("decode_vs_libdeflate: %.2f\n", best_libdeflate / best_ours);
  printf("compressed_ours_bytes: %zu\n", ours_all.size());
  printf("compressed_zlib9_bytes: %llu\n", (unsigned long long)zlib9_total);
  printf("compressed_ours_vs_zlib9: %.4f\n", (double)ours_all.size() / (double)zlib9_total);
  printf("encode_ours_mb_s: %.1f\n", mb / encode_time);
  return 0;
}
