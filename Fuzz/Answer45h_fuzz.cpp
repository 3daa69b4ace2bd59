// The BIOS's 45h answer (status and the "$CHKCNDO" structure in the request
// buffer), changed by the input, for a datum from the input: the judgement
// is taken only from a structure with its signature and size.
#include <cstdint>

#include "FuzzHarness.h"
#include "Image/Bvdt.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x45, {'c', CHECK_CONDITION_OUTPUT_MIN_SIZE + 16}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  uint8_t Type = In.U8();
  uint8_t Format = In.U8() % 5;  // 4: refused before the call
  uint16_t Length = In.U16();
  // The datum: what the length claims, as far as the input has it (an
  // exact-size copy, read at most Length bytes).
  std::vector<uint8_t> Datum = In.Bytes(Length % 512);
  Datum.resize(Length, 0);
  fuzz::Answers() = &In;
  UINT8 Result = 0x5A;
  BOOLEAN Judged = SMI_CheckConditionalData(Type, Format, Length, Datum.data(), &Result);
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  fuzz::Require(Judged || Result == 0x5A);
  fuzz::Require(!Judged || Format < 4);
  return 0;
}
