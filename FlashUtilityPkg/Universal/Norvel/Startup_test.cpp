#include "Startup.h"

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Smi/FwsmiTransport.h"
#include "UtilityFixture.h"

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
  UINT8 *Ec = mStartup.EcImageBuffer;
  EXPECT_EQ("", Console());

  // A second main entry in the same load: the buffers and the cached answers
  // are reused; only the launch hook point is issued again.
  ASSERT_TRUE(Initialize());
  std::vector<std::string> Second = Calls();
  ASSERT_EQ(First.size() + 1, Second.size());
  EXPECT_EQ("1F:1", Second.back());
  EXPECT_EQ(Reserve, mStartup.ReserveBuffer);
  EXPECT_EQ(Ec, mStartup.EcImageBuffer);
}

TEST_F(StartupTest, FailedQueriesStopWithTheirMessagesAndReleaseTheBuffers) {
  struct { UINT8 Function; const char *Message; } Cases[] = {
      {0x10, "\r\nError: Initialize\r\nFWSMI 10h failed.\r\n"},
      {0x11, "\r\nError: Initialize\r\nFWSMI 11h failed.\r\n"},
      {0x1C, "\r\n\r\nError: FWSMI 1Ch failed.\r\nInternal Error Code 0x26.\r\nFBTS: Erase bios failed.\r\n"
             "\r\nError: Initialize\r\nFWSMI 1Ch failed.\r\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(int(Case.Function));
    ResetModuleState();
    Profile P = Profile::Default();
    vyr::emu::BiosFaultConfig Fault;
    Fault.Function = Case.Function;
    Fault.Status = 0x26;
    Fault.Count = 0;
    P.BiosFaults = {Fault};
    Boot(P);
    InitialIniConfig();
    mIniSettings.Others.SMIErrorRetry = 0;
    EXPECT_FALSE(Initialize());
    EXPECT_EQ(Case.Message, Console());
    EXPECT_EQ(nullptr, mStartup.ReserveBuffer);
    EXPECT_EQ(nullptr, mStartup.EcImageBuffer);
  }
}

TEST_F(StartupTest, MissingSmiPortStopsTheStartUp) {
  Profile P = Profile::Default();
  P.Acpi.SmiCmd = 0;
  Boot(P);
  InitialIniConfig();
  EXPECT_FALSE(Initialize());
  EXPECT_EQ("Error: SMI command port not found!\r\n\r\nError: Initialize\r\nFind SMI port failed.\r\n", Console());
  EXPECT_TRUE(M().SmiTranscript().empty());
}

TEST_F(StartupTest, LargeBufferFailures) {
  struct { UINT64 FailingSize; const char *Message; } Cases[] = {
      {0x2000000, "\r\nError: Initialize\r\nAllocate memory failed. (32MB)\r\n"},
      {0x200000, "\r\nError: Initialize\r\nAllocate memory failed. (2MB)\r\n"},
  };
  for (const auto &Case : Cases) {
    ResetModuleState();
    Profile P = Profile::Default();
    vyr::emu::AllocFaultConfig Fault;
    Fault.Size = Case.FailingSize;
    Fault.Count = 0;
    P.PoolFaults = {Fault};
    Boot(P);
    InitialIniConfig();
    EXPECT_FALSE(Initialize());
    EXPECT_EQ(Case.Message, Console());
    // The print library writes the lone LF of the message as CR LF.
    // When the 2 MiB buffer fails, the 32 MiB reserve is released first.
    EXPECT_EQ(nullptr, mStartup.ReserveBuffer);
    EXPECT_TRUE(M().SmiTranscript().empty());
  }
}

TEST_F(StartupTest, FwsmiBufferFailureKeepsTheLargeBuffers) {
  Profile P = Profile::Default();
  vyr::emu::AllocFaultConfig Fault;
  Fault.Count = 0;
  P.PageFaults = {Fault};
  Boot(P);
  InitialIniConfig();
  EXPECT_FALSE(Initialize());
  EXPECT_EQ("Error: Allocate physical memory for FWSMI failed!\r\n", Console());
  EXPECT_NE(nullptr, mStartup.ReserveBuffer);
  EXPECT_NE(nullptr, mStartup.EcImageBuffer);
}

TEST_F(StartupTest, BannerWithAndWithoutBuild) {
  Boot();
  PrintBanner(FALSE);
  const std::string Further = "         Copyright (c) 2026 Korvath. All rights reserved.";
  EXPECT_EQ("\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version 1.4b-Beta5\r\n" + Further +
                "\r\n\r\n\r\n",
            Console());
  ResetModuleState();
  Boot();
  mRun.FirmwareMode = TRUE;
  PrintBanner(TRUE);
  EXPECT_EQ("\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version 1.00.61.01\r\n" + Further +
                "\r\n\r\n\r\n",
            Console());
}

}  // namespace
