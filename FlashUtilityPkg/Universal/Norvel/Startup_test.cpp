#include "Startup.h"

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Smi/FwsmiTransport.h"
#include "UtilityFixture.h"
#include "Base/RunState.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::UtilityTest;

class StartupTest : public UtilityTest {
 protected:
  // Function numbers (and the hook code for 1Fh) of the SMI calls made so far.
  std::vector<std::string> Calls() {
    std::vector<std::string> Out;
    for (const auto &Call : M().SmiTranscript()) {
      char Text[16];
      UINT32 Function = (Call.In.Eax >> 8) & 0xFF;
      if (Function == 0x1F) {
        snprintf(Text, sizeof(Text), "1F:%u", Call.In.Ecx);
      } else {
        snprintf(Text, sizeof(Text), "%02X", Function);
      }
      Out.push_back(Text);
    }
    return Out;
  }
};

TEST_F(StartupTest, QueriesRunInOrderOnceAndLaunchIsAnnouncedEveryTime) {
  Boot();
  InitialIniConfig();
  ASSERT_TRUE(Initialize());
  std::vector<std::string> First = Calls();
  ASSERT_GE(First.size(), 4u);
  EXPECT_EQ("10", First[0]);
  EXPECT_EQ("1F:1", First[1]);
  EXPECT_EQ("11", First[2]);
  EXPECT_EQ("1C", First.back());
  UINT8 *Reserve = mStartup.ReserveBuffer;
  UINT8 *Ec = mEcUpdate.ImageBuffer;
  EXPECT_EQ("", Console());

  // A second main entry in the same load: the buffers and the cached answers
  // are reused; only the launch hook point is issued again.
  ASSERT_TRUE(Initialize());
  std::vector<std::string> Second = Calls();
  ASSERT_EQ(First.size() + 1, Second.size());
  EXPECT_EQ("1F:1", Second.back());
  EXPECT_EQ(Reserve, mStartup.ReserveBuffer);
  EXPECT_EQ(Ec, mEcUpdate.ImageBuffer);
}

// Each failure stops the start-up with its message. A failed query gives the
// large buffers back; the FWSMI buffers fail after them and keep them.
TEST_F(StartupTest, FailuresStopWithTheirMessages) {
  auto Query = [](UINT8 Function) {
    return [Function](Profile &P) {
      P.BiosFaults.resize(1);
      P.BiosFaults[0].Function = Function;
      P.BiosFaults[0].Status = 0x26;
      P.BiosFaults[0].Count = 0;
    };
  };
  auto Pool = [](UINT64 Size) {
    return [Size](Profile &P) {
      P.PoolFaults.resize(1);
      P.PoolFaults[0].Size = Size;  // when the 2 MiB buffer fails, the 32 MiB reserve is released first
      P.PoolFaults[0].Count = 0;
    };
  };
  const struct {
    std::function<void(Profile &)> Edit;
    const char *Message;
    int Reserve, Ec;  // 1 kept, 0 released, -1 not looked at
    bool Smi;
  } Cases[] = {
      {Query(0x10), "\r\nError: Initialize\r\nFWSMI 10h failed.\r\n", 0, 0, true},
      {Query(0x11), "\r\nError: Initialize\r\nFWSMI 11h failed.\r\n", 0, 0, true},
      {Query(0x1C), "\r\n\r\nError: FWSMI 1Ch failed.\r\nInternal Error Code 0x26.\r\nFBTS: Erase bios failed.\r\n"
                    "\r\nError: Initialize\r\nFWSMI 1Ch failed.\r\n", 0, 0, true},
      {[](Profile &P) { P.Acpi.SmiCmd = 0; },
       "Error: SMI command port not found!\r\n\r\nError: Initialize\r\nFind SMI port failed.\r\n", -1, -1, false},
      {Pool(0x2000000), "\r\nError: Initialize\r\nAllocate memory failed. (32MB)\r\n", 0, -1, false},
      {Pool(0x200000), "\r\nError: Initialize\r\nAllocate memory failed. (2MB)\r\n", 0, -1, false},
      {[](Profile &P) {
         P.PageFaults.resize(1);
         P.PageFaults[0].Count = 0;
       },
       "Error: Allocate physical memory for FWSMI failed!\r\n", 1, 1, false},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Message);
    ResetModuleState();
    Profile P = Profile::Default();
    Case.Edit(P);
    Boot(P);
    InitialIniConfig();
    mIniSettings.Others.SMIErrorRetry = 0;
    EXPECT_FALSE(Initialize());
    // The print library writes the lone LF of a message as CR LF.
    EXPECT_EQ(Case.Message, Console());
    EXPECT_TRUE(Case.Reserve < 0 || (Case.Reserve == 1) == (mStartup.ReserveBuffer != nullptr));
    EXPECT_TRUE(Case.Ec < 0 || (Case.Ec == 1) == (mEcUpdate.ImageBuffer != nullptr));
    EXPECT_EQ(Case.Smi, !M().SmiTranscript().empty());
  }
}

// The shell flow's banner is asserted with the errors it comes before (FlashTest::Banner).
TEST_F(StartupTest, FirmwareBannerNamesTheBuild) {
  Boot();
  mRun.FirmwareMode = TRUE;
  PrintBanner(TRUE);
  EXPECT_EQ("\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version 1.00.61.01\r\n"
            "         Copyright (c) 2026 Korvath. All rights reserved.\r\n\r\n\r\n",
            Console());
}

}  // namespace
