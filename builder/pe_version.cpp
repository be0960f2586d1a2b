#include "builder/pe_version.h"

#include "builder/bytes.h"

namespace pakwiz {

namespace {

const uint32_t RT_VERSION_ID = 16;
const uint32_t FIXED_SIGNATURE = 0xFEEF04BD;

struct Image {
  const uint8_t* data;
  size_t size;
  bool has(size_t at, size_t n) const { return at <= size && n <= size - at; }
};

struct Section {
  uint32_t virtual_address, virtual_size, raw_offset, raw_size;
};

// File offset of an RVA, or SIZE_MAX.
size_t rva_to_offset(const Image& img, size_t sections_at, unsigned count, uint32_t rva) {
  for (unsigned i = 0; i < count; i++) {
    size_t s = sections_at + 40 * (size_t)i;
    uint32_t va = read_u32(img.data + s + 12), vsize = read_u32(img.data + s + 8);
    uint32_t raw_size = read_u32(img.data + s + 16), raw = read_u32(img.data + s + 20);
    uint32_t span = vsize > raw_size ? vsize : raw_size;
    if (rva >= va && rva - va < span) {
      if (rva - va >= raw_size) return SIZE_MAX; // in the zero-filled tail: not in the file
      return (size_t)raw + (rva - va);
    }
  }
  return SIZE_MAX;
}

// The first entry of the resource directory at `dir` (offset in the file),
// optionally the one with numeric id `want`. Returns its OffsetToData, or
// 0xFFFFFFFF when there is none.
uint32_t directory_entry(const Image& img, size_t dir, long want) {
  if (!img.has(dir, 16)) return 0xFFFFFFFFu;
  unsigned named = read_u16(img.data + dir + 12), ids = read_u16(img.data + dir + 14);
  size_t entries = dir + 16;
  if (!img.has(entries, 8 * ((size_t)named + ids))) return 0xFFFFFFFFu;
  for (unsigned i = 0; i < named + ids; i++) {
    uint32_t name = read_u32(img.data + entries + 8 * i);
    if (want >= 0 && ((name & 0x80000000u) || name != (uint32_t)want)) continue;
    return read_u32(img.data + entries + 8 * i + 4);
  }
  return 0xFFFFFFFFu;
}

// Walks one VS_VERSIONINFO-style block: u16 length, u16 value length, u16
// type, UTF-16 key, padding, value, padding, children.
struct Block {
  size_t start, end, value, value_size, children;
  const uint8_t* key; // UTF-16
  size_t key_chars;
};

bool read_block(const Image& img, size_t at, size_t limit, Block* b) {
  if (at + 6 > limit || !img.has(at, 6)) return false;
  uint16_t length = read_u16(img.data + at), value_length = read_u16(img.data + at + 2);
  uint16_t type = read_u16(img.data + at + 4);
  if (length < 6 || at + length > limit) return false;
  b->start = at;
  b->end = at + length;
  size_t k = at + 6;
  b->key = img.data + k;
  b->key_chars = 0;
  for (;;) {
    if (k + 2 > b->end) return false;
    uint16_t c = read_u16(img.data + k);
    k += 2;
    if (c == 0) break;
    b->key_chars++;
  }
  k = (k + 3) & ~(size_t)3;
  b->value = k;
  b->value_size = type == 1 ? 2 * (size_t)value_length : value_length;
  if (b->value > b->end || b->value_size > b->end - b->value) {
    // Some writers round the value length oddly; clamp to the block.
    if (b->value > b->end) return false;
    b->value_size = b->end - b->value;
  }
  b->children = (b->value + b->value_size + 3) & ~(size_t)3;
  return true;
}

bool key_is(const Block& b, const char* ascii) {
  size_t i = 0;
  for (; ascii[i]; i++)
    if (i >= b.key_chars || read_u16(b.key + 2 * i) != (uint8_t)ascii[i]) return false;
  return i == b.key_chars;
}

} // namespace

bool read_pe_version(const uint8_t* data, size_t size, VersionInfo* out) {
  Image img{data, size};
  if (!img.has(0, 64) || data[0] != 'M' || data[1] != 'Z') return false;
  uint32_t pe = read_u32(data + 0x3C);
  if (!img.has(pe, 24) || read_u32(data + pe) != 0x00004550) return false;
  unsigned sections = read_u16(data + pe + 6);
  unsigned optional_size = read_u16(data + pe + 20);
  size_t opt = pe + 24;
  if (!img.has(opt, optional_size) || optional_size < 2) return false;
  uint16_t magic = read_u16(data + opt);
  size_t directories;
  if (magic == 0x10B)
    directories = opt + 96; // PE32
  else if (magic == 0x20B)
    directories = opt + 112; // PE32+
  else
    return false;
  size_t count_at = directories - 4; // NumberOfRvaAndSizes
  if (count_at + 4 > opt + optional_size || read_u32(data + count_at) < 3) return false;
  if (directories + 3 * 8 > opt + optional_size) return false;
  uint32_t resource_rva = read_u32(data + directories + 2 * 8);
  if (resource_rva == 0) return false;
  size_t sections_at = opt + optional_size;
  if (!img.has(sections_at, 40 * (size_t)sections)) return false;

  size_t root = rva_to_offset(img, sections_at, sections, resource_rva);
  if (root == SIZE_MAX) return false;
  // Type (RT_VERSION) -> name (first) -> language (first) -> data entry.
  uint32_t level = directory_entry(img, root, RT_VERSION_ID);
  for (int depth = 0; depth < 2; depth++) {
    if (level == 0xFFFFFFFFu || !(level & 0x80000000u)) return false;
    level = directory_entry(img, root + (level & 0x7FFFFFFFu), -1);
  }
  if (level == 0xFFFFFFFFu || (level & 0x80000000u)) return false;
  size_t entry = root + level;
  if (!img.has(entry, 16)) return false;
  size_t at = rva_to_offset(img, sections_at, sections, read_u32(data + entry));
  uint32_t length = read_u32(data + entry + 4);
  if (at == SIZE_MAX || !img.has(at, length)) return false;

  Block info;
  if (!read_block(img, at, at + length, &info) || !key_is(info, "VS_VERSION_INFO")) return false;
  if (info.value_size < 52 || read_u32(data + info.value) != FIXED_SIGNATURE) return false;
  VersionInfo v;
  v.file_ms = read_u32(data + info.value + 8);
  v.file_ls = read_u32(data + info.value + 12);
  v.product_ms = read_u32(data + info.value + 16);
  v.product_ls = read_u32(data + info.value + 20);

  // Children: StringFileInfo and VarFileInfo; the language is the first
  // 16-bit value of VarFileInfo\Translation.
  for (size_t c = info.children; c + 6 <= info.end;) {
    Block child;
    if (!read_block(img, c, info.end, &child)) break;
    if (key_is(child, "VarFileInfo")) {
      for (size_t g = child.children; g + 6 <= child.end;) {
        Block var;
        if (!read_block(img, g, child.end, &var)) break;
        if (key_is(var, "Translation") && var.value_size >= 2) {
          v.language = read_u16(data + var.value);
          break;
        }
        g = (var.end + 3) & ~(size_t)3;
      }
    }
    c = (child.end + 3) & ~(size_t)3;
  }
  *out = v;
  return true;
}

} // namespace pakwiz
