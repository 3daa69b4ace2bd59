#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Bios/SignedFunctions.h"
#include "Machine/Machine.h"
#include "TempDir.h"
#include "vyrpack/SignedImages.h"
#include "vyrpack/Signing.h"

namespace vyr::emu {
namespace {

namespace fs = std::filesystem;
const std::string kKeys = std::string(VYR_SOURCE_DIR) + "/Tests/keys/";

std::vector<uint8_t> ReadAll(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}

// A secure machine with the test key, kept in a directory, and the calls
// the utility makes on it.
struct SignedMachine : ::testing::Test {
  void SetUp() override {
    Path = Dir / "pc";
    fs::create_directories(Path);
    Profile P = Profile::Default();
    P.Checks.SecureCapsule.Supported = true;
    P.Checks.SecureCapsule.Esp = true;
    P.Checks.SigningKey = vyr::pack::PublicModulus(kKeys + "test-signing.pub.pem");
    Edit(P);
    P.Save(Path + "/profile.json");
    Bios.assign(P.Flash.Size, 0);
    for (size_t I = 0; I < Bios.size(); I++) Bios[I] = uint8_t(I >> 9);
    vyr::pack::CapsuleParts Parts;
    Parts.bios = Bios;
    Capsule = vyr::pack::BuildSecureCapsule(Parts, kKeys + "test-signing.pem");
  }
  virtual void Edit(Profile &) {}
  uint8_t Call(Machine &M, uint8_t Function, uint32_t Ecx, uint32_t Esi, uint32_t Edi) {
    SMI_REGISTERS R = {(uint32_t(Function) << 8) | 0xEF, EMU_BIOS_CALL_SIGNATURE, Ecx, 0xB2, Esi, Edi};
    M.TriggerSmi(R, 0);
    return uint8_t(R.Eax);
  }
  // 48h as the utility makes it, from memory or (Address 0) from the ESP.
  uint8_t Submit(Machine &M, bool FromEsp) {
    uint64_t Image = 0, Buffers = 0;
    EXPECT_EQ(EFI_SUCCESS, M.AllocatePages(0x0FFFFFFF, (Capsule.size() + 0xFFF) / 0x1000, &Image));
    EXPECT_EQ(EFI_SUCCESS, M.AllocatePages(0x0FFFFFFF, 4, &Buffers));
    M.WritePhysical(Image, Capsule.data(), Capsule.size());
    std::vector<uint8_t> List(8200, 0);
    const uint32_t From = FromEsp ? 0 : uint32_t(Image);
    uint32_t Count = 0;
    for (uint32_t Done = 0; Done < Capsule.size(); Done += 0x80000, Count++) {
      const uint32_t Length = std::min<uint32_t>(0x80000, uint32_t(Capsule.size()) - Done), At = From + Done;
      std::memcpy(&List[8 + 16 * Count], &Length, 4);
      std::memcpy(&List[16 + 16 * Count], &At, 4);
    }
    std::memcpy(&List[0], &Count, 4);
    M.WritePhysical(Buffers, List.data(), List.size());
    M.WritePhysical(Buffers + 0x3000, "$EXT\x09\x00\x00\x00\x01", 9);
    return Call(M, 0x48, uint32_t(Capsule.size()), uint32_t(Buffers), uint32_t(Buffers + 0x3000));
  }
  uint8_t Reboot(Machine &M) {
    uint64_t Buffer = 0;
    EXPECT_EQ(EFI_SUCCESS, M.AllocatePages(0x0FFFFFFF, 1, &Buffer));
    M.WritePhysical(Buffer, "$FINISHI\x0D\x00\x00\x00\x01", 13);
    return Call(M, 0x16, EMU_COMPLETION_ACTION_REBOOT, uint32_t(Buffer), 0);
  }
  testing::TempDir Dir;
  std::string Path;
  std::vector<uint8_t> Bios, Capsule;
};

TEST_F(SignedMachine, AcceptedCapsuleWaitsOnDiskForTheNextOpening) {
  std::vector<uint8_t> Before;
  {
    auto M = Machine::OpenDirectory(Path);
    Before = M->FlashContents();
    ASSERT_EQ(0, Submit(*M, false));
    std::string Error;
    ASSERT_TRUE(M->SaveFlashChanges(&Error)) << Error;
    EXPECT_EQ(Capsule, ReadAll(Path + "/capsule-pending.bin"));
    EXPECT_EQ(Before, ReadAll(Path + "/flash.bin"));
    EXPECT_TRUE(M->Report()["bios"]["signed"]["capsule"]["pending"]);
  }
  auto M = Machine::OpenDirectory(Path);
  EXPECT_EQ(Bios, M->FlashContents());
  EXPECT_EQ(Bios, ReadAll(Path + "/flash.bin"));
  EXPECT_FALSE(fs::exists(Path + "/capsule-pending.bin"));
  EXPECT_EQ("reset: capsule applied (128 blocks)", M->ResetNote());
  const nlohmann::json Report = M->Report();
  EXPECT_EQ(1, Report["bios"]["signed"]["capsule"]["applied"]);
  EXPECT_EQ(0, Report["bios"]["blockWrites"]["blocksErased"]);  // the reset's writes are not this run's
}

TEST_F(SignedMachine, EspCapsuleIsAppliedByTheRebootRequest) {
  auto M = Machine::OpenDirectory(Path);
  EXPECT_EQ(EMU_SIGNED_STATUS_NO_FILE, Submit(*M, true));
  fs::create_directories(Path + "/fs0/EFI/Korvath");
  std::ofstream(Path + "/fs0/EFI/Korvath/capsimg.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(Capsule.data()), std::streamsize(Capsule.size()));
  ASSERT_EQ(0, Submit(*M, true));
  EXPECT_TRUE(M->Report()["bios"]["signed"]["capsule"]["fromEsp"]);
  ASSERT_EQ(0, Reboot(*M));
  EXPECT_EQ(Bios, M->FlashContents());
  std::string Error;
  ASSERT_TRUE(M->SaveFlashChanges(&Error)) << Error;
  EXPECT_FALSE(fs::exists(Path + "/capsule-pending.bin"));
  EXPECT_EQ(Bios, ReadAll(Path + "/flash.bin"));
}

struct SignedMachinePowerCut : SignedMachine {
  void Edit(Profile &P) override { P.Checks.SecureCapsule.PowerCutBeforeReset = true; }
};

TEST_F(SignedMachinePowerCut, LosesTheCapsuleAndKeepsTheOldFlash) {
  std::vector<uint8_t> Before;
  {
    auto M = Machine::OpenDirectory(Path);
    Before = M->FlashContents();
    ASSERT_EQ(0, Submit(*M, false));
    EXPECT_TRUE(M->PoweredOff());
    EXPECT_EQ(0xEF, Reboot(*M));  // nothing answers any more
    EXPECT_EQ("power cut after the capsule submission, before the reset", M->Notes().back());
    std::string Error;
    ASSERT_TRUE(M->SaveFlashChanges(&Error)) << Error;
  }
  EXPECT_FALSE(fs::exists(Path + "/capsule-pending.bin"));
  auto M = Machine::OpenDirectory(Path);
  EXPECT_EQ(Before, M->FlashContents());
  EXPECT_EQ("", M->ResetNote());
}

TEST_F(SignedMachine, ExtraDataItemsAreKeptByType) {
  auto M = Machine::OpenDirectory(Path);
  uint64_t Buffer = 0;
  ASSERT_EQ(EFI_SUCCESS, M->AllocatePages(0x0FFFFFFF, 2, &Buffer));
  M->WritePhysical(Buffer, "$EDI\x0E\x00\x00\x00\x04\xFF\x03\x00\x00\x00", 14);
  ASSERT_EQ(0, Call(*M, 0x41, uint32_t(Buffer), 0, 0));
  M->WritePhysical(Buffer + 0x1000, "JPG", 3);
  ASSERT_EQ(0, Call(*M, 0x42, 0, uint32_t(Buffer + 0x1000), 3));
  EXPECT_EQ((std::vector<uint8_t>{'J', 'P', 'G'}), ReadAll(Path + "/extra-data/type-04.bin"));
  EXPECT_EQ(3, M->Report()["bios"]["signed"]["extraData"]["byType"]["0x04"]["size"]);
}

}  // namespace
}  // namespace vyr::emu
