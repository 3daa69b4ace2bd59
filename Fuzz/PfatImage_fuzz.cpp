// A PFAT file as the shell road reads it: the signatures, the checksum and
// the three pieces must be found only inside the file, and the packets cut
// from them must take bytes of those pieces only, whatever the header and
// certificate blocks claim and whatever the BIOS answers.
//
// Input: a mode byte, the image length (4 bytes), the image, then the bytes
// XORed onto the BIOS's 41h and 42h answers.
#include <cstdint>
#include <vector>

#include "Flash/PfatFlash.h"
#include "Flash/RomMap.h"
#include "FuzzHarness.h"
#include "Image/ImageAnalysis.h"
#include "Image/PfatImage.h"
#include "Smi/ExtraDataRequest.h"

namespace {

void Pfat(vyr::emu::Profile &P) { P.Checks.Pfat = true; }

void Ready(vyr::emu::Machine &M) {
  fuzz::Require(SMI_GetFlashPartInfo());
  fuzz::ChangeAnswer(M, 0x41, {'c', EXTRA_DATA_ANSWER_SIZE});
  fuzz::ChangeAnswer(M, 0x42);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(Pfat, Ready);
  PfatImageResetState();
  ExtraDataRequestResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  uint32_t Length = In.U32() % 0x40001;
  std::vector<uint8_t> Image = In.Bytes(Length);
  const UINT32 ImageSize = static_cast<UINT32>(Image.size());
  AnalyzeImage(Image.data(), ImageSize);

  BOOLEAN Found = ProcessPfatImage(Image.data(), ImageSize);
  const PFAT_INFO *Info = GetPfatInfo();
  fuzz::Require(Found == (Info->IsPfat && Info->Signed));
  fuzz::Require(!Info->ChecksumValid || Info->Signed);
  UINT32 Rom = 0, Header = 0, Certificate = 0;
  if (Found && GetPfatPieces(Image.data(), ImageSize, &Rom, &Header, &Certificate)) {
    fuzz::Require(Rom <= Info->HeaderOffset);
    fuzz::Require(static_cast<uint64_t>(Info->HeaderOffset) + Header <= ImageSize);
    fuzz::Require(static_cast<uint64_t>(Info->CertificateOffset) + Certificate <= ImageSize);
    // The packets through the BIOS: one input in four.
    if ((Mode & 6) == 6) {
      fuzz::Answers() = &In;
      RunPfatFlash(Image.data(), Rom, Image.data() + Info->HeaderOffset, Header,
                   Image.data() + Info->CertificateOffset, Certificate);
      fuzz::Answers() = nullptr;
    }
  }
  AnalyzeImage(nullptr, 0);
  fuzz::TraceToScreen(false);
  return 0;
}
