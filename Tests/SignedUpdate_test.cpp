// PFAT updates, -edt extra data and -pbi protect-area writes through the
// launcher, as the operator sees them: the flash, the machine's files, the
// console and the exit code.
#include "UpdateScenarioFixture.h"
#include "vyrpack/SignedImages.h"
#include "vyrpack/Signing.h"

namespace {

using vyr::testing::UpdateScenario;
namespace pack = vyr::pack;

const std::string kKeys = std::string(VYR_SOURCE_DIR) + "/Tests/keys/";
constexpr uint32_t kBiosOffset = 0x200000;  // the default map's BIOS region
constexpr uint32_t kBiosSize = 0x600000;
constexpr uint32_t kBlock = 0x10000;
// Writable BIOS-region blocks with the OEM data area opened: the variables,
// FTW and private areas below and the boot block above stay as they were.
constexpr uint32_t kFirstWritten = 0x250000;
constexpr uint32_t kLastWritten = 0x7BFFFF;
constexpr uint32_t kPrivate = 0x260000;

class SignedUpdate : public UpdateScenario {
 protected:
  void UsePfatPlatform() {
    Profile_.Checks.Pfat = true;
    Profile_.Checks.SigningKey = vyr::pack::PublicModulus(kKeys + "test-signing.pub.pem");
  }
  // The new ROM (every block marked) and its BIOS region as an FD.
  static Bytes NewRom() {
    Bytes Rom = Image("V1.01");
    for (uint32_t At = 0; At < kRomSize; At += kBlock) Mark(Rom, At, uint8_t(At >> 16));
    return pack::StampBvdt(Rom, kBvdtOffset, [] {
      pack::BvdtStamp S;
      S.model = "VyrPC";
      S.version = "V1.01";
      return S;
    }());
  }
  static Bytes BiosFd() {
    const Bytes Rom = NewRom();
    return Bytes(Rom.begin() + kBiosOffset, Rom.end());
  }
  static Bytes Pfat(const std::string &Key = "test-signing.pem") {
    return pack::BuildPfatImage(BiosFd(), kKeys + Key, kBlock);
  }
  bool Written(const Bytes &After) const {
    const Bytes Rom = NewRom();
    return SameRange(After, Rom, kFirstWritten, kPrivate - kFirstWritten) &&
           SameRange(After, Rom, kPrivate + kBlock, kLastWritten + 1 - kPrivate - kBlock);
  }
  static bool Untouched(const Bytes &After, const Bytes &Before, uint32_t Offset, uint32_t Size) {
    return SameRange(After, Before, Offset, Size);
  }
  nlohmann::json PfatReport() const { return Report()["bios"]["signed"]["pfat"]; }
  // The 42h transfers of the run: CX (index and continuation) and EDI (length).
  std::vector<std::pair<uint32_t, uint32_t>> Transfers() const {
    std::vector<std::pair<uint32_t, uint32_t>> Out;
    const nlohmann::json Run = Report();
    for (const auto &Call : Run["smi"]) {
      const auto Hex = [&](const char *Name) { return uint32_t(std::stoul(Call["in"][Name].get<std::string>(), nullptr, 16)); };
      if (((Hex("eax") >> 8) & 0xFF) == 0x42) Out.push_back({Hex("ecx") & 0xFFFF, Hex("edi")});
    }
    return Out;
  }
};

// 86 writable blocks of 96: the packets end (action 0) with block 91.
constexpr int kWritablePackets = 96 - 10;

TEST_F(SignedUpdate, PfatFileOnAPfatPlatform) {
  struct Case {
    const char *Name;
    std::string Key;
    uint32_t PacketLimit;
    uint32_t FailAt;
    int Damage;  // 1: a byte of the FD changed after signing; 2: the whole ROM as the FD
    int Exit;
    int Written;
    std::string Message;
  } Cases[] = {
      {"signed by the platform key", "test-signing.pem", 0x100000, 0, 0, 0, kWritablePackets,
       "\r                           Update PFAT completed.\r\n"},
      {"signed by another key", "other-signing.pem", 0x100000, 0, 0, 1, 0,
       "Error: PFAT update failed.\r\nError code: 0x0000000000000004\r\n"},
      {"packet larger than the BIOS allows", "test-signing.pem", 0x10000, 0, 0, 1, 0,
       "BIOS report physical size = 0x10000\r\nData size for write request = 0x10120\r\n\r\nError: PFAT interface "
       "error.\r\n"},
      {"write fault at the third packet", "test-signing.pem", 0x100000, 3, 0, 1, 2,
       "Error: PFAT update failed.\r\nError code: 0x0000000000000005\r\n"},
      {"checksum broken", "test-signing.pem", 0x100000, 0, 1, 1, 0, "Error: PFAT image NOT valid.\r\n"},
      {"the whole ROM as the FD", "test-signing.pem", 0x100000, 0, 2, 0, 128 - 10,
       "\r                           Update PFAT completed.\r\n"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_ = vyr::emu::Profile::Default();
    UsePfatPlatform();
    Profile_.Checks.PfatPacketLimit = C.PacketLimit;
    Profile_.Checks.PfatFailAtPacket = C.FailAt;
    Bytes File = C.Damage == 2 ? pack::BuildPfatImage(NewRom(), kKeys + C.Key, kBlock) : Pfat(C.Key);
    if (C.Damage == 1) File[0x300000] ^= 1;
    const Bytes Before = Image("V1.00");
    Prepare(Before, File, kOpenBvdtIni);
    // A BIOS-region FD selects its region by itself.
    EXPECT_EQ(C.Exit, Run({"new.fd"})) << Out_;
    if (C.Damage == 2) EXPECT_TRUE(SameRange(Flash(), NewRom(), 0, kBiosOffset));
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    const Bytes After = Flash();
    EXPECT_EQ(C.Exit == 0, Written(After));
    EXPECT_TRUE(Untouched(After, Before, kPrivate, kBlock));
    EXPECT_TRUE(Untouched(After, Before, kLastWritten + 1, kRomSize - kLastWritten - 1));
    if (C.Exit == 0 && C.Damage == 0) {
      const auto Sent = Transfers();
      ASSERT_EQ(size_t(kWritablePackets), Sent.size());
      EXPECT_EQ(std::make_pair(0x05EFu, 0x10120u), Sent.front());  // block 5, more follow
      EXPECT_EQ(std::make_pair(0x5B00u, 0x10120u), Sent.back());   // block 91, the last
    }
    if (C.Damage != 1) {
      EXPECT_EQ(C.Written, PfatReport()["written"]) << PfatReport();
      EXPECT_EQ(C.Exit == 0 ? 1 : 0, PfatReport()["sequences"]);
    }
  }
}

TEST_F(SignedUpdate, PfatRoadsOfTheOtherRuns) {
  struct Case {
    const char *Name;
    bool PfatPlatform;
    bool Firmware;
    bool PlainFd;
    int Exit;
    std::string Message;
  } Cases[] = {
      {"PFAT file on an ordinary platform: its FD through 15h", false, false, false, 0,
       "\r                           Update BIOS completed.\r\n"},
      {"plain FD on a PFAT platform", true, false, true, 1,
       "It only supports to flash PFAT BIOS on current platform.\r\nThe image to be updated is not a PFAT BIOS.\r\n"},
      {"firmware run with the PFAT records", true, true, false, 0,
       "\r                           Update PFAT completed.\r\n"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_ = vyr::emu::Profile::Default();
    if (C.PfatPlatform) UsePfatPlatform();
    const Bytes File = Pfat();
    const Bytes Before = Image("V1.00");
    PayloadExtra_.clear();
    PayloadIni_.clear();
    if (C.Firmware) {
      const Bytes Fd = BiosFd();
      PayloadBios_ = Fd;
      PayloadIni_ = Bytes(kOpenBvdtIni.begin(), kOpenBvdtIni.end());
      PayloadExtra_ = {{pack::RecordKind::PfatHdr, Bytes(File.begin() + Fd.size(), File.begin() + Fd.size() + 32 + 96 * 32)},
                       {pack::RecordKind::PfatCer, Bytes(File.begin() + Fd.size() + 32 + 96 * 32, File.end())}};
    }
    Prepare(Before, C.PlainFd ? BiosFd() : File, kOpenBvdtIni);
    const int Exit = C.Firmware ? Run({}, {"--firmware"}) : Run({"new.fd"});
    EXPECT_EQ(C.Exit, Exit) << Out_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    EXPECT_EQ(C.Exit == 0, Written(Flash()));
    if (!C.PfatPlatform) EXPECT_EQ(0, PfatReport()["packets"]);
    PayloadBios_.clear();
  }
}

TEST_F(SignedUpdate, ExtraDataReachesTheBiosInOrder) {
  Bytes Large(0x40001);
  for (size_t I = 0; I < Large.size(); I++) Large[I] = uint8_t(I * 13 + (I >> 16));
  struct Case {
    const char *Name;
    std::vector<std::string> Args;
    uint32_t Limit;
    int Exit;
    std::map<std::string, Bytes> Stored;
    std::string Message;
  } Cases[] = {
      {"a file, a number, a double word and a string",
       {"-EDT4F:logo.jpg", "-edt9w:0x12345", "-edtcdw:0x12345678", "-edt5s:Hi"},
       0x100000,
       0,
       {{"04", {'J', 'P', 'G'}}, {"09", {0x45, 0x23}}, {"0C", {0x78, 0x56, 0x34, 0x12}}, {"05", {'H', 0, 'i', 0}}},
       "\r                           Update type - 0x5  \r\n\r                           Update Progress: Completed  \r\n"},
      {"a file of five pieces", {"-edt6f:large.bin"}, 0x100000, 0, {{"06", Large}}, "Update Progress: Completed"},
      {"256 KiB in one piece", {"-edt7f:quarter.bin"}, 0x100000, 0, {{"07", Bytes(Large.begin(), Large.end() - 1)}},
       "Update Progress: Completed"},
      {"an item above the BIOS's limit stops the rest",
       {"-edt4f:logo.jpg", "-edt6f:large.bin", "-edt5s:Hi"},
       0x40000,
       1,
       {{"04", {'J', 'P', 'G'}}},
       "Error: The BIOS did not take extra data type 0x6.\r\n"},
      {"a missing file", {"-edt4f:none.jpg"}, 0x100000, 1, {}, "\rLoad file (none.jpg) fail.\r\n"},
      {"a wrong type code", {"-edtds:x"}, 0x100000, 1, {}, "Warning - Type code error. (0x4-0xC)\r\n"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_ = vyr::emu::Profile::Default();
    Profile_.Checks.ExtraDataLimit = C.Limit;
    std::filesystem::remove_all(MachineDir());
    Prepare(Image("V1.00"), {}, "");
    WriteText(FsPath("logo.jpg"), "JPG");
    WriteFile(FsPath("large.bin"), Large);
    WriteFile(FsPath("quarter.bin"), Bytes(Large.begin(), Large.end() - 1));
    EXPECT_EQ(C.Exit, Run(C.Args)) << Out_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    for (const auto &[Type, Data] : C.Stored) {
      EXPECT_EQ(Data, ReadFile(MachineDir() + "/extra-data/type-" + Type + ".bin")) << Type;
    }
    const auto Stored = std::filesystem::exists(MachineDir() + "/extra-data")
                            ? std::distance(std::filesystem::directory_iterator(MachineDir() + "/extra-data"), {})
                            : 0;
    EXPECT_EQ(C.Stored.size(), size_t(Stored));
    if (C.Args == std::vector<std::string>{"-edt6f:large.bin"}) {
      // 0x40001 bytes: four pieces of 64 KiB, then the last byte.
      const std::vector<std::pair<uint32_t, uint32_t>> Pieces = {
          {0x00EF, 0x10000}, {0x01EF, 0x10000}, {0x02EF, 0x10000}, {0x03EF, 0x10000}, {0x0400, 1}};
      EXPECT_EQ(Pieces, Transfers());
    }
    if (C.Args == std::vector<std::string>{"-edt7f:quarter.bin"}) {
      EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{0x0000, 0x40000}}), Transfers());
    }
  }
}

// A firmware volume of Size bytes: the FFS GUID at 10h, header length 48h and,
// when Valid, the header checksum that makes its words sum to 0.
static std::vector<uint8_t> FirmwareVolume(uint32_t Size, bool Valid) {
  std::vector<uint8_t> Fv(Size, 0xFF);
  const uint8_t Guid[16] = {0xD9, 0x54, 0x93, 0x7A, 0x68, 0x04, 0x4A, 0x44,
                            0x81, 0xCE, 0x0B, 0xF6, 0x17, 0xD8, 0x90, 0xDF};
  std::fill(Fv.begin(), Fv.begin() + 0x48, 0);
  std::copy(Guid, Guid + 16, Fv.begin() + 0x10);
  Fv[0x20] = uint8_t(Size >> 0), Fv[0x21] = uint8_t(Size >> 8), Fv[0x22] = uint8_t(Size >> 16);
  std::copy_n("_FVH", 4, Fv.begin() + 0x28);
  Fv[0x30] = 0x48;
  uint16_t Sum = 0;
  for (int At = 0; At < 0x48; At += 2) Sum = uint16_t(Sum + (Fv[At] | Fv[At + 1] << 8));
  const uint16_t Checksum = uint16_t(0x10000 - Sum + (Valid ? 0 : 1));
  Fv[0x32] = uint8_t(Checksum), Fv[0x33] = uint8_t(Checksum >> 8);
  return Fv;
}

TEST_F(SignedUpdate, ProtectAreaWriteChangesOnlyItsArea) {
  struct Case {
    const char *Name;
    std::string Type;
    uint32_t Area;
    Bytes File;
    uint16_t Vendor;
    int Exit;
    std::string Message;
  } Cases[] = {
      {"a file of the area's size", "08", 0x240000, Bytes(0x10000, 0x31), 0x1234, 0,
       "\r                           Update BIOS completed.\r\n"},
      {"a smaller file", "8", 0x240000, Bytes(0x800, 0x32), 0x1234, 0,
       "\r                           Update BIOS completed.\r\n"},
      {"one byte too many", "08", 0x240000, Bytes(0x10001, 0x33), 0x1234, 1,
       "\r\nError:\r\nSize of Profile binary (0x10001) is larger than region size (0x10000)!\r\n"},
      {"a type the platform has not", "33", 0, Bytes(0x100, 0x34), 0x1234, 1,
       "Input protected region type (0x33) not found!\r\n"},
      {"an Acer profile volume", "0A", 0x250000, FirmwareVolume(0x1000, true), 0x1025, 0,
       "\r                           Update BIOS completed.\r\n"},
      {"an Acer profile with a wrong checksum", "0A", 0x250000, FirmwareVolume(0x1000, false), 0x1025, 1,
       "\r\nError: Wrong checksum!\r\n"},
      {"an Acer profile that is no volume", "0A", 0x250000, Bytes(0x1000, 0x35), 0x1025, 1,
       "\r\nSystem BIOS is not KorvathVyr and Profile region cannot be updated!\r\n"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_ = vyr::emu::Profile::Default();
    Profile_.Platform.VendorId = C.Vendor;
    const Bytes Before = Image("V1.00", 0x5A);
    Prepare(Before, C.File, "", "area.bin");
    EXPECT_EQ(C.Exit, Run({"area.bin", "-pbi:" + C.Type})) << Out_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    Bytes Expected = Before;
    if (C.Exit == 0) {
      std::fill(Expected.begin() + C.Area, Expected.begin() + C.Area + 0x10000, 0);
      std::copy(C.File.begin(), C.File.end(), Expected.begin() + C.Area);
    }
    EXPECT_TRUE(Flash() == Expected);
  }
}

}  // namespace
