#include "support/uninstall_log_reader.h"

#include "common/bytes.h"
#include "common/package_format.h"

namespace {

struct Cursor {
  const std::vector<uint8_t>& b;
  size_t at, end;
  bool ok = true;
  bool need(size_t n) {
    if (!ok || n > end - at) ok = false;
    return ok;
  }
  uint32_t u(int bytes) {
    if (!need((size_t)bytes)) return 0;
    const uint8_t* p = &b[at];
    uint32_t v = bytes == 4 ? read_u32(p) : bytes == 2 ? read_u16(p) : p[0];
    at += (size_t)bytes;
    return v;
  }
  std::string text() {
    uint32_t n = u(2);
    if (!need(n)) return "";
    std::string s(b.begin() + (long)at, b.begin() + (long)(at + n));
    at += n;
    return s;
  }
};

} // namespace

UninstallLog read_uninstall_log(const std::vector<uint8_t>& file, size_t offset) {
  UninstallLog log;
  if (offset > file.size()) {
    log.error = "the file is shorter than the offset";
    return log;
  }
  Cursor c{file, offset, file.size()};
  int stage = 0; // 0 files, 1 shortcuts, 2 key, 3 end
  while (true) {
    size_t header_at = c.at;
    uint32_t tag = c.u(2), flags = c.u(2), length = c.u(4);
    if (!c.ok) {
      log.error = "record header cut short at " + std::to_string(header_at);
      return log;
    }
    if (flags != 0) {
      log.error = "record flags " + std::to_string(flags) + " at " + std::to_string(header_at);
      return log;
    }
    if (length > c.end - c.at) {
      log.error = "record body runs past the file at " + std::to_string(header_at);
      return log;
    }
    Cursor body{file, c.at, c.at + length};
    c.at += length;
    if (tag == LOG_TAG_FILES && stage == 0) {
      uint32_t count = body.u(4);
      for (uint32_t i = 0; i < count && body.ok; i++) {
        LoggedFile f;
        f.folder = body.text();
        f.name = body.text();
        f.flags = (int)body.u(1);
        if (body.ok) log.files.push_back(f);
      }
      stage = 1;
    } else if (tag == LOG_TAG_SHORTCUTS && stage == 1) {
      log.has_shortcuts = true;
      uint32_t count = body.u(4);
      for (uint32_t i = 0; i < count && body.ok; i++) {
        LoggedLink l;
        l.folder = body.text();
        l.name = body.text();
        if (body.ok) log.shortcuts.push_back(l);
      }
      stage = 2;
    } else if (tag == LOG_TAG_KEY && (stage == 1 || stage == 2)) {
      log.has_key = true;
      log.key_body_length = length;
      log.key_root = body.u(4);
      log.key_path = body.text();
      stage = 3;
    } else if (tag == LOG_TAG_END && stage >= 1) {
      if (length != 0)
        log.error = "end record with a body";
      else if (c.at != file.size())
        log.error = std::to_string(file.size() - c.at) + " bytes behind the end record";
      return log;
    } else {
      log.error =
          "unexpected record tag " + std::to_string(tag) + " at " + std::to_string(header_at);
      return log;
    }
    if (!body.ok || body.at != body.end) {
      log.error = "record body at " + std::to_string(header_at) + " does not match its length";
      return log;
    }
  }
}

std::string describe(const UninstallLog& log) {
  std::string s;
  if (!log.error.empty()) s += "error: " + log.error + "\n";
  for (const LoggedFile& f : log.files)
    s += "file " + f.folder + " | " + f.name + " | " + std::to_string(f.flags) + "\n";
  for (const LoggedLink& l : log.shortcuts) s += "link " + l.folder + " | " + l.name + "\n";
  if (log.has_key) s += "key " + std::to_string(log.key_root) + " " + log.key_path + "\n";
  return s;
}
