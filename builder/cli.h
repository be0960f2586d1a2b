// The `pakwiz` command line: argument parsing, help texts and the dispatch
// to build (build.h) and the inspection commands (inspect.h).
#pragma once
#include <ostream>

namespace pakwiz {

// Runs one command. Exit codes: 0 success, 1 failure (an error, or damage
// found by verify), 2 wrong usage. Results go to `out`, messages to `err`.
int run_cli(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace pakwiz
