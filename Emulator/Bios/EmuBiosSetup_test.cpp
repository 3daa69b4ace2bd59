#include "Bios/EmuBiosSetup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Bios/EmuBios.h"

namespace {

// A set-up carries what a profile configured and nothing of the host's own:
// the contents pointer stays, the answers and maps arrive.
TEST(EmuBiosSetup, RoundTripCarriesTheConfigurationButNotTheContents) {
  static EMU_BIOS From, To;
  EmuBiosInit(&From);
  From.MainFunction = 0xE1;
  From.Flash.BlockMapCount = 2;
  From.Flash.BlockMap[1] = {0x10, 0x30};
  From.Flash.Private[0] = {0xFFF10000u, 0x1000};
  From.Flash.PrivateCount = 1;
  From.Flash.ContentsSize = 0x100000;
  From.Platform.AcPlug = 0x3C;
  From.Checks.CommonFlashPermit = 0x5A5A;
  From.Signed.HasKey = TRUE;
  From.Signed.PublicKey[255] = 0x9D;
  EMU_BIOS_FAULT Fault = {};
  Fault.Function = 0x15;
  Fault.Status = 0x25;
  Fault.FirstCall = 3;
  ASSERT_TRUE(EmuBiosAddFault(&From, &Fault));
  std::vector<UINT8> File(EmuBiosSetupSize());
  ASSERT_TRUE(EmuBiosSaveSetup(&From, 0x00B2, File.data(), File.size()));
  EXPECT_EQ(0, std::memcmp(File.data(), "VYRBIOS1", 8));

  EmuBiosInit(&To);
  UINT8 Host = 0;
  To.Flash.Contents = &Host;
  UINT16 Port = 0;
  ASSERT_TRUE(EmuBiosLoadSetup(&To, File.data(), File.size(), &Port));
  EXPECT_EQ(Port, 0x00B2);
  EXPECT_EQ(To.MainFunction, 0xE1);
  EXPECT_EQ(To.Flash.BlockMap[1].Count, 0x30);
  EXPECT_EQ(To.Flash.Private[0].Address, 0xFFF10000u);
  EXPECT_EQ(To.Flash.ContentsSize, 0x100000u);
  EXPECT_EQ(To.Platform.AcPlug, 0x3C);
  EXPECT_EQ(To.Flash.Contents, &Host);
  EXPECT_EQ(To.Checks.CommonFlashPermit, 0x5A5A);
  EXPECT_EQ(To.Faults[0].FirstCall, 3u);
  // The signing platform's key travels; the host's store does not.
  EXPECT_TRUE(To.Signed.HasKey);
  EXPECT_EQ(To.Signed.PublicKey[255], 0x9D);
  EXPECT_EQ(To.Signed.Store, nullptr);
  EXPECT_EQ(To.Handlers[0x15], From.Handlers[0x15]);  // handlers are the reader's own
}

TEST(EmuBiosSetup, RefusesWhatIsNotASetupOfThisBuild) {
  static EMU_BIOS Bios;
  EmuBiosInit(&Bios);
  std::vector<UINT8> Good(EmuBiosSetupSize());
  ASSERT_TRUE(EmuBiosSaveSetup(&Bios, 0xB2, Good.data(), Good.size()));
  EXPECT_FALSE(EmuBiosSaveSetup(&Bios, 0xB2, Good.data(), Good.size() - 1));
  struct {
    const char *What;
    size_t Offset;  // byte spoiled, or SIZE_MAX for a short file
  } Cases[] = {{"signature", 0}, {"version", 8}, {"platform part size", 16}, {"short file", SIZE_MAX}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.What);
    std::vector<UINT8> Bad = Good;
    if (C.Offset == SIZE_MAX) {
      Bad.pop_back();
    } else {
      Bad[C.Offset] ^= 0x40;
    }
    EmuBiosInit(&Bios);
    Bios.MainFunction = 0x77;
    EXPECT_FALSE(EmuBiosLoadSetup(&Bios, Bad.data(), Bad.size(), nullptr));
    EXPECT_EQ(Bios.MainFunction, 0x77);
  }
}

}  // namespace
