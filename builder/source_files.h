// Host file access for the builder: whole-file reads with messages that name
// the project place that asked for the file, modification times as Windows
// FILETIME values, and a few path helpers.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "builder/errors.h"

namespace pakwiz {

// The whole file. Throws BuildError "pos: cannot read <path>: <reason>".
std::vector<uint8_t> read_source_file(const std::string& path, const SourcePos& pos);

// Last modification time as a FILETIME value (100 ns units since 1601-01-01
// UTC). Throws BuildError like read_source_file.
uint64_t file_modification_filetime(const std::string& path, const SourcePos& pos);

// `path` taken relative to `base_dir` unless it is absolute.
std::string resolve_path(const std::string& base_dir, const std::string& path);
// The last component of a host path ('/' or '\' separated).
std::string file_name_of(const std::string& path);
// The folder holding the running program, or "" when it cannot be told.
std::string own_executable_dir();
// True when stderr is a terminal (progress display).
bool stderr_is_terminal();

} // namespace pakwiz
