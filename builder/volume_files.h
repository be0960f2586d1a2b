// The archive as the builder's tools read it: random access by archive
// position across the package file and its volume files (.D01, .D02, ...).
// Unlike the setup program's reader this one may go back and forth; it is
// used by verify and extract.
#pragma once
#include <stdint.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace pakwiz {

// The name of volume n (n >= 1) of a package: the package path with its
// extension (a '.' after the last '/' or '\') replaced by ".D%02d", or that
// appended when there is none: setup.exe -> setup.D01, setup -> setup.D01.
std::string volume_file_path(const std::string& package_path, uint32_t n);

class ArchiveFiles {
public:
  // `archive_offset` is the file position of the package file's archive size
  // word, `first_size` that word's value.
  ArchiveFiles(const std::string& package_path, uint64_t archive_offset, uint32_t first_size);
  ~ArchiveFiles();

  // Reads `count` bytes from archive position `position`. Throws BuildError
  // naming the file when a volume is missing, unreadable, shorter than its
  // size word says (or longer), or when the archive ends before the bytes do.
  // Memory grows with the bytes actually read, never ahead of them: a count
  // larger than the archive costs nothing before the read fails.
  std::vector<uint8_t> read(uint64_t position, uint64_t count);
  // The same into a caller's buffer of `count` bytes.
  void read_into(uint64_t position, uint8_t* out, uint64_t count);
  // The file that holds archive position `position`: 0 for the package
  // file, n for volume n. A position at the end of a file lies in the next
  // one. Throws BuildError as read() does when that file is missing.
  uint32_t volume_of(uint64_t position);

  // Checks the package file's own length against its archive size word,
  // allowing `signature_bytes` behind the archive (a certificate table and
  // its padding); empty when it matches, else the problem.
  std::string check_package_length(uint64_t signature_bytes = 0) const;

private:
  struct Volume {
    std::string path;
    uint64_t start;       // archive position of its first byte
    uint64_t size;        // archive bytes it holds
    uint64_t data_offset; // file position of its first archive byte
    std::unique_ptr<std::ifstream> stream;
  };
  void open_next();

  std::string package_path_;
  uint64_t package_length_ = 0;
  std::vector<Volume> volumes_;
};

} // namespace pakwiz
