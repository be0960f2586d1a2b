// Errors of the builder and its tools. Every failure the user can cause (a bad
// project, a missing source file, a damaged package) is thrown as a
// BuildError whose text is complete: it names the file, and where known the
// line and column or the entry at fault. The command line prints it as is.
#pragma once
#include <stdint.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace pakwiz {

// A place in a project file (or any named input); line 0 = the file as a whole.
struct SourcePos {
  std::string file;
  uint32_t line = 0, column = 0;
  // "file:line:column", or "file" when no line is known.
  std::string str() const;
};

class BuildError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Throws BuildError(message).
[[noreturn]] void fail(const std::string& message);
// Throws BuildError("file:line:column: message").
[[noreturn]] void fail_at(const SourcePos& pos, const std::string& message);

// The valid key nearest to `key` (edit distance, ignoring case); ties go to
// the earlier key in `valid`. Empty only when `valid` is empty.
std::string nearest_key(const std::string& key, const std::vector<std::string>& valid);

// "1,234,567" for messages and listings.
std::string with_commas(uint64_t n);

} // namespace pakwiz
