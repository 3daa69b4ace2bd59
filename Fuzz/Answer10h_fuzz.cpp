// The BIOS's 10h answer (permission, interface version, the 1024-byte
// platform status with its "$BIOSCHK" and "$CMDFILT" structures), changed by
// the input: the support query must take only what lies inside the answer
// and keep the command filter within its bitmap.
#include <cstdint>

#include "FuzzHarness.h"
#include "Smi/PlatformQueries.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x10, {'D', PLATFORM_STATUS_OUTPUT_SIZE}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  PlatformQueryResetState();
  fuzz::Reader In(Data, Size);
  fuzz::TraceToScreen((In.U8() & 7) == 1);
  fuzz::Answers() = &In;
  SMI_IsSupport();
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);

  COMMAND_FILTER_TABLE Table;
  fuzz::Require(GetCommandFilterTable(&Table));
  // Bits beyond the bitmap or the reported length are never set.
  for (UINTN Byte = 0; Byte < COMMAND_FILTER_BITMAP_BYTES + 4; Byte++) {
    for (UINTN Bit = 0; Bit < 9; Bit++) {
      BOOLEAN Set = IsCommandFilterBitSet(&Table, Byte, Bit);
      fuzz::Require(!Set || (Byte < Table.Length && Byte < COMMAND_FILTER_BITMAP_BYTES && Bit < 8));
    }
  }
  UINT8 Power[POWER_STATUS_SIZE];
  fuzz::Require(GetPowerStatus(Power));
  fuzz::Require(Power[POWER_DC_LIFE_VALID] <= 1);
  return 0;
}
