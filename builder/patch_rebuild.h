// Rebuilding a patched file for the builder's tools (verify, extract): the
// setup program's own blob reader and command interpreter (decode/patch.h)
// run over temporary files, so the tools judge a patch exactly as an
// installation would read it.
#pragma once
#include <stdint.h>

#include <vector>

namespace pakwiz {

// Applies `patch` (an entry's archive data: command blob, then data blob) to
// `base`. Throws BuildError describing the problem when a blob is damaged,
// the commands are malformed or the temporary files cannot be had. Reads no
// archive data beyond `patch`.
std::vector<uint8_t> rebuild_patched_file(const std::vector<uint8_t>& base,
                                          const std::vector<uint8_t>& patch);

} // namespace pakwiz
