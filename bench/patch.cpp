// Patch benchmark over the reference corpus: what a patched file entry costs
// in the archive against storing its file compressed, and how fast patches
// are made and applied.
//
// Pairs (base -> target):
//   - two builds of one library from the corpus: pe/msvcp70.dll ->
//     pe/msvcp110.dll and pe/msvcp60.dll -> pe/msvcp70.dll (built from one
//     source with different settings; skipped when the corpus has no pe/);
//   - the largest program of bin/ against a "new build" of itself made here
//     with a fixed seed: a few hundred scattered byte changes (addresses),
//     pieces of new code inserted, some removed, one block moved.
// For each pair: the patch as the archive holds it (make_patch at the
// default level) against encode_stream of the target at the same level,
// the patch maker's speed (make_patch as the builder runs it: the streams
// made with each of its settings and packed; target bytes per second, best
// of 3, process CPU time) and the applier's (the setup program's blob reader and
// interpreter, through temporary files as verify runs it).
//
// Then a large patched file: corpus files joined into one (up to 64 MB)
// base, and two targets made from it: a "new build" (a few thousand edits)
// and a "dense" one (a byte changed every 100 to 300 bytes, so the patch is
// hundreds of thousands of short copies). Each patch is applied to the base
// file by the setup program's interpreter (run_patch over real files), and
// the same run times a plain copy of the target (64 KiB reads and writes
// through the same file calls), so the two speeds compare on one machine
// at one moment (wall-clock time, best of 3, files in the page cache).
//
// Figures go to stdout as "name: value" lines; commentary to stderr.
#include <stdio.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "builder/encoder.h"
#include "common/file.h"
#include "common/heap.h"
#include "decode/patch.h"
#include "decode/stream_decoder.h"
#include "builder/patch_generator.h"
#include "builder/patch_rebuild.h"

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;

namespace {

const int ROUNDS = 3;

double now() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

Bytes read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A new build of a program: scattered changed bytes (moved addresses), new
// pieces of code, removed ones and one block moved elsewhere.
Bytes new_build(Bytes b) {
  std::mt19937 rng(2024);
  for (int k = 0; k < 400; k++) b[rng() % b.size()] += 1 + rng() % 8;
  for (int k = 0; k < 20; k++) {
    size_t at = rng() % b.size(), from = rng() % (b.size() - 2000);
    b.insert(b.begin() + (long)at, b.begin() + (long)from, b.begin() + (long)from + 300);
    for (int i = 0; i < 40; i++) b[at + rng() % 300] = (uint8_t)rng();
  }
  for (int k = 0; k < 10; k++) {
    size_t at = rng() % (b.size() - 1000);
    b.erase(b.begin() + (long)at, b.begin() + (long)at + 500);
  }
  size_t from = b.size() / 5, n = b.size() / 20;
  Bytes block(b.begin() + (long)from, b.begin() + (long)(from + n));
  b.erase(b.begin() + (long)from, b.begin() + (long)(from + n));
  b.insert(b.begin() + (long)(b.size() * 3 / 5), block.begin(), block.end());
  return b;
}

struct Pair {
  std::string name;
  Bytes base, target;
};

double wall() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void write_all(const fs::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary);
  f.write((const char*)b.data(), (std::streamsize)b.size());
}

// The base: corpus files joined until `size` bytes.
Bytes joined_corpus(const fs::path& corpus, size_t size) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(corpus, ec))
    if (e.is_regular_file(ec)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  Bytes all;
  for (const fs::path& f : files) {
    if (all.size() >= size) break;
    Bytes b = read_all(f);
    all.insert(all.end(), b.begin(), b.end());
  }
  if (all.size() > size) all.resize(size);
  return all;
}

// A byte changed every 100 to 300 bytes.
Bytes dense_edit(Bytes b) {
  std::mt19937 rng(77);
  for (size_t at = rng() % 200; at < b.size(); at += 100 + rng() % 200) b[at] ^= 0x5A;
  return b;
}

// Applies the patch's streams to `base_path` into `out_path` (run_patch as
// the setup program runs it); seconds, or -1 when the result is wrong.
double apply_once(const Bytes& patch, const fs::path& base_path, const fs::path& out_path,
                  const Bytes& target) {
  MemorySource input(patch.data(), (uint32_t)patch.size());
  uint8_t *commands = nullptr, *data = nullptr;
  uint32_t command_size = 0, data_size = 0;
  if (read_packed_blob(&input, &commands, &command_size) ||
      read_packed_blob(&input, &data, &data_size))
    return -1;
  double t0 = wall();
  FileHandle b = file_open(base_path.c_str(), FILE_READ);
  FileHandle o = file_create(out_path.c_str());
  PatchStreams streams = {commands, command_size, data, data_size};
  int err = run_patch(streams, b, o, PatchProgress{0, 0, 0, nullptr});
  file_close(b);
  file_close(o);
  double t = wall() - t0;
  free_and_clear(commands);
  free_and_clear(data);
  if (err || read_all(out_path) != target) return -1;
  return t;
}

// A plain copy of `from` to `to` through 64 KiB reads and writes.
double copy_once(const fs::path& from, const fs::path& to) {
  std::vector<uint8_t> buffer(65536);
  double t0 = wall();
  FileHandle i = file_open(from.c_str(), FILE_READ);
  FileHandle o = file_create(to.c_str());
  for (uint32_t n; (n = file_read_some(i, buffer.data(), (uint32_t)buffer.size())) > 0;)
    if (file_write_exact(o, buffer.data(), n) != FILE_OK) break;
  file_close(i);
  file_close(o);
  return wall() - t0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_patch CORPUS\n");
    return 2;
  }
  fs::path corpus = argv[1];
  std::vector<Pair> pairs;
  for (auto [from, to, name] : {std::make_tuple("msvcp70.dll", "msvcp110.dll", "msvcp70_to_110"),
                                std::make_tuple("msvcp60.dll", "msvcp70.dll", "msvcp60_to_70")}) {
    fs::path a = corpus / "pe" / from, b = corpus / "pe" / to;
    if (fs::exists(a) && fs::exists(b))
      pairs.push_back(Pair{name, read_all(a), read_all(b)});
    else
      fprintf(stderr, "bench_patch: %s or %s missing from the corpus; pair skipped\n", a.c_str(),
              b.c_str());
  }
  fs::path largest;
  uintmax_t largest_size = 0;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(corpus / "bin", ec))
    if (e.is_regular_file(ec) && e.file_size(ec) > largest_size) {
      largest_size = e.file_size(ec);
      largest = e.path();
    }
  if (largest_size > 10000) {
    Bytes base = read_all(largest);
    pairs.push_back(Pair{"program_new_build", base, new_build(base)});
    fprintf(stderr, "bench_patch: program_new_build is %s (%zu bytes) and an edited copy\n",
            largest.c_str(), (size_t)largest_size);
  }
  if (pairs.empty()) {
    fprintf(stderr, "bench_patch: no pairs in %s\n", corpus.c_str());
    return 1;
  }

  int level = pakwiz::default_compression_level();
  uint64_t all_patch = 0, all_stream = 0, all_target = 0;
  double all_generate = 0, all_apply = 0;
  for (const Pair& p : pairs) {
    Bytes stream = pakwiz::encode_stream(p.target.data(), p.target.size(), level);
    Bytes patch;
    double generate = 1e30, apply = 1e30;
    for (int r = 0; r < ROUNDS; r++) {
      double t0 = now();
      patch = pakwiz::make_patch(p.base, p.target, level);
      double t1 = now();
      generate = std::min(generate, t1 - t0);
    }
    for (int r = 0; r < ROUNDS; r++) {
      double t0 = now();
      Bytes rebuilt = pakwiz::rebuild_patched_file(p.base, patch);
      double t1 = now();
      apply = std::min(apply, t1 - t0);
      if (rebuilt != p.target) {
        fprintf(stderr, "bench_patch: %s: the patch does not rebuild the target\n", p.name.c_str());
        return 1;
      }
    }
    double mb = p.target.size() / 1e6;
    printf("patch_%s_target_bytes: %zu\n", p.name.c_str(), p.target.size());
    printf("patch_%s_bytes: %zu\n", p.name.c_str(), patch.size());
    printf("patch_%s_compressed_target_bytes: %zu\n", p.name.c_str(), stream.size());
    printf("patch_%s_vs_compressed_target: %.4f\n", p.name.c_str(),
           (double)patch.size() / stream.size());
    printf("patch_%s_generate_mb_per_s: %.1f\n", p.name.c_str(), mb / generate);
    printf("patch_%s_apply_mb_per_s: %.1f\n", p.name.c_str(), mb / apply);
    all_patch += patch.size();
    all_stream += stream.size();
    all_target += p.target.size();
    all_generate += generate;
    all_apply += apply;
  }
  printf("patch_all_vs_compressed_targets: %.4f\n", (double)all_patch / all_stream);
  printf("patch_generate_mb_per_s: %.1f\n", all_target / 1e6 / all_generate);
  printf("patch_apply_mb_per_s: %.1f\n", all_target / 1e6 / all_apply);

  // The large file.
  fs::path work = fs::temp_directory_path() / ("bench_patch." + std::to_string(getpid()));
  fs::create_directories(work);
  Bytes base = joined_corpus(corpus, 64u << 20);
  write_all(work / "base", base);
  bool ok = true;
  for (auto [name, target] :
       {std::make_pair("large", new_build(base)), std::make_pair("dense", dense_edit(base))}) {
    Bytes patch = pakwiz::make_patch(base, target, level);
    write_all(work / "target", target);
    double apply = 1e30, copy = 1e30;
    for (int r = 0; r < ROUNDS && ok; r++) {
      double a = apply_once(patch, work / "base", work / "out", target);
      if (a < 0) {
        fprintf(stderr, "bench_patch: %s: the patch does not rebuild the target\n", name);
        ok = false;
      }
      apply = std::min(apply, a);
      copy = std::min(copy, copy_once(work / "target", work / "copy"));
    }
    if (!ok) break;
    double mb = target.size() / 1e6;
    printf("patch_%s_file_bytes: %zu\n", name, target.size());
    printf("patch_%s_patch_bytes: %zu\n", name, patch.size());
    printf("patch_%s_apply_mb_per_s: %.1f\n", name, mb / apply);
    printf("patch_%s_copy_mb_per_s: %.1f\n", name, mb / copy);
    printf("patch_%s_apply_vs_copy: %.3f\n", name, copy / apply);
  }
  fs::remove_all(work, ec);
  return ok ? 0 : 1;
}
