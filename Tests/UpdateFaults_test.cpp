// Whole updates meeting the flash part's refusals and faults: blocks the BIOS
// keeps or has locked, verify reads that fail, a power cut half-way; and the
// wake-up alarm armed at the end of a run that shuts down.
#include <cstdio>

#include "UpdateScenarioFixture.h"

namespace {

using vyr::testing::UpdateScenario;

constexpr uint32_t kRomBase = 0xFF800000;
constexpr uint32_t kBlockA = 0x300000;
constexpr uint32_t kBlockB = 0x400000;
constexpr uint32_t kBlockC = 0x500000;

uint32_t Number(const nlohmann::json &HexText) { return (uint32_t)std::stoul(HexText.get<std::string>(), nullptr, 16); }

class UpdateFaults : public UpdateScenario {
 protected:
  void SetUp() override {
    UpdateScenario::SetUp();
    Current_ = Image("V1.00");
    New_ = Image("V1.01");
    Mark(New_, kBlockA, 0x41);
    Mark(New_, kBlockB, 0x42);
    Mark(New_, kBlockC, 0x43);
  }
  // The report's 15h record for a block, or null.
  nlohmann::json BlockWrite(uint32_t Offset) const {
    nlohmann::json Json = Report();
    for (const auto &B : Json["bios"]["blockWrites"]["blocks"]) {
      if (Number(B["address"]) == kRomBase + Offset) return B;
    }
    return nullptr;
  }
  // One attempt per SMI so that a fault on a call number hits one read only.
  const std::string kOneTry = kOpenBvdtIni + "[Others]\r\nSMIErrorRetry=0\r\n";
  Bytes Current_, New_;
};

TEST_F(UpdateFaults, BlocksTheBiosKeepsOrHasLockedKeepTheirContents) {
  Profile_.Flash.SkipRanges = {{kRomBase + kBlockA, 0x10000}};
  Profile_.Flash.LockedRanges = {{kRomBase + kBlockC, 0x10000}};
  Prepare(Current_, New_, kOpenBvdtIni);
  ASSERT_EQ(0, Run({"new.fd", "-dbg"})) << Out_;
  Bytes After = Flash();
  EXPECT_TRUE(SameRange(After, Current_, kBlockA, 0x10000));
  EXPECT_TRUE(SameRange(After, New_, kBlockB, 0x10000));
  EXPECT_TRUE(SameRange(After, Current_, kBlockC, 0x10000));
  EXPECT_TRUE(SameRange(After, New_, kBvdtOffset, 0x10000));
  EXPECT_TRUE(Printed("Update BIOS completed.")) << Out_;
  // 0x29: written once, never verified; the compare read of a locked block
  // answers 0x2A, so it never reaches 15h.
  auto A = BlockWrite(kBlockA);
  EXPECT_EQ("skipped", A["outcome"]) << A;
  EXPECT_EQ(1, A["attempts"]);
  EXPECT_EQ("written", BlockWrite(kBlockB)["outcome"]);
  EXPECT_TRUE(BlockWrite(kBlockC).is_null());
  EXPECT_TRUE(Logged(" Skip this write block\r\n"));
  EXPECT_EQ(1, Report()["completionRequest"]["status"]);

  // Without the compare the locked block goes to 15h and ends the update
  // there: the blocks after it and the BVDT stay old.
  Profile_.Flash.SkipRanges.clear();
  Prepare(Current_, New_, kOneTry);
  EXPECT_EQ(1, Run({"new.fd", "-dc"}));
  After = Flash();
  EXPECT_TRUE(SameRange(After, New_, kBlockB, 0x10000));
  EXPECT_TRUE(SameRange(After, Current_, kBlockC, 0x10000));
  EXPECT_TRUE(SameRange(After, Current_, kBvdtOffset, 0x10000));
  EXPECT_TRUE(Printed("\r\n                           Update BIOS failed!\r\n")) << Out_;
  auto C = BlockWrite(kBlockC);
  EXPECT_EQ("locked", C["outcome"]) << C;
  EXPECT_EQ("0x2A", C["status"]);
  EXPECT_TRUE(BlockWrite(kBlockC + 0x10000).is_null());
  EXPECT_EQ(0, Report()["completionRequest"]["status"]);
}

TEST_F(UpdateFaults, FailedVerifyReadsAreRetriedUpToVerifyErrorRetry) {
  // The BIOS's read-back of the first written block comes back wrong on the
  // first n verify reads; VerifyErrorRetry is 3.
  struct Case {
    uint32_t CorruptReads;
    int Exit;
  } Cases[] = {{2, 0}, {3, 1}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.CorruptReads);
    Profile_.CorruptReadBacks = C.CorruptReads;
    Prepare(Current_, New_, kOneTry);
    EXPECT_EQ(C.Exit, Run({"new.fd", "-dbg"})) << Out_;
    EXPECT_EQ(3, BlockWrite(kBlockA)["attempts"]);
    EXPECT_TRUE(Logged("Verify failed (1)\r\n")) << Log();
    Bytes After = Flash();
    EXPECT_TRUE(SameRange(After, New_, kBlockA, 0x10000));
    if (C.Exit == 0) {
      EXPECT_TRUE(SameRange(After, New_, kBvdtOffset, 0x10000));
    } else {
      EXPECT_TRUE(Printed("\r\n                           Update BIOS failed!\r\n")) << Out_;
      EXPECT_TRUE(BlockWrite(kBlockB).is_null());
      EXPECT_TRUE(SameRange(After, Current_, kBvdtOffset, 0x10000));
      EXPECT_EQ(0, Report()["completionRequest"]["status"]);
    }
  }
}

TEST_F(UpdateFaults, PowerCutKeepsTheWrittenBlocksAndTheOldBvdt) {
  Profile_.PowerCutAfterWrites = 2;
  Prepare(Current_, New_, kOpenBvdtIni);
  EXPECT_EQ(5, Run({"new.fd", "-dbg"})) << Out_ << Err_;
  Bytes After = Flash();
  EXPECT_TRUE(SameRange(After, New_, kBlockA, 0x10000));
  EXPECT_TRUE(SameRange(After, New_, kBlockB, 0x10000));
  EXPECT_TRUE(SameRange(After, Current_, kBlockC, 0x10000));
  EXPECT_TRUE(SameRange(After, Current_, kBvdtOffset, 0x10000));
  EXPECT_FALSE(Printed("Update BIOS completed.")) << Out_;
  auto Json = Report();
  EXPECT_EQ(2, Json["bios"]["powerCut"]["afterWrites"]);
  EXPECT_EQ(kRomBase + kBlockB, Number(Json["bios"]["powerCut"]["address"]));
  EXPECT_TRUE(Json["completionRequest"].is_null());

  // The machine froze with the cut: the log stops in the call the power went
  // in, and what the run logged after it is listed, not written.
  EXPECT_EQ(" Write Address: FFC00000  Size: 10000\r\n===> Fwsmi_15h\r\n", Log().substr(Log().size() - 55)) << Log();
  const auto &Files = Json["bios"]["powerCut"]["droppedFileWrites"];
  ASSERT_EQ(1u, Files.size()) << Files;
  EXPECT_EQ("fs0", Files[0]["volume"]);
  EXPECT_EQ("\\VyrFFT-Secure.Log", Files[0]["path"]);
  EXPECT_EQ("write", Files[0]["operation"]);
  const uint64_t Calls = Files[0]["calls"];
  EXPECT_GT(Calls, 10u);
  EXPECT_EQ(0u, Json["bios"]["powerCut"]["droppedVariableWrites"].size());
  EXPECT_NE(std::string::npos,
            Err_.find("vyrfft: the machine froze at the cut and dropped what the run wrote after it: 0 variable "
                      "writes and " + std::to_string(Calls) + " file writes (fs0:\\VyrFFT-Secure.Log)\n"))
      << Err_;
}

TEST_F(UpdateFaults, AFlashThatCannotBeSavedIsAnErrorAndTheNextRunStartsFromTheOldOne) {
  // flash.bin.tmp taken by a folder: the save cannot even begin, as on a
  // read-only machine directory (chmod does not stop root).
  Prepare(Current_, New_, kOpenBvdtIni);
  std::filesystem::create_directory(MachineDir() + "/flash.bin.tmp");
  EXPECT_EQ(6, Run({"new.fd"})) << Err_;
  EXPECT_TRUE(Printed("Update BIOS completed.")) << Out_;
  const std::string Line = "vyrfft: error: the flash contents could not be saved (" + MachineDir() +
                           "/flash.bin.tmp: Is a directory); flash.bin keeps the flash from before the run, so "
                           "what this run wrote is lost\n";
  EXPECT_NE(std::string::npos, Err_.find(Line)) << Err_;
  EXPECT_EQ(Err_.size(), Err_.find(Line) + Line.size()) << "the error is the last word";
  EXPECT_EQ(Current_, Flash());
  EXPECT_EQ(6, Report()["exitCode"]);
  EXPECT_EQ(MachineDir() + "/flash.bin.tmp: Is a directory", Report()["flashSaveError"]);
  EXPECT_EQ(0, Run({}, {"--identity"}));
  EXPECT_EQ("vyrfft: the BIOS reports model VyrPC, version V1.00, from the BVDT in its flash\n", Out_);

  // With the way clear the same update lands, and leaves no temporary file.
  std::filesystem::remove(MachineDir() + "/flash.bin.tmp");
  ASSERT_EQ(0, Run({"new.fd"})) << Err_;
  EXPECT_TRUE(Report()["flashSaveError"].is_null());
  EXPECT_EQ(New_, Flash());
  EXPECT_FALSE(std::filesystem::exists(MachineDir() + "/flash.bin.tmp"));
  EXPECT_EQ(0, Run({}, {"--identity"}));
  EXPECT_EQ("vyrfft: the BIOS reports model VyrPC, version V1.01, from the BVDT in its flash\n", Out_);
}

TEST_F(UpdateFaults, AutoWakeupArmsTheAlarmWhenTheRunShutsDown) {
  const std::string Ini = kOpenBvdtIni + "[AutoWakeup]\r\nFlag=1\r\nInterval=300\r\n";
  Prepare(Current_, New_, Ini);
  ASSERT_EQ(0, Run({"new.fd", "-s", "-dbg"})) << Out_;
  // The alarm is the RTC time at the end of the run plus the interval, in BCD.
  size_t At = Log().find("[AutoWakeup] enable ");
  ASSERT_NE(std::string::npos, At) << Log();
  unsigned H = 0, M = 0, S = 0;
  ASSERT_EQ(3, std::sscanf(Log().c_str() + At, "[AutoWakeup] enable %u:%u:%u", &H, &M, &S));
  unsigned Alarm = (H * 3600 + M * 60 + S + 300) % 86400;
  auto Bcd = [](unsigned V) { return (V / 10) * 16 + V % 10; };
  auto Json = Report();
  EXPECT_EQ(Bcd(Alarm / 3600), Number(Json["rtc"]["alarm"]["hours"]));
  EXPECT_EQ(Bcd(Alarm % 3600 / 60), Number(Json["rtc"]["alarm"]["minutes"]));
  EXPECT_EQ(Bcd(Alarm % 60), Number(Json["rtc"]["alarm"]["seconds"]));
  EXPECT_EQ(0x20u, Number(Json["rtc"]["registerB"]) & 0xA0);  // alarm interrupt on, clock running
  EXPECT_EQ(1, Json["completionRequest"]["action"]);
  EXPECT_TRUE(Printed("\r\n                           Update Progress: Completed\r\n"));

  // Without a shutdown nothing is armed.
  Prepare(Current_, New_, Ini);
  ASSERT_EQ(0, Run({"new.fd", "-dbg"})) << Out_;
  EXPECT_TRUE(Logged(" action |NOT| shutdown\r\n"));
  const auto Alarm0 = Report()["rtc"]["alarm"];
  EXPECT_EQ(0u, Number(Alarm0["hours"]) | Number(Alarm0["minutes"]) | Number(Alarm0["seconds"]));
  EXPECT_EQ(2, Report()["completionRequest"]["action"]);
}

TEST_F(UpdateFaults, PlatformIniThatCannotBeReadStopsTheRunBeforeAnyWrite) {
  // No memory for the file's contents: its settings would be lost, so the run
  // must not go on as if there were no platform.ini.
  std::string Ini = kModelAndVersionChecksIni + "; " + std::string(4000, 'x') + "\r\n";
  Profile_.PoolFaults = {{1, 1, (uint64_t)Ini.size()}};
  Prepare(Current_, New_, Ini);
  EXPECT_EQ(1, Run({"new.fd"})) << Out_;
  EXPECT_TRUE(Printed("\r\nError: platform.ini cannot be read (Out of Resources).\r\n")) << Out_;
  EXPECT_EQ(Current_, Flash());
  EXPECT_TRUE(Report()["bios"]["blockWrites"]["blocks"].empty());
}

}  // namespace
