// Helpers for the builder's tests: a stand-in stub, building a project
// written into a temporary folder, and a walk over a package's records.
#pragma once
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/bytes.h"
#include "builder/package_reader.h"
#include "support/temp_dir.h"

namespace builder_test {

// Any bytes holding the stub marker with a zero length field will do: the
// builder only patches the field.
inline std::vector<uint8_t> stand_in_stub() {
  std::string s = std::string("MZ stand-in stub ") + "\x77\x77\x67\x54\x29\x48" +
                  std::string(4, '\0') + " tail";
  return std::vector<uint8_t>(s.begin(), s.end());
}
const size_t STUB_FIELD = 17 + 6; // offset of the length field in stand_in_stub()

// The builder carries an uninstaller in every block by default; these bytes
// stand in for it so that no test depends on the Windows programs being built.
inline std::string stand_in_uninstaller() {
  return "MZ stand-in uninstaller";
}

// Writes `toml` as project.toml (and the stub) into `dir` and builds it.
inline pakwiz::BuildSummary build_project(const TempDir& dir, const std::string& toml,
                                          const std::string& output = "setup.exe",
                                          uint64_t volume_size = 0, int level = -1,
                                          unsigned jobs = 0) {
  dir.write("stub.bin", stand_in_stub());
  pakwiz::BuildOptions o;
  o.project = dir.write("project.toml", toml);
  o.output = dir.file(output);
  o.stub = dir.file("stub.bin");
  o.uninstaller = dir.write("uninstall.bin", stand_in_uninstaller());
  o.volume_size = volume_size;
  o.level = level;
  o.jobs = jobs;
  return pakwiz::build_setup(o);
}

struct RawRecord {
  uint16_t tag, flags;
  uint32_t length;              // as stored
  size_t offset;                // of the header
  std::vector<uint8_t> payload; // unpacked
};

// The records from `stub_length` on, up to and including the end marker.
inline std::vector<RawRecord> walk_records(const std::vector<uint8_t>& file, size_t stub_length) {
  std::vector<RawRecord> records;
  size_t at = stub_length;
  while (at + 8 <= file.size()) {
    RawRecord r;
    r.offset = at;
    r.tag = read_u16(&file[at]);
    r.flags = read_u16(&file[at + 2]);
    r.length = read_u32(&file[at + 4]);
    at += 8;
    if (r.tag == 0x7F7F) {
      records.push_back(r);
      break;
    }
    std::vector<uint8_t> stored(file.begin() + at, file.begin() + at + r.length);
    at += r.length;
    if (r.flags & 1) {
      uint32_t size = read_u32(stored.data());
      std::vector<uint8_t> stream(stored.begin() + 4, stored.end());
      if (!pakwiz::decode_stream(stream, size, &r.payload)) r.payload.clear();
    } else {
      r.payload = stored;
    }
    records.push_back(r);
  }
  return records;
}

inline const RawRecord* find_record(const std::vector<RawRecord>& records, int type, int nth = 0) {
  for (const RawRecord& r : records)
    if (r.tag == 0x1234 + type && nth-- == 0) return &r;
  return nullptr;
}

} // namespace builder_test
