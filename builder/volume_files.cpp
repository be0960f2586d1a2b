#include "builder/volume_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "builder/bytes.h"
#include "builder/errors.h"
#include "common/package_format.h"

namespace pakwiz {

std::string volume_file_path(const std::string& package_path, uint32_t n) {
  char ext[16];
  snprintf(ext, sizeof ext, VOLUME_EXTENSION_FORMAT, (int)n);
  size_t sep = package_path.find_last_of("/\\");
  size_t dot = package_path.rfind('.');
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep))
    return package_path.substr(0, dot) + ext;
  return package_path + ext;
}

ArchiveFiles::ArchiveFiles(const std::string& package_path, uint64_t archive_offset,
                           uint32_t first_size)
    : package_path_(package_path) {
  std::error_code ec;
  package_length_ = std::filesystem::file_size(std::filesystem::u8path(package_path), ec);
  if (ec) fail(package_path + ": cannot read the file: " + ec.message());
  auto stream =
      std::make_unique<std::ifstream>(std::filesystem::u8path(package_path), std::ios::binary);
  if (!*stream) fail(package_path + ": cannot open the file: " + std::strerror(errno));
  volumes_.push_back(Volume{package_path, 0, first_size, archive_offset + 4, std::move(stream)});
}

ArchiveFiles::~ArchiveFiles() = default;

std::string ArchiveFiles::check_package_length(uint64_t signature_bytes) const {
  const Volume& v = volumes_[0];
  uint64_t expected = v.data_offset + v.size + signature_bytes;
  if (package_length_ == expected) return "";
  if (package_length_ < expected)
    return "the file is " + with_commas(expected - package_length_) +
           " bytes shorter than its archive size word says (truncated)";
  return "the file is " + with_commas(package_length_ - expected) +
         " bytes longer than its archive size word says";
}

void ArchiveFiles::open_next() {
  uint32_t n = (uint32_t)volumes_.size();
  const Volume& last = volumes_.back();
  std::string path = volume_file_path(package_path_, n);
  auto stream = std::make_unique<std::ifstream>(std::filesystem::u8path(path), std::ios::binary);
  if (!*stream)
    fail(path + ": volume " + std::to_string(n) +
         " is missing or cannot be read: " + std::strerror(errno));
  uint8_t word[4];
  if (!stream->read((char*)word, 4)) fail(path + ": the volume ends before its size word");
  uint64_t size = read_u32(word);
  std::error_code ec;
  uint64_t length = std::filesystem::file_size(std::filesystem::u8path(path), ec);
  if (ec) fail(path + ": cannot read the file: " + ec.message());
  if (length != size + 4)
    fail(path + ": the volume holds " + with_commas(length - 4) +
         " archive bytes, its size word "
         "says " +
         with_commas(size) + (length < size + 4 ? " (truncated)" : ""));
  volumes_.push_back(Volume{path, last.start + last.size, size, 4, std::move(stream)});
}

std::vector<uint8_t> ArchiveFiles::read(uint64_t position, uint64_t count) {
  std::vector<uint8_t> out;
  const uint64_t step = 1 << 20;
  while (count > 0) {
    uint64_t n = count < step ? count : step;
    size_t at = out.size();
    out.resize(at + n);
    read_into(position, out.data() + at, n);
    position += n;
    count -= n;
  }
  return out;
}

uint32_t ArchiveFiles::volume_of(uint64_t position) {
  // Find (or open) the volume holding `position`.
  size_t v = 0;
  for (;;) {
    if (v == volumes_.size()) {
      if (volumes_.size() > 9999) fail(package_path_ + ": too many volumes");
      open_next();
    }
    if (position < volumes_[v].start + volumes_[v].size) return (uint32_t)v;
    v++;
  }
}

void ArchiveFiles::read_into(uint64_t position, uint8_t* out, uint64_t count) {
  while (count > 0) {
    uint32_t v = volume_of(position);
    Volume& vol = volumes_[v];
    uint64_t offset = position - vol.start;
    uint64_t n = vol.size - offset < count ? vol.size - offset : count;
    if (v == 0 && vol.data_offset + offset + n > package_length_)
      fail(vol.path + ": the file ends inside the archive (truncated)");
    vol.stream->clear();
    vol.stream->seekg((std::streamoff)(vol.data_offset + offset));
    if (!vol.stream->read((char*)out, (std::streamsize)n))
      fail(vol.path + ": cannot read " + with_commas(n) + " bytes at offset " +
           with_commas(vol.data_offset + offset));
    out += n;
    position += n;
    count -= n;
  }
}

} // namespace pakwiz
