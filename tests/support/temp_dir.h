// A fresh folder for one test, removed with its content afterwards.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  // path() + separator + name
  std::string file(const std::string& name) const;
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string write(const std::string& name, const std::string& text) const;

private:
  std::string path_;
};

std::vector<uint8_t> read_file_bytes(const std::string& path);
bool file_exists(const std::string& path);
