#include "builder/stream_store.h"

#include <string.h>

namespace pakwiz {

StreamStore::StreamStore(const std::string& folder, size_t files) {
  for (size_t i = 0; i < files; i++) files_.push_back(HostFile::create_scratch(folder));
  ends_.assign(files, 0);
}

void StreamStore::append(size_t file, const uint8_t* data, size_t size) {
  files_[file].write(data, size);
  ends_[file] += size;
}

void StreamStore::read(const StoredStream& s, uint64_t offset, uint8_t* out, size_t size) {
  files_[s.file].read_at(s.offset + offset, out, size);
}

bool StreamStore::same(const StoredStream& a, const StoredStream& b) {
  if (a.size != b.size) return false;
  const size_t CHUNK = 1 << 20;
  std::vector<uint8_t> x(CHUNK), y(CHUNK);
  for (uint64_t at = 0; at < a.size; at += CHUNK) {
    size_t n = (size_t)(a.size - at < CHUNK ? a.size - at : CHUNK);
    read(a, at, x.data(), n);
    read(b, at, y.data(), n);
    if (memcmp(x.data(), y.data(), n) != 0) return false;
  }
  return true;
}

} // namespace pakwiz
