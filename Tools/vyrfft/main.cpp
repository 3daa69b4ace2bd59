#include <iostream>

#include "vyrfft/Launcher.h"

int main(int argc, char **argv) {
  std::vector<std::string> Args(argv + 1, argv + argc);
  return vyr::fft::VyrfftMain(Args, std::cout, std::cerr);
}
