// Whole updates through the launcher: what reaches the flash, what the
// operator reads, what the BIOS is asked to do at the end.
#include "UpdateScenarioFixture.h"

namespace {

using vyr::testing::UpdateScenario;

// Offsets (from the ROM base) of blocks in the default map.
constexpr uint32_t kVariables = 0x200000;   // protected (type 06h)
constexpr uint32_t kPrivate = 0x260000;     // private region
constexpr uint32_t kBiosBlockA = 0x300000;  // plain BIOS region
constexpr uint32_t kBiosBlockB = 0x500000;
constexpr uint32_t kMeBlock = 0x100000;     // ME region

TEST_F(UpdateScenario, WholeRomUpdateWritesWhatDiffersAndTheBvdtLast) {
  Bytes Current = Image("V1.00");
  Bytes New = Image("V1.01");
  Mark(New, kBiosBlockA, 1);
  Mark(New, kBiosBlockB, 2);
  Mark(New, kVariables, 3);
  Mark(New, kPrivate, 4);
  Prepare(Current, New, kModelAndVersionChecksIni + "[UI]\r\nPassUpdateProgressToBios=1\r\n");

  ASSERT_EQ(0, Run({"new.fd", "-dbg"})) << Out_ << Err_;
  Bytes After = Flash();
  EXPECT_TRUE(SameRange(After, New, kBiosBlockA, 0x10000));
  EXPECT_TRUE(SameRange(After, New, kBiosBlockB, 0x10000));
  EXPECT_TRUE(SameRange(After, New, kBvdtOffset, 0x10000));
  EXPECT_TRUE(SameRange(After, Current, kVariables, 0x10000)) << "a protected region was written";
  EXPECT_TRUE(SameRange(After, Current, kPrivate, 0x10000)) << "a private region was written";

  EXPECT_TRUE(Printed("Update BIOS completed."));
  EXPECT_TRUE(Printed("\r\n                           Update Progress: Completed\r\n"));
  EXPECT_TRUE(Printed("V1.00")) << Out_;
  EXPECT_TRUE(Printed("V1.01"));
  EXPECT_TRUE(Logged("Write BVDT block 0xFFA50000 size 0x10000"));
  auto Json = Report();
  EXPECT_EQ(1, Json["completionRequest"]["status"]);  // Flash Entire
  EXPECT_EQ(2, Json["completionRequest"]["action"]);  // [FlashComplete] Action default: reboot
  // Every block's progress went to the BIOS: 128 blocks of 64 KiB, the last index 127.
  EXPECT_EQ((nlohmann::json{{"reports", 128}, {"index", 127}, {"total", 128}}), Json["bios"]["checks"]["progress"]);
  // The two changed open blocks and the BVDT block reach 15h; equal ones are
  // compared and skipped, protected and private ones never written.
  EXPECT_EQ(3, Json["bios"]["blockWrites"]["counts"]["written"]);

  // The next run sees the new identity and refuses the same version.
  Prepare(After, New, kModelAndVersionChecksIni);
  EXPECT_EQ(1, Run({"new.fd"}));
  EXPECT_TRUE(Printed("The version of ROM file is the same as current BIOS.\r\n")) << Out_;
}

TEST_F(UpdateScenario, RefusalsWriteNothingAndLeaveApTerminated) {
  Bytes New = Image("V1.01");
  Mark(New, kBiosBlockA, 6);
  Bytes WithEc(0x20000, 0xEC);
  WithEc.insert(WithEc.end(), New.begin(), New.end());
  Bytes Short = Image("V1.01", 0x22);
  Short.pop_back();
  const auto NewImage = [](const char *Version, const char *Model) {
    Bytes Data = Image(Version, 0xFF, Model);
    Mark(Data, kBiosBlockA, 9);
    return Data;
  };
  struct Case {
    const char *Name;
    Bytes File;
    std::string Ini;
    std::vector<std::string> Args;
    int Exit;
    std::string Message;
  } Cases[] = {
      {"older", NewImage("V0.99", "VyrPC"), kModelAndVersionChecksIni, {"new.fd"}, 1,
       "The version of ROM file is not newer than current BIOS.\r\n"},
      {"model", NewImage("V1.01", "OtherPC"), kModelAndVersionChecksIni, {"new.fd"}, 1, "Model name not match.\r\n"},
      {"format", NewImage("V1.01", "VyrPC"),
       kModelAndVersionChecksIni + "[BIOSVersionFormat]\r\nBIOSVFEnable=1\r\nVersionFormat=NNN\r\n", {"new.fd"}, 1,
       "The version format in [BIOSVersionFormat] invalid.\r\n"},
      {"conflict", NewImage("V1.01", "VyrPC"),
       "[ForceFlash]\r\nALL=1\r\n[Others]\r\nEnableProtectionRegionMovement=1\r\n", {"new.fd"}, 1,
       "Platform.ini can't set [ForceFlash] ALL=1 and [Others] EnableProtectionRegionMovement=1 at the same time\r\n"},
      {"missing FD file", {}, "", {"absent.fd"}, 1, "\r\n    Error:\r\n    the FD file not found. (absent.fd)\r\n\r\n"},
      {"no arguments: the usage after the configuration", {}, "", {}, 0, "Usage: VyrFFT-S.exe filename [Option]"},
      {"region image of the wrong size", Short, "", {"new.fd"}, 1,
       "Error: Size not match!\r\n ROM Size = 0x800000\r\n File Size = 0x7FFFFF\r\n"},
      // Without -ecb/-ecbp/-eob an EC part is a size mismatch.
      {"EC part without an EC option", WithEc, kOpenBvdtIni, {"new.fd"}, 1,
       "Error: Size not match!\r\n ROM Size = 0x800000\r\n File (with EC) Size = 128K\r\n"},
      // What needs an engine this build does not carry is refused before the
      // first write, never after the BIOS is already new.
      {"EC update in a build without it", WithEc, kOpenBvdtIni, {"new.fd", "-ecb"}, 1,
       "Error: The EC update is not supported by this build.\r\n"},
      {"-e past the end of the file", Bytes(0x20000, 0x5A), "", {"new.fd", "-e:0x30000,0,0xFFB00000"}, 1,
       "Error: File offest 0x30000 is bigger than file size 0x20000.\r\n"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes Current = Image("V1.00");
    std::filesystem::remove(FsPath("platform.ini"));
    Prepare(Current, C.File, C.Ini);
    EXPECT_EQ(C.Exit, Run(C.Args));
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    EXPECT_TRUE(Flash() == Current);
    auto Json = Report();
    EXPECT_EQ(0, Json["completionRequest"]["status"]);
    EXPECT_EQ(0, Json["completionRequest"]["action"]);
    EXPECT_EQ(0, Json["bios"]["blockWrites"]["counts"]["written"]);
  }
}

TEST_F(UpdateScenario, WriteFaultPartWayKeepsTheOldBvdt) {
  Bytes Current = Image("V1.00");
  Bytes New = Image("V1.01");
  Mark(New, kBiosBlockA, 1);
  Mark(New, kBiosBlockB, 2);
  // The second 15h call fails on every attempt.
  vyr::emu::BiosFaultConfig Fault;
  Fault.Function = 0x15;
  Fault.Status = 0x01;
  Fault.Call = 2;
  Fault.Count = 0;
  Profile_.BiosFaults = {Fault};
  Prepare(Current, New, kOpenBvdtIni);
  EXPECT_EQ(1, Run({"new.fd", "-dbg"}));
  EXPECT_TRUE(Printed("\r\n                           Update BIOS failed!\r\n")) << Out_;
  Bytes After = Flash();
  EXPECT_TRUE(SameRange(After, New, kBiosBlockA, 0x10000));
  EXPECT_TRUE(SameRange(After, Current, kBiosBlockB, 0x10000));
  EXPECT_TRUE(SameRange(After, Current, kBvdtOffset, 0x10000)) << "the BVDT must be written last";
  EXPECT_EQ(0, Report()["completionRequest"]["status"]);
}

TEST_F(UpdateScenario, BiosRegionImageGoesToItsRegionOnly) {
  Bytes Current = Image("V1.00");
  Mark(Current, kMeBlock, 5);
  Bytes Whole = Image("V1.01", 0x11);
  Bytes Region(Whole.begin() + 0x200000, Whole.end());  // the 6 MiB BIOS region
  Prepare(Current, Region, kOpenBvdtIni);
  ASSERT_EQ(0, Run({"new.fd", "-dbg"})) << Out_;
  Bytes After = Flash();
  EXPECT_TRUE(SameRange(After, Current, 0, 0x200000)) << "descriptor or ME changed";
  EXPECT_TRUE(SameRange(After, Whole, kBiosBlockA, 0x10000));
  EXPECT_TRUE(SameRange(After, Whole, kBvdtOffset, 0x10000));
  EXPECT_EQ(1, Report()["completionRequest"]["status"]);
}

TEST_F(UpdateScenario, EcImageInFrontIsTakenOffWithDashEob) {
  Bytes New = Image("V1.01");
  Mark(New, kBiosBlockA, 6);
  Bytes WithEc(0x20000, 0xEC);
  WithEc.insert(WithEc.end(), New.begin(), New.end());
  // The BIOS part is written, the EC part only checked and kept.
  Prepare(Image("V1.00"), WithEc, kOpenBvdtIni);
  ASSERT_EQ(0, Run({"new.fd", "-eob"})) << Out_;
  EXPECT_TRUE(SameRange(Flash(), New, kBiosBlockA, 0x10000));
}

TEST_F(UpdateScenario, DashEWritesAPieceOfTheFile) {
  Bytes Current = Image("V1.00");
  Prepare(Current, Bytes(0x20000, 0x5A), "");
  ASSERT_EQ(0, Run({"new.fd", "-e:0x10000,0x10000,0xFFB00000"})) << Out_;
  Bytes After = Flash();
  EXPECT_TRUE(std::all_of(After.begin() + 0x300000, After.begin() + 0x310000, [](uint8_t B) { return B == 0x5A; }));
  EXPECT_TRUE(SameRange(After, Current, 0x310000, 0x10000));
  EXPECT_TRUE(Printed("\r         Command -e updating\r\n"));
  EXPECT_EQ(2, Report()["completionRequest"]["status"]);  // Flash Partial
  EXPECT_EQ(0, Report()["completionRequest"]["action"]);
}

TEST_F(UpdateScenario, FirmwareRunWritesThePayloadBios) {
  Bytes Current = Image("V1.00");
  Bytes New = Image("V1.01");
  Mark(New, kBiosBlockA, 7);
  PayloadBios_ = New;
  PayloadIni_ = Bytes(kOpenBvdtIni.begin(), kOpenBvdtIni.end());
  Prepare(Current, {}, "");
  ASSERT_EQ(0, Run({}, {"--firmware"})) << Out_ << Err_;
  EXPECT_TRUE(SameRange(Flash(), New, kBiosBlockA, 0x10000));
  EXPECT_TRUE(SameRange(Flash(), New, kBvdtOffset, 0x10000));
  EXPECT_TRUE(Printed("\r                           Loading New BIOS Image: Done\r\n"));
  EXPECT_TRUE(Printed("\n                           Update Progress: Completed\r\n"));
  EXPECT_EQ(1, Report()["completionRequest"]["status"]);

  // A payload that carries an EC image beside the BIOS needs the EC engine
  // this build does not carry: refused before the first write.
  PayloadExtra_ = {{vyr::pack::RecordKind::Ec, Bytes(0x10000, 0xEC)}};
  Prepare(Current, {}, "");
  EXPECT_EQ(1, Run({}, {"--firmware"}));
  EXPECT_TRUE(Printed("Error: The EC update is not supported by this build.\r\n")) << Out_;
  EXPECT_TRUE(Flash() == Current);
}

// A firmware payload without BIOS data but with an EC image writes the EC
// region of the flash alone and reports a partial flash.
TEST_F(UpdateScenario, FirmwareRunWithoutBiosUpdatesTheEcRegion) {
  Profile_.Flash.ExternalRegions = {
      {0x00, 0x000000, 0x1000, 0x0B}, {0x02, 0x001000, 0x1EF000, 0x0D}, {0x05, 0x1F0000, 0x10000, 0x0D},
      {0x01, 0x200000, 0x600000, 0x0F}};
  Bytes Current = Image("V1.00");
  EmptyPayloadBios_ = true;
  const std::string Ini = kOpenBvdtIni + "[Log_file]\r\nFlag=1\r\nLevel=4\r\n";  // a firmware run has no -dbg
  PayloadIni_ = Bytes(Ini.begin(), Ini.end());
  PayloadExtra_ = {{vyr::pack::RecordKind::Ec, Bytes(0x10000, 0xEC)}};
  Prepare(Current, {}, "");
  ASSERT_EQ(0, Run({}, {"--firmware"})) << Out_ << Err_;
  Bytes After = Flash();
  EXPECT_TRUE(std::all_of(After.begin() + 0x1F0000, After.begin() + 0x200000, [](uint8_t B) { return B == 0xEC; }));
  After.erase(After.begin() + 0x1F0000, After.begin() + 0x200000);
  Current.erase(Current.begin() + 0x1F0000, Current.begin() + 0x200000);
  EXPECT_TRUE(After == Current) << "only the EC region may change";
  EXPECT_TRUE(Printed("\r                           Update EC completed.\r\n")) << Out_;
  EXPECT_TRUE(Logged("Update EC without BIOS\r\n"));
  EXPECT_EQ(2, Report()["completionRequest"]["status"]);  // Flash Partial
}

// After the BIOS a firmware run asks for the factory-copy restore (49h) when
// configured; an Acer platform is told at once that the BIOS is done.
TEST_F(UpdateScenario, FirmwareRunRestoresTheFactoryCopyAndTellsAcer) {
  Bytes Current = Image("V1.00");
  Bytes New = Image("V1.01");
  Mark(New, kBiosBlockA, 3);
  PayloadBios_ = New;
  const std::string Ini = kOpenBvdtIni + "[FactoryCopy]\r\nRestore=1\r\n";
  PayloadIni_ = Bytes(Ini.begin(), Ini.end());
  Profile_.Platform.VendorId = 0x1025;
  Prepare(Current, {}, "");
  ASSERT_EQ(0, Run({}, {"--firmware"})) << Out_ << Err_;
  auto Json = Report();
  EXPECT_EQ(1, Json["bios"]["checks"]["factoryCopyRestore"]["requests"]);
  EXPECT_EQ(1, Json["completionRequest"]["status"]);  // EndProgram's request: Flash Entire
  EXPECT_TRUE(SameRange(Flash(), New, kBiosBlockA, 0x10000));
  // Two 16h calls: Acer's at once (action 0 in CL; its status 1 travels in the
  // buffer), then EndProgram's with the configured reboot.
  std::vector<uint32_t> Actions;
  for (const auto &Call : Json["smi"]) {
    uint32_t Eax = std::stoul(Call["in"]["eax"].get<std::string>(), nullptr, 16);
    if (((Eax >> 8) & 0xFF) != 0x16) continue;
    Actions.push_back(std::stoul(Call["in"]["ecx"].get<std::string>(), nullptr, 16) & 0xFFFF);
  }
  EXPECT_EQ((std::vector<uint32_t>{0, 2}), Actions);

  // A BIOS that cannot restore: the run ends with the message after a key.
  Profile_.Platform.VendorId = 0x1234;
  Profile_.Checks.RestoreStatus = 0xEF;
  Prepare(Current, {}, "");
  EXPECT_EQ(1, Run({}, {"--firmware"}));
  EXPECT_TRUE(Printed("Flash process will be terminated!\r\nRestoring factory copy failed.\r\nIt may cause by "
                      "onboard BIOS doesn't support the FWSMI interface of factory copy restore.\r\nPlease contact "
                      "OEM BIOS engineer to add the feature.\r\n\r\nPress any key to end flash process.\r\n"))
      << Out_;
  EXPECT_EQ(0, Report()["completionRequest"]["status"]);
}

}  // namespace
