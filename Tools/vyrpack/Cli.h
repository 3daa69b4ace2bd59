// The vyrpack command line, callable from tests.
#ifndef VYRPACK_CLI_H_
#define VYRPACK_CLI_H_

#include <ostream>
#include <string>
#include <vector>

#include "vyrpack/PeImage.h"

namespace vyr::pack {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// args are the words after the program name. Normal output goes to `out`,
// errors to `err`; the result is the process exit code.
int VyrpackMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Whole-file helpers; both throw std::runtime_error with the path in the text.
Bytes ReadFileBytes(const std::string& path);
// Writes to a temporary file beside `path` and renames it into place, so a
// failed run never leaves a partial file under the final name.
void WriteFileAtomically(const std::string& path, const Bytes& data);

}  // namespace vyr::pack

#endif  // VYRPACK_CLI_H_
