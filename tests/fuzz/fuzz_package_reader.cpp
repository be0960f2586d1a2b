// Runs the builder's package tools over arbitrary bytes as a package file:
// list, verify and extract into a scratch folder. Damage must end in a
// BuildError or a verify report: never a crash, a sanitizer report, another
// exception, work or memory out of proportion to the input, or a file
// written anywhere but below the extract folder.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "builder/errors.h"
#include "builder/inspect.h"
#include "decode/stream_decoder.h"

namespace fs = std::filesystem;

// A run frees a few megabytes at most, so a quarantine of 16 MB still finds a
// use after free within one run, and freed blocks come back warm instead of
// as fresh pages: about 1.6 times the executions per second. A run makes
// thousands of small allocations: three frames of allocation stack (reports
// keep the full stack of the faulty access) and a fill of each new block's
// first 256 bytes only (the rest of a buffer is written by its code, most of
// them zero-filled vectors) make it about 1.5 times faster again.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16:malloc_context_size=3:max_malloc_fill_size=256";
}

// The decoder keeps its buffers from one record to the next: fresh ones for
// every record would make their page faults most of the run. (The decoder
// target tests fresh ones.)
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  keep_decoder_buffers(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // In memory where a tmpfs is at hand: every run writes the package and
  // what extract makes, and a disk would make that most of the run's cost.
  static std::string root = [] {
    std::string name = fs::is_directory("/dev/shm") ? "/dev/shm/pakwiz-fuzz-reader-XXXXXX"
                                                    : "/tmp/pakwiz-fuzz-reader-XXXXXX";
    if (!mkdtemp(&name[0])) abort();
    return name;
  }();
  static bool cleanup = [] {
    return std::atexit([] {
             std::error_code ignored;
             fs::remove_all(root, ignored);
           }) == 0;
  }();
  (void)cleanup;
  const std::string package = root + "/setup.exe", out_dir = root + "/out";
  {
    std::ofstream f(package, std::ios::binary | std::ios::trunc);
    f.write((const char*)data, (std::streamsize)size);
    if (!f) abort();
  }
  std::ostringstream out;
  try {
    pakwiz::list_package(package, out);
  } catch (const pakwiz::BuildError&) {
  }
  try {
    pakwiz::verify_package(package, out);
  } catch (const pakwiz::BuildError&) {
  }
  try {
    pakwiz::extract_package(package, out_dir, std::nullopt, out);
  } catch (const pakwiz::BuildError&) {
  }
  // Nothing but the package and the extract folder may appear beside them.
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    std::string name = entry.path().filename().string();
    if (name != "setup.exe" && name != "out") {
      fprintf(stderr, "extract wrote outside its folder: %s\n", name.c_str());
      abort();
    }
  }
  std::error_code ignored;
  if (fs::exists(out_dir, ignored)) fs::remove_all(out_dir);
  return 0;
}
