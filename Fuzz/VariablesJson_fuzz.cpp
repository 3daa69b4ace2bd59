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
// A plain array: the exit handler that removes the file runs after static
// objects are gone.
char gPath[128];
char gTempPath[136];

void RemoveFile() {
  std::remove(gPath);
  std::remove(gTempPath);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *Dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::snprintf(gPath, sizeof(gPath), "%s/vyr-fuzz-variables-%d.json", Dir, static_cast<int>(getpid()));
  std::snprintf(gTempPath, sizeof(gTempPath), "%s.tmp", gPath);
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  {
    std::ofstream Out(std::string(gPath), std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Data), static_cast<std::streamsize>(Size));
  }
  vyr::emu::VariableStore Store;
  Store.SetFile(std::string(gPath));
  try {
    Store.Load();
  } catch (const std::runtime_error &) {
    return 0;
  }
  nlohmann::json First = Store.ToJson(true);
  Store.Save();
  vyr::emu::VariableStore Again;
  Again.SetFile(std::string(gPath));
  Again.Load();
  fuzz::Require(Again.ToJson(true) == First);
  return 0;
}
