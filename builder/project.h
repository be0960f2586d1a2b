// The project file: a TOML description of everything a package holds (see
// docs/project-file.md), read into a Project with every text already in the
// setup program's ANSI character set, every path resolved against the
// project's folder, and every limit of the setup program checked.
#pragma once
#include <stdint.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "builder/errors.h"
#include "common/package_format.h"

namespace pakwiz {

enum { MAX_LANGUAGES = 6, PATH_LIMIT = 259, UNINSTALL_PREFIX_LENGTH = 52 };

struct FileSpec {
  SourcePos pos;        // the entry's table in the project
  SourcePos source_pos; // its `source` value (or the table)
  std::string source;   // host path; empty for a not-installed entry without one
  std::string target;   // ANSI, backslash separated, relative
  uint8_t destination = DEST_INSTALL_FOLDER; // DestinationKind
  uint8_t end_action = END_NONE;             // EndAction
  uint8_t removal = REMOVAL_REMOVE;          // RemovalMode; default: remove at uninstall
  uint8_t special = SPECIAL_NONE;            // SpecialHandling
  bool shared = false;
  bool uninstaller = false;         // the uninstaller entry (prefix block + reserved bytes)
  std::optional<bool> version_test; // default: when the source has a version resource
  bool language_test = false;
  bool file_times = true;
  std::optional<uint64_t> file_time; // FILETIME for all three times; default: source mtime
  std::optional<std::array<uint32_t, 2>> file_version;    // MS, LS
  std::optional<std::array<uint32_t, 2>> product_version; // MS, LS
  std::optional<uint16_t> language_id;
  std::string menu_folder, menu_name, menu_args; // ANSI
  uint16_t menu_icon = 0;
  std::string desktop_name, desktop_args; // ANSI
  // `patch_from` (or its older spelling `patch_of`): the file is stored as a
  // patch against another entry's file.
  struct PatchOf {
    SourcePos pos;
    std::string key;                    // the key as written, for messages
    std::string language;               // index, code or name as written; "" = this entry's block
    std::string target;                 // ANSI; "" = this entry's own target
    std::optional<uint8_t> destination; // narrows the lookup by destination kind
    int block = -1, entry = -1;         // the base entry, resolved once every block is read
  };
  std::optional<PatchOf> patch_of;
};

struct IniSpec {
  SourcePos pos;
  bool only_if_absent = false;
  std::string file, section, key, value; // ANSI
};

struct RegistrySpec {
  SourcePos pos;
  uint32_t root = 1;
  bool only_if_absent = false;
  std::string key, name, value; // ANSI
};

struct PatchSpec {
  SourcePos pos;
  int32_t position = PATCH_SEARCH; // write behind the pattern
  std::vector<uint8_t> pattern;
  std::string file, text; // ANSI
};

struct LanguageSpec {
  SourcePos pos;
  std::string code; // built-in text set: "en", "de"
  std::string name; // ANSI: label on the language page
  std::string folder;
  bool folder_changeable = true;
  bool has_registry = false;
  uint32_t registry_root = 2;
  std::string registry_key, registry_value;
  bool store_in_registry = false;
  bool has_ini = false;
  std::string ini_file, ini_section, ini_key;
  bool store_in_ini = false;
  std::string uninstall_key; // empty: none
  std::string information;   // host path of the information file, "" for none
  SourcePos information_pos;
  // String tables 0..10 in ANSI; absent tables are not written.
  std::array<std::vector<std::string>, STRING_TABLES> tables;
  std::array<bool, STRING_TABLES> table_present{};
  // The uninstaller's texts in ANSI (default_texts.h: UNINSTALLER_TEXT_NAMES).
  std::vector<std::string> uninstaller_texts;
  std::vector<FileSpec> files; // the uninstaller entry (if any) first
  std::vector<IniSpec> ini;
  std::vector<RegistrySpec> registry;
  std::vector<PatchSpec> patches;
};

struct TitleFont {
  std::string face = "Arial";
  int32_t height = 36; // character height in pixels
  int32_t weight = 700;
  bool italic = false;
};

// The setup executable's own resources ([executable]): its manifest, version
// resource and icon. pakwiz's own uninstaller gets the same manifest and
// version resource.
struct ExecutableSpec {
  std::string icon; // host path of an .ico; empty: the setup program's own icon
  SourcePos icon_pos;
  std::string execution_level = "requireAdministrator"; // or "highestAvailable", "asInvoker"
  // ANSI texts; product_name defaults to the product, description to
  // "<product> Setup". Empty texts are left out of the version resource.
  std::string product_name, description, company, copyright;
  // Versions as written ("" = not given) and as numbers (MS, LS). A missing
  // one takes the other's value.
  std::string file_version, product_version;
  std::array<uint32_t, 2> file_version_numbers{}, product_version_numbers{};
};

struct Project {
  std::string path;    // the project file
  std::string dir;     // its folder: base of relative paths
  std::string product; // ANSI
  uint32_t setup_flags = 0;
  uint16_t start_page = WHOLE_WIZARD;
  uint16_t start_language = 0;
  std::string billboard, background; // host paths, empty when none
  SourcePos billboard_pos, background_pos;
  bool has_title = false;
  std::string title; // ANSI
  TitleFont title_font;
  // Host path of the file prefix block; empty without [uninstaller], and for
  // [uninstaller] without `program` (the build then uses its own uninstaller).
  std::string uninstaller_program;
  SourcePos uninstaller_pos;
  std::string templates_res; // host path of a .res with replacement dialogs
  SourcePos templates_pos;
  std::vector<LanguageSpec> languages;
  ExecutableSpec executable;
};

// Parses project text; `path` names the file in messages and gives the base
// folder of relative paths. Reads the information files the project names.
// Throws BuildError "path:line:column: ..." for TOML syntax errors, unknown
// keys (naming the nearest valid key), wrong types and values, and texts or
// paths that the setup program cannot hold.
Project parse_project(const std::string& text, const std::string& path);
// Reads and parses the project file at `path`.
Project load_project(const std::string& path);

// The 60-byte LOGFONTA record of a title font.
std::vector<uint8_t> logfont_record(const TitleFont& font);

// Checks a relative target name for the setup program: not empty, not
// absolute, no ".." component, no component that is a name Windows reserves
// for a device (con.txt, AUX, COM1...) or that ends with a dot or a space, no
// characters Windows forbids in names, at most 259 characters. Empty when
// fine, else the problem.
std::string check_target_name(const std::string& ansi);

// A folder text with its folder macros replaced by the longest value each
// takes on a standard Windows installation ("#Program Files#" by
// "C:\Program Files (x86)", "#Windows#" by "C:\Windows", "#System#" by
// "C:\Windows\SysWOW64", "#Date#" by 8 digits), "#SourceDir#" by the
// shortest it can be ("D:\", a drive root) and "#InstallDir#" and unknown
// tokens by nothing, as the setup program expands them. The builder refuses
// an entry whose path under this folder would pass 259 characters.
std::string estimated_folder(const std::string& folder);

} // namespace pakwiz
