#include "support/install_package.h"

#include <string.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>

#include "builder/encoder.h"
#include "common/heap.h"
#include "common/state.h"
#include "decode/archive.h"
#include "decode/checksum.h"
#include "decode/stream_decoder.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"

#ifdef _WIN32
#include <windows.h>
static const char SEP[] = "\\";
#else
static const char SEP[] = "/";
#endif

std::vector<std::string> install_messages() {
  std::vector<std::string> t(32, "");
  t[0] = "Test setup";
  t[13] = "Stop the installation?";
  t[15] = "The installation was cancelled.";
  t[16] = "Cannot open %s";
  t[17] = "Cannot create %s";
  t[18] = "Cannot read %s";
  t[19] = "Cannot write %s";
  t[20] = "The disk is full";
  t[21] = "Damaged data for %s";
  t[22] = "Cannot replace %s";
  t[28] = "Insert disk %d";
  t[29] = "A newer %s exists. Replace it?";
  t[30] = "%s has another language. Replace it?";
  t[31] = "The setup package is damaged";
  return t;
}

namespace {
int record_answer(const char* text, unsigned style, void* context) {
  InstallTest* t = (InstallTest*)context;
  t->asked.push_back(text);
  t->styles.push_back(style);
  if (t->while_asking) t->while_asking();
  if (t->answers.empty()) return ANSWER_NO;
  int a = t->answers.front();
  t->answers.pop_front();
  return a;
}
} // namespace

void InstallTest::SetUp() {
  release_package();
  g_package = PackageState{};
  g_install = InstallState{};
  g_archive = ArchiveState{};
  g_archive.handle = INVALID_FILE;
  ASSERT_TRUE(app_alloc_buffers());
  g_app.platform_nt = true;
  set_message_answerer(record_answer, this);
}

void InstallTest::TearDown() {
  set_message_answerer(nullptr, nullptr);
  close_archive();
  keep_decoder_buffers(false); // a test that ends before finish_installation
  release_package();
  app_free_buffers();
  g_install = InstallState{};
#ifndef _WIN32
  if (chdir("/") != 0) {
  }
#else
  SetCurrentDirectoryA("C:\\");
#endif
}

void InstallTest::load(std::vector<PackedFile> files, const Bytes& prefix,
                       LanguageMaker* language) {
  Bytes archive;
  std::vector<EntryMaker> entries;
  for (PackedFile& f : files) {
    std::vector<uint8_t> stream = pakwiz::encode_stream(f.content.data(), f.content.size(),
                                                        pakwiz::default_compression_level());
    EntryMaker e = f.entry;
    e.position = (uint32_t)archive.size();
    e.packed = (uint32_t)stream.size();
    e.size = (uint32_t)f.content.size();
    e.checksum = rotate_add(0, f.content.data(), f.content.size()) + (f.wrong_checksum ? 1 : 0);
    archive.insert(archive.end(), stream.begin(), stream.end());
    entries.push_back(e);
  }
  PackageMaker p;
  p.record(REC_TEMPLATES, minimal_templates());
  if (!prefix.empty()) p.record(REC_PREFIX, prefix);
  LanguageMaker lang;
  if (language) lang = *language;
  if (!lang.has_table[6]) lang.table(6, install_messages());
  p.record(REC_LANGUAGE, lang.bytes());
  p.record(REC_FILE_LIST, file_list(entries));
  size_t first_part = archive_in_package < archive.size() ? archive_in_package : archive.size();
  std::string path =
      dir.write("setup.exe", p.finish(Bytes(archive.begin(), archive.begin() + (long)first_part)));
  if (first_part < archive.size()) {
    Bytes volume;
    put_u32(volume, (uint32_t)(archive.size() - first_part));
    volume.insert(volume.end(), archive.begin() + (long)first_part, archive.end());
    dir.write("setup.D01", volume);
  }
  ASSERT_LT(path.size(), (size_t)PATH_SIZE);
  strcpy(g_app.package_path, path.c_str());
  g_app.stub_length = 64;
  ASSERT_TRUE(load_package());
  install_folder = dir.file("app") + SEP;
  strcpy(g_app.install_folder, install_folder.c_str());
}

uint8_t* InstallTest::entry(uint32_t i) {
  return find_file_entry(g_package.current_block, i);
}

void make_read_only(const std::string& path, bool read_only) {
#ifdef _WIN32
  DWORD a = GetFileAttributesA(path.c_str());
  SetFileAttributesA(path.c_str(), read_only ? (a | FILE_ATTRIBUTE_READONLY)
                                             : (a & ~(DWORD)FILE_ATTRIBUTE_READONLY));
#else
  chmod(path.c_str(), read_only ? 0444 : 0644);
#endif
}

bool file_is_read_only(const std::string& path) {
#ifdef _WIN32
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
#else
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
#endif
}

Bytes text_bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

PackedFile packed_file(const std::string& target, const std::string& content, uint8_t destination) {
  PackedFile f;
  f.entry.strings[0] = target;
  f.entry.destination = destination;
  f.content = text_bytes(content);
  return f;
}

#ifdef _WIN32
std::string pending_renames() {
  HKEY key;
  std::string value;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return value;
  DWORD size = 0, type = 0;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, NULL, &size) ==
          ERROR_SUCCESS &&
      size) {
    value.resize(size);
    RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, (BYTE*)&value[0], &size);
    value.resize(size);
  }
  RegCloseKey(key);
  for (char& c : value)
    if (c == 0) c = '|';
  return value;
}

void set_pending_renames(const std::string& saved) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  if (saved.empty()) {
    RegDeleteValueA(key, "PendingFileRenameOperations");
  } else {
    std::string raw = saved;
    for (char& c : raw)
      if (c == '|') c = 0;
    RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ, (const BYTE*)raw.data(),
                   (DWORD)raw.size());
  }
  RegCloseKey(key);
}
#endif
