#include <iostream>

#include "vyrpack/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vyr::pack::VyrpackMain(args, std::cout, std::cerr);
}
