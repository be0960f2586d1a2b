// Where the uninstaller's image ends in its file, and so where its log starts.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/package_format.h"
#include "support/uninstall_log_maker.h"
#include "uninstall/pe_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

void set_u16(Bytes& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}
void set_u32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

// A PE image's headers as a linker lays them out: DOS header, "PE\0\0" at
// 0x80, the COFF file header, the optional header with 16 data directories
// and the section table; SizeOfHeaders 0x200. The bytes are `size` long.
struct PeSpec {
  bool pe32_plus = false;
  std::vector<std::pair<uint32_t, uint32_t>> sections; // raw pointer, raw size
  uint32_t symbols = 0, symbol_count = 0, string_table = 0;
  uint32_t certificate = 0, certificate_size = 0;
};

Bytes make_pe(const PeSpec& s, size_t size) {
  Bytes b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  const size_t pe = 0x80;
  set_u32(b, 0x3C, pe);
  b[pe] = 'P';
  b[pe + 1] = 'E';
  set_u16(b, pe + 6, (uint16_t)s.sections.size());
  set_u32(b, pe + 12, s.symbols);
  set_u32(b, pe + 16, s.symbol_count);
  uint16_t optional_size = s.pe32_plus ? 240 : 224;
  set_u16(b, pe + 20, optional_size);
  size_t optional = pe + 24;
  set_u16(b, optional, s.pe32_plus ? 0x20B : 0x10B);
  set_u32(b, optional + 60, 0x200);
  size_t directories = optional + (s.pe32_plus ? 112 : 96);
  set_u32(b, directories - 4, 16);
  set_u32(b, directories + 4 * 8, s.certificate);
  set_u32(b, directories + 4 * 8 + 4, s.certificate_size);
  size_t table = optional + optional_size;
  for (size_t i = 0; i < s.sections.size(); i++) {
    set_u32(b, table + i * 40 + 16, s.sections[i].second);
    set_u32(b, table + i * 40 + 20, s.sections[i].first);
  }
  if (s.symbols) set_u32(b, s.symbols + 18 * s.symbol_count, s.string_table);
  return b;
}

PeSpec two_sections(bool plus) {
  PeSpec s;
  s.pe32_plus = plus;
  s.sections = {{0x200, 0x400}, {0x600, 0x200}, {0, 0}}; // the last one: .bss, no raw data
  return s;
}

} // namespace

TEST(UninstallerImage, EndIsTheFurthestOfSectionsSymbolsAndCertificate) {
  struct Case {
    const char* what;
    PeSpec spec;
    uint32_t end;
  };
  PeSpec symbols = two_sections(false);
  symbols.symbols = 0x800;
  symbols.symbol_count = 2;
  symbols.string_table = 14; // 0x800 + 36 + 14
  PeSpec signed_image = two_sections(true);
  signed_image.certificate = 0x800;
  signed_image.certificate_size = 0x108;
  PeSpec unordered = two_sections(false);
  std::swap(unordered.sections[0], unordered.sections[1]);
  const Case cases[] = {
      {"PE32", two_sections(false), 0x800},
      {"PE32+", two_sections(true), 0x800},
      {"sections out of file order", unordered, 0x800},
      {"COFF symbols and strings", symbols, 0x832},
      {"attribute certificate", signed_image, 0x908},
  };
  for (const Case& c : cases) {
    Bytes image = make_pe(c.spec, c.end);
    EXPECT_EQ(pe_image_end(image.data(), (uint32_t)image.size()), c.end) << c.what;
    // Whatever follows the image does not move its end.
    Bytes longer = image;
    longer.resize(image.size() + 100, 0xAB);
    EXPECT_EQ(pe_image_end(longer.data(), (uint32_t)longer.size()), c.end) << c.what;
  }
}

TEST(UninstallerImage, DamagedOrForeignHeadersGiveNoEnd) {
  Bytes good = make_pe(two_sections(false), 0x800);
  auto damaged = [&](size_t at, uint8_t v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"not MZ", damaged(0, 'X')},
      {"no PE signature", damaged(0x80, 'X')},
      {"e_lfanew beyond the file", damaged(0x3F, 0x7F)},
      {"unknown optional header", damaged(0x80 + 24, 0x77)},
      {"section beyond the file", damaged(0x80 + 24 + 224 + 16 + 1, 0x10)},
      {"section table beyond the file", damaged(0x80 + 6 + 1, 0x40)},
      {"cut inside the sections", Bytes(good.begin(), good.begin() + 0x7FF)},
      {"cut inside the headers", Bytes(good.begin(), good.begin() + 0x90)},
      {"empty", Bytes()},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pe_image_end(c.bytes.data(), (uint32_t)c.bytes.size()), 0u) << c.what;
}

TEST(UninstallerImage, LogIsFoundOnlyRightBehindTheImage) {
  Bytes image = make_pe(two_sections(false), 0x800);
  Bytes log = make_uninstall_log(LogSpec());
  Bytes file = image;
  file.insert(file.end(), log.begin(), log.end());
  EXPECT_EQ(find_uninstall_log(file.data(), (uint32_t)file.size()), 0x800u);

  // The bare program, the 8 reserved zero bytes, another record, a header
  // with flags, and a log one byte late all mean "no log".
  Bytes reserved = image;
  reserved.resize(image.size() + 8, 0);
  Bytes flagged = file;
  flagged[0x802] = 1;
  Bytes late = image;
  late.push_back(0);
  late.insert(late.end(), log.begin(), log.end());
  Bytes end_record = image;
  put_record(end_record, 0x7F7F, {});
  for (const Bytes* b : {&image, &reserved, &flagged, &late, &end_record})
    EXPECT_EQ(find_uninstall_log(b->data(), (uint32_t)b->size()), 0u);
}

// The builder's data record for the uninstaller lies between the image and
// the log: the log is found behind it, and a record that claims more bytes
// than the file holds is no data record.
TEST(UninstallerImage, LogIsFoundBehindTheUninstallersDataRecord) {
  Bytes image = make_pe(two_sections(false), 0x800);
  Bytes texts;
  put_u16(texts, 1);
  put_log_string(texts, "Uninstall");
  Bytes file = image;
  put_record(file, UNINSTALLER_DATA_TAG, texts);
  Bytes log = make_uninstall_log(LogSpec());
  file.insert(file.end(), log.begin(), log.end());
  uint32_t length = 0;
  EXPECT_EQ(find_uninstaller_data(file.data(), (uint32_t)file.size(), &length), 0x808u);
  EXPECT_EQ(length, texts.size());
  EXPECT_EQ(find_uninstall_log(file.data(), (uint32_t)file.size()), 0x808u + texts.size());

  Bytes too_long = file;
  too_long[0x804] = 0xFF; // the record's length
  too_long[0x805] = 0xFF;
  EXPECT_EQ(find_uninstaller_data(too_long.data(), (uint32_t)too_long.size(), &length), 0u);
  EXPECT_EQ(find_uninstall_log(too_long.data(), (uint32_t)too_long.size()), 0u);
  EXPECT_EQ(find_uninstaller_data(image.data(), (uint32_t)image.size(), &length), 0u);
}
