// A scratch directory for one test, removed afterwards.
#ifndef VYR_EMU_TEST_TEMP_DIR_H_
#define VYR_EMU_TEST_TEMP_DIR_H_

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vyr::emu::testing {

class TempDir {
 public:
  TempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "vyr-emu-XXXXXX").string();
    Path_ = mkdtemp(Pattern.data());
  }
  ~TempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path_, Ignored);
  }
  const std::string &Path() const { return Path_; }
  std::string operator/(const std::string &Name) const { return Path_ + "/" + Name; }

 private:
  std::string Path_;
};

}  // namespace vyr::emu::testing

#endif  // VYR_EMU_TEST_TEMP_DIR_H_
