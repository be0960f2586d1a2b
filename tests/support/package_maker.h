// Hand-assembled setup packages for tests: records byte by byte, so that
// tests can also make the damaged and unusual packages that the builder
// refuses to write.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

void put_u16(Bytes& b, uint16_t v);
void put_u32(Bytes& b, uint32_t v);
void put_text(Bytes& b, const std::string& s); // with its NUL

// A language record (type 10 payload): fixed part of 84 bytes, texts behind it.
struct LanguageMaker {
  uint16_t flags = 0;
  std::string uninstall_key, name, default_folder, registry_key, registry_value, ini_file,
      ini_section, ini_key;
  bool has_uninstall_key = false, has_name = true, has_default_folder = true;
  uint32_t registry_root = 0;
  std::vector<std::string> tables[11];
  bool has_table[11] = {};
  void table(int t, const std::vector<std::string>& strings) {
    tables[t] = strings;
    has_table[t] = true;
  }
  Bytes bytes() const;
};

// A file entry of a file list.
struct EntryMaker {
  uint16_t icon = 0;
  uint32_t position = 0, packed = 0, size = 0, checksum = 0;
  uint8_t flags = 0, destination = 0, end_action = 0, shared = 0, removal = 1, special = 0,
          base_block = 0, base_entry = 0;
  uint32_t version[5] = {};
  uint32_t times[6] = {};
  std::string strings[6];
  Bytes bytes() const;
};
Bytes file_list(const std::vector<EntryMaker>& entries);

// A dialog template record holding `count` minimal templates (no controls).
Bytes minimal_templates(int count = 9);

struct PackageMaker {
  Bytes stub = Bytes(64, 'S');
  Bytes script;
  // Appends a record; compressed records are encoded with the package encoder.
  void record(int type, const Bytes& payload, bool compressed = false);
  void raw_record(uint16_t tag, uint16_t flags, const Bytes& payload);
  // The whole file: stub, script, end marker (payload length 4), archive
  // size word (+ size_delta) and the archive.
  Bytes finish(const Bytes& archive = Bytes(), int size_delta = 0) const;
  // The same with an integrity record before the end marker (which then
  // announces it), listing `volumes` (each a whole volume file).
  Bytes finish_checked(const Bytes& archive, const std::vector<Bytes>& volumes = {}) const;
};

// A BMP file image of 8 bits per pixel whose colour table holds exactly
// `colours` (0xRRGGBB each; biClrUsed = their count), with `pixels` as the
// colour indexes of the rows from the bottom up, `width` per row.
Bytes bitmap_8bit(int width, int height, const std::vector<uint32_t>& colours, const Bytes& pixels);

// A one-language package with the given table-6 messages, ready to load.
PackageMaker simple_package(const std::vector<std::string>& table6 = {"Title"});

// A stub of `size` bytes that begins with the headers of a PE32 (or PE32+)
// image: enough for readers of the security directory.
Bytes pe_header_stub(bool pe32_plus, size_t size = 0x200);
// Offset of the security directory entry in pe_header_stub().
size_t pe_security_entry(bool pe32_plus);
// What a signing tool does to a setup file: zero padding to the next
// multiple of 8, a certificate table of `table` bytes (a WIN_CERTIFICATE
// header, revision 2.0, PKCS#7 signed data, then filler) and the security
// directory naming it.
void append_certificate_table(Bytes& file, bool pe32_plus, uint32_t table = 64);
