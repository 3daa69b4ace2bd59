#include "Bios/EmuBiosSetup.h"

#include "Bios/EmuBytes.h"

namespace {

using namespace emu_bytes;

CONST CHAR8 mSignature[8] = {'V', 'Y', 'R', 'B', 'I', 'O', 'S', '1'};
CONST UINTN kHeaderSize = 16;


typedef struct {
  UINTN Offset;  // within EMU_BIOS
  UINTN Size;
} SETUP_PART;

CONST UINTN kParts = 5;

VOID Parts(SETUP_PART Part[kParts]) {
  Part[0] = {(UINTN)__builtin_offsetof(EMU_BIOS, Platform), sizeof(EMU_PLATFORM)};
  Part[1] = {(UINTN)__builtin_offsetof(EMU_BIOS, Checks), sizeof(EMU_CHECKS)};
  // The flash part up to its contents pointer, which stays the host's own.
  Part[2] = {(UINTN)__builtin_offsetof(EMU_BIOS, Flash), (UINTN)__builtin_offsetof(EMU_FLASH, Contents)};
  Part[3] = {(UINTN)__builtin_offsetof(EMU_BIOS, Faults), sizeof(((EMU_BIOS *)0)->Faults)};
  // The signing platform up to the buffers the host lends it.
  Part[4] = {(UINTN)__builtin_offsetof(EMU_BIOS, Signed), (UINTN)__builtin_offsetof(EMU_SIGNED, StoreCapacity)};
}

}  // namespace

UINTN EmuBiosSetupSize(VOID) {
  SETUP_PART Part[kParts];
  Parts(Part);
  UINTN Size = kHeaderSize;
  for (UINTN Index = 0; Index < kParts; Index++) {
    Size += 4 + Part[Index].Size;
  }
  return Size;
}

BOOLEAN EmuBiosSaveSetup(CONST EMU_BIOS *Bios, UINT16 SmiCommandPort, UINT8 *Buffer, UINTN Size) {
  if (Bios == NULL || Buffer == NULL || Size < EmuBiosSetupSize()) {
    return FALSE;
  }
  CopyBytes(Buffer, mSignature, sizeof(mSignature));
  Put32(Buffer + 8, EMU_BIOS_SETUP_VERSION);
  Put16(Buffer + 12, SmiCommandPort);
  Buffer[14] = Bios->MainFunction;
  Buffer[15] = 0;
  SETUP_PART Part[kParts];
  Parts(Part);
  UINT8 *At = Buffer + kHeaderSize;
  for (UINTN Index = 0; Index < kParts; Index++) {
    Put32(At, (UINT32)Part[Index].Size);
    CopyBytes(At + 4, (CONST UINT8 *)Bios + Part[Index].Offset, Part[Index].Size);
    At += 4 + Part[Index].Size;
  }
  return TRUE;
}

BOOLEAN EmuBiosLoadSetup(EMU_BIOS *Bios, CONST UINT8 *Buffer, UINTN Size, UINT16 *SmiCommandPort) {
  if (Bios == NULL || Buffer == NULL || Size != EmuBiosSetupSize() || !SameBytes(Buffer, mSignature, 8) ||
      Get32(Buffer + 8) != EMU_BIOS_SETUP_VERSION) {
    return FALSE;
  }
  SETUP_PART Part[kParts];
  Parts(Part);
  CONST UINT8 *At = Buffer + kHeaderSize;
  for (UINTN Index = 0; Index < kParts; Index++) {
    if (Get32(At) != Part[Index].Size) {
      return FALSE;
    }
    At += 4 + Part[Index].Size;
  }
  At = Buffer + kHeaderSize;
  for (UINTN Index = 0; Index < kParts; Index++) {
    CopyBytes((UINT8 *)Bios + Part[Index].Offset, At + 4, Part[Index].Size);
    At += 4 + Part[Index].Size;
  }
  Bios->MainFunction = Buffer[14];
  if (SmiCommandPort != NULL) {
    *SmiCommandPort = Get16(Buffer + 12);
  }
  return TRUE;
}
