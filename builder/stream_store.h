// Where a build keeps the compressed streams until the package is written.
//
// Each compressing task appends the streams it makes to a scratch file of its
// own in the output's folder, so that memory holds no more than the piece
// being compressed, whatever the size of the files. The scratch files vanish
// when the store is destroyed or the process ends (see HostFile).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "builder/host_files.h"

namespace pakwiz {

// A stream in the store: `size` bytes at `offset` of scratch file `file`.
struct StoredStream {
  size_t file = 0;
  uint64_t offset = 0, size = 0;
};

class StreamStore {
public:
  // Makes `files` scratch files in `folder` ("" = the current folder), one
  // per task.
  StreamStore(const std::string& folder, size_t files);

  // Appends to scratch file `file`; only its task may call this, and only
  // before any read.
  void append(size_t file, const uint8_t* data, size_t size);
  // The end of scratch file `file`: where the next stream appended begins.
  uint64_t end(size_t file) const { return ends_[file]; }

  // Reads `size` bytes at `offset` of a stream (once every task has ended).
  void read(const StoredStream& s, uint64_t offset, uint8_t* out, size_t size);
  // True when two streams hold the same bytes.
  bool same(const StoredStream& a, const StoredStream& b);

private:
  std::vector<HostFile> files_;
  std::vector<uint64_t> ends_;
};

} // namespace pakwiz
