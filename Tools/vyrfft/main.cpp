#include <malloc.h>

#include <iostream>

#include "vyrfft/Launcher.h"

int main(int argc, char **argv) {
  // Image-sized buffers come straight from the kernel and go back when freed:
  // zero-filled ones cost nothing until written, and a freed image does not
  // stay in the peak of the run. A fixed threshold keeps glibc from raising
  // it after the first such buffer is freed.
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  std::vector<std::string> Args(argv + 1, argv + argc);
  return vyr::fft::VyrfftMain(Args, std::cout, std::cerr);
}
