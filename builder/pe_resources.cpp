#include "builder/pe_resources.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "builder/bytes.h"
#include "builder/errors.h"

namespace pakwiz {

namespace {

// Offsets in the headers: e_lfanew in the DOS header; behind "PE\0\0" the
// COFF file header; then the optional header.
const size_t DOS_PE_OFFSET = 0x3C;
const size_t COFF_SECTIONS = 6, COFF_SYMBOLS = 12, COFF_OPTIONAL_SIZE = 20;
const size_t OPT = 24; // optional header, from the signature
const size_t OPT_INITIALIZED_DATA = 8, OPT_SECTION_ALIGNMENT = 32, OPT_FILE_ALIGNMENT = 36;
const size_t OPT_SIZE_OF_IMAGE = 56, OPT_CHECKSUM = 64;
const size_t SECTION_HEADER = 40;
const size_t SEC_VIRTUAL_SIZE = 8, SEC_VIRTUAL_ADDRESS = 12, SEC_RAW_SIZE = 16, SEC_RAW = 20;
enum { DIR_RESOURCE = 2, DIR_SECURITY = 4, DIR_BASE_RELOCATION = 5 };

struct Headers {
  size_t pe = 0, opt = 0, dirs = 0, sections = 0;
  unsigned dir_count = 0, section_count = 0;
  uint32_t section_alignment = 0, file_alignment = 0;
};

struct Section {
  size_t header; // file offset of its section header
  uint32_t va, vsize, raw, raw_size;
};

bool fits(const std::vector<uint8_t>& d, size_t at, size_t n) {
  return at <= d.size() && n <= d.size() - at;
}

// Parses the headers; returns false when `d` is not a PE image.
bool parse_headers(const std::vector<uint8_t>& d, Headers* h) {
  if (!fits(d, 0, 0x40) || d[0] != 'M' || d[1] != 'Z') return false;
  h->pe = read_u32(&d[DOS_PE_OFFSET]);
  if (!fits(d, h->pe, OPT + 2) || read_u32(&d[h->pe]) != 0x00004550u) return false;
  size_t optional_size = read_u16(&d[h->pe + COFF_OPTIONAL_SIZE]);
  h->opt = h->pe + OPT;
  if (!fits(d, h->opt, optional_size)) return false;
  uint16_t magic = read_u16(&d[h->opt]);
  size_t dirs = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  if (!dirs || optional_size < dirs) return false;
  h->dirs = h->opt + dirs;
  h->dir_count =
      std::min<unsigned>(read_u32(&d[h->dirs - 4]), (unsigned)(optional_size - dirs) / 8);
  h->section_alignment = read_u32(&d[h->opt + OPT_SECTION_ALIGNMENT]);
  h->file_alignment = read_u32(&d[h->opt + OPT_FILE_ALIGNMENT]);
  h->sections = h->opt + optional_size;
  h->section_count = read_u16(&d[h->pe + COFF_SECTIONS]);
  return fits(d, h->sections, SECTION_HEADER * h->section_count);
}

uint32_t dir_rva(const std::vector<uint8_t>& d, const Headers& h, unsigned k) {
  return k < h.dir_count ? read_u32(&d[h.dirs + 8 * k]) : 0;
}

std::vector<Section> sections_of(const std::vector<uint8_t>& d, const Headers& h) {
  std::vector<Section> s;
  for (unsigned i = 0; i < h.section_count; i++) {
    size_t at = h.sections + SECTION_HEADER * i;
    s.push_back({at, read_u32(&d[at + SEC_VIRTUAL_ADDRESS]), read_u32(&d[at + SEC_VIRTUAL_SIZE]),
                 read_u32(&d[at + SEC_RAW]), read_u32(&d[at + SEC_RAW_SIZE])});
  }
  return s;
}

uint64_t align_up(uint64_t v, uint64_t a) {
  return a ? (v + a - 1) / a * a : v;
}

// Reader of the resource tree inside the section that holds it.
struct TreeReader {
  const std::vector<uint8_t>& d;
  const std::vector<Section>& sections;
  size_t base;   // file offset of the resource directory
  uint32_t span; // bytes of the section from there on
  const std::string& what;
  std::vector<Resource> out;
  // Against trees that share subdirectories or data: entries visited and
  // bytes copied.
  size_t visited = 0, copied = 0;

  [[noreturn]] void bad(const std::string& problem) const {
    fail(what + ": damaged resource directory: " + problem);
  }
  size_t at(uint32_t offset, size_t n) const {
    if (offset > span || n > span - offset) bad("an offset lies outside the resource section");
    return base + offset;
  }
  ResourceId id_of(uint32_t field) const {
    ResourceId id;
    if (!(field & 0x80000000u)) {
      if (field > 0xFFFF) bad("a numeric ID above 65535");
      id.number = (uint16_t)field;
      return id;
    }
    size_t s = at(field & 0x7FFFFFFFu, 2);
    uint16_t n = read_u16(&d[s]);
    s = at((field & 0x7FFFFFFFu) + 2, 2 * (size_t)n);
    for (uint16_t i = 0; i < n; i++) id.text.push_back((char16_t)read_u16(&d[s + 2 * i]));
    if (id.text.empty()) bad("an empty name");
    return id;
  }
  size_t file_offset(uint32_t rva, uint32_t size) const {
    for (const Section& s : sections)
      if (rva >= s.va && rva - s.va < std::max(s.vsize, s.raw_size)) {
        if (rva - s.va > s.raw_size || size > s.raw_size - (rva - s.va) ||
            !fits(d, s.raw + (size_t)(rva - s.va), size))
          break;
        return s.raw + (rva - s.va);
      }
    bad("resource data lies outside the file");
  }
  // depth 0: types, 1: names, 2: languages.
  void walk(uint32_t offset, int depth, Resource& r) {
    size_t dir = at(offset, 16);
    unsigned n = (unsigned)read_u16(&d[dir + 12]) + read_u16(&d[dir + 14]);
    size_t entries = at(offset + 16, 8 * (size_t)n);
    for (unsigned i = 0; i < n; i++) {
      if (++visited > 1000000) bad("too many entries");
      uint32_t name = read_u32(&d[entries + 8 * i]), target = read_u32(&d[entries + 8 * i + 4]);
      ResourceId id = id_of(name);
      if (depth == 0) r.type = id;
      if (depth == 1) r.name = id;
      if (depth == 2) {
        if (!id.text.empty()) bad("a language given by name");
        r.language = id.number;
      }
      bool subdirectory = (target & 0x80000000u) != 0;
      if (subdirectory != (depth < 2)) bad("the tree is not type, name, language");
      if (subdirectory) {
        walk(target & 0x7FFFFFFFu, depth + 1, r);
        continue;
      }
      size_t entry = at(target, 16);
      uint32_t rva = read_u32(&d[entry]), size = read_u32(&d[entry + 4]);
      size_t from = file_offset(rva, size);
      copied += size;
      if (copied > ((size_t)1 << 28)) bad("more than 256 MiB of resource data");
      r.codepage = read_u32(&d[entry + 8]);
      r.data.assign(d.begin() + (long)from, d.begin() + (long)(from + size));
      out.push_back(r);
    }
  }
};

// Writer of a resource section.
std::vector<uint8_t> build_section(const std::vector<Resource>& resources, uint32_t section_rva,
                                   const std::string& what) {
  // type -> name -> language -> resource
  std::map<ResourceId, std::map<ResourceId, std::map<uint16_t, const Resource*>>> tree;
  for (const Resource& r : resources) {
    const Resource*& slot = tree[r.type][r.name][r.language];
    if (slot) fail(what + ": two resources with the same type, name and language");
    slot = &r;
  }
  auto dir_bytes = [](size_t entries) { return 16 + 8 * entries; };
  // Directories: the root, then one per type, then one per (type, name).
  size_t tables = dir_bytes(tree.size());
  for (auto& [type, names] : tree) {
    tables += dir_bytes(names.size());
    for (auto& [name, languages] : names) tables += dir_bytes(languages.size());
  }
  // Strings of named types and names, each once per use.
  size_t strings = tables;
  size_t strings_size = 0;
  for (auto& [type, names] : tree) {
    if (!type.text.empty()) strings_size += 2 + 2 * type.text.size();
    for (auto& [name, languages] : names)
      if (!name.text.empty()) strings_size += 2 + 2 * name.text.size();
  }
  size_t entries = align_up(strings + strings_size, 4);
  size_t data = entries + 16 * resources.size();

  ByteWriter w;
  w.zeros(data);
  size_t next_dir = 0, next_string = strings, next_entry = entries;
  auto put_dir = [&](size_t at, size_t named, size_t ids) {
    // Characteristics, TimeDateStamp (0: the same bytes every build), version
    w.bytes[at + 12] = (uint8_t)named;
    w.bytes[at + 13] = (uint8_t)(named >> 8);
    w.bytes[at + 14] = (uint8_t)ids;
    w.bytes[at + 15] = (uint8_t)(ids >> 8);
  };
  auto name_field = [&](const ResourceId& id) -> uint32_t {
    if (id.text.empty()) return id.number;
    uint32_t at = (uint32_t)next_string;
    w.bytes[next_string] = (uint8_t)id.text.size();
    w.bytes[next_string + 1] = (uint8_t)(id.text.size() >> 8);
    for (size_t i = 0; i < id.text.size(); i++) {
      w.bytes[next_string + 2 + 2 * i] = (uint8_t)id.text[i];
      w.bytes[next_string + 3 + 2 * i] = (uint8_t)(id.text[i] >> 8);
    }
    next_string += 2 + 2 * id.text.size();
    return 0x80000000u | at;
  };
  auto count_named = [](const auto& m) {
    size_t n = 0;
    for (auto& kv : m)
      if (!kv.first.text.empty()) n++;
    return n;
  };
  size_t root = next_dir;
  next_dir += dir_bytes(tree.size());
  put_dir(root, count_named(tree), tree.size() - count_named(tree));
  size_t t = 0;
  std::vector<std::pair<size_t, const std::map<ResourceId, std::map<uint16_t, const Resource*>>*>>
      type_dirs;
  for (auto& [type, names] : tree) {
    size_t dir = next_dir;
    next_dir += dir_bytes(names.size());
    w.put_u32(root + 16 + 8 * t, name_field(type));
    w.put_u32(root + 16 + 8 * t + 4, 0x80000000u | (uint32_t)dir);
    put_dir(dir, count_named(names), names.size() - count_named(names));
    type_dirs.emplace_back(dir, &names);
    t++;
  }
  for (auto& [type_dir, names] : type_dirs) {
    size_t k = 0;
    for (auto& [name, languages] : *names) {
      size_t dir = next_dir;
      next_dir += dir_bytes(languages.size());
      w.put_u32(type_dir + 16 + 8 * k, name_field(name));
      w.put_u32(type_dir + 16 + 8 * k + 4, 0x80000000u | (uint32_t)dir);
      put_dir(dir, 0, languages.size());
      size_t l = 0;
      for (auto& [language, r] : languages) {
        w.put_u32(dir + 16 + 8 * l, language);
        w.put_u32(dir + 16 + 8 * l + 4, (uint32_t)next_entry);
        w.align(8);
        w.put_u32(next_entry, section_rva + (uint32_t)w.size());
        w.put_u32(next_entry + 4, (uint32_t)r->data.size());
        w.put_u32(next_entry + 8, r->codepage);
        w.append(r->data);
        next_entry += 16;
        l++;
      }
      k++;
    }
  }
  return w.bytes;
}

} // namespace

bool ResourceId::operator<(const ResourceId& o) const {
  // Named entries come first, sorted by name; then numbers, ascending.
  bool named = !text.empty(), other_named = !o.text.empty();
  if (named != other_named) return named;
  return named ? text < o.text : number < o.number;
}

bool is_pe_image(const std::vector<uint8_t>& image) {
  Headers h;
  return parse_headers(image, &h);
}

std::vector<Resource> read_resources(const std::vector<uint8_t>& image, const std::string& what) {
  Headers h;
  if (!parse_headers(image, &h)) fail(what + ": not a Windows program (no PE headers)");
  uint32_t rva = dir_rva(image, h, DIR_RESOURCE);
  if (rva == 0) return {};
  std::vector<Section> sections = sections_of(image, h);
  for (const Section& s : sections)
    if (rva >= s.va && rva - s.va < s.raw_size && fits(image, s.raw, s.raw_size)) {
      TreeReader reader{image, sections, s.raw + (rva - s.va), s.raw_size - (rva - s.va), what, {}};
      Resource r;
      reader.walk(0, 0, r);
      return reader.out;
    }
  fail(what + ": the resource directory lies outside the file");
}

std::vector<uint8_t> replace_resources(const std::vector<uint8_t>& image,
                                       const std::vector<Resource>& resources,
                                       const std::string& what) {
  Headers h;
  if (!parse_headers(image, &h)) fail(what + ": not a Windows program (no PE headers)");
  if (dir_rva(image, h, DIR_SECURITY) != 0)
    fail(what + ": the program is signed; sign the finished setup file instead (--sign)");
  if (h.dir_count <= DIR_BASE_RELOCATION) fail(what + ": too few data directories");
  std::vector<Section> sections = sections_of(image, h);
  uint32_t rsrc_rva = dir_rva(image, h, DIR_RESOURCE);
  size_t k = 0;
  while (k < sections.size() && !(rsrc_rva && sections[k].va == rsrc_rva)) k++;
  if (k == sections.size())
    fail(what + ": the program has no resource section of its own to rebuild");
  bool reloc_follows =
      k + 2 == sections.size() && sections[k + 1].va == dir_rva(image, h, DIR_BASE_RELOCATION);
  if (k + 1 != sections.size() && !reloc_follows)
    fail(what + ": the resource section is not the program's last section");
  // The rebuilt sections keep their places in memory and in the file: every
  // other section lies before them in both.
  for (size_t i = 1; i < sections.size(); i++)
    if (sections[i].va <= sections[i - 1].va)
      fail(what + ": the sections are not in address order");
  for (size_t i = 0; i < k; i++)
    if (sections[i].raw_size && sections[i].raw + (uint64_t)sections[i].raw_size > sections[k].raw)
      fail(what + ": a section's data lies behind the resource section");
  if (reloc_follows && sections[k + 1].raw != sections[k].raw + (uint64_t)sections[k].raw_size)
    fail(what + ": the relocations do not follow the resource section in the file");
  const Section& last = sections.back();
  if (read_u32(&image[h.pe + COFF_SYMBOLS]) != 0 ||
      last.raw + (uint64_t)last.raw_size != image.size())
    fail(what + ": bytes follow the program's last section (symbols or appended data); use a "
                "stripped program");
  if (!h.file_alignment || !h.section_alignment) fail(what + ": no section alignment");

  const Section& rsrc = sections[k];
  std::vector<uint8_t> section = build_section(resources, rsrc.va, what);
  uint32_t vsize = (uint32_t)section.size();
  uint32_t raw_size = (uint32_t)align_up(vsize, h.file_alignment);
  section.resize(raw_size, 0);

  std::vector<uint8_t> out(image.begin(), image.begin() + rsrc.raw);
  out.insert(out.end(), section.begin(), section.end());
  auto put32 = [&out](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) out[at + i] = (uint8_t)(v >> (8 * i));
  };
  put32(rsrc.header + SEC_VIRTUAL_SIZE, vsize);
  put32(rsrc.header + SEC_RAW_SIZE, raw_size);
  put32(h.dirs + 8 * DIR_RESOURCE + 4, vsize);
  uint64_t image_end = rsrc.va + (uint64_t)vsize;
  if (reloc_follows) {
    const Section& reloc = sections[k + 1];
    uint32_t va = (uint32_t)align_up(image_end, h.section_alignment);
    put32(reloc.header + SEC_VIRTUAL_ADDRESS, va);
    put32(reloc.header + SEC_RAW, rsrc.raw + raw_size);
    put32(h.dirs + 8 * DIR_BASE_RELOCATION,
          va + (dir_rva(image, h, DIR_BASE_RELOCATION) - reloc.va));
    out.insert(out.end(), image.begin() + reloc.raw, image.begin() + reloc.raw + reloc.raw_size);
    image_end = va + (uint64_t)std::max(reloc.vsize, reloc.raw_size);
  }
  put32(h.opt + OPT_SIZE_OF_IMAGE, (uint32_t)align_up(image_end, h.section_alignment));
  put32(h.opt + OPT_INITIALIZED_DATA,
        read_u32(&image[h.opt + OPT_INITIALIZED_DATA]) - rsrc.raw_size + raw_size);
  put32(h.opt + OPT_CHECKSUM, 0);
  put32(h.opt + OPT_CHECKSUM, pe_checksum(out));
  return out;
}

size_t pe_checksum_offset(const std::vector<uint8_t>& image) {
  Headers h;
  return parse_headers(image, &h) ? h.opt + OPT_CHECKSUM : 0;
}

void PeChecksum::add(const uint8_t* data, size_t n) {
  length_ += n;
  size_t i = 0;
  if (odd_ >= 0 && n > 0) {
    sum_ += (uint32_t)odd_ | ((uint32_t)data[0] << 8);
    odd_ = -1;
    i = 1;
  }
  uint64_t sum = sum_;
  for (; i + 1 < n; i += 2) sum += (uint32_t)data[i] | ((uint32_t)data[i + 1] << 8);
  if (i < n) odd_ = data[i];
  sum_ = sum;
}

void PeChecksum::add_at(uint64_t offset, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; i++) sum_ += (uint32_t)data[i] << (((offset + i) & 1) ? 8 : 0);
}

uint32_t PeChecksum::finish() const {
  uint64_t sum = sum_ + (odd_ >= 0 ? (uint32_t)odd_ : 0);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + length_);
}

uint32_t pe_checksum(const std::vector<uint8_t>& image) {
  size_t field = pe_checksum_offset(image);
  PeChecksum c;
  if (!field) {
    c.add(image.data(), image.size());
    return c.finish();
  }
  static const uint8_t zero[4] = {0, 0, 0, 0};
  c.add(image.data(), field);
  c.add(zero, 4);
  c.add(image.data() + field + 4, image.size() - field - 4);
  return c.finish();
}

} // namespace pakwiz
