// The setup executable's manifest, version resource and icon: built into
// real PE32 and PE32+ stubs (tests/cli/fixtures/stub.c) and read back with a
// PE reader of this test's own, which also checks that the rebuilt image is
// consistent (section and image sizes, the moved relocations, the checksum
// over the whole file) and that the setup program's loader still finds its
// package.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "builder/build.h"
#include "builder/errors.h"
#include "builder/package_reader.h"
#include "builder/pe_resources.h"
#include "builder_test_util.h"
#include "common/state.h"
#include "common/text.h"
#include "package/package.h"
#include "support/temp_dir.h"

using namespace pakwiz;

namespace {

std::string fixture(const char* name) {
  return std::string(PAKWIZ_BINARY_DIR "/fixtures/") + name;
}

uint16_t u16(const std::vector<uint8_t>& d, size_t at) {
  return (uint16_t)(d.at(at) | d.at(at + 1) << 8);
}
uint32_t u32(const std::vector<uint8_t>& d, size_t at) {
  return (uint32_t)u16(d, at) | (uint32_t)u16(d, at + 2) << 16;
}

// A small PE reader: headers, sections, and the resource tree by
// (type, name, language), numeric IDs only.
struct Pe {
  std::vector<uint8_t> d;
  size_t pe = 0, opt = 0, dirs = 0;
  struct Section {
    std::string name;
    uint32_t va, vsize, raw, raw_size;
  };
  std::vector<Section> sections;
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, std::vector<uint8_t>> resources;

  explicit Pe(std::vector<uint8_t> bytes) : d(std::move(bytes)) {
    pe = u32(d, 0x3C);
    opt = pe + 24;
    dirs = opt + (u16(d, opt) == 0x20B ? 112 : 96);
    size_t table = opt + u16(d, pe + 20);
    for (unsigned i = 0; i < u16(d, pe + 6); i++) {
      size_t s = table + 40 * i;
      sections.push_back({std::string((const char*)&d[s], strnlen((const char*)&d[s], 8)),
                          u32(d, s + 12), u32(d, s + 8), u32(d, s + 20), u32(d, s + 16)});
    }
    uint32_t rva = dir(2);
    if (rva) walk(offset(rva), offset(rva), 0, {});
  }
  uint32_t dir(int k) const { return u32(d, dirs + 8 * k); }
  uint32_t dir_size(int k) const { return u32(d, dirs + 8 * k + 4); }
  size_t offset(uint32_t rva) const {
    for (const Section& s : sections)
      if (rva >= s.va && rva < s.va + s.raw_size) return s.raw + (rva - s.va);
    ADD_FAILURE() << "RVA " << rva << " outside every section";
    return 0;
  }
  void walk(size_t root, size_t dir_at, int depth, std::vector<uint32_t> ids) {
    unsigned n = u16(d, dir_at + 12) + u16(d, dir_at + 14);
    for (unsigned i = 0; i < n; i++) {
      uint32_t id = u32(d, dir_at + 16 + 8 * i), to = u32(d, dir_at + 20 + 8 * i);
      std::vector<uint32_t> path = ids;
      path.push_back(id);
      if (depth < 2) {
        ASSERT_TRUE(to & 0x80000000u);
        walk(root, root + (to & 0x7FFFFFFFu), depth + 1, path);
      } else {
        size_t e = root + to;
        size_t at = offset(u32(d, e));
        resources[{path[0], path[1], path[2]}] =
            std::vector<uint8_t>(d.begin() + at, d.begin() + at + u32(d, e + 4));
      }
    }
  }
  const std::vector<uint8_t>* find(uint32_t type, uint32_t name) const {
    for (auto& [key, data] : resources)
      if (std::get<0>(key) == type && std::get<1>(key) == name) return &data;
    return nullptr;
  }
};

// The texts of a VS_VERSIONINFO's first string table, as ASCII.
std::map<std::string, std::string> version_strings(const std::vector<uint8_t>& v) {
  std::map<std::string, std::string> out;
  auto key_at = [&](size_t at, size_t* after) {
    std::string k;
    size_t i = at + 6;
    for (; u16(v, i); i += 2) k += (char)u16(v, i);
    *after = (i + 2 + 3) & ~(size_t)3;
    return k;
  };
  size_t value;
  EXPECT_EQ(key_at(0, &value), "VS_VERSION_INFO");
  size_t sfi = (value + u16(v, 2) + 3) & ~(size_t)3, table, str;
  EXPECT_EQ(key_at(sfi, &table), "StringFileInfo");
  EXPECT_EQ(key_at(table, &str), "040904B0");
  size_t table_end = table + u16(v, table);
  while (str < table_end) {
    size_t text;
    std::string k = key_at(str, &text);
    std::string t;
    for (size_t i = text; u16(v, i); i += 2) t += (char)u16(v, i);
    out[k] = t;
    str = (str + u16(v, str) + 3) & ~(size_t)3;
  }
  return out;
}

// The PE checksum, computed word by word over the file with the field as zero.
uint32_t checksum_of(const std::vector<uint8_t>& file, size_t field) {
  uint64_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    if (i >= field && i < field + 4) continue;
    sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + file.size());
}

// The stub's length field, as the builder set it (the stub comes first).
uint32_t stub_length_of(const std::vector<uint8_t>& file) {
  std::vector<size_t> markers = find_stub_markers(file.data(), file.size());
  EXPECT_FALSE(markers.empty());
  return markers.empty() ? 0 : u32(file, markers[0] + 6);
}

const char* const PROJECT = R"(product = "Hello"
[executable]
icon = "hello.ico"
execution_level = "asInvoker"
company = "Pakwiz Examples"
description = "Hello 2.0 Setup"
copyright = "Copyright 2024 Pakwiz Examples"
product_version = "2.0"
file_version = "2.0.17.3"
[uninstaller]
[[files]]
source = "readme.txt"
)";

BuildSummary build_with(const TempDir& dir, const std::string& toml, const std::string& stub,
                        const std::string& output = "setup.exe") {
  BuildOptions o;
  o.project = dir.write("project.toml", toml);
  o.output = dir.file(output);
  o.stub = stub;
  o.uninstaller = fixture("stub64.exe"); // any Windows program stands in for it
  return build_setup(o);
}

} // namespace

TEST(SetupResources, ManifestVersionAndIconComeFromTheProjectAndTheImageStaysWhole) {
  std::vector<uint8_t> ico = read_file_bytes(PAKWIZ_SOURCE_DIR "/examples/hello/hello.ico");
  ASSERT_GT(ico.size(), 6u);
  for (const char* stub_name : {"stub32.exe", "stub64.exe"}) {
    SCOPED_TRACE(stub_name);
    TempDir dir;
    dir.write("readme.txt", "Read me.\n");
    dir.write("hello.ico", ico);
    BuildSummary summary = build_with(dir, PROJECT, fixture(stub_name));
    EXPECT_TRUE(summary.resources);
    std::vector<uint8_t> file = read_file_bytes(dir.file("setup.exe"));
    Pe stub(std::vector<uint8_t>(file.begin(), file.begin() + stub_length_of(file)));
    Pe original(read_file_bytes(fixture(stub_name)));

    // Manifest: the requested level, common controls 6, Vista to 11.
    const std::vector<uint8_t>* manifest = stub.find(24, 1);
    ASSERT_NE(manifest, nullptr);
    std::string xml(manifest->begin(), manifest->end());
    EXPECT_NE(xml.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(xml.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);

    // Version resource: the fixed versions and every text.
    const std::vector<uint8_t>* version = stub.find(16, 1);
    ASSERT_NE(version, nullptr);
    size_t fixed = 40; // behind the header and the padded key
    EXPECT_EQ(u32(*version, fixed), 0xFEEF04BDu);
    EXPECT_EQ(u32(*version, fixed + 8), 0x00020000u);  // 2.0
    EXPECT_EQ(u32(*version, fixed + 12), 0x00110003u); // .17.3
    EXPECT_EQ(u32(*version, fixed + 16), 0x00020000u); // product 2.0.0.0
    EXPECT_EQ(u32(*version, fixed + 20), 0u);
    std::map<std::string, std::string> expected = {
        {"CompanyName", "Pakwiz Examples"}, {"FileDescription", "Hello 2.0 Setup"},
        {"FileVersion", "2.0.17.3"},        {"LegalCopyright", "Copyright 2024 Pakwiz Examples"},
        {"ProductName", "Hello"},           {"ProductVersion", "2.0"}};
    EXPECT_EQ(version_strings(*version), expected);

    // Icon: group 800 (which the setup program loads) names the .ico's
    // images, stored byte for byte.
    const std::vector<uint8_t>* group = stub.find(14, 800);
    ASSERT_NE(group, nullptr);
    size_t count = u16(ico, 4);
    ASSERT_EQ(u16(*group, 4), count);
    for (size_t i = 0; i < count; i++) {
      EXPECT_EQ(memcmp(&(*group)[6 + 14 * i], &ico[6 + 16 * i], 12), 0) << i;
      const std::vector<uint8_t>* image = stub.find(3, u16(*group, 6 + 14 * i + 12));
      ASSERT_NE(image, nullptr) << i;
      std::vector<uint8_t> want(ico.begin() + u32(ico, 6 + 16 * i + 12),
                                ico.begin() + u32(ico, 6 + 16 * i + 12) + u32(ico, 6 + 16 * i + 8));
      EXPECT_EQ(*image, want) << i;
    }
    EXPECT_EQ(stub.resources.size(), 3 + count); // nothing else is left over

    // The image: sections unchanged up to .rsrc, which holds the resource
    // directory; .reloc behind it with the same bytes; sizes consistent.
    ASSERT_EQ(stub.sections.size(), original.sections.size());
    size_t n = stub.sections.size();
    ASSERT_EQ(stub.sections[n - 2].name, ".rsrc");
    ASSERT_EQ(stub.sections[n - 1].name, ".reloc");
    for (size_t i = 0; i + 2 < n; i++) {
      const Pe::Section &a = stub.sections[i], &b = original.sections[i];
      EXPECT_EQ(std::tie(a.name, a.va, a.vsize, a.raw, a.raw_size),
                std::tie(b.name, b.va, b.vsize, b.raw, b.raw_size));
    }
    const Pe::Section &rsrc = stub.sections[n - 2], &reloc = stub.sections[n - 1];
    EXPECT_EQ(stub.dir(2), rsrc.va);
    EXPECT_EQ(stub.dir_size(2), rsrc.vsize);
    EXPECT_EQ(rsrc.raw_size % 0x200, 0u);
    EXPECT_EQ(reloc.raw, rsrc.raw + rsrc.raw_size);
    EXPECT_EQ(reloc.va % 0x1000, 0u);
    EXPECT_GE(reloc.va, rsrc.va + rsrc.vsize);
    EXPECT_EQ(stub.dir(5), reloc.va);
    const Pe::Section& old_reloc = original.sections[n - 1];
    EXPECT_EQ(std::vector<uint8_t>(stub.d.begin() + reloc.raw,
                                   stub.d.begin() + reloc.raw + reloc.raw_size),
              std::vector<uint8_t>(original.d.begin() + old_reloc.raw,
                                   original.d.begin() + old_reloc.raw + old_reloc.raw_size));
    EXPECT_EQ(u32(stub.d, stub.opt + 56), (reloc.va + reloc.vsize + 0xFFF) / 0x1000 * 0x1000);
    EXPECT_EQ(stub.d.size(), reloc.raw + reloc.raw_size); // the package follows at once
    EXPECT_EQ(u32(stub.d, stub.opt + 8) - u32(original.d, original.opt + 8),
              rsrc.raw_size - original.sections[n - 2].raw_size); // initialised data
    EXPECT_EQ(u32(file, stub.opt + 64), checksum_of(file, stub.opt + 64));

    // The setup program's loader finds the package behind the rebuilt stub.
    release_package();
    g_package = PackageState{};
    ASSERT_TRUE(app_alloc_buffers());
    ASSERT_TRUE(text_copy(g_app.package_path, PATH_SIZE, dir.file("setup.exe").c_str()));
    g_app.stub_length = stub_length_of(file);
    EXPECT_TRUE(load_package());

    // pakwiz's own uninstaller gets the same manifest and version resource
    // and keeps its own icon.
    ASSERT_TRUE(g_package.prefix.data);
    Pe uninstaller(
        std::vector<uint8_t>(g_package.prefix.data, g_package.prefix.data + g_package.prefix.size));
    release_package();
    g_package = PackageState{};
    app_free_buffers();
    ASSERT_NE(uninstaller.find(24, 1), nullptr);
    EXPECT_EQ(*uninstaller.find(24, 1), *manifest);
    ASSERT_NE(uninstaller.find(16, 1), nullptr);
    EXPECT_EQ(*uninstaller.find(16, 1), *version);
    Pe own_uninstaller(read_file_bytes(fixture("stub64.exe")));
    ASSERT_NE(uninstaller.find(14, 800), nullptr);
    EXPECT_EQ(*uninstaller.find(14, 800), *own_uninstaller.find(14, 800));

    // The same inputs give the same bytes.
    build_with(dir, PROJECT, fixture(stub_name), "again.exe");
    EXPECT_EQ(read_file_bytes(dir.file("again.exe")), file);
  }
}

TEST(SetupResources, WithoutExecutableKeysTheDefaultsAndTheStubsIcon) {
  TempDir dir;
  dir.write("readme.txt", "Read me.\n");
  build_with(dir, "product = \"Plain\"\n[[files]]\nsource = \"readme.txt\"\n",
             fixture("stub32.exe"));
  std::vector<uint8_t> file = read_file_bytes(dir.file("setup.exe"));
  Pe stub(std::vector<uint8_t>(file.begin(), file.begin() + stub_length_of(file)));
  Pe original(read_file_bytes(fixture("stub32.exe")));
  ASSERT_NE(stub.find(24, 1), nullptr);
  std::string xml(stub.find(24, 1)->begin(), stub.find(24, 1)->end());
  EXPECT_NE(xml.find("level=\"requireAdministrator\""), std::string::npos);
  ASSERT_NE(stub.find(16, 1), nullptr);
  std::map<std::string, std::string> expected = {{"FileDescription", "Plain Setup"},
                                                 {"ProductName", "Plain"}};
  EXPECT_EQ(version_strings(*stub.find(16, 1)), expected);
  ASSERT_NE(stub.find(14, 800), nullptr);
  EXPECT_EQ(*stub.find(14, 800), *original.find(14, 800));
  for (auto& [key, data] : original.resources)
    if (std::get<0>(key) == 3) {
      ASSERT_NE(stub.find(3, std::get<1>(key)), nullptr);
      EXPECT_EQ(*stub.find(3, std::get<1>(key)), data);
    }
}

// The resource section is rebuilt only where that cannot disturb the rest
// of the program.
TEST(SetupResources, StubsWhoseLayoutCannotBeRebuiltAreRefused) {
  std::vector<uint8_t> stub = read_file_bytes(fixture("stub64.exe"));
  Pe pe(stub);
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    const char* error;
  };
  std::vector<uint8_t> appended = stub;
  appended.resize(stub.size() + 16, 0x55);
  std::vector<uint8_t> signed_stub = stub;
  signed_stub[pe.dirs + 8 * 4] = 0x10; // a security directory entry
  std::vector<uint8_t> no_resources = read_file_bytes(fixture("plain64.exe"));
  std::vector<uint8_t> not_last = stub;
  // The resource directory moved into .text, which is not last.
  for (int i = 0; i < 4; i++) not_last[pe.dirs + 16 + i] = (uint8_t)(pe.sections[0].va >> (8 * i));
  const Case cases[] = {
      {"data behind the sections", appended, "bytes follow the program's last section"},
      {"signed", signed_stub, "the program is signed"},
      {"no resource section", no_resources, "has no resource section"},
      {"resources not last", not_last, "is not the program's last section"},
  };
  for (const Case& c : cases) {
    std::string error = "(none)";
    try {
      replace_resources(c.image, {}, "stub.exe");
    } catch (const BuildError& e) {
      error = e.what();
    }
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(error.rfind("stub.exe: ", 0), 0u) << error;
  }
}
