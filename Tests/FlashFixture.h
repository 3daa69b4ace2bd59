// A fresh utility on a fresh emulated PC whose flash part a test shapes, with
// the SMI set up as start-up does it and the trace going to the log.
#ifndef VYR_TESTS_FLASH_FIXTURE_H_
#define VYR_TESTS_FLASH_FIXTURE_H_

#include <functional>
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Base/Trace.h"
#include "Flash/RomMap.h"
#include "Smi/FwsmiTransport.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"

namespace vyr::testing {

class FlashTest : public UtilityTest {
 protected:
  using Edit = std::function<void(emu::Profile &)>;

  void Start(const Edit &Change = nullptr) {
    ResetModuleState();
    emu::Profile P = emu::Profile::Default();
    if (Change) Change(P);
    Boot(P);
    InitialIniConfig();
    mIniSettings.Others.SMIErrorRetry = 0;
    mTrace.DebugFlag = 1;
    mTrace.DebugLevel = 4;
    ASSERT_TRUE(AllocateFwsmiBuffers());
    ASSERT_TRUE(InitialSmi());
  }
  // Start, then the queries start-up makes: 1Eh, 12h, 13h.
  void StartWithMaps(const Edit &Change = nullptr) {
    Start(Change);
    ASSERT_TRUE(SMI_GetWholeRomMap(nullptr, nullptr));
    ASSERT_TRUE(SMI_GetPlatformRomMap());
    ASSERT_TRUE(SMI_GetFlashPartInfo());
  }

  UINT32 CallsOf(UINT8 Function) { return M().Bios().CallCount[Function]; }
  std::string Log() { return ReadVolumeFile("VyrFFT-Secure.Log"); }
  bool Logged(const std::string &Text) { return Log().find(Text) != std::string::npos; }
  // The log from the first line starting with First up to and including the
  // line starting with Last.
  std::string LogBlock(const std::string &First, const std::string &Last) {
    std::string Text = Log();
    size_t Begin = Text.find(First);
    if (Begin == std::string::npos) return "<" + First + " not logged>";
    size_t End = Text.find(Last, Begin);
    if (End == std::string::npos) return "<" + Last + " not logged>";
    return Text.substr(Begin, Text.find("\r\n", End) + 2 - Begin);
  }


 public:
  // Protect flags of Count blocks from block First: 'R' or '.'.
  static std::string Flags(UINT32 First, UINT32 Count) {
    std::string Out;
    for (UINT32 Index = First; Index < First + Count; Index++) {
      const BLOCK_ENTRY *Block = GetBlockEntry(Index);
      Out += Block == nullptr ? '?' : (Block->Protect != 0 ? 'R' : '.');
    }
    return Out;
  }

  // A "$FWSMI" ROM map as a new image carries it: 10-byte entries, then 0xFF.
  struct BvdtEntry {
    UINT8 Type;
    UINT32 Address, Size;
    UINT8 Action;
  };
  static std::vector<UINT8> BvdtImage(const std::vector<BvdtEntry> &Entries, size_t Lead = 0x40,
                                      bool Terminated = true) {
    std::vector<UINT8> Image(Lead, 0x5A);
    const char Signature[] = "$FWSMI";
    Image.insert(Image.end(), Signature, Signature + 6);
    for (const BvdtEntry &E : Entries) {
      UINT8 Bytes[10];
      Bytes[0] = E.Type;
      WriteUnaligned32(Bytes + 1, E.Address);
      WriteUnaligned32(Bytes + 5, E.Size);
      Bytes[9] = E.Action;
      Image.insert(Image.end(), Bytes, Bytes + 10);
    }
    if (Terminated) {
      Image.push_back(0xFF);
      Image.resize(Image.size() + 15, 0xFF);
    }
    return Image;
  }

 protected:
  static std::string Banner() {
    return "\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version 1.4b-Beta5\r\n"
           "         Copyright (c) 2026 Korvath. All rights reserved.\r\n\r\n\r\n";
  }
};

}  // namespace vyr::testing

#endif  // VYR_TESTS_FLASH_FIXTURE_H_
