// Host file access for the builder: whole-file reads with messages that name
// the project place that asked for the file, modification times as Windows
// FILETIME values, and a few path helpers.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "builder/errors.h"
#include "builder/host_files.h"

namespace pakwiz {

// The most bytes a file of a package may have (its sizes are 32-bit).
const uint64_t MAX_SOURCE_SIZE = 0xFFFFFFFFull;

// The whole file. Throws BuildError "pos: cannot read <path>: <reason>", and
// refuses a file larger than MAX_SOURCE_SIZE before reading any of it.
std::vector<uint8_t> read_source_file(const std::string& path, const SourcePos& pos);
// The file opened for reading, with messages like read_source_file's.
HostFile open_source_file(const std::string& path, const SourcePos& pos);
// The file's size from the file system; throws like read_source_file (also
// when it is larger than MAX_SOURCE_SIZE).
uint64_t source_file_size(const std::string& path, const SourcePos& pos);
// "<path> is N bytes; a package holds files of at most ..."
std::string too_large_message(const std::string& path, uint64_t size);

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
