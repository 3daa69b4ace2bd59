// vyrpack's command line run in-process in a temporary directory.
#ifndef VYR_TESTS_VYRPACK_CLI_FIXTURE_H_
#define VYR_TESTS_VYRPACK_CLI_FIXTURE_H_

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "vyrpack/Cli.h"

namespace vyr::testing {

class VyrpackCliTest : public ::testing::Test {
 protected:
  std::string P(const std::string &name) const { return dir_ / name; }
  void Put(const std::string &name, const std::string &text) { std::ofstream(P(name), std::ios::binary) << text; }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return pack::VyrpackMain(args, out_, err_);
  }

  TempDir dir_;
  std::ostringstream out_, err_;
};

}  // namespace vyr::testing

#endif  // VYR_TESTS_VYRPACK_CLI_FIXTURE_H_
