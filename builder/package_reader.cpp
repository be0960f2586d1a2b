#include "builder/package_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "builder/bytes.h"
#include "builder/errors.h"
#include "decode/stream_decoder.h"
#include "package/package.h"

namespace pakwiz {

namespace fs = std::filesystem;

std::vector<size_t> find_stub_markers(const uint8_t* data, size_t size) {
  std::vector<size_t> found;
  for (size_t i = 0; i + STUB_MARKER_SIZE <= size; i++) {
    const uint8_t* hit = (const uint8_t*)memchr(data + i, STUB_MARKER[0], size - i);
    if (!hit) break;
    i = (size_t)(hit - data);
    if (i + STUB_MARKER_SIZE <= size && memcmp(hit, STUB_MARKER, STUB_MARKER_SIZE) == 0)
      found.push_back(i);
  }
  return found;
}

namespace {

// Bounds-checked cursor over a payload.
struct Cursor {
  const std::vector<uint8_t>& p;
  size_t at;
  const std::string& what;
  [[noreturn]] void damaged(const std::string& problem) const { fail(what + problem); }
  void need(size_t n) const {
    if (at > p.size() || n > p.size() - at)
      damaged(": ends at byte " + std::to_string(p.size()) + " inside a field at " +
              std::to_string(at));
  }
  uint8_t u8() {
    need(1);
    return p[at++];
  }
  uint16_t u16() {
    need(2);
    at += 2;
    return read_u16(p.data() + at - 2);
  }
  uint32_t u32() {
    need(4);
    at += 4;
    return read_u32(p.data() + at - 4);
  }
  uint64_t u64() {
    need(8);
    at += 8;
    return read_u64(p.data() + at - 8);
  }
  std::string text() {
    size_t start = at;
    while (at < p.size() && p[at]) at++;
    if (at >= p.size()) damaged(": a text at byte " + std::to_string(start) + " has no end");
    return std::string((const char*)p.data() + start, (at++) - start);
  }
};

std::optional<std::string> text_at(const std::vector<uint8_t>& p, uint32_t offset,
                                   const std::string& what, const char* field) {
  if (offset == 0) return std::nullopt;
  if (offset >= p.size()) fail(what + ": the " + field + " offset lies outside the record");
  Cursor c{p, offset, what};
  return c.text();
}

} // namespace

std::string record_name(uint16_t tag) {
  static const char* const NAMES[] = {
      "setup flags",   "billboard",     "background",      "title",
      "unused type 4", "templates",     "file list",       "start",
      "unused type 8", "title font",    "language",        "file prefix",
      "INI list",      "registry list", "file patch list", "integrity"};
  if (tag == TAG_END) return "end marker";
  if (tag >= TAG_BASE && tag - TAG_BASE < (int)(sizeof NAMES / sizeof *NAMES))
    return NAMES[tag - TAG_BASE];
  char buf[32];
  snprintf(buf, sizeof buf, "tag 0x%04X", (unsigned)tag);
  return buf;
}

LanguageFields parse_language_payload(const std::vector<uint8_t>& p, const std::string& what) {
  if (p.size() < LANGUAGE_FIXED_SIZE)
    fail(what + ": the record is shorter than its " + std::to_string(LANGUAGE_FIXED_SIZE) +
         " fixed bytes");
  LanguageFields l;
  l.flags = read_u16(p.data());
  l.uninstall_key = text_at(p, read_u32(&p[4]), what, "uninstall key");
  l.name = text_at(p, read_u32(&p[8]), what, "name");
  l.folder = text_at(p, read_u32(&p[12]), what, "default folder");
  l.registry_root = read_u32(&p[16]);
  l.registry_key = text_at(p, read_u32(&p[20]), what, "registry key");
  l.registry_value = text_at(p, read_u32(&p[24]), what, "registry value");
  l.ini_file = text_at(p, read_u32(&p[28]), what, "INI file");
  l.ini_section = text_at(p, read_u32(&p[32]), what, "INI section");
  l.ini_key = text_at(p, read_u32(&p[36]), what, "INI key");
  for (size_t t = 0; t < STRING_TABLES; t++) {
    uint32_t offset = read_u32(&p[40 + 4 * t]);
    if (offset == 0) continue;
    std::string table_what = what + ", string table " + std::to_string(t);
    Cursor c{p, offset, table_what};
    uint16_t count = c.u16();
    std::vector<std::string> strings;
    for (uint16_t k = 0; k < count; k++) strings.push_back(c.text());
    l.tables[t] = strings;
  }
  return l;
}

std::vector<FileEntryFields> parse_file_list(const std::vector<uint8_t>& p,
                                             const std::string& what) {
  Cursor list{p, 0, what};
  uint32_t count = list.u32();
  std::vector<FileEntryFields> entries;
  for (uint32_t i = 0; i < count; i++) {
    std::string entry_what = what + ", entry " + std::to_string(i);
    Cursor c{p, list.at, entry_what};
    uint16_t length = c.u16();
    if (length < ENTRY_FIXED_SIZE || length > p.size() - list.at)
      fail(entry_what + ": its length " + std::to_string(length) + " does not fit the list");
    std::vector<uint8_t> bytes(p.begin() + list.at, p.begin() + list.at + length);
    Cursor e{bytes, 2, entry_what};
    FileEntryFields f;
    f.status = e.u16();
    f.icon = e.u16();
    f.position = e.u32();
    f.packed_size = e.u32();
    f.file_size = e.u32();
    f.checksum = e.u32();
    f.flags = e.u8();
    f.destination = e.u8();
    f.end_action = e.u8();
    f.shared = e.u8();
    f.removal = e.u8();
    f.special = e.u8();
    f.base_block = e.u8();
    f.base_entry = e.u8();
    if (f.flags & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST))
      for (uint32_t& v : f.version) v = e.u32();
    if (f.flags & ENTRY_FILE_TIMES)
      for (uint64_t& t : f.times) t = e.u64();
    for (std::string& s : f.strings) s = e.text();
    entries.push_back(f);
    list.at += length;
  }
  return entries;
}

std::vector<IniEntryFields> parse_ini_list(const std::vector<uint8_t>& p, const std::string& what) {
  Cursor c{p, 0, what};
  uint16_t count = c.u16();
  std::vector<IniEntryFields> list;
  for (uint16_t i = 0; i < count; i++) {
    IniEntryFields e;
    e.flags = c.u8();
    e.file = c.text();
    e.section = c.text();
    e.key = c.text();
    e.value = c.text();
    list.push_back(e);
  }
  return list;
}

std::vector<RegistryEntryFields> parse_registry_list(const std::vector<uint8_t>& p,
                                                     const std::string& what) {
  Cursor c{p, 0, what};
  uint16_t count = c.u16();
  std::vector<RegistryEntryFields> list;
  for (uint16_t i = 0; i < count; i++) {
    RegistryEntryFields e;
    e.root = c.u32();
    e.flags = c.u8();
    e.key = c.text();
    e.name = c.text();
    e.value = c.text();
    list.push_back(e);
  }
  return list;
}

std::vector<PatchEntryFields> parse_patch_list(const std::vector<uint8_t>& p,
                                               const std::string& what) {
  Cursor c{p, 0, what};
  uint16_t count = c.u16();
  std::vector<PatchEntryFields> list;
  for (uint16_t i = 0; i < count; i++) {
    PatchEntryFields e;
    e.position = (int32_t)c.u32();
    uint32_t pattern = c.u32();
    e.reserved = c.u32();
    e.reserved_byte = c.u8();
    e.file = c.text();
    e.text = c.text();
    c.need(pattern);
    e.pattern.assign(p.begin() + c.at, p.begin() + c.at + pattern);
    c.at += pattern;
    list.push_back(e);
  }
  return list;
}

bool decode_stream(const std::vector<uint8_t>& packed, uint32_t expected,
                   std::vector<uint8_t>* out) {
  if (packed.size() > 0xFFFFFFFFu || expected > max_unpacked_size(packed.size())) return false;
  MemorySource input(packed.data(), (uint32_t)packed.size());
  // One byte more than expected: a stream that decodes to more is caught.
  uint32_t capacity = expected < 0xFFFFFFFFu ? expected + 1 : expected;
  out->assign(capacity, 0);
  uint32_t produced = 0;
  int ok = DecodeToMemory(out->data(), capacity, &input, 0, &produced);
  out->resize(produced <= capacity ? produced : 0);
  return ok && produced == expected;
}

PackageInfo read_package(const std::string& path) {
  PackageInfo info;
  info.path = path;
  std::ifstream f(fs::u8path(path), std::ios::binary);
  if (!f) fail(path + ": cannot open the file: " + std::strerror(errno));
  std::error_code ec;
  info.file_length = fs::file_size(fs::u8path(path), ec);
  if (ec) fail(path + ": cannot read the file: " + ec.message());

  // The stub's marker is the first one in the file: the stub comes first.
  {
    // The marker and its length field, which chunks overlap by all but a byte.
    const size_t field_end = STUB_MARKER_SIZE + STUB_LENGTH_FIELD_SIZE;
    std::vector<uint8_t> chunk((size_t)std::min<uint64_t>(info.file_length, 1 << 20));
    uint64_t base = 0;
    bool found = false;
    while (!found) {
      f.clear();
      f.seekg((std::streamoff)base);
      f.read((char*)chunk.data(), (std::streamsize)chunk.size());
      size_t got = (size_t)f.gcount();
      if (got < field_end) break;
      std::vector<size_t> hits = find_stub_markers(chunk.data(), got);
      for (size_t hit : hits) {
        if (hit + field_end > got) break;
        info.marker_offset = base + hit;
        info.stub_length = read_u32(chunk.data() + hit + STUB_MARKER_SIZE);
        found = true;
        break;
      }
      if (got < chunk.size()) break;
      base += got - (field_end - 1);
    }
    if (!found) fail(path + ": not a setup program (no stub marker found)");
  }
  if (info.stub_length == 0) fail(path + ": a setup program without a package (stub length 0)");
  if (info.stub_length > info.file_length)
    fail(path + ": the stub length " + with_commas(info.stub_length) +
         " lies beyond the end of the file");

  // Lengths are checked against the file before anything is allocated.
  auto read_at = [&](uint64_t offset, size_t n, const std::string& what) {
    if (offset > info.file_length || n > info.file_length - offset)
      fail(path + ": " + what + " runs past the end of the file (truncated?)");
    std::vector<uint8_t> bytes(n);
    f.clear();
    f.seekg((std::streamoff)offset);
    if (!f.read((char*)bytes.data(), (std::streamsize)n))
      fail(path + ": " + what + " cannot be read: " + std::strerror(errno));
    return bytes;
  };

  // Breaches of the format's rules that the setup program passes over (or
  // that make it refuse the package) but that reading can go on past.
  auto problem = [&](const RecordInfo& r, const std::string& text) {
    info.problems.push_back("record " + std::to_string(info.records.size()) + " at offset " +
                            with_commas(r.offset) + " (" + record_name(r.tag) + "): " + text);
  };
  uint32_t globals_seen = 0;        // a bit for each global record type met
  std::vector<uint32_t> block_seen; // the same for each language block's records
  auto once = [&](const RecordInfo& r, uint32_t* seen, int type, const char* where) {
    if (*seen & (1u << type)) problem(r, std::string("a second one ") + where);
    *seen |= 1u << type;
  };
  auto accepted = [](const std::vector<uint8_t>& payload, bool (*check)(const Buffer&)) {
    return check(Buffer{(uint8_t*)payload.data(), (uint32_t)payload.size()});
  };

  uint64_t at = info.stub_length;
  int block = -1;
  for (;;) {
    std::vector<uint8_t> header = read_at(at, 8, "the record header at offset " + with_commas(at));
    RecordInfo r;
    r.tag = read_u16(header.data());
    r.flags = read_u16(header.data() + 2);
    r.length = read_u32(header.data() + 4);
    r.offset = at;
    r.unpacked = r.length;
    at += 8;
    std::string what = path + ": record at offset " + with_commas(r.offset);
    if (info.integrity && r.tag != TAG_END)
      problem(r, "behind the integrity record, which must be the last (the script it checks "
                 "ends there)");
    if (r.tag == TAG_END) {
      info.end_flags = r.flags;
      if (r.flags & ~END_INTEGRITY) problem(r, "unknown flags " + std::to_string(r.flags));
      if (!(r.flags & END_INTEGRITY) != !info.integrity)
        problem(r, info.integrity ? "its flags do not announce the integrity record before it"
                                  : "its flags announce an integrity record, but none came");
      if (r.length != 0 && r.length != 4)
        problem(r, "its length " + with_commas(r.length) + " is neither 0 nor 4");
      info.records.push_back(r);
      if (r.length != 0) {
        info.archive_offset = at;
        info.archive_size = read_u32(read_at(at, 4, "the archive size word").data());
        info.has_archive = true;
      }
      break;
    }
    int type = r.tag >= TAG_BASE && r.tag <= TAG_BASE + REC_INTEGRITY ? r.tag - TAG_BASE : -1;
    if (type < 0 || type == 4 || type == 8)
      problem(r, "an unknown record tag; the setup program passes over it");
    if (r.length == 0) {
      if (!(type < 0 || type == 4 || type == 8))
        problem(r, "an empty record; the setup program passes over it");
      info.records.push_back(r);
      continue;
    }
    bool global = type == REC_SETUP_FLAGS || type == REC_START || type == REC_BILLBOARD ||
                  type == REC_BACKGROUND || type == REC_TITLE || type == REC_TEMPLATES ||
                  type == REC_TITLE_FONT || type == REC_PREFIX;
    if (global) {
      once(r, &globals_seen, type, "(the setup program keeps the last)");
      if (block >= 0) problem(r, "after the first language record");
    }
    if (type == REC_SETUP_FLAGS && !info.records.empty()) problem(r, "not the first record");
    if ((type == REC_SETUP_FLAGS || type == REC_START) &&
        (r.length != 4 || (r.flags & RECORD_COMPRESSED)))
      problem(r, "not 4 bytes stored as they are");
    std::vector<uint8_t> payload =
        read_at(at, r.length, "the record at offset " + with_commas(r.offset));
    at += r.length;
    if (type == REC_SETUP_FLAGS) {
      if (payload.size() < 4) fail(what + ": setup flags shorter than 4 bytes");
      info.setup_flags = read_u32(payload.data());
      info.records.push_back(r);
      continue;
    }
    if (type == REC_INTEGRITY) {
      if (info.integrity) problem(r, "a second one");
      uint32_t volumes = payload.size() >= INTEGRITY_FIXED_SIZE ? read_u32(&payload[12]) : 0;
      if (r.flags || payload.size() < INTEGRITY_FIXED_SIZE ||
          payload.size() != INTEGRITY_FIXED_SIZE + INTEGRITY_VOLUME_SIZE * (uint64_t)volumes) {
        problem(r, "not the 16 bytes and 8 per volume file, stored as they are, that the setup "
                   "program reads");
      } else if (!info.integrity) {
        IntegrityInfo integrity;
        integrity.offset = r.offset;
        integrity.script_crc = read_u32(&payload[0]);
        integrity.archive_bytes = read_u32(&payload[4]);
        integrity.archive_crc = read_u32(&payload[8]);
        for (uint32_t v = 0; v < volumes; v++)
          integrity.volumes.push_back(
              {read_u32(&payload[16 + 8 * v]), read_u32(&payload[20 + 8 * v])});
        info.integrity = integrity;
      }
      info.records.push_back(r);
      continue;
    }
    if (type == REC_START) {
      if (payload.size() < 4) fail(what + ": start record shorter than 4 bytes");
      info.has_start = true;
      info.start_page = read_u16(payload.data());
      info.start_language = read_u16(payload.data() + 2);
      info.records.push_back(r);
      continue;
    }
    if (type < 0 || type == 4 || type == 8) {
      info.records.push_back(r);
      continue;
    }
    if (r.flags & RECORD_COMPRESSED) {
      if (payload.size() < 4) fail(what + ": compressed payload shorter than its size word");
      uint32_t size = read_u32(payload.data());
      std::vector<uint8_t> stream(payload.begin() + 4, payload.end());
      std::vector<uint8_t> unpacked;
      if (!decode_stream(stream, size, &unpacked))
        fail(what + " (type " + std::to_string(type) +
             "): the compressed payload does not decode to "
             "its stated " +
             with_commas(size) + " bytes");
      payload.swap(unpacked);
      r.unpacked = size;
    }
    std::string block_what = what + " (language block " + std::to_string(block) + ")";
    const char* refused = "the setup program refuses it (an offset, count or text outside it)";
    switch (type) {
    case REC_BILLBOARD:
    case REC_BACKGROUND:
      if (!accepted(payload, check_bitmap)) problem(r, "not a bitmap the setup program shows");
      (type == REC_BILLBOARD ? info.billboard : info.background) = payload;
      break;
    case REC_TITLE:
      if (!accepted(payload, check_text)) problem(r, "the text has no end");
      info.title = payload;
      break;
    case REC_TEMPLATES:
      if (!accepted(payload, check_templates)) problem(r, refused);
      info.templates = payload;
      break;
    case REC_TITLE_FONT:
      if (payload.size() < 60) problem(r, "shorter than its 60 bytes");
      info.title_font = payload;
      break;
    case REC_PREFIX:
      info.prefix = payload;
      break;
    case REC_LANGUAGE: {
      if (block >= 0 && !(block_seen[(size_t)block] & (1u << REC_FILE_LIST)))
        problem(r, "language block " + std::to_string(block) + " ended without its file list");
      if (++block >= 6) fail(what + ": more than six language records");
      block_seen.push_back(0);
      LanguageRecord checked = {};
      if (!check_language_record(Buffer{payload.data(), (uint32_t)payload.size()}, &checked))
        problem(r, refused);
      info.blocks.emplace_back();
      info.blocks.back().language =
          parse_language_payload(payload, what + " (language block " + std::to_string(block) + ")");
      break;
    }
    default: {
      if (block < 0)
        fail(what + ": a per-block record (type " + std::to_string(type) +
             ") before any language record");
      once(r, &block_seen[(size_t)block], type,
           "in its language block (the setup program keeps the last)");
      Buffer list{payload.data(), (uint32_t)payload.size()};
      if (!(type == REC_FILE_LIST ? check_file_list(list) : check_entry_list(list, type)))
        problem(r, refused);
      BlockInfo& b = info.blocks.back();
      if (type == REC_FILE_LIST) b.files = parse_file_list(payload, block_what + ", file list");
      if (type == REC_INI_LIST) b.ini = parse_ini_list(payload, block_what + ", INI list");
      if (type == REC_REGISTRY_LIST)
        b.registry = parse_registry_list(payload, block_what + ", registry list");
      if (type == REC_PATCH_LIST)
        b.patches = parse_patch_list(payload, block_what + ", file patch list");
      break;
    }
    }
    info.records.push_back(r);
  }
  RecordInfo end = info.records.back();
  if (block >= 0 && !(block_seen[(size_t)block] & (1u << REC_FILE_LIST)))
    problem(end, "language block " + std::to_string(block) + " ended without its file list");
  if (!(globals_seen & (1u << REC_TEMPLATES))) problem(end, "the script has no dialog templates");
  if (info.blocks.empty()) fail(path + ": the package has no language record");
  if (info.start_language >= info.blocks.size())
    fail(path + ": the start language block " + std::to_string(info.start_language) +
         " does not exist");
  return info;
}

} // namespace pakwiz
