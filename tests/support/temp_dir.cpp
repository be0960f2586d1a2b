#include "support/temp_dir.h"

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
static const char SEP = '\\';
#else
#include <unistd.h>
static const char SEP = '/';
#endif

namespace fs = std::filesystem;

TempDir::TempDir() {
  static int counter = 0;
  std::string base = fs::temp_directory_path().string();
  if (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
#ifdef _WIN32
  unsigned pid = (unsigned)GetCurrentProcessId();
#else
  unsigned pid = (unsigned)getpid();
#endif
  for (;;) {
    path_ = base + SEP + "pakwiz-test-" + std::to_string(pid) + "-" + std::to_string(counter++);
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  // Clear read-only attributes first so that the removal can succeed.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
  return path_ + SEP + name;
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::string p = file(name);
  fs::create_directories(fs::path(p).parent_path());
  std::ofstream out(p, std::ios::binary);
  out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  return p;
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
  return write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}
