// `pakwiz try`: what a trial run measured and how it is reported. The parts
// here read a Wine prefix (its registry files, INI files and shortcuts),
// compare two readings, and write the report as text, JSON and one HTML
// page; try_run.cpp runs the setup and fills in a TryReport.
#pragma once
#include <stdint.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace pakwiz {

// --- Wine's registry files (system.reg, user.reg) ---------------------------

struct RegistryKey {
  std::string path;                                                  // "HKLM\Software\Hello"
  std::map<std::string, std::pair<std::string, std::string>> values; // lower name -> name, data
};
// Keys by their lower-case path. Value data as the file writes it:
// "text" with escapes, dword:0000002a, hex:..., str(2):"...".
using RegistryTree = std::map<std::string, RegistryKey>;

// Reads the text of a registry file; `root` ("HKLM", "HKCU") is put in front
// of every key path. Continued hex lines are joined; escapes in key and
// value names are resolved (\\, \", \n, \xHHHH as UTF-8).
void read_registry_file(const std::string& text, const std::string& root, RegistryTree* tree);

// Registry data as a person reads it: a string without its quotes and
// escapes, a DWORD in decimal, a multi-string with " | " between its parts,
// other types as the file writes them.
std::string registry_display(const std::string& data);

// --- INI files ----------------------------------------------------------------

// Entries by "section\nkey" in lower case -> (section, key, value).
struct IniEntry {
  std::string section, key, value;
};
using IniEntries = std::map<std::string, IniEntry>;
IniEntries read_ini(const std::string& text);

// --- Shortcuts ------------------------------------------------------------------

struct ShellLink {
  bool ok = false;
  std::string target, arguments, working_dir;
};
// Reads a shell link file (.lnk): the target from its link information (or,
// without one, from the names of its item list), the arguments and working
// folder from its string data.
ShellLink read_shell_link(const std::vector<uint8_t>& bytes);

// --- The prefix at one moment ----------------------------------------------------

struct FileState {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  bool directory = false;
};

struct PrefixState {
  std::map<std::string, FileState> files; // "C:\path" (as found) -> state; keys compared as is
  RegistryTree registry;
  std::map<std::string, IniEntries> ini; // lower "C:\...\x.ini" -> entries
};

// --- Differences ------------------------------------------------------------------

struct FileChange {
  std::string path;
  uint64_t size = 0;
  bool created = true; // false: it was there and changed
  std::string package; // "equal", "patched" (equal up to a patch entry's position),
                       // "different", or "" (not a file of the package)
};
struct ValueChange {
  std::string key, name, before, after; // name "" = the default value; before "" when added
  bool added = true;
};
struct IniChange {
  std::string file, section, key, before, after;
  bool added = true;
};

struct Changes {
  std::vector<FileChange> files;    // files created or changed
  std::vector<std::string> folders; // folders created
  std::vector<ValueChange> values;  // registry values added or changed
  std::vector<std::string> keys;    // registry keys created
  std::vector<IniChange> ini;       // INI entries added or changed
};

// What changed from `before` to `after`. Wine's own bookkeeping (its
// Software\Wine keys, device classes, the temporary folder's caches) is left
// out.
Changes compare_states(const PrefixState& before, const PrefixState& after);

// What the installation created that is still there after uninstalling.
struct Leftover {
  std::string kind; // "file", "folder", "registry value", "registry key", "INI entry"
  std::string what;
};
std::vector<Leftover> find_leftovers(const Changes& installed, const PrefixState& before,
                                     const PrefixState& after_uninstall);

// --- The report ---------------------------------------------------------------------

struct Screenshot {
  std::string phase;   // "install", "uninstall"
  std::string caption; // the page heading or "message: ..."
  std::string png;     // the picture's bytes (PNG)
};

struct Phase {
  bool ran = false;
  std::vector<std::string> pages;    // headings in order
  std::vector<std::string> messages; // "text" -> answer
  bool finish = false;               // reached the finish page
  std::string finish_text;
  std::string restart_button; // the finish page's restart button, if shown
  bool exited = false;
  int exit_code = 0;
  std::string failure; // a failed step or a driver that could not run
  double seconds = 0;
};

struct Shortcut {
  std::string path, target, arguments;
};

struct TryReport {
  std::string setup;
  std::string language, folder; // the walk's choices, "" for the defaults
  Phase install, uninstall;
  Changes changes;
  std::vector<std::string> missing; // files of the package that were not installed
  std::string package_error;        // the package could not be extracted to compare
  std::vector<Shortcut> shortcuts;
  std::string uninstall_key; // the Add/Remove Programs entry
  std::vector<std::pair<std::string, std::string>> uninstall_values;
  bool restart = false;
  std::string restart_reason;
  std::vector<Leftover> leftovers;
  bool allow_leftovers = false;
  bool quiet = false; // installed and uninstalled with /Q: no pages, the exit codes decide
  std::vector<Screenshot> shots;
  double prefix_seconds = 0, total_seconds = 0;
  std::string prefix_note; // how the prefix was made: "made by wineboot", "copied from DIR"
  bool passed = false;
  std::string verdict; // one line: why it passed or failed
};

// What a setup program's or uninstaller's exit code means ("" for one it
// does not use).
std::string exit_code_meaning(int code);

// Decides passed and verdict from the rest of the report.
void judge(TryReport* report);

void write_text_report(const TryReport& report, std::ostream& out);
void write_json_report(const TryReport& report, std::ostream& out);
void write_html_report(const TryReport& report, std::ostream& out);

} // namespace pakwiz
