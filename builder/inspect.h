// `pakwiz list`, `verify` and `extract`: reading a finished package with the
// builder's own package reader (package_reader.h) and volume reader
// (volume_files.h). Archive data is gathered into memory from whatever
// volumes hold it and handed to the setup program's stream decoder through a
// temporary file (decode_stream), so the tools may visit entries in any
// order.
#pragma once
#include <optional>
#include <ostream>
#include <string>

namespace pakwiz {

// Prints the package's records, setup flags, start record, language blocks
// and every entry. Throws BuildError when the package cannot be read.
void list_package(const std::string& path, std::ostream& out);

// Decodes every archive entry of every language block (across volumes; a
// patched entry is rebuilt from its base entry) and checks its size and
// checksum; also checks the package file's length and
// every compressed record. Prints one line per problem, naming the entry,
// and a summary. Returns true when nothing is damaged; never throws for
// damage (only for failures of the host, such as no temporary folder).
bool verify_package(const std::string& path, std::ostream& out);

// Writes the files of one language block (default: the start language
// block) under `dir`: install-folder files at their target names, files for
// the Windows folder, the system folder and the fonts folder under Windows/,
// System/ and Fonts/, the uninstaller as its whole file (prefix block and
// data), a patched file rebuilt from its base. Target names are made safe
// (no absolute paths, no "..", no control characters), and nothing is
// written through a link below `dir` or outside it (write_file_beneath).
// Entries that are not installed (their file lies beside the setup program)
// are skipped. Throws BuildError for a damaged entry, a link in the way or
// an unwritable file, naming it.
void extract_package(const std::string& path, const std::string& dir, std::optional<int> language,
                     std::ostream& out);

// The relative host path an entry is extracted to ("" when its target name
// cannot be made safe): separators become '/', a leading drive or separator
// and "." parts are dropped, and a ".." part or a control character makes
// the name unsafe.
std::string safe_extract_path(const std::string& target, uint8_t destination);

} // namespace pakwiz
