#include "support/uninstall_log_maker.h"

#include "common/package_format.h"

void put_log_string(std::vector<uint8_t>& out, const std::string& s) {
  put_u16(out, (uint16_t)s.size());
  out.insert(out.end(), s.begin(), s.end());
}

void put_record(std::vector<uint8_t>& out, uint16_t tag, const std::vector<uint8_t>& body) {
  put_u16(out, tag);
  put_u16(out, 0);
  put_u32(out, (uint32_t)body.size());
  out.insert(out.end(), body.begin(), body.end());
}

std::string log_key_path(const std::string& name) {
  return UNINSTALL_KEY_PREFIX + name;
}

std::vector<uint8_t> make_uninstall_log(const LogSpec& spec) {
  std::vector<uint8_t> log, body;
  put_u32(body, (uint32_t)spec.files.size());
  for (const LogFileSpec& f : spec.files) {
    put_log_string(body, f.folder);
    put_log_string(body, f.name);
    body.push_back(f.flags);
  }
  put_record(log, LOG_TAG_FILES, body);
  if (spec.shortcuts) {
    body.clear();
    put_u32(body, (uint32_t)spec.shortcuts->size());
    for (const LogShortcutSpec& s : *spec.shortcuts) {
      put_log_string(body, s.folder);
      put_log_string(body, s.name);
    }
    put_record(log, LOG_TAG_SHORTCUTS, body);
  }
  if (spec.key_name) {
    body.clear();
    put_u32(body, spec.key_root);
    put_log_string(body, log_key_path(*spec.key_name));
    put_record(log, LOG_TAG_KEY, body);
  }
  if (spec.end) put_record(log, LOG_TAG_END, {});
  return log;
}
