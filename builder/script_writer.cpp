#include "builder/script_writer.h"

#include "builder/bytes.h"
#include "builder/encoder.h"
#include "builder/errors.h"

namespace pakwiz {

std::vector<uint8_t> language_payload(const LanguageFields& lang) {
  ByteWriter w;
  w.zeros(LANGUAGE_FIXED_SIZE);
  auto put_text = [&](size_t field, const std::optional<std::string>& text) {
    if (!text) return;
    w.put_u32(field, (uint32_t)w.size());
    w.text(*text);
  };
  w.bytes[0] = (uint8_t)lang.flags;
  w.bytes[1] = (uint8_t)(lang.flags >> 8);
  put_text(4, lang.uninstall_key);
  put_text(8, lang.name);
  put_text(12, lang.folder);
  w.put_u32(16, lang.registry_root);
  put_text(20, lang.registry_key);
  put_text(24, lang.registry_value);
  put_text(28, lang.ini_file);
  put_text(32, lang.ini_section);
  put_text(36, lang.ini_key);
  for (size_t t = 0; t < lang.tables.size(); t++) {
    if (!lang.tables[t]) continue;
    w.put_u32(40 + 4 * t, (uint32_t)w.size());
    w.u16((uint16_t)lang.tables[t]->size());
    for (const std::string& s : *lang.tables[t]) w.text(s);
  }
  uint64_t size = w.size(); // a 64-bit value: size_t may be 32 bits wide
  if (size > 0xFFFFFFFFull) fail("a language record exceeds 4 GiB");
  return w.bytes;
}

std::vector<uint8_t> file_entry_bytes(const FileEntryFields& e) {
  ByteWriter w;
  w.u16(0); // length, set below
  w.u16(e.status);
  w.u16(e.icon);
  w.u32(e.position);
  w.u32(e.packed_size);
  w.u32(e.file_size);
  w.u32(e.checksum);
  w.u8(e.flags);
  w.u8(e.destination);
  w.u8(e.end_action);
  w.u8(e.shared);
  w.u8(e.removal);
  w.u8(e.special);
  w.u8(e.base_block);
  w.u8(e.base_entry);
  if (e.flags & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST))
    for (uint32_t v : e.version) w.u32(v);
  if (e.flags & ENTRY_FILE_TIMES)
    for (uint64_t t : e.times) w.u64(t);
  for (const std::string& s : e.strings) w.text(s);
  if (w.size() > 0xFFFF) fail("file entry '" + e.strings[0] + "' is longer than 65,535 bytes");
  w.bytes[0] = (uint8_t)w.size();
  w.bytes[1] = (uint8_t)(w.size() >> 8);
  return w.bytes;
}

std::vector<uint8_t> file_list_payload(const std::vector<FileEntryFields>& entries) {
  ByteWriter w;
  w.u32((uint32_t)entries.size());
  for (const FileEntryFields& e : entries) w.append(file_entry_bytes(e));
  return w.bytes;
}

std::vector<uint8_t> ini_list_payload(const std::vector<IniEntryFields>& entries) {
  ByteWriter w;
  w.u16((uint16_t)entries.size());
  for (const IniEntryFields& e : entries) {
    w.u8(e.flags);
    w.text(e.file);
    w.text(e.section);
    w.text(e.key);
    w.text(e.value);
  }
  return w.bytes;
}

std::vector<uint8_t> registry_list_payload(const std::vector<RegistryEntryFields>& entries) {
  ByteWriter w;
  w.u16((uint16_t)entries.size());
  for (const RegistryEntryFields& e : entries) {
    w.u32(e.root);
    w.u8(e.flags);
    w.text(e.key);
    w.text(e.name);
    w.text(e.value);
  }
  return w.bytes;
}

std::vector<uint8_t> patch_list_payload(const std::vector<PatchEntryFields>& entries) {
  ByteWriter w;
  w.u16((uint16_t)entries.size());
  for (const PatchEntryFields& e : entries) {
    w.u32((uint32_t)e.position);
    w.u32((uint32_t)e.pattern.size());
    w.u32(e.reserved);
    w.u8(e.reserved_byte);
    w.text(e.file);
    w.text(e.text);
    w.append(e.pattern);
  }
  return w.bytes;
}

static void append_header(std::vector<uint8_t>& out, uint16_t tag, uint16_t flags,
                          uint32_t length) {
  ByteWriter w;
  w.u16(tag);
  w.u16(flags);
  w.u32(length);
  out.insert(out.end(), w.bytes.begin(), w.bytes.end());
}

void append_record(std::vector<uint8_t>& out, int type, const std::vector<uint8_t>& payload,
                   bool compressible, int level) {
  if (payload.size() > 0xFFFFFFFBull) fail("a script record exceeds 4 GiB");
  if (compressible && !payload.empty()) {
    std::vector<uint8_t> stream = encode_stream(payload.data(), payload.size(), level);
    if (stream.size() + 4 < payload.size()) {
      append_header(out, (uint16_t)(TAG_BASE + type), RECORD_COMPRESSED,
                    (uint32_t)(stream.size() + 4));
      ByteWriter size;
      size.u32((uint32_t)payload.size());
      out.insert(out.end(), size.bytes.begin(), size.bytes.end());
      out.insert(out.end(), stream.begin(), stream.end());
      return;
    }
  }
  append_header(out, (uint16_t)(TAG_BASE + type), 0, (uint32_t)payload.size());
  out.insert(out.end(), payload.begin(), payload.end());
}

void append_end_marker(std::vector<uint8_t>& out, uint32_t archive_bytes, uint16_t flags) {
  append_header(out, TAG_END, flags, 4);
  ByteWriter w;
  w.u32(archive_bytes);
  out.insert(out.end(), w.bytes.begin(), w.bytes.end());
}

} // namespace pakwiz
