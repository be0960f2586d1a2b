// Project file reader. The TOML document is walked table by table; each table
// first has its keys checked against the keys it may hold (an unknown key is
// an error that names the nearest valid one), then its values are read with
// their types and limits checked at the place they were written.
#include "builder/project.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include <toml++/toml.h>

#include "builder/ansi.h"
#include "builder/bytes.h"
#include "builder/default_texts.h"
#include "builder/host_files.h"
#include "builder/source_files.h"

namespace pakwiz {

namespace {

const char* const PAGE_NAMES[] = {"welcome",     "information", "language", "",
                                  "destination", "ready",       "progress", "finish"};

std::string lower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// The problem of one component of a name that Windows is to create; "" when
// there is none.
std::string component_problem(const std::string& part) {
  if (windows_reserved_name(part, false))
    return "holds '" + part + "', a name that Windows reserves for a device";
  if (part != "." && !part.empty() && (part.back() == '.' || part.back() == ' '))
    return "holds '" + part + "', which ends with a dot or a space (Windows drops them from names)";
  return "";
}

// A name taken from the product for a folder: without the dots and spaces
// at its end, which Windows would drop.
std::string without_trailing_dots(std::string name) {
  while (name.size() > 1 && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name;
}

// The components of a backslash-separated text.
std::vector<std::string> components(const std::string& text) {
  std::vector<std::string> parts;
  for (size_t at = 0, end; at <= text.size(); at = end + 1) {
    end = text.find('\\', at);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(at, end - at));
  }
  return parts;
}

void check_windows_paths(const LanguageSpec& lang, size_t index);

// Checks the literal components of a folder text (those without a folder
// macro, and not a drive); "" when fine.
std::string folder_problem(const std::string& folder) {
  for (const std::string& part : components(folder)) {
    if (part.find('#') != std::string::npos) continue;
    if (part.size() == 2 && part[1] == ':') continue;
    std::string p = component_problem(part);
    if (!p.empty()) return p;
  }
  return "";
}

} // namespace

std::string estimated_folder(const std::string& folder) {
  // The longest value each folder macro takes on a standard installation
  // (Windows on C:, the 32-bit setup program on 64-bit Windows); the place
  // of the setup program itself is taken at its shortest, a drive root.
  static const struct {
    const char* token;
    const char* value;
  } VALUES[] = {{"#program files#", "C:\\Program Files (x86)"},
                {"#windows#", "C:\\Windows"},
                {"#system#", "C:\\Windows\\SysWOW64"},
                {"#sourcedir#", "D:\\"},
                {"#installdir#", ""},
                {"#date#", "20240101"}};
  std::string out;
  size_t at = 0;
  for (;;) {
    size_t open = folder.find('#', at);
    out += folder.substr(at, open == std::string::npos ? std::string::npos : open - at);
    if (open == std::string::npos) break;
    size_t close = folder.find('#', open + 1);
    if (close == std::string::npos) { // no second '#': the rest stays as it is
      out += folder.substr(open);
      break;
    }
    std::string token = lower(folder.substr(open, close - open + 1));
    for (const auto& v : VALUES)
      if (token == v.token) out += v.value; // any other token is removed
    at = close + 1;
  }
  return out;
}

namespace {

class Parser {
public:
  Parser(const std::string& path) : file_(path) {
    dir_ = std::filesystem::u8path(path).parent_path().u8string();
  }

  Project parse(const std::string& text);

private:
  std::string file_, dir_;
  std::string product_; // UTF-8, for {product}
  SourcePos product_pos_;

  SourcePos pos(const toml::source_region& r) const {
    return SourcePos{file_, r.begin.line, r.begin.column};
  }
  SourcePos pos(const toml::node& n) const { return pos(n.source()); }

  // Unknown keys are errors naming the nearest valid key.
  void check_keys(const toml::table& t, const std::string& section,
                  const std::vector<std::string>& keys) const {
    for (auto&& [k, v] : t) {
      std::string name(k.str());
      bool known = false;
      for (const std::string& key : keys) known = known || key == name;
      if (!known)
        fail_at(pos(k.source()), "unknown key '" + name + "' in " + section +
                                     "; the nearest valid key is '" + nearest_key(name, keys) +
                                     "'");
    }
  }

  [[noreturn]] void wrong_type(const toml::node& n, const std::string& key,
                               const std::string& expected) const {
    fail_at(pos(n), "'" + key + "' must be " + expected);
  }

  std::string get_utf8(const toml::node& n, const std::string& key) const {
    if (!n.is_string()) wrong_type(n, key, "a text (a quoted string)");
    return n.as_string()->get();
  }

  // Text in the setup program's character set, with {product} replaced.
  std::string get_ansi(const toml::node& n, const std::string& key, size_t limit = SIZE_MAX,
                       bool product = true) const {
    std::string utf8 = get_utf8(n, key);
    if (product) utf8 = replace_all(utf8, "{product}", product_);
    std::string text = to_ansi(utf8, pos(n).str() + ": '" + key + "'");
    if (text.size() > limit)
      fail_at(pos(n), "'" + key + "' is " + std::to_string(text.size()) +
                          " characters long; the setup program holds at most " +
                          std::to_string(limit));
    return text;
  }

  bool get_bool(const toml::node& n, const std::string& key) const {
    if (!n.is_boolean()) wrong_type(n, key, "true or false");
    return n.as_boolean()->get();
  }

  int64_t get_int(const toml::node& n, const std::string& key, int64_t lo, int64_t hi) const {
    if (!n.is_integer()) wrong_type(n, key, "a whole number");
    int64_t v = n.as_integer()->get();
    if (v < lo || v > hi)
      fail_at(pos(n), "'" + key + "' must be from " + std::to_string(lo) + " to " +
                          std::to_string(hi) + ", not " + std::to_string(v));
    return v;
  }

  // One of a list of words (case ignored); returns its index.
  size_t get_choice(const toml::node& n, const std::string& key,
                    const std::vector<std::string>& words) const {
    std::string w = lower(get_utf8(n, key));
    for (size_t i = 0; i < words.size(); i++)
      if (w == words[i]) return i;
    std::string list;
    for (const std::string& x : words) list += (list.empty() ? "" : ", ") + ("\"" + x + "\"");
    fail_at(pos(n), "'" + key + "' must be one of " + list + "; the nearest is \"" +
                        nearest_key(w, words) + "\"");
  }

  // A destination kind: "install", "windows", "system" or "font(s)".
  uint8_t get_destination(const toml::node& n) const {
    static const uint8_t KINDS[] = {DEST_INSTALL_FOLDER, DEST_WINDOWS, DEST_SHARED_SYSTEM,
                                    DEST_FONT, DEST_FONT};
    return KINDS[get_choice(n, "destination", {"install", "windows", "system", "font", "fonts"})];
  }

  std::string get_path(const toml::node& n, const std::string& key) const {
    std::string p = get_utf8(n, key);
    if (p.empty()) fail_at(pos(n), "'" + key + "' must name a file");
    return resolve_path(dir_, p);
  }

  const toml::table& as_table(const toml::node& n, const std::string& key) const {
    if (!n.is_table()) wrong_type(n, key, "a table");
    return *n.as_table();
  }

  // An array of tables ([[key]]); a single table is taken as an array of one.
  std::vector<const toml::table*> table_list(const toml::node& n, const std::string& key) const {
    std::vector<const toml::table*> list;
    if (n.is_table()) {
      list.push_back(n.as_table());
    } else if (n.is_array()) {
      for (const toml::node& item : *n.as_array()) {
        if (!item.is_table()) wrong_type(item, key, "a list of tables ([[" + key + "]])");
        list.push_back(item.as_table());
      }
    } else {
      wrong_type(n, key, "a list of tables ([[" + key + "]])");
    }
    return list;
  }

  uint32_t get_root(const toml::node& n, const std::string& key) const {
    if (n.is_integer()) return (uint32_t)get_int(n, key, 0, 3);
    static const std::vector<std::string> names = {"hkcr",
                                                   "hkcu",
                                                   "hklm",
                                                   "hku",
                                                   "hkey_classes_root",
                                                   "hkey_current_user",
                                                   "hkey_local_machine",
                                                   "hkey_users"};
    return (uint32_t)(get_choice(n, key, names) % 4);
  }

  std::array<uint32_t, 2> get_version(const toml::node& n, const std::string& key) const {
    std::string s = get_utf8(n, key);
    uint32_t parts[4] = {0, 0, 0, 0};
    int count = 0;
    size_t at = 0;
    bool ok = !s.empty();
    while (ok && at <= s.size() && count < 4) {
      size_t dot = s.find('.', at);
      std::string part = s.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
      ok = !part.empty() && part.size() <= 5 &&
           part.find_first_not_of("0123456789") == std::string::npos && std::stoul(part) <= 65535;
      if (ok) parts[count++] = (uint32_t)std::stoul(part);
      if (dot == std::string::npos) break;
      at = dot + 1;
      if (count == 4) ok = false;
    }
    if (!ok)
      fail_at(pos(n), "'" + key +
                          "' must be a version such as \"1.2.3.4\" (up to four "
                          "numbers from 0 to 65535)");
    return {(parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]};
  }

  uint64_t get_filetime(const toml::node& n, const std::string& key) const {
    toml::date_time dt;
    if (n.is_date_time())
      dt = n.as_date_time()->get();
    else if (n.is_date())
      dt = toml::date_time{n.as_date()->get(), toml::time{}};
    else
      wrong_type(n, key, "a date and time such as 2024-05-01T12:00:00Z");
    // Days from 1601-01-01 to the date (proleptic Gregorian).
    int64_t y = dt.date.year, m = dt.date.month, d = dt.date.day;
    if (y < 1601) fail_at(pos(n), "'" + key + "' must not lie before the year 1601");
    auto days_from_civil = [](int64_t yy, int64_t mm, int64_t dd) {
      yy -= mm <= 2;
      int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
      int64_t yoe = yy - era * 400;
      int64_t doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
      int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
      return era * 146097 + doe - 719468; // days since 1970-01-01
    };
    int64_t days = days_from_civil(y, m, d) - days_from_civil(1601, 1, 1);
    int64_t seconds = days * 86400 + dt.time.hour * 3600 + dt.time.minute * 60 + dt.time.second;
    if (dt.offset) seconds -= (int64_t)dt.offset->minutes * 60;
    return (uint64_t)seconds * 10000000ull + dt.time.nanosecond / 100;
  }

  void parse_title(const toml::node& n, Project& p) const;
  void parse_executable(const toml::node* n, Project& p) const;
  void parse_patch_of(const toml::node& n, const char* key, FileSpec& f) const;
  void resolve_patch_bases(Project& p) const;
  FileSpec parse_file(const toml::table& t, const std::string& section) const;
  void parse_shortcuts(const toml::table& t, FileSpec& f) const;
  FileSpec parse_uninstaller(const toml::table& t, const FileSpec* base) const;
  IniSpec parse_ini(const toml::table& t) const;
  RegistrySpec parse_registry(const toml::table& t) const;
  PatchSpec parse_patch(const toml::table& t) const;
  void parse_texts(const toml::node& n, LanguageSpec& lang,
                   std::array<std::vector<std::string>, 11>& utf8,
                   std::map<std::pair<unsigned, unsigned>, SourcePos>& where) const;
  LanguageSpec parse_language(const toml::table& t, size_t index, const Project& p,
                              const std::vector<FileSpec>& common_files,
                              const std::vector<IniSpec>& common_ini,
                              const std::vector<RegistrySpec>& common_registry,
                              const std::vector<PatchSpec>& common_patches,
                              const FileSpec& uninstaller, bool uninstaller_on) const;
};

const std::vector<std::string> FILE_KEYS = {
    "source",     "target",     "destination", "version_test",    "language_test",
    "file_times", "time",       "version",     "product_version", "language_id",
    "end_action", "shared",     "removal",     "special",         "menu",
    "desktop",    "patch_from", "patch_of"};

void Parser::parse_shortcuts(const toml::table& t, FileSpec& f) const {
  if (const toml::node* m = t.get("menu")) {
    bool folder_given = false;
    if (m->is_string()) {
      f.menu_name = get_ansi(*m, "menu", PATH_LIMIT - 4);
    } else {
      const toml::table& mt = as_table(*m, "menu");
      check_keys(mt, "menu", {"folder", "name", "args", "icon"});
      const toml::node* name = mt.get("name");
      if (!name) fail_at(pos(mt), "a Start-menu shortcut needs its 'name'");
      f.menu_name = get_ansi(*name, "name", PATH_LIMIT - 4);
      if (const toml::node* v = mt.get("folder")) {
        f.menu_folder = replace_all(get_ansi(*v, "folder", PATH_LIMIT), "/", "\\");
        folder_given = true;
      }
      if (const toml::node* v = mt.get("args")) f.menu_args = get_ansi(*v, "args", PATH_LIMIT);
      if (const toml::node* v = mt.get("icon"))
        f.menu_icon = (uint16_t)get_int(*v, "icon", 0, 65535);
    }
    if (f.menu_name.empty()) fail_at(pos(*m), "the Start-menu shortcut's name must not be empty");
    if (!folder_given) // a folder named after the product
      f.menu_folder = without_trailing_dots(to_ansi(product_, "product"));
    std::string problem =
        windows_reserved_name(f.menu_name, false)
            ? "holds '" + f.menu_name + "', a name that Windows reserves for a device"
            : folder_problem(f.menu_folder);
    if (!problem.empty())
      fail_at(pos(*m),
              "the Start-menu shortcut '" + f.menu_folder + "\\" + f.menu_name + "' " + problem);
  }
  if (const toml::node* d = t.get("desktop")) {
    if (d->is_string()) {
      f.desktop_name = get_ansi(*d, "desktop", PATH_LIMIT - 4);
    } else {
      const toml::table& dt = as_table(*d, "desktop");
      check_keys(dt, "desktop", {"name", "args"});
      const toml::node* name = dt.get("name");
      if (!name) fail_at(pos(dt), "a desktop shortcut needs its 'name'");
      f.desktop_name = get_ansi(*name, "name", PATH_LIMIT - 4);
      if (const toml::node* v = dt.get("args")) f.desktop_args = get_ansi(*v, "args", PATH_LIMIT);
    }
    if (f.desktop_name.empty()) fail_at(pos(*d), "the desktop shortcut's name must not be empty");
    if (windows_reserved_name(f.desktop_name, false))
      fail_at(pos(*d), "the desktop shortcut '" + f.desktop_name +
                           "' is a name that Windows reserves for a device");
  }
}

// The stored codes of the words a file entry may use, in the order of the
// words.
const uint8_t REMOVALS[] = {REMOVAL_KEEP, REMOVAL_REMOVE, REMOVAL_NOT_INSTALLED};
const uint8_t END_ACTIONS[] = {END_NONE, END_OPEN_DOCUMENT, END_START_PROGRAM};
const uint8_t SPECIALS[] = {SPECIAL_NONE, SPECIAL_SCREEN_SAVER, SPECIAL_SELF_REGISTER,
                            SPECIAL_SELF_REGISTER};

FileSpec Parser::parse_file(const toml::table& t, const std::string& section) const {
  check_keys(t, section, FILE_KEYS);
  FileSpec f;
  f.pos = pos(t);
  f.source_pos = f.pos;
  if (const toml::node* v = t.get("removal"))
    f.removal = REMOVALS[get_choice(*v, "removal", {"keep", "remove", "not-installed"})];
  if (const toml::node* v = t.get("source")) {
    f.source = get_path(*v, "source");
    f.source_pos = pos(*v);
  } else if (f.removal != REMOVAL_NOT_INSTALLED) {
    fail_at(f.pos, "a file entry needs its 'source' (only removal = \"not-installed\" entries "
                   "may go without)");
  }
  if (const toml::node* v = t.get("target")) {
    f.target = replace_all(get_ansi(*v, "target"), "/", "\\");
    std::string problem = check_target_name(f.target);
    if (!problem.empty()) fail_at(pos(*v), "target '" + f.target + "' " + problem);
  } else {
    if (f.source.empty()) fail_at(f.pos, "a file entry without 'source' needs its 'target'");
    f.target = to_ansi(file_name_of(f.source), f.source_pos.str() + ": the source file's name");
    std::string problem = check_target_name(f.target);
    if (!problem.empty()) fail_at(f.source_pos, "target '" + f.target + "' " + problem);
  }
  if (const toml::node* v = t.get("destination")) f.destination = get_destination(*v);
  f.shared = f.destination == DEST_SHARED_SYSTEM;
  if (const toml::node* v = t.get("shared")) f.shared = get_bool(*v, "shared");
  if (const toml::node* v = t.get("version_test")) f.version_test = get_bool(*v, "version_test");
  if (const toml::node* v = t.get("language_test")) f.language_test = get_bool(*v, "language_test");
  if (const toml::node* v = t.get("file_times")) f.file_times = get_bool(*v, "file_times");
  if (const toml::node* v = t.get("time")) f.file_time = get_filetime(*v, "time");
  if (const toml::node* v = t.get("version")) f.file_version = get_version(*v, "version");
  if (const toml::node* v = t.get("product_version"))
    f.product_version = get_version(*v, "product_version");
  if (const toml::node* v = t.get("language_id"))
    f.language_id = (uint16_t)get_int(*v, "language_id", 0, 65535);
  if (const toml::node* v = t.get("end_action"))
    f.end_action = END_ACTIONS[get_choice(*v, "end_action", {"none", "open", "start"})];
  if (const toml::node* v = t.get("special"))
    f.special = SPECIALS[get_choice(*v, "special",
                                    {"none", "screensaver", "selfregister", "self-register"})];
  parse_shortcuts(t, f);
  // `patch_of` is an older spelling of `patch_from`.
  const toml::node* from = t.get("patch_from");
  const toml::node* of = t.get("patch_of");
  if (from && of)
    fail_at(pos(*of), "give the base once: 'patch_from' and 'patch_of' are the same key");
  if (from) parse_patch_of(*from, "patch_from", f);
  if (of) parse_patch_of(*of, "patch_of", f);
  return f;
}

// patch_from = "name" (an entry of the same language block) or
// patch_from = { language = 0 | "de" | "Deutsch", target = "name", destination = "..." }.
void Parser::parse_patch_of(const toml::node& n, const char* key, FileSpec& f) const {
  FileSpec::PatchOf base;
  base.pos = pos(n);
  base.key = key;
  if (n.is_string()) {
    base.target = replace_all(get_ansi(n, key), "/", "\\");
  } else {
    const toml::table& t = as_table(n, key);
    check_keys(t, key, {"language", "target", "destination"});
    if (const toml::node* v = t.get("language")) {
      if (v->is_integer())
        base.language = std::to_string(get_int(*v, "language", 0, MAX_LANGUAGES - 1));
      else
        base.language = get_utf8(*v, "language");
      if (base.language.empty()) fail_at(pos(*v), "'language' must not be empty");
    }
    if (const toml::node* v = t.get("target"))
      base.target = replace_all(get_ansi(*v, "target"), "/", "\\");
    if (const toml::node* v = t.get("destination")) base.destination = get_destination(*v);
    if (base.language.empty() && base.target.empty())
      fail_at(base.pos, base.key + " needs its 'language' or its 'target' (else the file would be "
                                   "its own base)");
  }
  if (f.removal == REMOVAL_NOT_INSTALLED)
    fail_at(base.pos, "a file that is not installed (removal = \"not-installed\") cannot be a "
                      "patch");
  f.patch_of = base;
}

// Finds the base entry of every patched file. A base is an entry of some
// language block that is stored in full: not the uninstaller, not a file
// that is not installed, not itself a patch. The setup program stores the
// base as a block number and an entry number of one byte each.
void Parser::resolve_patch_bases(Project& p) const {
  for (size_t b = 0; b < p.languages.size(); b++) {
    for (size_t i = 0; i < p.languages[b].files.size(); i++) {
      FileSpec& f = p.languages[b].files[i];
      if (!f.patch_of) continue;
      FileSpec::PatchOf& base = *f.patch_of;
      std::string where = "language block " + std::to_string(b) + ": '" + f.target + "'";
      size_t bb = b;
      if (!base.language.empty()) {
        bool found = false;
        std::string want = lower(base.language);
        std::vector<std::string> candidates;
        for (size_t k = 0; k < p.languages.size() && !found; k++) {
          std::string name = lower(ansi_to_utf8(p.languages[k].name));
          if (want == std::to_string(k) || want == lower(p.languages[k].code) || want == name) {
            bb = k;
            found = true;
          }
          candidates.push_back(p.languages[k].code);
          candidates.push_back(name);
        }
        if (!found)
          fail_at(base.pos, where + ": " + base.key + " names language '" + base.language +
                                "', which the project does not have" +
                                (candidates.empty()
                                     ? std::string()
                                     : "; the nearest is '" + nearest_key(want, candidates) + "'"));
      }
      std::string target = base.target.empty() ? f.target : base.target;
      std::vector<size_t> matches;
      for (size_t k = 0; k < p.languages[bb].files.size(); k++) {
        const FileSpec& g = p.languages[bb].files[k];
        if (lower(g.target) != lower(target)) continue;
        if (base.destination && g.destination != *base.destination) continue;
        matches.push_back(k);
      }
      std::string base_name = "'" + target + "' of language block " + std::to_string(bb);
      if (matches.empty())
        fail_at(base.pos,
                where + ": " + base.key + " names " + base_name + ", which has no such entry");
      if (matches.size() > 1)
        fail_at(base.pos, where + ": " + base.key + " names " + base_name +
                              ", which several entries install (to different folders); say "
                              "which with 'destination'");
      size_t be = matches[0];
      const FileSpec& g = p.languages[bb].files[be];
      if (bb == b && be == i) fail_at(base.pos, where + ": a file cannot be its own base");
      if (g.uninstaller)
        fail_at(base.pos, where + ": the base " + base_name + " is the uninstaller entry");
      if (g.removal == REMOVAL_NOT_INSTALLED || g.source.empty())
        fail_at(base.pos, where + ": the base " + base_name +
                              " is not installed, so the package does not hold its data");
      if (g.patch_of)
        fail_at(base.pos, where + ": the base " + base_name +
                              " is itself a patch; the base of a patch must be stored in full");
      if (be > 255)
        fail_at(base.pos, where + ": the base " + base_name + " is entry " + std::to_string(be) +
                              " of its list; a patch can name only the first 256 entries");
      base.block = (int)bb;
      base.entry = (int)be;
    }
  }
}

FileSpec Parser::parse_uninstaller(const toml::table& t, const FileSpec* base) const {
  FileSpec f;
  if (base) f = *base;
  f.pos = pos(t);
  f.uninstaller = true;
  f.removal = REMOVAL_KEEP;
  f.file_times = false;
  if (const toml::node* v = t.get("target")) {
    f.target = replace_all(get_ansi(*v, "target"), "/", "\\");
    std::string problem = check_target_name(f.target);
    if (!problem.empty()) fail_at(pos(*v), "target '" + f.target + "' " + problem);
    // The uninstaller finds the files logged as "." and ".\sub" from its own
    // folder, so it must lie in the install folder itself.
    if (f.target.find('\\') != std::string::npos)
      fail_at(pos(*v), "the uninstaller's target '" + f.target +
                           "' must be a file name directly in the install folder");
  }
  if (f.target.empty()) f.target = "Uninstall.exe";
  if (t.get("menu")) {
    f.menu_folder.clear();
    f.menu_name.clear();
    f.menu_args.clear();
    f.menu_icon = 0;
  }
  if (t.get("desktop")) f.desktop_name.clear(), f.desktop_args.clear();
  parse_shortcuts(t, f);
  return f;
}

IniSpec Parser::parse_ini(const toml::table& t) const {
  check_keys(t, "[[ini]]", {"file", "section", "key", "value", "only_if_absent"});
  IniSpec e;
  e.pos = pos(t);
  for (const char* key : {"file", "section", "key", "value"})
    if (!t.get(key)) fail_at(e.pos, std::string("an INI entry needs its '") + key + "'");
  e.file = get_ansi(*t.get("file"), "file", PATH_LIMIT);
  e.section = get_ansi(*t.get("section"), "section", PATH_LIMIT);
  e.key = get_ansi(*t.get("key"), "key", PATH_LIMIT);
  e.value = get_ansi(*t.get("value"), "value");
  if (e.file.empty() || e.section.empty() || e.key.empty())
    fail_at(e.pos, "an INI entry's file, section and key must not be empty");
  if (e.value.empty())
    fail_at(pos(*t.get("value")), "'value' is empty; the setup program skips such entries");
  if (const toml::node* v = t.get("only_if_absent"))
    e.only_if_absent = get_bool(*v, "only_if_absent");
  return e;
}

RegistrySpec Parser::parse_registry(const toml::table& t) const {
  check_keys(t, "[[registry]]", {"root", "key", "name", "value", "only_if_absent"});
  RegistrySpec e;
  e.pos = pos(t);
  for (const char* key : {"root", "key", "value"})
    if (!t.get(key)) fail_at(e.pos, std::string("a registry entry needs its '") + key + "'");
  e.root = get_root(*t.get("root"), "root");
  e.key = get_ansi(*t.get("key"), "key", PATH_LIMIT);
  if (e.key.empty()) fail_at(pos(*t.get("key")), "'key' must not be empty");
  if (const toml::node* v = t.get("name")) e.name = get_ansi(*v, "name", PATH_LIMIT);
  e.value = get_ansi(*t.get("value"), "value");
  if (e.value.empty())
    fail_at(pos(*t.get("value")), "'value' is empty; the setup program skips such entries");
  if (const toml::node* v = t.get("only_if_absent"))
    e.only_if_absent = get_bool(*v, "only_if_absent");
  return e;
}

PatchSpec Parser::parse_patch(const toml::table& t) const {
  check_keys(t, "[[patches]]", {"file", "text", "position", "pattern", "pattern_hex"});
  PatchSpec e;
  e.pos = pos(t);
  for (const char* key : {"file", "text"})
    if (!t.get(key)) fail_at(e.pos, std::string("a file patch needs its '") + key + "'");
  e.file = get_ansi(*t.get("file"), "file", PATH_LIMIT);
  if (e.file.empty()) fail_at(pos(*t.get("file")), "'file' must not be empty");
  e.text = get_ansi(*t.get("text"), "text");
  if (e.text.empty())
    fail_at(pos(*t.get("text")), "'text' is empty; the setup program skips such entries");
  int given =
      (t.get("position") ? 1 : 0) + (t.get("pattern") ? 1 : 0) + (t.get("pattern_hex") ? 1 : 0);
  if (given != 1)
    fail_at(e.pos, "a file patch needs exactly one of 'position', 'pattern' and 'pattern_hex'");
  if (const toml::node* v = t.get("position")) {
    e.position = (int32_t)get_int(*v, "position", 0, 0x7FFFFFFF);
  } else if (const toml::node* v = t.get("pattern")) {
    std::string s = get_ansi(*v, "pattern", SIZE_MAX, false);
    e.pattern.assign(s.begin(), s.end());
  } else {
    const toml::node* h = t.get("pattern_hex");
    std::string s = get_utf8(*h, "pattern_hex"), digits;
    for (char c : s)
      if (!std::isspace((unsigned char)c)) digits += c;
    if (digits.size() % 2 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      fail_at(pos(*h), "'pattern_hex' must be pairs of hexadecimal digits, such as \"0D 0A\"");
    for (size_t i = 0; i < digits.size(); i += 2)
      e.pattern.push_back((uint8_t)std::stoul(digits.substr(i, 2), nullptr, 16));
  }
  if (e.position < 0 && (e.pattern.empty() || e.pattern.size() > 16385))
    fail_at(e.pos, "a pattern must hold 1 to 16,385 bytes (the setup program searches with a "
                   "32 KB window)");
  return e;
}

void Parser::parse_texts(const toml::node& n, LanguageSpec& lang,
                         std::array<std::vector<std::string>, 11>& utf8,
                         std::map<std::pair<unsigned, unsigned>, SourcePos>& where) const {
  const toml::table& tables = as_table(n, "texts");
  for (auto&& [k, v] : tables) {
    std::string key(k.str());
    if (key.empty() || key.size() > 2 || key.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(key) > 10)
      fail_at(pos(k.source()), "unknown string table '" + key +
                                   "' in texts: tables are "
                                   "numbered 0 to 10");
    unsigned table = (unsigned)std::stoul(key);
    lang.table_present[table] = true;
    if (v.is_array()) { // the whole table
      utf8[table].clear();
      unsigned number = 0;
      for (const toml::node& s : *v.as_array()) {
        utf8[table].push_back(get_utf8(s, "texts." + key));
        where[{table, number++}] = pos(s);
      }
      continue;
    }
    if (!v.is_table()) wrong_type(v, "texts." + key, "a table of numbered strings or a list");
    for (auto&& [nk, s] : *v.as_table()) {
      std::string number_text(nk.str());
      if (number_text.empty() || number_text.size() > 5 ||
          number_text.find_first_not_of("0123456789") != std::string::npos ||
          std::stoul(number_text) > 65534)
        fail_at(pos(nk.source()),
                "'" + number_text + "' in texts." + key + " is not a string number (0 to 65534)");
      unsigned number = (unsigned)std::stoul(number_text);
      if (utf8[table].size() <= number) utf8[table].resize(number + 1);
      utf8[table][number] = get_utf8(s, "texts." + key + "." + number_text);
      where[{table, number}] = pos(s);
    }
  }
}

LanguageSpec Parser::parse_language(const toml::table& t, size_t index, const Project& p,
                                    const std::vector<FileSpec>& common_files,
                                    const std::vector<IniSpec>& common_ini,
                                    const std::vector<RegistrySpec>& common_registry,
                                    const std::vector<PatchSpec>& common_patches,
                                    const FileSpec& uninstaller, bool uninstaller_on) const {
  check_keys(t, "[[languages]]",
             {"language", "name", "folder", "folder_changeable", "folder_registry", "folder_ini",
              "uninstall_key", "uninstaller", "uninstaller_texts", "information", "texts", "files",
              "ini", "registry", "patches"});
  LanguageSpec lang;
  lang.pos = pos(t);
  if (lang.pos.line == 0) lang.pos.file = file_;
  std::string code = "en";
  const TextSet* set = find_text_set(code);
  if (const toml::node* v = t.get("language")) {
    code = get_utf8(*v, "language");
    set = find_text_set(code);
    if (!set) {
      std::string codes;
      for (const std::string& c : text_set_codes()) codes += (codes.empty() ? "" : ", ") + c;
      fail_at(pos(*v), "no built-in texts for language '" + code + "' (there are: " + codes +
                           "); pick the nearest, \"" + nearest_key(code, text_set_codes()) +
                           "\", and override its strings with [languages.texts]");
    }
  }
  lang.code = set->code;

  // Texts: the built-in set, then the project's overrides, then the
  // information text; {product} is replaced everywhere.
  std::array<std::vector<std::string>, 11> utf8;
  std::map<std::pair<unsigned, unsigned>, SourcePos> where;
  for (int k = 0; k < 11; k++) {
    utf8[k] = set->tables[k];
    lang.table_present[k] = set->present[k];
  }
  if (const toml::node* v = t.get("texts")) parse_texts(*v, lang, utf8, where);
  if (const toml::node* v = t.get("information")) {
    std::string path = get_path(*v, "information");
    lang.information = path;
    lang.information_pos = pos(*v);
    std::vector<uint8_t> bytes = read_source_file(path, pos(*v));
    std::string text(bytes.begin(), bytes.end());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    text = replace_all(replace_all(text, "\r\n", "\n"), "\n", "\r\n"); // the edit field wants CR LF
    if (utf8[1].size() < 2) utf8[1].resize(2);
    utf8[1][1] = text;
    lang.table_present[1] = true;
    where[{1, 1}] = pos(*v);
  }
  for (unsigned k = 0; k < 11; k++) {
    for (unsigned number = 0; number < utf8[k].size(); number++) {
      SourcePos at = where.count({k, number}) ? where[{k, number}] : lang.pos;
      std::string what =
          at.str() + ": string " + std::to_string(number) + " of table " + std::to_string(k);
      std::string text = to_ansi(replace_all(utf8[k][number], "{product}", product_), what);
      std::string problem = check_conversion(text, expected_conversion(k, number));
      if (!problem.empty()) fail(what + ": " + problem);
      lang.tables[k].push_back(text);
    }
    if (lang.tables[k].size() > 65535)
      fail_at(lang.pos, "string table " + std::to_string(k) + " holds more than 65,535 strings");
  }

  // The uninstaller's texts: the built-in ones of the language, then the
  // project's, by name.
  std::vector<std::string> uninstaller_utf8 = uninstaller_texts(lang.code);
  std::vector<SourcePos> uninstaller_where(UNINSTALLER_TEXTS, lang.pos);
  if (const toml::node* v = t.get("uninstaller_texts")) {
    const toml::table& u = as_table(*v, "uninstaller_texts");
    check_keys(u, "uninstaller_texts",
               std::vector<std::string>(UNINSTALLER_TEXT_NAMES,
                                        UNINSTALLER_TEXT_NAMES + UNINSTALLER_TEXTS));
    for (int i = 0; i < UNINSTALLER_TEXTS; i++)
      if (const toml::node* x = u.get(UNINSTALLER_TEXT_NAMES[i])) {
        uninstaller_utf8[(size_t)i] =
            get_utf8(*x, std::string("uninstaller_texts.") + UNINSTALLER_TEXT_NAMES[i]);
        uninstaller_where[(size_t)i] = pos(*x);
      }
  }
  for (int i = 0; i < UNINSTALLER_TEXTS; i++) {
    std::string what = uninstaller_where[(size_t)i].str() + ": uninstaller text '" +
                       UNINSTALLER_TEXT_NAMES[i] + "'";
    std::string text =
        to_ansi(replace_all(uninstaller_utf8[(size_t)i], "{product}", product_), what);
    std::string problem = check_conversion(text, UNINSTALLER_TEXT_FORMATTED[i] ? 's' : 0);
    if (!problem.empty()) fail(what + ": " + problem);
    if (text.size() > UNINSTALL_TEXT_MAX)
      fail(what + " is longer than " + std::to_string(UNINSTALL_TEXT_MAX) + " characters");
    lang.uninstaller_texts.push_back(text);
  }

  lang.name = set->name;
  if (const toml::node* v = t.get("name")) lang.name = get_ansi(*v, "name", PATH_LIMIT);
  // Without `folder`: a folder named after the product, without the dots and
  // spaces at its end that Windows would drop.
  std::string product_folder = p.product;
  while (product_folder.size() > 1 &&
         (product_folder.back() == '.' || product_folder.back() == ' '))
    product_folder.pop_back();
  lang.folder = "#Program Files#\\" + product_folder;
  if (const toml::node* v = t.get("folder")) {
    lang.folder = get_ansi(*v, "folder", PATH_LIMIT);
    std::string problem = folder_problem(lang.folder);
    if (!problem.empty()) fail_at(pos(*v), "'folder' " + problem);
  } else {
    if (lang.folder.size() > PATH_LIMIT) fail_at(lang.pos, "the default folder is too long");
    std::string problem = folder_problem(lang.folder);
    if (!problem.empty())
      fail_at(product_pos_, "the default install folder '" + lang.folder + "' " + problem +
                                "; name one with folder = \"...\"");
  }
  if (const toml::node* v = t.get("folder_changeable"))
    lang.folder_changeable = get_bool(*v, "folder_changeable");
  if (const toml::node* v = t.get("folder_registry")) {
    const toml::table& r = as_table(*v, "folder_registry");
    check_keys(r, "folder_registry", {"root", "key", "value", "store"});
    if (!r.get("key")) fail_at(pos(r), "folder_registry needs its 'key'");
    lang.has_registry = true;
    lang.registry_root = r.get("root") ? get_root(*r.get("root"), "root") : 2;
    lang.registry_key = get_ansi(*r.get("key"), "key", PATH_LIMIT);
    if (lang.registry_key.empty()) fail_at(pos(*r.get("key")), "'key' must not be empty");
    if (const toml::node* x = r.get("value"))
      lang.registry_value = get_ansi(*x, "value", PATH_LIMIT);
    lang.store_in_registry = r.get("store") ? get_bool(*r.get("store"), "store") : true;
  }
  if (const toml::node* v = t.get("folder_ini")) {
    const toml::table& r = as_table(*v, "folder_ini");
    check_keys(r, "folder_ini", {"file", "section", "key", "store"});
    for (const char* key : {"file", "section", "key"})
      if (!r.get(key)) fail_at(pos(r), std::string("folder_ini needs its '") + key + "'");
    lang.has_ini = true;
    lang.ini_file = get_ansi(*r.get("file"), "file", PATH_LIMIT);
    lang.ini_section = get_ansi(*r.get("section"), "section", PATH_LIMIT);
    lang.ini_key = get_ansi(*r.get("key"), "key", PATH_LIMIT);
    if (lang.ini_file.empty() || lang.ini_section.empty() || lang.ini_key.empty())
      fail_at(pos(r), "folder_ini's file, section and key must not be empty");
    lang.store_in_ini = r.get("store") ? get_bool(*r.get("store"), "store") : true;
  }

  // The uninstaller entry comes first: a later installation looks for it
  // there. A block follows the project's choice unless it makes its own.
  const FileSpec* own_uninstaller = uninstaller_on ? &uninstaller : nullptr;
  FileSpec language_uninstaller;
  if (const toml::node* v = t.get("uninstaller")) {
    if (!v->is_boolean() && !v->is_table()) wrong_type(*v, "uninstaller", "true, false or a table");
    if (v->is_boolean()) {
      own_uninstaller = get_bool(*v, "uninstaller") ? &uninstaller : nullptr;
    } else {
      const toml::table& u = as_table(*v, "uninstaller");
      check_keys(u, "[languages.uninstaller]", {"target", "menu", "desktop"});
      language_uninstaller = parse_uninstaller(u, &uninstaller);
      own_uninstaller = &language_uninstaller;
    }
  }
  if (own_uninstaller) lang.files.push_back(*own_uninstaller);
  lang.files.insert(lang.files.end(), common_files.begin(), common_files.end());
  if (const toml::node* v = t.get("files"))
    for (const toml::table* f : table_list(*v, "files"))
      lang.files.push_back(parse_file(*f, "[[languages.files]]"));
  lang.ini = common_ini;
  if (const toml::node* v = t.get("ini"))
    for (const toml::table* e : table_list(*v, "ini")) lang.ini.push_back(parse_ini(*e));
  lang.registry = common_registry;
  if (const toml::node* v = t.get("registry"))
    for (const toml::table* e : table_list(*v, "registry"))
      lang.registry.push_back(parse_registry(*e));
  lang.patches = common_patches;
  if (const toml::node* v = t.get("patches"))
    for (const toml::table* e : table_list(*v, "patches")) lang.patches.push_back(parse_patch(*e));
  if (lang.ini.size() > 65535 || lang.registry.size() > 65535 || lang.patches.size() > 65535)
    fail_at(lang.pos, "a language block holds at most 65,535 INI, registry and patch entries each");

  if (own_uninstaller) lang.uninstall_key = p.product.substr(0, 259 - UNINSTALL_PREFIX_LENGTH);
  if (const toml::node* v = t.get("uninstall_key"))
    lang.uninstall_key = get_ansi(*v, "uninstall_key", PATH_LIMIT - UNINSTALL_PREFIX_LENGTH);
  else if (p.product.size() > PATH_LIMIT - UNINSTALL_PREFIX_LENGTH && own_uninstaller)
    fail_at(lang.pos, "the product name is too long for an uninstall key name; set uninstall_key");

  check_windows_paths(lang, index);

  // Two entries may not install to the same file.
  std::map<std::string, SourcePos> seen;
  for (const FileSpec& f : lang.files) {
    if (f.removal == REMOVAL_NOT_INSTALLED) continue;
    std::string name = f.target;
    if (f.destination == DEST_SHARED_SYSTEM) name = file_name_of(name);
    std::string key = std::to_string(f.destination) + ":" + lower(name);
    auto [it, fresh] = seen.emplace(key, f.pos);
    if (!fresh)
      fail_at(f.pos, "language block " + std::to_string(index) + " installs '" + f.target +
                         "' twice (the other entry is at " + it->second.str() + ")");
  }
  return lang;
}

// Checks what the setup program will create on Windows for a language
// block: no file may also be a folder that another entry needs, and no path
// may pass 259 characters under the default install folder as it expands
// at its longest (estimated_folder) or under the Windows, system or fonts
// folder.
void check_windows_paths(const LanguageSpec& lang, size_t index) {
  std::string block = "language block " + std::to_string(index);
  std::map<std::string, const FileSpec*> files;
  for (const FileSpec& f : lang.files)
    if (f.removal != REMOVAL_NOT_INSTALLED && f.destination != DEST_SHARED_SYSTEM)
      files.emplace(std::to_string(f.destination) + ":" + lower(f.target), &f);
  std::string install = estimated_folder(lang.folder);
  for (const FileSpec& f : lang.files) {
    if (f.removal == REMOVAL_NOT_INSTALLED) continue;
    if (f.destination != DEST_SHARED_SYSTEM) {
      std::string prefix;
      std::vector<std::string> parts = components(f.target);
      for (size_t i = 0; i + 1 < parts.size(); i++) {
        prefix += (i ? "\\" : "") + parts[i];
        auto it = files.find(std::to_string(f.destination) + ":" + lower(prefix));
        if (it != files.end())
          fail_at(f.pos, block + " installs '" + f.target + "', which needs a folder '" + prefix +
                             "', but the entry at " + it->second->pos.str() +
                             " installs a file of that name");
      }
    }
    std::string base = f.destination == DEST_WINDOWS         ? "C:\\Windows"
                       : f.destination == DEST_SHARED_SYSTEM ? "C:\\Windows\\SysWOW64"
                       : f.destination == DEST_FONT          ? "C:\\Windows\\Fonts"
                                                             : install;
    std::string name = f.destination == DEST_SHARED_SYSTEM ? file_name_of(f.target) : f.target;
    std::string path = base + (!base.empty() && base.back() == '\\' ? "" : "\\") + name;
    if (path.size() > PATH_LIMIT)
      fail_at(f.pos, block + ": '" + f.target + "' would be installed as '" + path + "', " +
                         std::to_string(path.size()) +
                         " characters long; Windows paths hold at most 259 (folder macros are "
                         "taken at their longest usual value)");
  }
}

void Parser::parse_title(const toml::node& n, Project& p) const {
  p.has_title = true;
  if (n.is_string()) {
    p.title = get_ansi(n, "title");
  } else {
    const toml::table& t = as_table(n, "title");
    check_keys(t, "[title]", {"text", "face", "height", "weight", "italic"});
    if (!t.get("text")) fail_at(pos(t), "[title] needs its 'text'");
    p.title = get_ansi(*t.get("text"), "text");
    if (const toml::node* v = t.get("face")) p.title_font.face = get_ansi(*v, "face", 31, false);
    if (const toml::node* v = t.get("height"))
      p.title_font.height = (int32_t)get_int(*v, "height", 1, 1000);
    if (const toml::node* v = t.get("weight")) {
      if (v->is_string())
        p.title_font.weight = get_choice(*v, "weight", {"normal", "bold"}) ? 700 : 400;
      else
        p.title_font.weight = (int32_t)get_int(*v, "weight", 1, 1000);
    }
    if (const toml::node* v = t.get("italic")) p.title_font.italic = get_bool(*v, "italic");
  }
  if (p.title.empty()) fail_at(pos(n), "the title text must not be empty");
}

void Parser::parse_executable(const toml::node* n, Project& p) const {
  ExecutableSpec& e = p.executable;
  e.product_name = p.product;
  e.description = p.product + " Setup";
  if (!n) return;
  const toml::table& t = as_table(*n, "executable");
  check_keys(t, "[executable]",
             {"icon", "execution_level", "product_name", "description", "company", "copyright",
              "file_version", "product_version"});
  if (const toml::node* v = t.get("icon")) {
    e.icon = get_path(*v, "icon");
    e.icon_pos = pos(*v);
  }
  if (const toml::node* v = t.get("execution_level")) {
    const std::vector<std::string> levels = {"requireAdministrator", "highestAvailable",
                                             "asInvoker"};
    std::string want = get_utf8(*v, "execution_level");
    e.execution_level.clear();
    for (const std::string& level : levels)
      if (lower(want) == lower(level)) e.execution_level = level;
    if (e.execution_level.empty())
      fail_at(pos(*v), "'execution_level' must be \"requireAdministrator\", \"highestAvailable\" "
                       "or \"asInvoker\"; the nearest is \"" +
                           nearest_key(want, levels) + "\"");
  }
  // Version texts are stored in UTF-16; they hold what the wizard's texts can.
  const size_t limit = 255;
  if (const toml::node* v = t.get("product_name"))
    e.product_name = get_ansi(*v, "product_name", limit);
  if (const toml::node* v = t.get("description"))
    e.description = get_ansi(*v, "description", limit);
  if (const toml::node* v = t.get("company")) e.company = get_ansi(*v, "company", limit);
  if (const toml::node* v = t.get("copyright")) e.copyright = get_ansi(*v, "copyright", limit);
  if (const toml::node* v = t.get("file_version")) {
    e.file_version_numbers = get_version(*v, "file_version");
    e.file_version = get_utf8(*v, "file_version");
  }
  if (const toml::node* v = t.get("product_version")) {
    e.product_version_numbers = get_version(*v, "product_version");
    e.product_version = get_utf8(*v, "product_version");
  }
  if (e.file_version.empty()) {
    e.file_version = e.product_version;
    e.file_version_numbers = e.product_version_numbers;
  }
  if (e.product_version.empty()) {
    e.product_version = e.file_version;
    e.product_version_numbers = e.file_version_numbers;
  }
}

Project Parser::parse(const std::string& text) {
  toml::table root;
  try {
    root = toml::parse(text, file_);
  } catch (const toml::parse_error& e) {
    fail(SourcePos{file_, e.source().begin.line, e.source().begin.column}.str() + ": " +
         std::string(e.description()));
  }
  check_keys(root, "the project",
             {"product", "full_screen", "remove_previous", "start_page", "start_language",
              "billboard", "background", "title", "uninstaller", "templates", "executable", "files",
              "ini", "registry", "patches", "languages"});
  Project p;
  p.path = file_;
  p.dir = dir_;
  const toml::node* product = root.get("product");
  if (!product) fail_at(SourcePos{file_, 1, 1}, "the project needs a 'product' name");
  product_ = get_utf8(*product, "product");
  product_pos_ = pos(*product);
  p.product = get_ansi(*product, "product", PATH_LIMIT, false);
  if (p.product.empty()) fail_at(pos(*product), "'product' must not be empty");

  if (const toml::node* v = root.get("full_screen"))
    if (get_bool(*v, "full_screen")) p.setup_flags |= SETUP_FULL_SCREEN;
  if (const toml::node* v = root.get("remove_previous"))
    if (get_bool(*v, "remove_previous")) p.setup_flags |= SETUP_REMOVE_PREVIOUS;
  if (const toml::node* v = root.get("billboard")) {
    p.billboard = get_path(*v, "billboard");
    p.billboard_pos = pos(*v);
  }
  if (const toml::node* v = root.get("background")) {
    p.background = get_path(*v, "background");
    p.background_pos = pos(*v);
  }
  if (const toml::node* v = root.get("title")) parse_title(*v, p);
  if (const toml::node* v = root.get("templates")) {
    p.templates_res = get_path(*v, "templates");
    p.templates_pos = pos(*v);
  }
  parse_executable(root.get("executable"), p);

  // Every language block carries the built-in uninstaller unless the project
  // says `uninstaller = false`; `[uninstaller]` changes its settings or names
  // a program of the project's own. Without `program` the builder supplies
  // its own (build.cpp: default_uninstaller_path); the program stays empty here.
  FileSpec uninstaller = parse_uninstaller(toml::table{}, nullptr);
  uninstaller.pos = product_pos_;
  p.uninstaller_pos = product_pos_;
  bool uninstaller_on = true;
  if (const toml::node* v = root.get("uninstaller")) {
    p.uninstaller_pos = pos(*v);
    if (!v->is_boolean() && !v->is_table()) wrong_type(*v, "uninstaller", "true, false or a table");
    if (v->is_boolean()) {
      uninstaller_on = get_bool(*v, "uninstaller");
    } else {
      const toml::table& u = as_table(*v, "uninstaller");
      check_keys(u, "[uninstaller]", {"program", "target", "menu", "desktop"});
      if (const toml::node* program = u.get("program")) {
        p.uninstaller_program = get_path(*program, "program");
        p.uninstaller_pos = pos(*program);
      }
      uninstaller = parse_uninstaller(u, nullptr);
    }
  }

  std::vector<FileSpec> files;
  if (const toml::node* v = root.get("files"))
    for (const toml::table* t : table_list(*v, "files"))
      files.push_back(parse_file(*t, "[[files]]"));
  std::vector<IniSpec> ini;
  if (const toml::node* v = root.get("ini"))
    for (const toml::table* t : table_list(*v, "ini")) ini.push_back(parse_ini(*t));
  std::vector<RegistrySpec> registry;
  if (const toml::node* v = root.get("registry"))
    for (const toml::table* t : table_list(*v, "registry")) registry.push_back(parse_registry(*t));
  std::vector<PatchSpec> patches;
  if (const toml::node* v = root.get("patches"))
    for (const toml::table* t : table_list(*v, "patches")) patches.push_back(parse_patch(*t));

  if (const toml::node* v = root.get("languages")) {
    std::vector<const toml::table*> tables = table_list(*v, "languages");
    if (tables.empty()) fail_at(pos(*v), "'languages' must hold at least one language");
    for (size_t i = 0; i < tables.size(); i++) {
      if (i == MAX_LANGUAGES)
        fail_at(pos(*tables[i]), "more than six languages (" + std::to_string(tables.size()) +
                                     " given); a package holds at most six language blocks");
      p.languages.push_back(parse_language(*tables[i], i, p, files, ini, registry, patches,
                                           uninstaller, uninstaller_on));
    }
  } else {
    toml::table empty;
    p.languages.push_back(
        parse_language(empty, 0, p, files, ini, registry, patches, uninstaller, uninstaller_on));
    p.languages.back().pos = SourcePos{file_, 0, 0};
  }

  resolve_patch_bases(p);

  if (const toml::node* v = root.get("start_page")) {
    if (v->is_integer()) {
      p.start_page = (uint16_t)get_int(*v, "start_page", 0, 8);
    } else {
      std::vector<std::string> names(std::begin(PAGE_NAMES), std::end(PAGE_NAMES));
      names[3] = "(none)";
      names.push_back("all");
      size_t k = get_choice(*v, "start_page", names);
      p.start_page = k == names.size() - 1 ? WHOLE_WIZARD : (uint16_t)k;
    }
  }
  if (const toml::node* v = root.get("start_language")) {
    if (v->is_integer()) {
      p.start_language =
          (uint16_t)get_int(*v, "start_language", 0, (int64_t)p.languages.size() - 1);
    } else {
      std::string want = lower(get_utf8(*v, "start_language"));
      bool found = false;
      std::vector<std::string> candidates;
      for (size_t i = 0; i < p.languages.size() && !found; i++) {
        std::string name = lower(ansi_to_utf8(p.languages[i].name));
        if (want == lower(p.languages[i].code) || want == name) {
          p.start_language = (uint16_t)i;
          found = true;
        }
        candidates.push_back(p.languages[i].code);
        candidates.push_back(name);
      }
      if (!found)
        fail_at(pos(*v), "start_language '" + want +
                             "' names no language of the project; the "
                             "nearest is '" +
                             nearest_key(want, candidates) + "'");
    }
  }
  return p;
}

} // namespace

std::string check_target_name(const std::string& t) {
  if (t.empty()) return "is empty";
  if (t.size() > PATH_LIMIT)
    return "is " + std::to_string(t.size()) + " characters long; the setup program holds at most " +
           std::to_string(PATH_LIMIT);
  if (t[0] == '\\' || (t.size() >= 2 && t[1] == ':'))
    return "is absolute; a target is relative to its destination folder";
  size_t start = 0;
  while (start <= t.size()) {
    size_t end = t.find('\\', start);
    if (end == std::string::npos) end = t.size();
    std::string part = t.substr(start, end - start);
    if (part == "..") return "leaves its destination folder ('..')";
    if (part.empty()) return "has an empty folder name";
    std::string problem = component_problem(part);
    if (!problem.empty()) return problem;
    start = end + 1;
  }
  for (unsigned char c : t)
    if (c < 32 || std::strchr("<>:\"|?*", c))
      return std::string("holds a character that Windows does not allow in file names");
  if (t.back() == '.' || t.back() == ' ') return "ends with a dot or a space";
  return "";
}

Project parse_project(const std::string& text, const std::string& path) {
  return Parser(path).parse(text);
}

Project load_project(const std::string& path) {
  std::vector<uint8_t> bytes = read_source_file(path, SourcePos{});
  return parse_project(std::string(bytes.begin(), bytes.end()), path);
}

std::vector<uint8_t> logfont_record(const TitleFont& font) {
  ByteWriter w;
  w.u32((uint32_t)-font.height); // negative: the character height in pixels
  w.u32(0);                      // width: from the aspect ratio
  w.u32(0);                      // escapement
  w.u32(0);                      // orientation
  w.u32((uint32_t)font.weight);
  w.u8(font.italic ? 1 : 0);
  w.u8(0); // underline
  w.u8(0); // strike-out
  w.u8(1); // DEFAULT_CHARSET
  w.u8(0); // OUT_DEFAULT_PRECIS
  w.u8(0); // CLIP_DEFAULT_PRECIS
  w.u8(4); // ANTIALIASED_QUALITY: the title is large
  w.u8(0); // DEFAULT_PITCH | FF_DONTCARE
  std::string face = font.face.substr(0, 31);
  w.append((const uint8_t*)face.data(), face.size());
  w.zeros(32 - face.size());
  return w.bytes;
}

} // namespace pakwiz
