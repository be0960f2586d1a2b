#include "builder/try_report.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "builder/terminal_text.h"

namespace pakwiz {

namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

bool starts_with(const std::string& s, const std::string& head) {
  return s.compare(0, head.size(), head) == 0;
}

void append_utf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += (char)c;
  } else if (c < 0x800) {
    *out += (char)(0xC0 | c >> 6);
    *out += (char)(0x80 | (c & 0x3F));
  } else {
    *out += (char)(0xE0 | c >> 12);
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The escapes of a registry file's names and strings, from `at` up to the
// unescaped `end` character (or the end of the text); `at` is left behind it.
std::string unescape(const std::string& s, size_t* at, char end) {
  std::string out;
  size_t i = *at;
  for (; i < s.size() && s[i] != end; i++) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out += s[i];
      continue;
    }
    char e = s[++i];
    if (e == 'n')
      out += '\n';
    else if (e == 'r')
      out += '\r';
    else if (e == 't')
      out += '\t';
    else if (e == '0')
      out += '\0';
    else if (e == 'x') {
      uint32_t c = 0;
      int n = 0;
      while (n < 4 && i + 1 < s.size() && hex_digit(s[i + 1]) >= 0) {
        c = c * 16 + (uint32_t)hex_digit(s[++i]);
        n++;
      }
      append_utf8(&out, c);
    } else
      out += e;
  }
  *at = i < s.size() ? i + 1 : i;
  return out;
}

// Wine's own bookkeeping, which changes whenever a program runs.
bool registry_noise(const std::string& lower_key) {
  static const char* const NOISE[] = {
      "hklm\\software\\wine",
      "hkcu\\software\\wine",
      "hklm\\system\\currentcontrolset\\control\\deviceclasses",
      "hklm\\system\\currentcontrolset\\enum",
      "hklm\\system\\currentcontrolset\\control\\class",
      "hklm\\software\\microsoft\\windows\\currentversion\\runservices",
      "hklm\\software\\wow6432node\\microsoft\\windows\\currentversion\\runservices",
      "hklm\\system\\currentcontrolset\\services\\winebus",
      "hklm\\software\\microsoft\\windows nt\\currentversion\\networkcards",
      "hklm\\software\\microsoft\\windows nt\\currentversion\\fonts",
      "hklm\\software\\microsoft\\windows\\currentversion\\fonts",
      "hklm\\system\\currentcontrolset\\control\\session manager\\environment",
      "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\shell folders",
      "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\user shell folders",
      "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\sessioninfo",
      "hkcu\\environment",
      "hkcu\\volatile environment",
      "hklm\\software\\microsoft\\cryptography",
  };
  for (const char* n : NOISE) {
    std::string head = n;
    if (lower_key == head || starts_with(lower_key, head + "\\")) return true;
  }
  return false;
}

// Every key of the tree, with the keys above them: a registry file leaves
// out a key that holds nothing but subkeys.
std::set<std::string> keys_present(const RegistryTree& tree) {
  std::set<std::string> all;
  for (const auto& [id, key] : tree)
    for (size_t at = id.size(); at != std::string::npos && at > 0; at = id.rfind('\\', at - 1)) {
      if (!all.insert(id.substr(0, at)).second) break;
    }
  return all;
}

bool file_noise(const std::string& path) {
  std::string l = lower(path);
  // Wine's caches and the registry's own files are not the setup's work.
  static const char* const NOISE[] = {
      "c:\\windows\\temp\\", "c:\\windows\\inf\\",  "c:\\windows\\system32\\tasks",
      "c:\\windows\\logs\\", "c:\\users\\public\\",
  };
  for (const char* n : NOISE)
    if (starts_with(l, n)) return true;
  return false;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char e[8];
      snprintf(e, sizeof e, "\\u%04x", c);
      out += e;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

std::string html(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string base64(const std::string& bytes) {
  static const char* const A = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t)bytes[i] << 16 | (uint8_t)bytes[i + 1] << 8 | (uint8_t)bytes[i + 2];
    out += A[v >> 18];
    out += A[(v >> 12) & 63];
    out += A[(v >> 6) & 63];
    out += A[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = (uint8_t)bytes[i] << 16;
    if (i + 1 < bytes.size()) v |= (uint8_t)bytes[i + 1] << 8;
    out += A[v >> 18];
    out += A[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? A[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string seconds_text(double s) {
  char t[32];
  snprintf(t, sizeof t, "%.1f s", s);
  return t;
}

std::string value_name(const std::string& name) {
  return name.empty() ? "(default)" : name;
}

std::string package_text(const FileChange& f) {
  return f.package == "equal"       ? "equals the package's file"
         : f.package == "patched"   ? "the package's file with its patch written in"
         : f.package == "different" ? "DIFFERS from the package's file"
                                    : "not a file of the package";
}

std::string leftovers_summary(const std::vector<Leftover>& leftovers) {
  std::string s;
  size_t shown = std::min<size_t>(leftovers.size(), 3);
  for (size_t i = 0; i < shown; i++)
    s += (i ? "; " : "") + leftovers[i].kind + " " + leftovers[i].what;
  if (leftovers.size() > shown) s += "; ...";
  return s;
}

} // namespace

// --- Registry files ----------------------------------------------------------------

void read_registry_file(const std::string& text, const std::string& root, RegistryTree* tree) {
  RegistryKey* key = nullptr;
  size_t at = 0;
  std::string line;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A hex value goes on over lines that end with a backslash.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
           at < text.size()) {
      line.pop_back();
      end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string more = text.substr(at, end - at);
      at = end + 1;
      size_t first = more.find_first_not_of(" \t");
      line += first == std::string::npos ? "" : more.substr(first);
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t i = 1;
      std::string path = unescape(line, &i, ']');
      std::string full = root + (path.empty() ? "" : "\\" + path);
      RegistryKey& k = (*tree)[lower(full)];
      k.path = full;
      key = &k;
      continue;
    }
    if (!key) continue;
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (line[0] == '"') {
      i = 1;
      name = unescape(line, &i, '"');
    } else {
      continue;
    }
    if (i >= line.size() || line[i] != '=') continue;
    key->values[lower(name)] = {name, line.substr(i + 1)};
  }
}

std::string registry_display(const std::string& data) {
  size_t i = 0;
  if (starts_with(data, "\"")) {
    i = 1;
    return unescape(data, &i, '"');
  }
  if (starts_with(data, "str(2):\"") || starts_with(data, "str(7):\"")) {
    i = 8;
    std::string s = unescape(data, &i, '"');
    if (data[4] == '7') {
      while (!s.empty() && s.back() == '\0') s.pop_back();
      std::string joined;
      for (char c : s) joined += c == '\0' ? std::string(" | ") : std::string(1, c);
      return joined;
    }
    return s;
  }
  if (starts_with(data, "dword:") && data.size() == 14) {
    uint32_t v = 0;
    for (size_t k = 6; k < 14; k++) {
      int d = hex_digit(data[k]);
      if (d < 0) return data;
      v = v * 16 + (uint32_t)d;
    }
    return std::to_string(v);
  }
  return data;
}

// --- INI files -----------------------------------------------------------------------

IniEntries read_ini(const std::string& text) {
  IniEntries entries;
  std::string section;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line = line.substr(first);
    if (line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      section = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    size_t v = value.find_first_not_of(" \t");
    value = v == std::string::npos ? "" : value.substr(v);
    std::string id = lower(section) + "\n" + lower(key);
    if (!entries.count(id)) entries[id] = {section, key, value}; // the first one counts
  }
  return entries;
}

// --- Shell links ------------------------------------------------------------------------

ShellLink read_shell_link(const std::vector<uint8_t>& b) {
  ShellLink link;
  auto u16 = [&](size_t at) -> uint32_t { return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0; };
  auto u32 = [&](size_t at) -> uint32_t {
    return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24
                              : 0;
  };
  auto ansi = [&](size_t at) {
    std::string s;
    while (at < b.size() && b[at]) s += (char)b[at++];
    return s;
  };
  if (b.size() < 0x4C || u32(0) != 0x4C) return link;
  uint32_t flags = u32(0x14);
  size_t at = 0x4C;
  std::string from_items;
  if (flags & 1) {
    uint32_t list_size = u16(at);
    size_t item = at + 2, list_end = at + 2 + list_size;
    // The names of the item list: a drive ("C:\"), then file system items
    // whose short-form name starts at byte 12 of the item.
    while (item + 2 < list_end && item + 2 < b.size()) {
      uint32_t size = u16(item);
      if (size < 3) break;
      uint8_t type = b[item + 2];
      if ((type & 0x70) == 0x20) {
        from_items = ansi(item + 3);
      } else if ((type & 0x70) == 0x30 && size > 14) {
        std::string name = ansi(item + 14);
        if (!from_items.empty() && from_items.back() != '\\') from_items += '\\';
        from_items += name;
      }
      item += size;
    }
    at = list_end;
  }
  if (flags & 2) {
    uint32_t info_size = u32(at);
    uint32_t info_flags = u32(at + 8);
    if (info_flags & 1) {
      std::string base = ansi(at + u32(at + 16));
      std::string suffix = u32(at + 24) ? ansi(at + u32(at + 24)) : "";
      link.target = base + suffix;
    }
    at += info_size;
  }
  if (link.target.empty()) link.target = from_items;
  bool unicode = (flags & 0x80) != 0;
  auto string_data = [&](std::string* out) {
    uint32_t count = u16(at);
    at += 2;
    std::string s;
    for (uint32_t k = 0; k < count && at < b.size(); k++) {
      if (unicode) {
        append_utf8(&s, u16(at));
        at += 2;
      } else {
        s += (char)b[at++];
      }
    }
    if (out) *out = s;
  };
  if (flags & 0x04) string_data(nullptr);           // name
  if (flags & 0x08) string_data(nullptr);           // relative path
  if (flags & 0x10) string_data(&link.working_dir); // working folder
  if (flags & 0x20) string_data(&link.arguments);   // arguments
  link.ok = !link.target.empty();
  return link;
}

// --- Differences -----------------------------------------------------------------------------

Changes compare_states(const PrefixState& before, const PrefixState& after) {
  Changes c;
  std::set<std::string> before_keys = keys_present(before.registry);
  std::map<std::string, std::string> created; // lower path -> path
  for (const auto& [path, state] : after.files) {
    if (file_noise(path)) continue;
    auto old = before.files.find(path);
    if (state.directory) {
      if (old == before.files.end()) c.folders.push_back(path);
      continue;
    }
    if (old == before.files.end() || old->second.directory) {
      c.files.push_back({path, state.size, true, ""});
    } else if (old->second.size != state.size || old->second.mtime_ns != state.mtime_ns) {
      c.files.push_back({path, state.size, false, ""});
    }
  }
  for (const auto& [id, key] : after.registry) {
    if (registry_noise(id)) continue;
    auto old = before.registry.find(id);
    if (old == before.registry.end()) {
      // The key, and the keys above it that were not there before.
      for (size_t at = id.size(); at != std::string::npos && at > 0; at = id.rfind('\\', at - 1)) {
        if (before_keys.count(id.substr(0, at))) break;
        if (!created.count(id.substr(0, at))) created[id.substr(0, at)] = key.path.substr(0, at);
      }
    }
    for (const auto& [name_id, value] : key.values) {
      std::string old_data;
      bool had = false;
      if (old != before.registry.end()) {
        auto v = old->second.values.find(name_id);
        if (v != old->second.values.end()) {
          had = true;
          old_data = v->second.second;
        }
      }
      if (had && old_data == value.second) continue;
      c.values.push_back({key.path, value.first, had ? registry_display(old_data) : "",
                          registry_display(value.second), !had});
    }
  }
  for (const auto& [id, path] : created) c.keys.push_back(path);
  for (const auto& [file, entries] : after.ini) {
    auto old = before.ini.find(file);
    for (const auto& [id, e] : entries) {
      const IniEntry* was = nullptr;
      if (old != before.ini.end()) {
        auto it = old->second.find(id);
        if (it != old->second.end()) was = &it->second;
      }
      if (was && was->value == e.value) continue;
      std::string shown = file;
      // The file's name as found among the files, not in lower case.
      for (const auto& [path, state] : after.files)
        if (lower(path) == file) shown = path;
      c.ini.push_back({shown, e.section, e.key, was ? was->value : "", e.value, was == nullptr});
    }
  }
  return c;
}

std::vector<Leftover> find_leftovers(const Changes& installed, const PrefixState& before,
                                     const PrefixState& after) {
  std::vector<Leftover> left;
  std::set<std::string> after_keys = keys_present(after.registry);
  for (const FileChange& f : installed.files)
    if (f.created && after.files.count(f.path)) left.push_back({"file", f.path});
  for (const std::string& folder : installed.folders)
    if (after.files.count(folder)) left.push_back({"folder", folder});
  for (const std::string& key : installed.keys)
    if (after_keys.count(lower(key))) left.push_back({"registry key", key});
  for (const ValueChange& v : installed.values) {
    if (!v.added) continue;
    auto k = after.registry.find(lower(v.key));
    if (k != after.registry.end() && k->second.values.count(lower(v.name)))
      left.push_back({"registry value", v.key + " " + value_name(v.name)});
  }
  for (const IniChange& e : installed.ini) {
    if (!e.added) continue;
    auto file = after.ini.find(lower(e.file));
    if (file != after.ini.end() && file->second.count(lower(e.section) + "\n" + lower(e.key)))
      left.push_back({"INI entry", e.file + " [" + e.section + "] " + e.key});
  }
  (void)before;
  return left;
}

// --- The verdict ---------------------------------------------------------------------------

// Success, with Windows to be restarted to finish.
const int EXIT_RESTART = 3010;

std::string exit_code_meaning(int code) {
  switch (code) {
  case 0:
    return "done";
  case EXIT_RESTART:
    return "done; files in use are replaced at the next start of Windows";
  case 1:
    return "cancelled";
  case 2:
    return "the package (or the uninstall log) is damaged";
  case 3:
    return "the package file or a volume cannot be read";
  case 4:
    return "a file cannot be written, replaced or removed";
  case 5:
    return "the disk is full";
  case 6:
    return "out of memory, or no window";
  case 7:
    return "a bad switch value";
  case 8:
    return "the install folder is not usable";
  case 9:
    return "the log file cannot be created";
  case 10:
    return "a wizard of this setup program is open";
  default:
    return "";
  }
}

namespace {

std::string exit_text(int code) {
  std::string meaning = exit_code_meaning(code);
  return "exit code " + std::to_string(code) + (meaning.empty() ? "" : " (" + meaning + ")");
}

} // namespace

void judge(TryReport* r) {
  r->passed = false;
  size_t package_files = 0;
  const FileChange* different = nullptr;
  for (const FileChange& f : r->changes.files) {
    if (!f.package.empty()) package_files++;
    if (f.package == "different" && !different) different = &f;
  }
  auto last_message = [](const Phase& p) {
    return p.messages.empty() ? std::string() : "; its last message: " + p.messages.back();
  };
  if (!r->install.failure.empty()) {
    r->verdict = "installing failed: " + r->install.failure + last_message(r->install);
  } else if (r->quiet && !r->install.exited) {
    r->verdict = "the unattended setup did not end";
  } else if (!r->quiet && !r->install.finish) {
    r->verdict = "the wizard did not reach its finish page" +
                 (r->install.exited ? " (exit code " + std::to_string(r->install.exit_code) + ")"
                                    : std::string()) +
                 last_message(r->install);
  } else if (r->install.exited && r->install.exit_code != 0 &&
             r->install.exit_code != EXIT_RESTART) {
    r->verdict = "the setup ended with " + exit_text(r->install.exit_code);
  } else if (!r->package_error.empty()) {
    r->verdict = "the package's files could not be read to compare: " + r->package_error;
  } else if (!r->missing.empty()) {
    r->verdict = std::to_string(r->missing.size()) +
                 " file(s) of the package were not installed: " + r->missing.front();
  } else if (different) {
    r->verdict = different->path + " differs from the package's file";
  } else if (!r->uninstall.failure.empty()) {
    r->verdict = "uninstalling failed: " + r->uninstall.failure + last_message(r->uninstall);
  } else if (r->uninstall.exited && r->uninstall.exit_code != 0 &&
             r->uninstall.exit_code != EXIT_RESTART) {
    r->verdict = "the uninstaller ended with " + exit_text(r->uninstall.exit_code);
  } else if (!r->leftovers.empty() && !r->allow_leftovers) {
    r->verdict = std::to_string(r->leftovers.size()) +
                 " leftover(s) after uninstalling: " + leftovers_summary(r->leftovers);
  } else {
    r->passed = true;
    r->verdict =
        (r->quiet ? "the unattended setup ended with " + exit_text(r->install.exit_code)
                  : std::string("the wizard reached its finish page")) +
        ", " + std::to_string(package_files) +
        " installed file(s) equal the package's, and uninstalling left " +
        (r->leftovers.empty() ? std::string("nothing behind")
                              : std::to_string(r->leftovers.size()) + " leftover(s) (allowed)");
  }
}

// --- Text ------------------------------------------------------------------------------------

namespace {

void phase_text(const char* name, const Phase& p, std::ostream& out) {
  if (!p.ran) {
    out << name << ": not run\n";
    return;
  }
  out << name << ": " << p.pages.size() << " page(s)" << (p.finish ? ", finish page reached" : "")
      << (p.exited ? ", " + exit_text(p.exit_code) : ", no exit code") << ", "
      << seconds_text(p.seconds) << "\n";
  for (size_t i = 0; i < p.pages.size(); i++)
    out << "  page " << (i + 1) << ": " << printable(p.pages[i]) << "\n";
  for (const std::string& m : p.messages) out << "  message: " << printable(m) << "\n";
  if (!p.finish_text.empty()) out << "  finish page: " << printable(p.finish_text) << "\n";
  if (!p.failure.empty()) out << "  failed: " << printable(p.failure) << "\n";
}

} // namespace

void write_text_report(const TryReport& r, std::ostream& out) {
  out << "pakwiz try " << printable(r.setup) << "\n";
  if (r.quiet) out << "unattended: installed and uninstalled with /Q\n";
  if (!r.language.empty()) out << "language block: " << r.language << "\n";
  if (!r.folder.empty()) out << "folder: " << printable(r.folder) << "\n";
  phase_text("install", r.install, out);
  out << "files created or changed: " << r.changes.files.size() << "\n";
  for (const FileChange& f : r.changes.files)
    out << "  " << printable(f.path) << "  " << f.size << " bytes, "
        << (f.created ? "created" : "changed") << ", " << package_text(f) << "\n";
  for (const std::string& m : r.missing) out << "  NOT INSTALLED: " << printable(m) << "\n";
  if (!r.package_error.empty()) out << "  package: " << printable(r.package_error) << "\n";
  out << "folders created: " << r.changes.folders.size() << "\n";
  for (const std::string& f : r.changes.folders) out << "  " << printable(f) << "\n";
  out << "registry values added or changed: " << r.changes.values.size() << "\n";
  for (const ValueChange& v : r.changes.values)
    out << "  " << printable(v.key) << "  " << printable(value_name(v.name)) << " = "
        << printable(v.after)
        << (v.added ? std::string(" (added)") : " (was " + printable(v.before) + ")") << "\n";
  out << "registry keys created: " << r.changes.keys.size() << "\n";
  for (const std::string& k : r.changes.keys) out << "  " << printable(k) << "\n";
  out << "INI entries added or changed: " << r.changes.ini.size() << "\n";
  for (const IniChange& e : r.changes.ini)
    out << "  " << printable(e.file) << "  [" << printable(e.section) << "] " << printable(e.key)
        << " = " << printable(e.after)
        << (e.added ? std::string(" (added)") : " (was " + printable(e.before) + ")") << "\n";
  out << "shortcuts: " << r.shortcuts.size() << "\n";
  for (const Shortcut& s : r.shortcuts)
    out << "  " << printable(s.path) << " -> " << printable(s.target)
        << (s.arguments.empty() ? "" : " " + printable(s.arguments)) << "\n";
  if (r.uninstall_key.empty()) {
    out << "Add/Remove Programs: no entry\n";
  } else {
    out << "Add/Remove Programs: " << printable(r.uninstall_key) << "\n";
    for (const auto& [name, value] : r.uninstall_values)
      out << "  " << printable(name) << " = " << printable(value) << "\n";
  }
  out << "restart requested: " << (r.restart ? "yes (" + r.restart_reason + ")" : "no") << "\n";
  phase_text("uninstall", r.uninstall, out);
  out << "leftovers: " << r.leftovers.size() << (r.allow_leftovers ? " (allowed)" : "") << "\n";
  for (const Leftover& l : r.leftovers) out << "  " << l.kind << ": " << printable(l.what) << "\n";
  out << "screenshots: " << r.shots.size() << "\n";
  out << "time: " << seconds_text(r.total_seconds) << " in all (Wine prefix "
      << seconds_text(r.prefix_seconds) << ", install " << seconds_text(r.install.seconds)
      << ", uninstall " << seconds_text(r.uninstall.seconds) << ")\n";
  if (!r.prefix_note.empty()) out << "Wine prefix: " << printable(r.prefix_note) << "\n";
  out << (r.passed ? "PASS: " : "FAIL: ") << printable(r.verdict) << "\n";
}

// --- JSON -----------------------------------------------------------------------------------

namespace {

void phase_json(const Phase& p, std::ostream& out) {
  out << "{\"ran\": " << (p.ran ? "true" : "false") << ", \"pages\": [";
  for (size_t i = 0; i < p.pages.size(); i++) out << (i ? ", " : "") << json_string(p.pages[i]);
  out << "], \"messages\": [";
  for (size_t i = 0; i < p.messages.size(); i++)
    out << (i ? ", " : "") << json_string(p.messages[i]);
  out << "], \"finish\": " << (p.finish ? "true" : "false")
      << ", \"finish_text\": " << json_string(p.finish_text) << ", \"exit_code\": ";
  if (p.exited)
    out << p.exit_code;
  else
    out << "null";
  out << ", \"exit_meaning\": " << json_string(p.exited ? exit_code_meaning(p.exit_code) : "")
      << ", \"failure\": " << json_string(p.failure) << ", \"seconds\": " << p.seconds << "}";
}

} // namespace

void write_json_report(const TryReport& r, std::ostream& out) {
  out << "{\n  \"setup\": " << json_string(r.setup)
      << ",\n  \"passed\": " << (r.passed ? "true" : "false")
      << ",\n  \"verdict\": " << json_string(r.verdict)
      << ",\n  \"quiet\": " << (r.quiet ? "true" : "false") << ",\n  \"install\": ";
  phase_json(r.install, out);
  out << ",\n  \"uninstall\": ";
  phase_json(r.uninstall, out);
  out << ",\n  \"files\": [";
  for (size_t i = 0; i < r.changes.files.size(); i++) {
    const FileChange& f = r.changes.files[i];
    out << (i ? ",\n    " : "\n    ") << "{\"path\": " << json_string(f.path)
        << ", \"size\": " << f.size << ", \"created\": " << (f.created ? "true" : "false")
        << ", \"package\": " << json_string(f.package) << "}";
  }
  out << "],\n  \"not_installed\": [";
  for (size_t i = 0; i < r.missing.size(); i++) out << (i ? ", " : "") << json_string(r.missing[i]);
  out << "],\n  \"folders\": [";
  for (size_t i = 0; i < r.changes.folders.size(); i++)
    out << (i ? ", " : "") << json_string(r.changes.folders[i]);
  out << "],\n  \"registry_values\": [";
  for (size_t i = 0; i < r.changes.values.size(); i++) {
    const ValueChange& v = r.changes.values[i];
    out << (i ? ",\n    " : "\n    ") << "{\"key\": " << json_string(v.key)
        << ", \"name\": " << json_string(v.name) << ", \"value\": " << json_string(v.after)
        << ", \"before\": " << (v.added ? "null" : json_string(v.before)) << "}";
  }
  out << "],\n  \"registry_keys\": [";
  for (size_t i = 0; i < r.changes.keys.size(); i++)
    out << (i ? ", " : "") << json_string(r.changes.keys[i]);
  out << "],\n  \"ini\": [";
  for (size_t i = 0; i < r.changes.ini.size(); i++) {
    const IniChange& e = r.changes.ini[i];
    out << (i ? ",\n    " : "\n    ") << "{\"file\": " << json_string(e.file)
        << ", \"section\": " << json_string(e.section) << ", \"key\": " << json_string(e.key)
        << ", \"value\": " << json_string(e.after)
        << ", \"before\": " << (e.added ? "null" : json_string(e.before)) << "}";
  }
  out << "],\n  \"shortcuts\": [";
  for (size_t i = 0; i < r.shortcuts.size(); i++)
    out << (i ? ",\n    " : "\n    ") << "{\"path\": " << json_string(r.shortcuts[i].path)
        << ", \"target\": " << json_string(r.shortcuts[i].target)
        << ", \"arguments\": " << json_string(r.shortcuts[i].arguments) << "}";
  out << "],\n  \"uninstall_entry\": ";
  if (r.uninstall_key.empty()) {
    out << "null";
  } else {
    out << "{\"key\": " << json_string(r.uninstall_key);
    for (const auto& [name, value] : r.uninstall_values)
      out << ", " << json_string(name) << ": " << json_string(value);
    out << "}";
  }
  out << ",\n  \"restart\": " << (r.restart ? "true" : "false") << ",\n  \"leftovers\": [";
  for (size_t i = 0; i < r.leftovers.size(); i++)
    out << (i ? ",\n    " : "\n    ") << "{\"kind\": " << json_string(r.leftovers[i].kind)
        << ", \"what\": " << json_string(r.leftovers[i].what) << "}";
  out << "],\n  \"screenshots\": [";
  for (size_t i = 0; i < r.shots.size(); i++)
    out << (i ? ", " : "") << "{\"phase\": " << json_string(r.shots[i].phase)
        << ", \"caption\": " << json_string(r.shots[i].caption) << "}";
  out << "],\n  \"prefix\": " << json_string(r.prefix_note);
  out << ",\n  \"seconds\": {\"total\": " << r.total_seconds << ", \"prefix\": " << r.prefix_seconds
      << ", \"install\": " << r.install.seconds << ", \"uninstall\": " << r.uninstall.seconds
      << "}\n}\n";
}

// --- HTML ------------------------------------------------------------------------------------

void write_html_report(const TryReport& r, std::ostream& out) {
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>pakwiz try: "
      << html(r.setup) << "</title>\n<style>\n"
      << "body{font-family:sans-serif;margin:2em;max-width:72em}\n"
      << "h1.pass{color:#fff;background:#2a7d2a;padding:.4em}\n"
      << "h1.fail{color:#fff;background:#b22;padding:.4em}\n"
      << "table{border-collapse:collapse;margin-bottom:1.5em}\n"
      << "td,th{border:1px solid #bbb;padding:.2em .5em;text-align:left;vertical-align:top}\n"
      << "figure{display:inline-block;margin:.5em}figure img{width:512px;border:1px solid #888}\n"
      << ".bad{color:#b22;font-weight:bold}\n</style></head><body>\n";
  out << "<h1 id=\"verdict\" class=\"" << (r.passed ? "pass" : "fail") << "\">"
      << (r.passed ? "PASS" : "FAIL") << "</h1>\n<p id=\"reason\">" << html(r.verdict) << "</p>\n";
  out << "<table id=\"summary\">\n<tr><th>setup</th><td>" << html(r.setup) << "</td></tr>\n";
  auto phase_row = [&](const char* name, const Phase& p) {
    out << "<tr><th>" << name << "</th><td>";
    if (!p.ran)
      out << "not run";
    else
      out << p.pages.size() << " page(s)" << (p.finish ? ", finish page reached" : "")
          << (p.exited ? ", " + exit_text(p.exit_code) : ", no exit code") << ", "
          << seconds_text(p.seconds);
    for (const std::string& m : p.messages) out << "<br>message: " << html(m);
    if (!p.finish_text.empty()) out << "<br>finish page: " << html(p.finish_text);
    if (!p.failure.empty()) out << "<br><span class=\"bad\">" << html(p.failure) << "</span>";
    out << "</td></tr>\n";
  };
  phase_row("install", r.install);
  phase_row("uninstall", r.uninstall);
  out << "<tr><th>restart requested</th><td>"
      << (r.restart ? "yes (" + html(r.restart_reason) + ")" : "no") << "</td></tr>\n"
      << "<tr><th>time</th><td>" << seconds_text(r.total_seconds) << " in all (Wine prefix "
      << seconds_text(r.prefix_seconds) << ")</td></tr>\n</table>\n";

  out << "<h2>Screenshots</h2>\n<div id=\"screenshots\">\n";
  for (size_t i = 0; i < r.shots.size(); i++)
    out << "<figure class=\"shot\"><img alt=\"" << html(r.shots[i].caption)
        << "\" src=\"data:image/png;base64," << base64(r.shots[i].png) << "\"><figcaption>"
        << (i + 1) << ". " << html(r.shots[i].phase) << ": " << html(r.shots[i].caption)
        << "</figcaption></figure>\n";
  out << "</div>\n";

  out << "<h2>Files created or changed</h2>\n<table id=\"files\"><tr><th>path</th><th>size</th>"
         "<th></th><th>package</th></tr>\n";
  for (const FileChange& f : r.changes.files)
    out << "<tr><td>" << html(f.path) << "</td><td>" << f.size << "</td><td>"
        << (f.created ? "created" : "changed") << "</td><td"
        << (f.package == "different" ? " class=\"bad\"" : "") << ">" << html(package_text(f))
        << "</td></tr>\n";
  for (const std::string& m : r.missing)
    out << "<tr><td>" << html(m)
        << "</td><td></td><td class=\"bad\">not installed</td><td></td></tr>\n";
  out << "</table>\n";
  out << "<h2>Registry values added or changed</h2>\n<table id=\"registry\"><tr><th>key</th>"
         "<th>name</th><th>value</th><th>before</th></tr>\n";
  for (const ValueChange& v : r.changes.values)
    out << "<tr><td>" << html(v.key) << "</td><td>" << html(value_name(v.name)) << "</td><td>"
        << html(v.after) << "</td><td>" << (v.added ? "(added)" : html(v.before)) << "</td></tr>\n";
  out << "</table>\n<h2>INI entries added or changed</h2>\n<table id=\"ini\"><tr><th>file</th>"
         "<th>section</th><th>key</th><th>value</th><th>before</th></tr>\n";
  for (const IniChange& e : r.changes.ini)
    out << "<tr><td>" << html(e.file) << "</td><td>" << html(e.section) << "</td><td>"
        << html(e.key) << "</td><td>" << html(e.after) << "</td><td>"
        << (e.added ? "(added)" : html(e.before)) << "</td></tr>\n";
  out << "</table>\n<h2>Shortcuts</h2>\n<table id=\"shortcuts\"><tr><th>shortcut</th>"
         "<th>target</th><th>arguments</th></tr>\n";
  for (const Shortcut& s : r.shortcuts)
    out << "<tr><td>" << html(s.path) << "</td><td>" << html(s.target) << "</td><td>"
        << html(s.arguments) << "</td></tr>\n";
  out << "</table>\n<h2>Add/Remove Programs</h2>\n<table id=\"uninstall-entry\">";
  if (r.uninstall_key.empty())
    out << "<tr><td>no entry</td></tr>";
  else
    out << "<tr><th>key</th><td>" << html(r.uninstall_key) << "</td></tr>\n";
  for (const auto& [name, value] : r.uninstall_values)
    out << "<tr><th>" << html(name) << "</th><td>" << html(value) << "</td></tr>\n";
  out << "</table>\n<h2>Leftovers after uninstalling</h2>\n<table id=\"leftovers\"><tr><th>kind"
         "</th><th>what</th></tr>\n";
  for (const Leftover& l : r.leftovers)
    out << "<tr><td>" << html(l.kind) << "</td><td class=\"bad\">" << html(l.what)
        << "</td></tr>\n";
  out << "</table>\n</body></html>\n";
}

} // namespace pakwiz
