// The one scratch directory of the tests: made fresh for a test, removed with it.
#ifndef VYR_TESTS_TEMP_DIR_H_
#define VYR_TESTS_TEMP_DIR_H_

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace vyr::testing {

class TempDir {
 public:
  TempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "vyr-test-XXXXXX").string();
    if (mkdtemp(Pattern.data()) == nullptr) throw std::runtime_error("cannot make " + Pattern);
    Path_ = Pattern;
  }
  ~TempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path_, Ignored);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &Path() const { return Path_; }
  std::string operator/(const std::string &Name) const { return Path_ + "/" + Name; }

 private:
  std::string Path_;
};

}  // namespace vyr::testing

#endif  // VYR_TESTS_TEMP_DIR_H_
