// `pakwiz try SETUP.exe`: installs and uninstalls a setup program in a fresh
// Wine prefix, walking its wizard with the driver program
// (pakwiz-e2e-driver.exe) on a private X display when there is none, and
// reports what the run did to the prefix (try_report.h).
#pragma once
#include <optional>
#include <ostream>
#include <string>
#include <vector>
#include <stdint.h>

namespace pakwiz {

struct TryOptions {
  std::string setup;
  std::string steps;           // a file in the driver's step language instead of the walk
  std::optional<int> language; // the language block the walk picks
  std::string folder;          // the folder the walk types on the destination page
  bool quiet = false;          // install and uninstall with /Q instead of walking the wizard
  bool keep = false;           // keep the temporary folder (prefix, screenshots, logs)
  bool allow_leftovers = false;
  std::string json, html;       // report files
  std::string driver;           // the driver program, when not found by itself
  bool no_prefix_cache = false; // make the prefix with wineboot, not from the cached one
};

// The driver program: `explicit_path` if given, else pakwiz-e2e-driver.exe
// beside pakwiz, in ../share/pakwiz/ from it, or in the source tree's
// Windows test build. "" when none exists; `tried` lists the places.
std::string find_try_driver(const std::string& explicit_path, std::string* tried);

// A file of the cached prefix hard-linked into a trial's prefix: its size
// and time when it was linked.
struct LinkedFile {
  std::string path;
  uint64_t size;
  int64_t mtime_ns;
};

// Copies the Wine prefix `from` to `to`: Wine's own programs and libraries
// (.dll, .exe, ... files) as hard links, listed in `linked`, where the file
// system allows, everything else (registry and INI files, folders, links)
// as copies. False when something could not be copied.
bool copy_prefix(const std::string& from, const std::string& to, std::vector<LinkedFile>* linked);

// Whether a linked file was written since (through either name), which
// changed the cached prefix too.
bool linked_files_changed(const std::vector<LinkedFile>& linked);

// Removes what trials that were killed while making the cached prefix
// `ready` left beside it (its "<ready>.new-XXXXXX" folders) once they are
// older than `max_age_seconds`: a prefix that is still being made is never
// that old (its wineboot is given 300 seconds). Returns how many it removed.
int remove_abandoned_prefixes(const std::string& ready, int64_t max_age_seconds);

// Runs the trial and prints the report; returns 0 when it passed, 1 when it
// failed (the reason on the last line), 3 when it could not run at all.
int run_try(const TryOptions& options, std::ostream& out, std::ostream& err);

} // namespace pakwiz
