// variables.json as arbitrary text: the variable store's reader must refuse
// a damaged file with its error, and what it accepts must be written back
// and read again unchanged.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzHarness.h"
#include "Machine/Variables.h"

namespace {

// One file for the whole run, in memory-backed /dev/shm when there is one.
const std::string &FilePath() {
  static const std::string Path = [] {
    std::string Dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return Dir + "/vyr-fuzz-variables-" + std::to_string(getpid()) + ".json";
  }();
  return Path;
}

void RemoveFile() {
  std::remove(FilePath().c_str());
  std::remove((FilePath() + ".tmp").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  {
    std::ofstream Out(FilePath(), std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Data), static_cast<std::streamsize>(Size));
  }
  vyr::emu::VariableStore Store;
  Store.SetFile(FilePath());
  try {
    Store.Load();
  } catch (const std::runtime_error &) {
    return 0;
  }
  nlohmann::json First = Store.ToJson(true);
  Store.Save();
  vyr::emu::VariableStore Again;
  Again.SetFile(FilePath());
  Again.Load();
  fuzz::Require(Again.ToJson(true) == First);
  return 0;
}
