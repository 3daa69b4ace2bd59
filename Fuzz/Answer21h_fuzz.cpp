// The BIOS's 21h answer (the size index in CL and the "$ECPO" record of EC
// part sizes), changed by the input: the part table must stay within its ten
// entries and its whole size must be the sum of what it holds.
#include <cstdint>

#include "Flash/EcUpdate.h"
#include "FuzzHarness.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x21, {'S', EC_PART_RECORD_SIZE}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  EcUpdateResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  mIniSettings.UpdateEC.Ignore_21h = (Mode >> 1) & 1;
  // The EC image size asked about: a size with an index, or any size.
  uint32_t EcSize = (Mode & 4) != 0 ? In.U32() : EcIndexToSize(In.U8() % (EC_SIZE_INDEX_MAX + 1));
  fuzz::Answers() = &In;
  BOOLEAN Fits = SMI_CheckEcPartSize(EcSize);
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);

  const EC_PART_TABLE &Parts = mEcUpdate.Parts;
  fuzz::Require(Parts.PartCount <= EC_PART_MAX);
  uint64_t Whole = 0;
  for (UINT32 Part = 0; Part < Parts.PartCount; Part++) Whole += Parts.PartSize[Part];
  if (mEcUpdate.QueryResult) fuzz::Require(Parts.WholeSize == (Whole > 0xFFFFFFFFull ? 0xFFFFFFFFu : Whole));
  if (Fits) fuzz::Require(mEcUpdate.QueryResult && EcSize <= Parts.WholeSize);
  return 0;
}
