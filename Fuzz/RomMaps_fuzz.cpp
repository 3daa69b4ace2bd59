// The BIOS's answers about the flash (12h, 13h, 17h, 1Eh) and a new image's
// "$FWSMI" map as arbitrary bytes: whatever they say, the utility must read
// them inside their buffers, never overrun the block table and never set a
// protect flag outside it.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "Config/IniSettings.h"
#include "Console/BlockStatus.h"
#include "Console/Trace.h"
#include "Flash/ReadRom.h"
#include "Flash/RomMap.h"
#include "Machine/Machine.h"
#include "NamedFunction.h"
#include "../FlashUtilityPkg/Platform/Host/HostPlatform.h"
#include "Smi/FwsmiTransport.h"

namespace {

const uint8_t *gData = nullptr;
size_t gSize = 0;

// Length bytes of the input from Skew on, repeated, at Address.
UINT8 Answer(EMU_BIOS *Bios, UINT32 Address, size_t Length, size_t Skew) {
  std::vector<uint8_t> Bytes(Length, 0);
  for (size_t Index = 0; gSize != 0 && Index < Length; Index++) Bytes[Index] = gData[(Index + Skew) % gSize];
  return EmuBiosWritePhysical(Bios, Address, Bytes.data(), Bytes.size()) ? 0 : 0x22;
}

UINT8 Answer12h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  return Answer(Bios, Regs->Edi, 2048, 0) | Answer(Bios, Regs->Esi, 2048, 2048);
}
UINT8 Answer13h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  return Answer(Bios, Regs->Edi, 72, 0) | Answer(Bios, Regs->Esi, 0x10000, 72);
}
UINT8 Answer17h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) { return Answer(Bios, Regs->Edi, 512, 7); }
UINT8 Answer1Eh(EMU_BIOS *Bios, SMI_REGISTERS *Regs) { return Answer(Bios, Regs->Edi, 4096, 13); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  gData = Data;
  gSize = Size;
  ResetModuleState();
  vyr::emu::Profile P = vyr::emu::Profile::Default();
  P.Flash.Size = 0x20000;
  // Volumes (none are written) under a scratch directory.
  static const std::string Dir = (std::filesystem::temp_directory_path() / "vyr-fuzz-rommaps").string();
  vyr::emu::Machine M(P, Dir);
  HostPlatformAttach(&M);
  EmuBiosRegisterHandler(&M.Bios(), 0x12, Answer12h);
  EmuBiosRegisterHandler(&M.Bios(), 0x13, Answer13h);
  EmuBiosRegisterHandler(&M.Bios(), 0x17, Answer17h);
  EmuBiosRegisterHandler(&M.Bios(), 0x1E, Answer1Eh);
  InitialIniConfig();
  mIniSettings.Others.SMIErrorRetry = 0;
  mIniSettings.Others.SMIErrorRetryDelay = 0;
  // Tracing on for half the inputs (the traces format every value read, and
  // the block status log runs), at a level that writes nothing: the log file
  // would only slow the runs, and tracing itself is most of their cost.
  mTrace.DebugFlag = Size != 0 && (Data[0] & 2) != 0 ? 1 : 0;
  mTrace.DebugLevel = 0;
  if (AllocateFwsmiBuffers() && InitialSmi()) {
    SMI_GetWholeRomMap(nullptr, nullptr);
    SMI_GetPlatformRomMap();
    if (SMI_GetFlashPartInfo() && GetBlockCount() > BLOCK_TABLE_ENTRIES) __builtin_trap();
    GetExternalRegionMap(Data, static_cast<UINT32>(Size));
    std::vector<uint8_t> Image(Data, Data + Size);  // exact size: reads past it are caught
    ReadBvdtRomMap(Image.data(), static_cast<UINT32>(Image.size()));
    mIniSettings.ForceFlash.UseBvdtRomMap = Size != 0 ? (Data[0] & 1) : 0;
    SetRsvd_13h();
    SetRegionReserve(Size > 1 ? Data[1] : 0);
    // A few groups of the block status log are enough to cover its rows.
    for (UINT32 Index = 0; Index < GetBlockCount() && Index < 512; Index++) {
      LogBlockStatus(GetBlockEntry(Index)->Address, u'W');
    }
    TraceRomBlockProtectTable();
  }
  ResetModuleState();
  HostPlatformAttach(nullptr);
  return 0;
}
