// The `pakwiz` program: see cli.h.
#include <iostream>

#include "builder/cli.h"

int main(int argc, char** argv) {
  return pakwiz::run_cli(argc, argv, std::cout, std::cerr);
}
