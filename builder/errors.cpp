#include "builder/errors.h"

#include <algorithm>
#include <cctype>

namespace pakwiz {

std::string SourcePos::str() const {
  if (line == 0) return file;
  return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

void fail(const std::string& message) {
  throw BuildError(message);
}

void fail_at(const SourcePos& pos, const std::string& message) {
  throw BuildError(pos.str() + ": " + message);
}

static size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); j++) row[j] = j;
  for (size_t i = 1; i <= a.size(); i++) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); j++) {
      size_t above = row[j];
      bool same = std::tolower((unsigned char)a[i - 1]) == std::tolower((unsigned char)b[j - 1]);
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string nearest_key(const std::string& key, const std::vector<std::string>& valid) {
  std::string best;
  size_t best_distance = SIZE_MAX;
  for (const std::string& candidate : valid) {
    size_t d = edit_distance(key, candidate);
    if (d < best_distance) {
      best = candidate;
      best_distance = d;
    }
  }
  return best;
}

std::string with_commas(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

} // namespace pakwiz
