// A fresh utility module on a fresh emulated PC for each test.
#ifndef VYR_TESTS_UTILITY_FIXTURE_H_
#define VYR_TESTS_UTILITY_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Machine/Machine.h"
#include "NamedFunction.h"
#include "Platform/Host/HostPlatform.h"
#include "DriverEntry.h"

namespace vyr::testing {

class UtilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string Pattern = (std::filesystem::temp_directory_path() / "vyr-test-XXXXXX").string();
    Dir_ = mkdtemp(Pattern.data());
    ResetModuleState();
  }

  void TearDown() override {
    ResetModuleState();
    HostPlatformAttach(nullptr);
    Machine_.reset();
    std::error_code Ignored;
    std::filesystem::remove_all(Dir_, Ignored);
  }

  // Starts the emulated PC; volumes live under the test's scratch directory.
  emu::Machine &Boot(const emu::Profile &Profile = emu::Profile::Default()) {
    HostPlatformAttach(nullptr);
    Machine_ = std::make_unique<emu::Machine>(Profile, Dir_);
    HostPlatformAttach(Machine_.get());
    return *Machine_;
  }

  emu::Machine &M() { return *Machine_; }
  std::string Console() const { return Machine_->Screen().Transcript(); }
  std::string VolumePath(const std::string &Name, const std::string &Volume = "fs0") const {
    return Dir_ + "/" + Volume + "/" + Name;
  }
  std::string ReadVolumeFile(const std::string &Name, const std::string &Volume = "fs0") const {
    std::ifstream In(VolumePath(Name, Volume), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  void WriteVolumeFile(const std::string &Name, const std::string &Data, const std::string &Volume = "fs0") const {
    std::filesystem::create_directories(std::filesystem::path(VolumePath(Name, Volume)).parent_path());
    std::ofstream(VolumePath(Name, Volume), std::ios::binary) << Data;
  }
  bool VolumeFileExists(const std::string &Name, const std::string &Volume = "fs0") const {
    return std::filesystem::exists(VolumePath(Name, Volume));
  }
  const std::string &Dir() const { return Dir_; }

 private:
  std::string Dir_;
  std::unique_ptr<emu::Machine> Machine_;
};

}  // namespace vyr::testing

#endif  // VYR_TESTS_UTILITY_FIXTURE_H_
