#include "support/package_maker.h"

#include <string.h>

#include "builder/encoder.h"
#include "common/package_format.h"
#include "decode/checksum.h"

void put_u16(Bytes& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
void put_u32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}
void put_text(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

Bytes LanguageMaker::bytes() const {
  Bytes b(84, 0);
  b[0] = (uint8_t)flags;
  b[1] = (uint8_t)(flags >> 8);
  auto field = [&](uint32_t at, bool present, const std::string& text) {
    if (!present) return;
    uint32_t offset = (uint32_t)b.size();
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(offset >> (8 * i));
    put_text(b, text);
  };
  field(4, has_uninstall_key, uninstall_key);
  field(8, has_name, name);
  field(12, has_default_folder, default_folder);
  for (int i = 0; i < 4; i++) b[16 + i] = (uint8_t)(registry_root >> (8 * i));
  field(20, !registry_key.empty(), registry_key);
  field(24, !registry_value.empty(), registry_value);
  field(28, !ini_file.empty(), ini_file);
  field(32, !ini_section.empty(), ini_section);
  field(36, !ini_key.empty(), ini_key);
  for (int t = 0; t < 11; t++) {
    if (!has_table[t]) continue;
    uint32_t offset = (uint32_t)b.size();
    for (int i = 0; i < 4; i++) b[40 + 4 * t + i] = (uint8_t)(offset >> (8 * i));
    put_u16(b, (uint16_t)tables[t].size());
    for (const std::string& s : tables[t]) put_text(b, s);
  }
  return b;
}

Bytes EntryMaker::bytes() const {
  Bytes b;
  put_u16(b, 0); // length, set below
  put_u16(b, 0);
  put_u16(b, icon);
  put_u32(b, position);
  put_u32(b, packed);
  put_u32(b, size);
  put_u32(b, checksum);
  for (uint8_t v :
       {flags, destination, end_action, shared, removal, special, base_block, base_entry})
    b.push_back(v);
  if (flags & 0x06)
    for (uint32_t v : version) put_u32(b, v);
  if (flags & 0x08)
    for (uint32_t v : times) put_u32(b, v);
  for (const std::string& s : strings) put_text(b, s);
  b[0] = (uint8_t)b.size();
  b[1] = (uint8_t)(b.size() >> 8);
  return b;
}

Bytes file_list(const std::vector<EntryMaker>& entries) {
  Bytes b;
  put_u32(b, (uint32_t)entries.size());
  for (const EntryMaker& e : entries) {
    Bytes x = e.bytes();
    b.insert(b.end(), x.begin(), x.end());
  }
  return b;
}

Bytes minimal_templates(int count) {
  // DLGTEMPLATE: style WS_CHILD|DS_CONTROL, no items, no menu/class/title.
  Bytes one;
  put_u32(one, 0x40000400);
  put_u32(one, 0);
  put_u16(one, 0); // items
  for (int i = 0; i < 4; i++) put_u16(one, 10);
  put_u16(one, 0);
  put_u16(one, 0);
  put_u16(one, 0);
  one.resize((one.size() + 3) & ~size_t(3), 0);
  Bytes b;
  for (int k = 0; k < count; k++) put_u32(b, (uint32_t)(4 * count + k * one.size()));
  for (int k = 0; k < count; k++) b.insert(b.end(), one.begin(), one.end());
  return b;
}

void PackageMaker::raw_record(uint16_t tag, uint16_t flags, const Bytes& payload) {
  put_u16(script, tag);
  put_u16(script, flags);
  put_u32(script, (uint32_t)payload.size());
  script.insert(script.end(), payload.begin(), payload.end());
}

void PackageMaker::record(int type, const Bytes& payload, bool compressed) {
  if (!compressed) return raw_record((uint16_t)(0x1234 + type), 0, payload);
  Bytes body;
  put_u32(body, (uint32_t)payload.size());
  std::vector<uint8_t> stream =
      pakwiz::encode_stream(payload.data(), payload.size(), pakwiz::default_compression_level());
  body.insert(body.end(), stream.begin(), stream.end());
  raw_record((uint16_t)(0x1234 + type), 1, body);
}

Bytes PackageMaker::finish(const Bytes& archive, int size_delta) const {
  Bytes b = stub;
  b.insert(b.end(), script.begin(), script.end());
  put_u16(b, 0x7F7F);
  put_u16(b, 0);
  put_u32(b, 4);
  put_u32(b, (uint32_t)((int)archive.size() + size_delta));
  b.insert(b.end(), archive.begin(), archive.end());
  return b;
}

Bytes PackageMaker::finish_checked(const Bytes& archive, const std::vector<Bytes>& volumes) const {
  Bytes b = stub;
  b.insert(b.end(), script.begin(), script.end());
  put_u16(b, (uint16_t)(0x1234 + REC_INTEGRITY));
  put_u16(b, 0);
  put_u32(b, (uint32_t)(INTEGRITY_FIXED_SIZE + INTEGRITY_VOLUME_SIZE * volumes.size()));
  put_u32(b, crc32_update(0, script.data(), script.size()));
  put_u32(b, (uint32_t)archive.size());
  put_u32(b, crc32_update(0, archive.data(), archive.size()));
  put_u32(b, (uint32_t)volumes.size());
  for (const Bytes& v : volumes) {
    put_u32(b, (uint32_t)v.size() - 4);
    put_u32(b, crc32_update(0, v.data(), v.size()));
  }
  put_u16(b, 0x7F7F);
  put_u16(b, END_INTEGRITY);
  put_u32(b, 4);
  put_u32(b, (uint32_t)archive.size());
  b.insert(b.end(), archive.begin(), archive.end());
  return b;
}

Bytes bitmap_8bit(int width, int height, const std::vector<uint32_t>& colours,
                  const Bytes& pixels) {
  uint32_t stride = ((uint32_t)width + 3) & ~3u;
  uint32_t bits_at = 14 + 40 + 4 * (uint32_t)colours.size();
  Bytes b;
  put_u16(b, 0x4D42); // "BM"
  put_u32(b, bits_at + stride * (uint32_t)height);
  put_u32(b, 0);
  put_u32(b, bits_at);
  put_u32(b, 40);
  put_u32(b, (uint32_t)width);
  put_u32(b, (uint32_t)height);
  put_u16(b, 1);
  put_u16(b, 8);
  for (int i = 0; i < 4; i++) put_u32(b, 0); // compression, image size, resolution
  put_u32(b, (uint32_t)colours.size());
  put_u32(b, 0);
  for (uint32_t c : colours) put_u32(b, c & 0xFFFFFF); // blue, green, red, 0
  for (int y = 0; y < height; y++) {
    b.insert(b.end(), pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
    b.resize(b.size() + stride - (uint32_t)width, 0);
  }
  return b;
}

PackageMaker simple_package(const std::vector<std::string>& table6) {
  PackageMaker p;
  p.record(5, minimal_templates());
  LanguageMaker lang;
  lang.name = "English";
  lang.default_folder = "C:\\Program Files\\App\\";
  lang.table(6, table6);
  p.record(10, lang.bytes());
  return p;
}

size_t pe_security_entry(bool pe32_plus) {
  return 0x40 + 24 + (pe32_plus ? 144 : 128);
}

Bytes pe_header_stub(bool pe32_plus, size_t size) {
  Bytes b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x40;
  memcpy(&b[0x40], "PE\0\0", 4);
  uint16_t optional_size = pe32_plus ? 0xF0 : 0xE0;
  b[0x40 + 20] = (uint8_t)optional_size;
  b[0x40 + 24] = 0x0B;
  b[0x40 + 25] = pe32_plus ? 0x02 : 0x01;
  return b;
}

void append_certificate_table(Bytes& file, bool pe32_plus, uint32_t table) {
  while (file.size() % 8) file.push_back(0);
  uint32_t offset = (uint32_t)file.size();
  put_u32(file, table);
  put_u16(file, 0x0200);
  put_u16(file, 2);
  file.resize(offset + table, 0x30);
  size_t entry = pe_security_entry(pe32_plus);
  for (int i = 0; i < 4; i++) {
    file[entry + i] = (uint8_t)(offset >> (8 * i));
    file[entry + 4 + i] = (uint8_t)(table >> (8 * i));
  }
}
