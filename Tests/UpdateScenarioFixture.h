// Whole runs through the launcher: a machine directory with a profile, a
// current flash and the files on its first volume, then vyrfft in-process.
#ifndef VYR_TESTS_UPDATE_SCENARIO_FIXTURE_H_
#define VYR_TESTS_UPDATE_SCENARIO_FIXTURE_H_

#include <nlohmann/json.hpp>

#include <sstream>

#include "Machine/Profile.h"
#include "UtilityFixture.h"
#include "vyrfft/Launcher.h"
#include "vyrpack/Bvdt.h"
#include "vyrpack/Payload.h"
#include "vyrpack/PeImage.h"

namespace vyr::testing {

class UpdateScenario : public MachineTest {
 protected:
  using Bytes = std::vector<uint8_t>;
  static constexpr uint32_t kRomSize = 0x800000;
  static constexpr uint32_t kBvdtOffset = 0x250000;  // the default map's BVDT region
  // The default machine reports its OEM data region, which holds the BVDT, as
  // protected: these settings open it so that an update renews the identity.
  static inline const std::string kOpenBvdtIni = "[ForceFlash]\r\nType#0A=1\r\n";
  static inline const std::string kModelAndVersionChecksIni =
      kOpenBvdtIni + "[Platform_Check]\r\nFlag=1\r\n[Bios_Version_Check]\r\nFlag=1\r\n";

  std::string MachineDir() const override { return Dir() + "/m"; }
  std::string FsPath(const std::string &Name) const { return VolumePath(Name); }

  // An image of the ROM size: Fill everywhere, a BVDT at the BVDT region.
  static Bytes Image(const std::string &Version, uint8_t Fill = 0xFF, const std::string &Model = "VyrPC") {
    pack::BvdtStamp Stamp;
    Stamp.model = Model;
    Stamp.version = Version;
    return pack::StampBvdt(Bytes(kRomSize, Fill), kBvdtOffset, Stamp);
  }
  // Marks the 64 KiB block at Offset with a recognisable pattern.
  static void Mark(Bytes &Data, uint32_t Offset, uint8_t Seed) {
    for (uint32_t I = 0; I < 0x10000; I++) Data[Offset + I] = (uint8_t)(Seed + I * 7);
  }

  static void WriteFile(const std::string &Path, const Bytes &Data) {
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
    std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(Data.data()), Data.size());
  }
  static void WriteText(const std::string &Path, const std::string &Text) { WriteFile(Path, Bytes(Text.begin(), Text.end())); }
  static Bytes ReadFile(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }

  // The machine as it stands before the run: profile, current flash, files.
  void Prepare(const Bytes &CurrentFlash, const Bytes &NewImage, const std::string &Ini,
               const std::string &FdName = "new.fd") {
    std::filesystem::create_directories(MachineDir() + "/fs0");
    Profile_.Save(MachineDir() + "/profile.json");
    WriteFile(MachineDir() + "/flash.bin", CurrentFlash);
    if (!NewImage.empty()) WriteFile(FsPath(FdName), NewImage);
    if (!Ini.empty()) WriteText(FsPath("platform.ini"), Ini);
    const std::string Payload = "[Others]\r\nSMIErrorRetry=0\r\n";
    std::vector<pack::PayloadRecord> Records = {
        {pack::RecordKind::Bios, PayloadBios_.empty() ? Bytes(16, 0xFF) : PayloadBios_},
        {pack::RecordKind::Ini, PayloadIni_.empty() ? Bytes(Payload.begin(), Payload.end()) : PayloadIni_},
    };
    Records.insert(Records.end(), PayloadExtra_.begin(), PayloadExtra_.end());
    if (EmptyPayloadBios_) Records.erase(Records.begin());
    const Bytes Stub = pack::BuildStubDriverImage(pack::Arch::Ia32);
    WriteFile(Dir() + "/VyrFFT.efi", pack::AppendPayload(Stub, Records, pack::AppendOptions{EmptyPayloadBios_}).image);
  }

  // One vyrfft run; Args go to the utility.
  int Run(const std::vector<std::string> &Args, const std::vector<std::string> &Launcher = {}) {
    std::vector<std::string> All = {"--machine", MachineDir(), "--driver", Dir() + "/VyrFFT.efi", "--no-terminal",
                                    "--report", Dir() + "/report.json"};
    All.insert(All.end(), Launcher.begin(), Launcher.end());
    All.push_back("--");
    All.insert(All.end(), Args.begin(), Args.end());
    std::ostringstream Out, Err;
    int Code = fft::VyrfftMain(All, Out, Err);
    Out_ = Out.str();
    Err_ = Err.str();
    return Code;
  }

  Bytes Flash() const { return ReadFile(MachineDir() + "/flash.bin"); }
  nlohmann::json Report() const {
    std::ifstream In(Dir() + "/report.json");
    return nlohmann::json::parse(In);
  }
  bool Printed(const std::string &Text) const { return Out_.find(Text) != std::string::npos; }
  static bool SameRange(const Bytes &A, const Bytes &B, uint32_t Offset, uint32_t Size) {
    return std::equal(A.begin() + Offset, A.begin() + Offset + Size, B.begin() + Offset);
  }

  emu::Profile Profile_ = emu::Profile::Default();
  Bytes PayloadBios_;
  bool EmptyPayloadBios_ = false;  // a BIOS record of size 0
  Bytes PayloadIni_;
  std::vector<pack::PayloadRecord> PayloadExtra_;
  std::string Out_;
  std::string Err_;
};

}  // namespace vyr::testing

#endif  // VYR_TESTS_UPDATE_SCENARIO_FIXTURE_H_
