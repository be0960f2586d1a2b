// The uninstall log as the uninstaller reads it (uninstall/log_reader.h),
// turned into strings for comparisons and messages.
#include "support/uninstall_log_reader.h"

#include "common/bytes.h"
#include "uninstall/log_reader.h"

namespace {

std::string str(LogText t) {
  return std::string(t.text ? t.text : "", t.length);
}

} // namespace

UninstallLog read_uninstall_log(const std::vector<uint8_t>& file, size_t offset) {
  UninstallLog log;
  if (offset > file.size()) {
    log.error = "the file is shorter than the offset";
    return log;
  }
  // The uninstaller's data record, when the builder put one there.
  if (file.size() - offset >= 8 && read_u16(&file[offset]) == UNINSTALLER_DATA_TAG &&
      read_u16(&file[offset + 2]) == 0 && read_u32(&file[offset + 4]) <= file.size() - offset - 8)
    offset += 8 + read_u32(&file[offset + 4]);
  CheckedLog checked;
  if (!check_uninstall_log(file.data() + offset, (uint32_t)(file.size() - offset), &checked)) {
    log.error = "refused by the uninstaller's reader";
    return log;
  }
  if (offset + checked.size != file.size()) {
    log.error =
        std::to_string(file.size() - offset - checked.size) + " bytes behind the end record";
    return log;
  }
  LogCursor c = file_entries(checked);
  for (LogFileEntry f; next_file(&c, &f);)
    log.files.push_back({str(f.folder), str(f.name), f.flags});
  log.has_shortcuts = checked.shortcuts != nullptr;
  c = shortcut_entries(checked);
  for (LogLinkEntry s; next_shortcut(&c, &s);)
    log.shortcuts.push_back({str(s.folder), str(s.name)});
  log.has_key = checked.has_key;
  log.key_root = checked.key_root;
  log.key_path = str(checked.key);
  log.has_values = checked.values != nullptr;
  c = value_entries(checked);
  for (LogValueEntry v; next_value(&c, &v);)
    log.values.push_back({v.kind, v.root, str(v.a), str(v.b), str(v.c)});
  return log;
}

std::string value_item(const LoggedValue& v) {
  char root[16] = "";
  switch (v.root) {
  case 0x80000000u:
    snprintf(root, sizeof root, "HKCR");
    break;
  case 0x80000001u:
    snprintf(root, sizeof root, "HKCU");
    break;
  case 0x80000002u:
    snprintf(root, sizeof root, "HKLM");
    break;
  case 0x80000003u:
    snprintf(root, sizeof root, "HKU");
    break;
  }
  switch (v.kind) {
  case LOGGED_VALUE_REGISTRY:
    return std::string("value|") + root + "\\" + v.a + "|" + v.b;
  case LOGGED_VALUE_KEY:
    return std::string("regkey|") + root + "\\" + v.a;
  case LOGGED_VALUE_INI:
    return "ini|" + v.a + "|" + v.b + "|" + v.c;
  default:
    return "inifile|" + v.a;
  }
}

std::string describe(const UninstallLog& log) {
  std::string s;
  if (!log.error.empty()) s += "error: " + log.error + "\n";
  for (const LoggedFile& f : log.files)
    s += "file " + f.folder + " | " + f.name + " | " + std::to_string(f.flags) + "\n";
  for (const LoggedLink& l : log.shortcuts) s += "link " + l.folder + " | " + l.name + "\n";
  if (log.has_key) s += "key " + std::to_string(log.key_root) + " " + log.key_path + "\n";
  for (const LoggedValue& v : log.values) s += value_item(v) + "\n";
  return s;
}
