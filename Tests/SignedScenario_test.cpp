// Signed updates as an operator runs them: a secure capsule handed to the
// BIOS from memory or from the ESP and written at the reset, the same capsule
// on an ordinary platform, RBU images on an OEM secure platform, and what the
// BIOS's refusals and faults leave behind.
#include "UpdateScenarioFixture.h"
#include "vyrpack/SignedImages.h"

#include <functional>

namespace {

using vyr::testing::UpdateScenario;

const std::string kKeys = std::string(VYR_SOURCE_DIR) + "/Tests/keys/";
const std::string kProfiles = std::string(VYR_SOURCE_DIR) + "/Emulator/Profiles/";
constexpr uint32_t kBiosBlock = 0x300000;

class SignedScenario : public UpdateScenario {
 protected:
  static Bytes NewBios() {
    Bytes Data = Image("V1.01");
    Mark(Data, kBiosBlock, 9);
    return Data;
  }
  // The capsule carries the settings it is flashed with.
  static Bytes Capsule(const Bytes &Bios, const std::string &Key = "test-signing", bool DriverSignature = true,
                       const std::string &Ini = "\r\n" + kOpenBvdtIni) {
    vyr::pack::CapsuleParts Parts;
    Parts.bios = Bios;
    Parts.ini = Bytes(Ini.begin(), Ini.end());
    Parts.driverSignature = DriverSignature;
    return vyr::pack::BuildSecureCapsule(Parts, kKeys + Key + ".pem");
  }
  std::string Variable(const std::string &Name) const {
    std::ifstream In(MachineDir() + "/variables.json");
    if (!In) return "";
    for (const auto &V : nlohmann::json::parse(In)) {
      if (V["name"] == Name) return V["data"];
    }
    return "";
  }
  std::string LastWrite() const { return Report()["bios"]["signed"]["lastWrite"].dump(); }
};

// What became of the flash: the old image, the new one, or a mix of both.
enum class After { Old, New, Mixed, NewBlock };

TEST_F(SignedScenario, SecureCapsuleReachesTheFlashAtTheResetOrIsRefused) {
  const Bytes Old = Image("V1.00");
  const Bytes New = NewBios();
  const Bytes Good = Capsule(New);
  Bytes Tampered = Good;
  Tampered[Tampered.size() / 2] ^= 0x01;
  const std::string Refused =
      "The BIOS image to be updated is invalid or\r\nonboard BIOS does not support Secure Flash.\r\n";
  struct Case {
    const char *Name;
    std::string Profile;  // "": the default, ordinary platform
    Bytes File;
    int Exit;
    After Flash;
    std::string Message;
    std::function<void(vyr::emu::Profile &)> Edit = nullptr;
    std::optional<vyr::emu::VolumeKind> Esp;  // a second volume, the ESP
  } Cases[] = {
      {"secure platform, from memory", "signing-secure.json", Good, 0, After::New,
       "                           Update Progress: Completed\r\n"},
      {"secure platform, via the ESP", "signing-secure.json",
       Capsule(New, "test-signing", true, "\r\n[SecureUpdate]\r\nviaESP=1\r\n"), 0, After::New,
       "                           Update Progress: Completed\r\n", nullptr, vyr::emu::VolumeKind::Nvme},
      {"secure platform, via an eMMC ESP", "signing-secure.json",
       Capsule(New, "test-signing", true, "\r\n[SecureUpdate]\r\nviaESP=1\r\n"), 0, After::New,
       "                           Update Progress: Completed\r\n", nullptr, vyr::emu::VolumeKind::Emmc},
      {"via the ESP, but no volume holds \\EFI", "signing-secure.json",
       Capsule(New, "test-signing", true, "\r\n[SecureUpdate]\r\nviaESP=1\r\n"), 1, After::Old, ""},
      {"ordinary platform: the block writer", "", Good, 0, After::NewBlock,
       "                           Update BIOS completed.\r\n"},
      {"signed by an older version", "signing-secure.json", Capsule(New, "test-signing", false), 1, After::Old,
       "The secure BIOS is signed by older version of security flash.\r\n"},
      {"wrongly signed", "signing-secure.json", Capsule(New, "other-signing"), 1, After::Old, Refused},
      {"tampered", "signing-secure.json", Tampered, 1, After::Old, Refused},
      {"the BIOS refuses a good capsule", "signing-secure.json", Good, 1, After::Old, Refused,
       [](vyr::emu::Profile &P) { P.Checks.SecureCapsule.Status = 0x20; }},
      // Forty blocks: past the BVDT, short of the marked block.
      {"the reset fails part-way", "signing-secure.json", Good, 1, After::Mixed, "",
       [](vyr::emu::Profile &P) { P.Checks.SecureCapsule.FailAfterBlocks = 40; }},
      {"the power goes before the reset", "signing-secure.json", Good, 5, After::Old, "",
       [](vyr::emu::Profile &P) { P.Checks.SecureCapsule.PowerCutBeforeReset = true; }},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    std::filesystem::remove_all(MachineDir());
    Profile_ = C.Profile.empty() ? vyr::emu::Profile::Default() : vyr::emu::Profile::Load(kProfiles + C.Profile);
    if (C.Esp) {
      // A data volume without "\EFI" comes first; a stale capsule file on the ESP is replaced.
      Profile_.Volumes = {{"fs0", vyr::emu::VolumeKind::Usb, "fs0", false},
                          {"data", vyr::emu::VolumeKind::Nvme, "data", false},
                          {"esp", *C.Esp, "esp", false}};
      std::filesystem::create_directories(MachineDir() + "/data");
      WriteFile(MachineDir() + "/esp/EFI/Korvath/capsimg.bin", Bytes(C.File.size() + 4096, 0x5A));
    }
    if (C.Edit) C.Edit(Profile_);
    Prepare(Old, C.File, "");
    EXPECT_EQ(C.Exit, Run({"new.fd", "-dbg"})) << Out_ << Err_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    const Bytes Flashed = Flash();
    switch (C.Flash) {
      case After::Old: EXPECT_TRUE(Flashed == Old); break;
      case After::New: EXPECT_TRUE(Flashed == New); break;
      case After::NewBlock: EXPECT_TRUE(SameRange(Flashed, New, kBiosBlock, 0x10000)); break;
      case After::Mixed:
        EXPECT_FALSE(Flashed == Old);
        EXPECT_FALSE(Flashed == New);
        EXPECT_NE(std::string::npos, Err_.find("reset: capsule failed")) << Err_;
        break;
    }
    if (C.Esp) {
      EXPECT_EQ(C.File, ReadFile(MachineDir() + "/esp/EFI/Korvath/capsimg.bin"));
      EXPECT_TRUE(Report()["bios"]["signed"]["capsule"]["fromEsp"]) << Report()["bios"]["signed"].dump();
    }
    // A capsule the secure BIOS took leaves the settings and options for the run after the reset;
    // a refused one leaves none behind.
    const bool Handed = !C.Profile.empty() && (C.Exit == 0 || C.Exit == 5 || C.Flash == After::Mixed);
    EXPECT_EQ(Handed, !Variable("FlashCommand").empty());
    EXPECT_EQ(Handed, !Variable("FlashINISettings").empty());
    if (Handed && C.Exit == 0) {
      // The firmware run after the reset reads them, which deletes them.
      Run({}, {"--firmware"});
      EXPECT_TRUE(Variable("FlashCommand").empty() && Variable("FlashINISettings").empty());
    }
  }
}

TEST_F(SignedScenario, RbuImageIsVerifiedThenFlashedByTheBios) {
  const Bytes Old = Image("V1.00");
  const Bytes New = NewBios();
  const Bytes Good = vyr::pack::BuildRbuImage(New, kKeys + "test-signing.pem");
  Bytes BadSum = Good;
  BadSum[0x154 + kBiosBlock] ^= 0x01;  // a byte of the raw FD; the trailer no longer matches
  struct Case {
    const char *Name;
    Bytes File;
    int Exit;
    After Flash;
    std::string Message;
    std::function<void(vyr::emu::Profile &)> Edit = nullptr;
  } Cases[] = {
      {"good image", Good, 0, After::New, "\r\n                        Flash complete!\r\n"},
      {"bad checksum", BadSum, 1, After::Old, "RBU image checksum fail!\r\n"},
      {"wrongly signed", vyr::pack::BuildRbuImage(New, kKeys + "other-signing.pem"), 1, After::Old,
       "ROM file digital signature failed authentication.\r\n"},
      {"the BIOS refuses a good image", Good, 1, After::Old,
       "Some error occur during calling secure flash interface.\r\n",
       [](vyr::emu::Profile &P) { P.Checks.Rbu.Status = 0x20; }},
      {"the flash fails part-way", Good, 1, After::Mixed, "Secure update failed!\r\n",
       [](vyr::emu::Profile &P) { P.Checks.Rbu.FailAfterBlocks = 40; }},
      {"refused with the fall-back allowed: the block writer", vyr::pack::BuildRbuImage(New, kKeys + "other-signing.pem"),
       0, After::NewBlock, "                           Update BIOS completed.\r\n",
       [](vyr::emu::Profile &P) { P.Checks.Rbu.Fallback = true; }},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    std::filesystem::remove_all(MachineDir());
    Profile_ = vyr::emu::Profile::Load(kProfiles + "signing-oem-rbu.json");
    if (C.Edit) C.Edit(Profile_);
    Prepare(Old, C.File, kOpenBvdtIni);
    EXPECT_EQ(C.Exit, Run({"new.fd"})) << Out_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    const Bytes Flashed = Flash();
    const bool Expected = C.Flash == After::Old        ? Flashed == Old
                          : C.Flash == After::New      ? Flashed == New
                          : C.Flash == After::NewBlock ? SameRange(Flashed, New, kBiosBlock, 0x10000)
                                                       : Flashed != Old && Flashed != New;
    EXPECT_TRUE(Expected);
  }
}

}  // namespace
