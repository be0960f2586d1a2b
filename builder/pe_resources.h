// Resources of Windows executables: reading the resource tree of a PE image,
// writing a new tree in place of the old one, and the PE checksum.
//
// The resource section is rebuilt whole. For that it must be the image's
// last section, or be followed only by the base relocation section (which
// holds no addresses of its own and moves behind the new resource section,
// as the linkers place it); nothing may follow the sections in the file.
// The section's size, the resource and relocation directories, the image
// size, the size of initialised data and the checksum are set to match.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace pakwiz {

enum : uint16_t {
  RES_TYPE_ICON = 3,
  RES_TYPE_GROUP_ICON = 14,
  RES_TYPE_VERSION = 16,
  RES_TYPE_MANIFEST = 24,
};
const uint16_t RES_LANGUAGE_EN_US = 0x0409;

// A resource type or name: a number, or (when `text` is not empty) a UTF-16
// string.
struct ResourceId {
  uint16_t number = 0;
  std::u16string text;
  bool operator==(const ResourceId& o) const { return number == o.number && text == o.text; }
  bool operator<(const ResourceId& o) const; // the order of a resource directory
};

struct Resource {
  ResourceId type, name;
  uint16_t language = 0;
  uint32_t codepage = 0;
  std::vector<uint8_t> data;
};

// Whether `image` begins with the headers of a PE32 or PE32+ image.
bool is_pe_image(const std::vector<uint8_t>& image);

// Every resource of the image, in directory order; empty when it has no
// resource directory. Throws BuildError(what + ": ...") when the headers or
// the resource tree are malformed (an offset outside its section, a tree
// deeper or shallower than type/name/language, data outside the file).
std::vector<Resource> read_resources(const std::vector<uint8_t>& image, const std::string& what);

// The image with a resource section holding exactly `resources` (in any
// order; two with the same type, name and language are an error). Throws
// BuildError(what + ": ...") when the image's layout does not allow it (see
// above) or it is signed. Deterministic: the same input gives the same bytes.
std::vector<uint8_t> replace_resources(const std::vector<uint8_t>& image,
                                       const std::vector<Resource>& resources,
                                       const std::string& what);

// File offset of the optional header's CheckSum field; 0 when `image` is not
// a PE image.
size_t pe_checksum_offset(const std::vector<uint8_t>& image);

// The PE checksum of a file, fed in pieces of any size: the 16-bit
// little-endian words summed with end-around carry, plus the file's length.
// The CheckSum field must be zero (or skipped) while it is fed.
class PeChecksum {
public:
  void add(const uint8_t* data, size_t n);
  // Counts `n` bytes at file `offset` that were added as zeros before (the
  // sum does not depend on the order of its words).
  void add_at(uint64_t offset, const uint8_t* data, size_t n);
  uint32_t finish() const;

private:
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
  int odd_ = -1; // a pending low byte, when the bytes so far are odd
};

// The checksum of a whole image, with its CheckSum field counted as zero.
uint32_t pe_checksum(const std::vector<uint8_t>& image);

} // namespace pakwiz
