#include "Bios/PlatformFunctions.h"

#include "Bios/EmuBytes.h"
#include "Bios/FlashFunctions.h"

namespace {

using namespace emu_bytes;

VOID CopyWide(CHAR16 *Destination, UINTN Capacity, CONST CHAR16 *Source) {
  UINTN Index = 0;
  for (; Index + 1 < Capacity && Source[Index] != 0; Index++) {
    Destination[Index] = Source[Index];
  }
  Destination[Index] = 0;
}

// 8-bit text as UTF-16 into a field of FieldBytes bytes (zero-filled before).
VOID PutWideText(UINT8 *Field, UINTN FieldBytes, CONST CHAR8 *Text) {
  for (UINTN Index = 0; Text[Index] != 0 && (Index + 1) * 2 <= FieldBytes; Index++) {
    Field[Index * 2] = (UINT8)Text[Index];
    Field[Index * 2 + 1] = 0;
  }
}

// Writes Length bytes at Offset of the status output, cut at its end.
VOID PutClipped(UINT8 *Output, UINT32 Offset, CONST VOID *Data, UINTN Length) {
  if (Offset >= EMU_PLATFORM_STATUS_SIZE) {
    return;
  }
  UINTN Room = EMU_PLATFORM_STATUS_SIZE - Offset;
  CopyBytes(Output + Offset, Data, Length < Room ? Length : Room);
}

VOID PutStructureHeader(UINT8 *Output, UINT32 Offset, CONST CHAR8 *Signature, UINT32 Size) {
  UINT8 Header[12];
  CopyBytes(Header, Signature, 8);
  Put32(Header + 8, Size);
  PutClipped(Output, Offset, Header, sizeof(Header));
}

VOID BuildPlatformStatus(CONST EMU_PLATFORM *P, UINT8 *Output) {
  ZeroBytes(Output, EMU_PLATFORM_STATUS_SIZE);
  Output[0] = P->AcPlug;
  Output[1] = P->DcLife;
  Output[2] = P->DcBound;
  Put32(Output + 3, P->Help1);
  Put32(Output + 7, P->Help2);
  Output[11] = (UINT8)(P->VendorId & 0xFF);
  Output[12] = (UINT8)(P->VendorId >> 8);
  if (P->BiosCheckPresent) {
    PutStructureHeader(Output, P->BiosCheckOffset, "$BIOSCHK", P->BiosCheckSize);
    PutClipped(Output, P->BiosCheckOffset + 12, &P->CheckBvdt, 1);
  }
  if (P->CommandFilterPresent) {
    PutStructureHeader(Output, P->CommandFilterOffset, "$CMDFILT", P->CommandFilterSize);
    UINT32 Bitmap = P->CommandFilterSize > 12 ? P->CommandFilterSize - 12 : 0;
    UINT32 Given = P->CommandFilterBitmapLength < EMU_PLATFORM_FILTER_BITMAP_MAX ? P->CommandFilterBitmapLength
                                                                                : EMU_PLATFORM_FILTER_BITMAP_MAX;
    // The rest of the bitmap stays zero (the output was cleared).
    PutClipped(Output, P->CommandFilterOffset + 12, P->CommandFilterBitmap, Given < Bitmap ? Given : Bitmap);
  }
}

}  // namespace

VOID EmuPlatformInit(EMU_PLATFORM *Platform) {
  ZeroBytes(Platform, sizeof(*Platform));
  Platform->Permission = 1;
  Platform->InterfaceVersion = 0x1504;
  Platform->AcPlug = 1;
  Platform->DcLife = 100;
  Platform->VendorId = 0x1234;
  Platform->BiosCheckOffset = 13;
  Platform->BiosCheckSize = 13;
  Platform->CommandFilterOffset = 64;
  Platform->CommandFilterSize = 28;
  CopyWide(Platform->ModelName, EMU_PLATFORM_MODEL_NAME_CHARS, u"VyrPC");
  CopyWide(Platform->Version, EMU_PLATFORM_VERSION_CHARS, u"V1.00");
}

// 10h: EDI holds the 18-byte tool information; the 1024-byte platform status
// goes back in its place. AH = permission, CH:CL = interface version.
UINT8 EmuPlatformFunction10h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_PLATFORM *P = &Bios->Platform;
  UINT8 Tool[EMU_PLATFORM_TOOL_INFORMATION_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Edi, Tool, sizeof(Tool))) {
    return EMU_PLATFORM_STATUS_BAD_REQUEST;
  }
  CopyBytes(P->ToolInformation, Tool, sizeof(Tool));
  P->ToolInformationSeen = TRUE;
  if (!SameBytes(Tool, "$VER", 4)) {
    return EMU_PLATFORM_STATUS_BAD_REQUEST;
  }
  UINT8 Output[EMU_PLATFORM_STATUS_SIZE];
  BuildPlatformStatus(P, Output);
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Output, sizeof(Output))) {
    return EMU_PLATFORM_STATUS_BAD_REQUEST;
  }
  Regs->Eax = (Regs->Eax & 0xFFFF00FFu) | ((UINT32)P->Permission << 8);
  Regs->Ecx = P->InterfaceVersion;
  return 0;
}

// 11h: ESI holds the "$BUFFER_" extended buffer; the model name (bytes 0-63)
// and version (64-319) go into the 320-byte area at EDI as UTF-16, taken from
// the BVDT of the flash contents when there is one, else from the profile.
// AH = switch byte, ECX = extended switches.
UINT8 EmuPlatformFunction11h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_PLATFORM *P = &Bios->Platform;
  UINT8 Header[EMU_PLATFORM_EXTENDED_HEADER_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Esi, Header, sizeof(Header))) {
    return EMU_PLATFORM_STATUS_BAD_REQUEST;
  }
  CopyBytes(P->ExtendedHeader, Header, sizeof(Header));
  P->ExtendedHeaderSeen = TRUE;
  if (!SameBytes(Header, "$BUFFER_", 8)) {
    return EMU_PLATFORM_STATUS_BAD_REQUEST;
  }
  UINT8 Area[EMU_PLATFORM_INFO_AREA_SIZE];
  ZeroBytes(Area, sizeof(Area));
  // The running BIOS is what the flash holds: its BVDT names it when there is
  // one, so that after an update the next run sees the new BIOS.
  CHAR8 Model[EMU_FLASH_MODEL_CHARS];
  CHAR8 Version[EMU_FLASH_VERSION_CHARS];
  if (EmuFlashBvdtIdentity(&Bios->Flash, Model, sizeof(Model), Version, sizeof(Version))) {
    PutWideText(Area, sizeof(P->ModelName), Model);
    PutWideText(Area + sizeof(P->ModelName), sizeof(P->Version), Version);
  } else {
    CopyBytes(Area, P->ModelName, sizeof(P->ModelName));
    CopyBytes(Area + sizeof(P->ModelName), P->Version, sizeof(P->Version));
  }
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Area, sizeof(Area))) {
    return EMU_PLATFORM_STATUS_BAD_REQUEST;
  }
  Regs->Eax = (Regs->Eax & 0xFFFF00FFu) | ((UINT32)P->Switches << 8);
  Regs->Ecx = P->ExtendedSwitches;
  return 0;
}

// 1Ch: the anti-theft byte in CL.
UINT8 EmuPlatformFunction1Ch(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  Regs->Ecx = (Regs->Ecx & 0xFFFFFF00u) | Bios->Platform.AntiTheft;
  return 0;
}

// 16h: flash complete. CH clear-CMOS, CL action, ESI the "$FINISHI" buffer
// with the completion status. Recorded for the report; nothing is powered off.
UINT8 EmuPlatformFunction16h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  UINT8 Data[EMU_COMPLETION_DATA_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Esi, Data, sizeof(Data)) ||
      !SameBytes(Data, EMU_COMPLETION_SIGNATURE, 8) ||
      (UINT32)(Data[8] | (Data[9] << 8) | (Data[10] << 16) | ((UINT32)Data[11] << 24)) != EMU_COMPLETION_DATA_SIZE) {
    Bios->Completion.MalformedRequests++;
    return EMU_COMPLETION_STATUS_BAD_BUFFER;
  }
  Bios->Completion.Requests++;
  Bios->Completion.ClearCmos = (UINT8)((Regs->Ecx >> 8) & 0xFF);
  Bios->Completion.Action = (UINT8)(Regs->Ecx & 0xFF);
  Bios->Completion.Status = Data[12];
  return 0;
}
