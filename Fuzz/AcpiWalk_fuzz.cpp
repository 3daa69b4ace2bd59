// The ACPI and F-segment walks of the SMI set-up: the RSDP, the RSDT and its
// entries, the FACP's SMI command port and DSDT, the FWSM table's reserved
// memory, and the "$FWSMI" search of the F-segment, over tables changed by
// the input. Every read must stay in memory the machine has, and a reserved
// memory smaller than 64 KiB must never become the exchange buffers.
//
// Input: the length of the ACPI part (2 bytes), bytes XORed onto the ACPI
// tables from their region's start, then bytes XORed onto the F-segment from
// the "$FWSMI" signature on. Zeros leave the machine's own tables.
#include <cstdint>
#include <vector>

#include "FuzzHarness.h"

namespace {

constexpr uint32_t kSignatureAddress = 0xF0000;
std::vector<uint8_t> gAcpi;   // the tables as built
std::vector<uint8_t> gFseg;   // the F-segment from the signature, as built
FWSMI_TRANSPORT gTransport;   // the transport as set up

void Edit(vyr::emu::Profile &P) {
  P.Acpi.Fwsm = true;
  P.Acpi.DsdtOemId = "ACRSYS";
  P.Fsegment.SignatureAddress = kSignatureAddress;
}

void Ready(vyr::emu::Machine &M) {
  gAcpi.assign(M.Acpi().RegionSize, 0);
  fuzz::Require(M.ReadPhysical(M.Acpi().RegionBase, gAcpi.data(), gAcpi.size()));
  gFseg.assign(0x100000 - kSignatureAddress, 0);
  fuzz::Require(M.ReadPhysical(kSignatureAddress, gFseg.data(), gFseg.size()));
  gTransport = mFwsmi;
}

void XorOnto(vyr::emu::Machine &M, uint64_t Base, const std::vector<uint8_t> &Built, fuzz::Reader &In, size_t Count) {
  std::vector<uint8_t> Bytes(Built);
  std::vector<uint8_t> Mask(Count < Bytes.size() ? Count : Bytes.size());
  In.Fill(Mask.data(), Mask.size());
  for (size_t Index = 0; Index < Mask.size(); Index++) Bytes[Index] ^= Mask[Index];
  fuzz::Require(M.WritePhysical(Base, Bytes.data(), Bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  vyr::emu::Machine &M = fuzz::SharedMachine(Edit, Ready);
  fuzz::Reader In(Data, Size);
  uint16_t AcpiLength = In.U16();
  XorOnto(M, M.Acpi().RegionBase, gAcpi, In, AcpiLength);
  XorOnto(M, kSignatureAddress, gFseg, In, In.Left());
  fuzz::TraceToScreen(AcpiLength % 8 == 1);

  // A fresh transport whose buffers are not the set-up's: a reserved memory
  // found here must not free those.
  FwsmiResetState();
  fuzz::Require(FindSMICommandPort() == (mFwsmi.CommandPort != 0));
  UINT8 *Table = nullptr;
  UINT32 Length = 0;
  if (GetAcpiFwsmTable(&Table, &Length)) {
    fuzz::Require(Table != nullptr && Length <= 0x10000);
    FreePool(Table);
  }
  InitBiosReservedMemory();
  if (mFwsmi.Reserved != 0) fuzz::Require(mFwsmi.ReservedSize >= 0x10000);
  IsAcerPlatform();
  fuzz::TraceToScreen(false);
  mFwsmi = gTransport;
  return 0;
}
