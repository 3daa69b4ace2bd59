// Shell packages built by vyrpack and run by vyrfft: which image a machine
// gets, what the package's filter and options do, -extrFD, -OemCus and
// multi-SKU images, as the operator sees them.
#include "UpdateScenarioFixture.h"
#include "vyrpack/Package.h"

namespace {

using vyr::testing::UpdateScenario;

constexpr uint32_t kBiosBlock = 0x300000;  // a plain BIOS block of the default map
constexpr const char *kPackage = "Flash.efi";

class PackageScenario : public UpdateScenario {
 protected:
  // Three images told apart by the pattern of one BIOS block.
  static Bytes Numbered(uint8_t Seed, const std::string &Model = "VyrPC") {
    Bytes Data = Image("V1.01", 0xFF, Model);
    Mark(Data, kBiosBlock, Seed);
    return Data;
  }
  static Bytes Ini(const std::string &Text) { return Bytes(Text.begin(), Text.end()); }
  static vyr::pack::PackageInput ThreeImages() {
    vyr::pack::PackageInput In;
    In.application = vyr::pack::BuildStubDriverImage(vyr::pack::Arch::Ia32);
    In.images = {{"a.fd", Numbered(1)}, {"b.fd", Numbered(2)}, {"c.fd", Numbered(3)}};
    In.filter = "/extrFD /OemCus /all /pq";
    return In;
  }
  void Install(const vyr::pack::PackageInput &In) {
    Prepare(Image("V1.00"), {}, "");
    WriteFile(FsPath(kPackage), vyr::pack::BuildPackage(In));
  }
  int RunPackage(const std::vector<std::string> &Args) { return Run(Args, {"--program", kPackage}); }
  // Which of the three images reached the flash (0: none of them).
  int Flashed() const {
    const Bytes After = Flash();
    for (uint8_t Seed = 1; Seed <= 3; Seed++) {
      if (SameRange(After, Numbered(Seed), kBiosBlock, 0x10000)) return Seed;
    }
    return 0;
  }
};

TEST_F(PackageScenario, TheMachineGetsTheImageItsPackageSelects) {
  const std::string MultiFd = "[MULTI_FD]\r\nFlag=1\r\n";
  struct Case {
    const char *Name;
    std::optional<std::string> Ini;
    std::string Options;
    std::vector<std::string> Args;
    int Exit;
    int Image;
    std::string Message;
    int Damage = 0;  // 1: the third image lies past the end; 2: the second's header is gone
  } Cases[] = {
      {"no INI: the first", std::nullopt, "", {}, 0, 1, "Update BIOS completed."},
      {"INI without multi-FD: the first", std::string("[UI]\r\n"), "", {}, 0, 1, "Update BIOS completed."},
      {"by model name, the third", MultiFd + "FD#01=ID,VyrPC,c.fd\r\n", "", {}, 0, 3, "Update BIOS completed."},
      {"by PCI value, the second",
       MultiFd + "FD#01=ID,OtherPC,c.fd\r\nFD#02=PCI,0,1F,0,00,FFFFFFFF,3B0B8086,B.FD\r\n", "", {}, 0, 2,
       "Update BIOS completed."},
      {"no entry matches", MultiFd + "FD#01=ID,OtherPC,c.fd\r\n", "", {}, 1, 0, "No match file in Multi-FD.\r\n"},
      {"the entry names no packed image", MultiFd + "FD#01=ID,VyrPC,d.fd\r\n", "", {}, 1, 0,
       "    The package holds no BIOS image named d.fd.\r\n"},
      {"the filter refuses an option", std::nullopt, "", {"-bios"}, 1, 0,
       "Error command: -bios (Not supports on current package)\r\n"},
      {"a built-in option runs", std::nullopt, "-pq", {}, 0, 0, "                Protection Region MAP\r\n"},
      {"the selected image is damaged", MultiFd + "FD#01=ID,VyrPC,c.fd\r\n", "", {}, 1, 0,
       "    The package is damaged: BIOS image 3: its data lies outside the file.\r\n", 1},
      {"a header missing in the middle", MultiFd + "FD#01=ID,VyrPC,c.fd\r\n", "", {}, 0, 3,
       "Update BIOS completed.", 2},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_.Pci = {{0, 0x1F, 0, 0, 0x3B0B8086}};
    auto In = ThreeImages();
    if (C.Ini) In.ini = Ini(*C.Ini);
    In.options = C.Options;
    Install(In);
    if (C.Damage != 0) {
      Bytes File = ReadFile(FsPath(kPackage));
      const auto View = vyr::pack::ReadPackage(File);
      if (C.Damage == 1) File[View.images.at(2).headerOffset + 12] = 0x7F;
      if (C.Damage == 2) File[View.images.at(1).headerOffset] = 'x';
      WriteFile(FsPath(kPackage), File);
    }
    EXPECT_EQ(C.Exit, RunPackage(C.Args)) << Out_;
    EXPECT_EQ(C.Image, Flashed());
    EXPECT_TRUE(Printed(C.Message)) << Out_;
  }
}

TEST_F(PackageScenario, ExtrFdWritesEveryPackedImage) {
  const auto In = ThreeImages();
  struct Case {
    const char *Name;
    std::vector<std::string> Args;
    std::string Directory;
  } Cases[] = {
      {"beside the package", {"-extrFD"}, "Flash_FD"},
      {"into a named directory", {"-extrFD", "out"}, "out"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Install(In);
    ASSERT_EQ(0, RunPackage(C.Args)) << Out_;
    for (const auto &Packed : In.images) {
      EXPECT_EQ(Packed.data, ReadFile(FsPath(C.Directory + "/" + Packed.name))) << Packed.name;
      EXPECT_TRUE(Printed("       extracts to... " + C.Directory + "\\" + Packed.name + "\r\n")) << Out_;
    }
    EXPECT_EQ(0, Flashed());
  }
}

TEST_F(PackageScenario, ExtrFdRefusalsNameWhatWasWrong) {
  // A package whose third image lies past the end of the file.
  auto Damaged = vyr::pack::BuildPackage(ThreeImages());
  const auto View = vyr::pack::ReadPackage(Damaged);
  const uint64_t Header = View.images.at(2).headerOffset;
  Damaged[Header + 9] = 0xF0;
  Damaged[Header + 12] = 0x7F;

  struct Case {
    const char *Name;
    std::optional<Bytes> Package;
    bool ReadOnly;
    std::string Message;
  } Cases[] = {
      {"no package", std::nullopt, false, "       command -extrFD supports in package mode ONLY.\r\n"},
      {"read-only volume", vyr::pack::BuildPackage(ThreeImages()), true,
       "       Create specific Directory fail. (Flash_FD)\r\n"},
      {"damaged package", Damaged, false, "The package is damaged: BIOS image 3: its data lies outside the file."},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_.Volumes = {{"fs0", vyr::emu::VolumeKind::Usb, "fs0", C.ReadOnly}};
    std::filesystem::remove_all(MachineDir());
    Prepare(Image("V1.00"), {}, "");
    if (C.Package) WriteFile(FsPath(kPackage), *C.Package);
    EXPECT_EQ(1, RunPackage({"-extrFD"})) << Out_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    EXPECT_FALSE(std::filesystem::exists(FsPath("Flash_FD/c.fd")));
  }
}

TEST_F(PackageScenario, OemCusWordsReachTheBios) {
  struct Case {
    const char *Name;
    std::vector<std::string> Args;
    int Exit;
    nlohmann::json Sent;
    std::string Message;
  } Cases[] = {
      {"two words and an EC update",
       {"new.fd", "-OemCus", "cus_line1", "/oemcus", "CUS2", "-ecb"},
       1,
       {"CUS_LINE1", "CUS2", "ECCMD"},
       ""},
      {"a word without the prefix", {"new.fd", "-OemCus", "line1"}, 1, nlohmann::json::array(),
       "    Invalid parameter \"line1\".\r\n    The parameter have to with prefix \"CUS\".\r\n"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Prepare(Image("V1.00"), Numbered(1), "");
    EXPECT_EQ(C.Exit, Run(C.Args)) << Out_;
    EXPECT_EQ(C.Sent, Report()["bios"]["checks"]["oemStrings"]["sent"]) << Out_;
    EXPECT_TRUE(Printed(C.Message)) << Out_;
  }
}

TEST_F(PackageScenario, MultiSkuImageGivesEachModelItsOwn) {
  const Bytes Capsule = vyr::pack::BuildMultiSku({{"sku-a", Numbered(1, "OtherPC")}, {"sku-b", Numbered(2, "VyrPC")}});
  struct Case {
    const char *Name;
    std::string Model;
    bool Firmware;
    int Image;
  } Cases[] = {
      {"shell run, matching model", "VyrPC", false, 2},
      {"firmware run, matching model", "VyrPC", true, 2},
      {"no model matches", "ThirdPC", false, 0},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_.Platform.VendorId = 0x1028;
    Profile_.Platform.ModelName = C.Model;
    PayloadBios_ = Capsule;
    Prepare(Image("V1.00", 0xFF, C.Model), Capsule, "");
    // A Dell platform asks before it flashes.
    const int Exit = C.Firmware ? Run({}, {"--firmware", "--keys", "y"}) : Run({"new.fd"}, {"--keys", "y"});
    EXPECT_EQ(C.Image != 0 ? 0 : 1, Exit) << Out_;
    EXPECT_EQ(C.Image, Flashed());
  }
}

}  // namespace
