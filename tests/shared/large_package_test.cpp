// A package file larger than 2 GiB (a sparse file: the gap between its two
// entries takes no disk space): the setup program places the entry whose data
// lie past 2 GiB, and the builder's verify reads the same package.
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#include "builder/encoder.h"
#include "builder/inspect.h"
#include "common/state.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "install/place_file.h"
#include "install/install.h"
#include "package/package.h"
#include "support/install_package.h"

namespace {

const uint32_t STUB_LENGTH = 64;
#ifdef _WIN32
const char SEP[] = "\\";
#else
const char SEP[] = "/";
#endif

// A stand-in stub that carries the stub marker with its length field, so
// that the builder's reader finds the package behind it.
Bytes marked_stub() {
  std::string s = std::string("MZ stand-in stub ") + "\x77\x77\x67\x54\x29\x48";
  Bytes b(s.begin(), s.end());
  put_u32(b, STUB_LENGTH);
  b.resize(STUB_LENGTH, 'S');
  return b;
}

class LargePackage : public InstallTest {};

} // namespace

TEST_F(LargePackage, EntryPastTwoGibibytesIsPlacedAndVerified) {
  const uint32_t far_position = 0x80000000u + 0x1000; // archive position past 2 GiB
  Bytes first = text_bytes("the first file, at the start of the archive");
  Bytes last;
  for (int i = 0; i < 3000; i++) last.push_back((uint8_t)("far away "[i % 9] + i / 500));
  Bytes first_stream =
      pakwiz::encode_stream(first.data(), first.size(), pakwiz::default_compression_level());
  Bytes last_stream =
      pakwiz::encode_stream(last.data(), last.size(), pakwiz::default_compression_level());

  EntryMaker a, b;
  a.strings[0] = "first.txt";
  a.packed = (uint32_t)first_stream.size();
  a.size = (uint32_t)first.size();
  a.checksum = rotate_add(0, first.data(), first.size());
  b.strings[0] = "far.txt";
  b.position = far_position;
  b.packed = (uint32_t)last_stream.size();
  b.size = (uint32_t)last.size();
  b.checksum = rotate_add(0, last.data(), last.size());
  PackageMaker p;
  p.stub = marked_stub();
  p.record(REC_TEMPLATES, minimal_templates());
  LanguageMaker lang;
  lang.table(6, install_messages());
  p.record(REC_LANGUAGE, lang.bytes());
  p.record(REC_FILE_LIST, file_list({a, b}));

  // The package up to the first entry's data, its archive size word counting
  // up to the last entry's end; the last entry is written behind a hole.
  Bytes head = p.finish(first_stream);
  uint32_t archive_start = (uint32_t)(head.size() - first_stream.size());
  uint32_t archive_size = far_position + (uint32_t)last_stream.size();
  for (int i = 0; i < 4; i++) head[archive_start - 4 + i] = (uint8_t)(archive_size >> (8 * i));
  std::string path = dir.write("setup.exe", head);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((std::streamoff)archive_start + far_position);
    f.write((const char*)last_stream.data(), (std::streamsize)last_stream.size());
    ASSERT_TRUE(f.good());
  }

  // The setup program.
  strcpy(g_app.package_path, path.c_str());
  g_app.stub_length = STUB_LENGTH;
  ASSERT_TRUE(load_package());
  EXPECT_EQ(g_package.archive_size, archive_size);
  install_folder = dir.file("app") + SEP;
  strcpy(g_app.install_folder, install_folder.c_str());
  ASSERT_EQ(open_archive(), 0);
  for (uint32_t i = 0; i < 2; i++) {
    std::string target = install_folder + (i ? "far.txt" : "first.txt");
    strcpy(g_app.destination_path, target.c_str());
    EXPECT_TRUE(place_file(file_entry(entry(i)), g_app.destination_path, false, 0, 100)) << target;
    EXPECT_EQ(g_install.error_code, 0u) << target;
    EXPECT_EQ(read_file_bytes(target), i ? last : first) << target;
  }
  close_archive();

  // The builder's verify.
  std::ostringstream out;
  EXPECT_TRUE(pakwiz::verify_package(path, out)) << out.str();
  EXPECT_NE(out.str().find("2 entries checked, all good"), std::string::npos) << out.str();
}
