#include "Bios/FlashFunctions.h"

#include "Bios/EmuBytes.h"

namespace {

using namespace emu_bytes;

// First offset of Needle in Haystack, or -1.
INTN Find(CONST UINT8 *Haystack, UINTN Size, CONST CHAR8 *Needle, UINTN NeedleSize) {
  if (Size < NeedleSize) {
    return -1;
  }
  for (UINTN At = 0; At + NeedleSize <= Size; At++) {
    UINTN Index = 0;
    while (Index < NeedleSize && Haystack[At + Index] == (UINT8)Needle[Index]) {
      Index++;
    }
    if (Index == NeedleSize) {
      return (INTN)At;
    }
  }
  return -1;
}

// Text of at most Length bytes up to its first NUL, terminated in Out.
VOID TakeText(CHAR8 *Out, UINTN Capacity, CONST UINT8 *Text, UINTN Length) {
  UINTN Index = 0;
  for (; Index < Length && Index + 1 < Capacity && Text[Index] != 0; Index++) {
    Out[Index] = (CHAR8)Text[Index];
  }
  Out[Index] = 0;
}

// 10-byte 17h entries into a 256-byte map; the rest is 0xFF (the end mark).
VOID PutExternalMap(UINT8 *Map, CONST EMU_FLASH_REGION *Regions, UINT32 Count) {
  FillBytes(Map, EMU_FLASH_EXTERNAL_MAP_SIZE, 0xFF);
  for (UINT32 Index = 0; Index < Count && Index < EMU_FLASH_MAX_EXTERNAL; Index++) {
    UINT8 *Entry = Map + Index * 10;
    Entry[0] = Regions[Index].Type;
    Put32(Entry + 1, Regions[Index].Address);
    Put32(Entry + 5, Regions[Index].Size);
    Entry[9] = (UINT8)Regions[Index].Attribute;
  }
}

// Flash descriptor regions of an image head: signature 0FF0A55Ah at 10h,
// FLMAP0 after it (region base at bits 23:16, in 16-byte units), then one
// FLREG dword per region: base and limit in 4 KiB units, a base above the
// limit marks an unused region. Regions 0-4 keep their numbers as types;
// region 8 is the EC (type 5).
UINT32 DecodeDescriptor(CONST UINT8 *Head, EMU_FLASH_REGION *Regions) {
  static CONST UINT8 Signature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  static CONST struct {
    UINT8 Index;
    UINT8 Type;
  } Known[] = {{0, 0x00}, {1, 0x01}, {2, 0x02}, {3, 0x03}, {4, 0x04}, {8, 0x05}};
  if (Head[0x10] != Signature[0] || Head[0x11] != Signature[1] || Head[0x12] != Signature[2] ||
      Head[0x13] != Signature[3]) {
    return 0;
  }
  UINT32 Frba = ((Get32(Head + 0x14) >> 16) & 0xFF) << 4;
  UINT32 Count = 0;
  for (UINTN Index = 0; Index < ARRAY_SIZE(Known); Index++) {
    UINT32 At = Frba + Known[Index].Index * 4;
    if (At + 4 > EMU_FLASH_17H_IMAGE_SIZE) {
      continue;
    }
    UINT32 Reg = Get32(Head + At);
    UINT32 Base = (Reg & 0x7FFF) << 12;
    UINT32 Limit = (((Reg >> 16) & 0x7FFF) << 12) | 0xFFF;
    if (Base > Limit) {
      continue;
    }
    Regions[Count].Type = Known[Index].Type;
    Regions[Count].Address = Base;
    Regions[Count].Size = Limit - Base + 1;
    Regions[Count].Attribute = 0;
    Count++;
  }
  return Count;
}

UINT64 RomEnd() { return 0x100000000ull; }

BOOLEAN Touches(CONST EMU_FLASH_RANGE *Ranges, UINT32 Count, UINT32 Capacity, UINT64 Start, UINT64 Length) {
  for (UINT32 Index = 0; Index < Count && Index < Capacity; Index++) {
    UINT64 RangeStart = Ranges[Index].Address;
    UINT64 RangeEnd = RangeStart + Ranges[Index].Size;
    if (Ranges[Index].Size != 0 && Start < RangeEnd && RangeStart < Start + Length) {
      return TRUE;
    }
  }
  return FALSE;
}

// Whole blocks of the block map in [Address, Address + Length), or 0 when the
// range does not start and end on the map's block boundaries inside the
// window. The map is laid from the ROM base upward; a block that does not lie
// wholly in the window cannot be erased.
UINT32 WholeBlocks(CONST EMU_FLASH *F, UINT64 Address, UINT64 Length) {
  UINT64 End = Address + Length;
  UINT64 At = EmuFlashBase(F);
  if (F->Contents == NULL || Length == 0 || Address < At || End > RomEnd()) {
    return 0;
  }
  UINT32 Blocks = 0;
  UINT32 Entries = F->BlockMapCount < EMU_FLASH_MAX_BLOCK_MAP ? F->BlockMapCount : EMU_FLASH_MAX_BLOCK_MAP;
  for (UINT32 Index = 0; Index < Entries && At < End; Index++) {
    UINT32 Units = F->BlockMap[Index].Units;
    if (Units == 0 || Units == 0xFFFF) {
      break;
    }
    UINT32 Size = Units * 256;
    UINT64 EntryEnd = At + (UINT64)Size * F->BlockMap[Index].Count;
    UINT64 From = Address > At ? Address : At;
    UINT64 To = End < EntryEnd ? End : EntryEnd;
    if (From < To) {
      // Both offsets lie below 4 GiB: 32-bit arithmetic, no 64-bit helpers.
      if ((UINT32)(From - At) % Size != 0 || (UINT32)(To - At) % Size != 0) {
        return 0;
      }
      Blocks += (UINT32)(To - From) / Size;
    }
    At = EntryEnd;
  }
  return At >= End ? Blocks : 0;
}

// Widens the changed span by Length bytes at Offset into the contents.
VOID MarkChanged(EMU_FLASH *F, UINT32 Offset, UINT32 Length) {
  if (Length == 0) {
    return;
  }
  if (!F->ContentsChanged) {
    F->ChangedStart = Offset;
    F->ChangedEnd = Offset + Length;
  } else {
    F->ChangedStart = Offset < F->ChangedStart ? Offset : F->ChangedStart;
    F->ChangedEnd = Offset + Length > F->ChangedEnd ? Offset + Length : F->ChangedEnd;
  }
  F->ContentsChanged = TRUE;
}

}  // namespace

BOOLEAN EmuFlashIsBlockRange(CONST EMU_FLASH *Flash, UINT64 Address, UINT64 Length) {
  return WholeBlocks(Flash, Address, Length) != 0 ? TRUE : FALSE;
}

BOOLEAN EmuFlashErase(EMU_FLASH *Flash, UINT32 Address, UINT32 Length) {
  UINT32 Blocks = WholeBlocks(Flash, Address, Length);
  if (Blocks == 0) {
    return FALSE;
  }
  FillBytes(Flash->Contents + (Address - EmuFlashBase(Flash)), Length, 0xFF);
  Flash->BlocksErased += Blocks;
  Flash->EraseNs += EmuFlashEraseNs(&Flash->Timing, Address - EmuFlashBase(Flash), Length);
  MarkChanged(Flash, Address - EmuFlashBase(Flash), Length);
  return TRUE;
}

BOOLEAN EmuFlashProgram(EMU_FLASH *Flash, UINT32 Address, CONST UINT8 *Data, UINT32 Length) {
  UINT64 Base = EmuFlashBase(Flash);
  if (Flash->Contents == NULL || Address < Base || (UINT64)Address + Length > RomEnd()) {
    return FALSE;
  }
  UINT8 *Cells = Flash->Contents + (Address - Base);
  for (UINT32 Index = 0; Index < Length; Index++) {
    Cells[Index] = Flash->ProgramClearsBitsOnly ? (UINT8)(Cells[Index] & Data[Index]) : Data[Index];
  }
  MarkChanged(Flash, (UINT32)(Address - Base), Length);
  Flash->ProgramNs += EmuFlashProgramNs(&Flash->Timing, (UINT32)(Address - Base), Length);
  return TRUE;
}

VOID EmuFlashInit(EMU_FLASH *Flash) {
  FillBytes(Flash, sizeof(*Flash), 0);
  Flash->SizeIndex = 7;  // 0x20000 << 6 = 8 MiB
  CopyBytes(Flash->Vendor, "Vyr", 3);
  CopyBytes(Flash->PartType, "VF25Q64", 7);
  Flash->DeviceId = 0x00EF4017;
  Flash->BlockMap[0].Units = 0x100;
  Flash->BlockMap[0].Count = 0x80;
  Flash->BlockMapCount = 1;
  Flash->DecodeNewImage = TRUE;
  EmuFlashTimingDefaults(&Flash->Timing);
}

VOID EmuFlashSetContents(EMU_FLASH *Flash, UINT8 *Contents, UINT32 Size) {
  Flash->Contents = Contents;
  Flash->ContentsSize = Contents != NULL ? Size : 0;
}

UINT32 EmuFlashBase(CONST EMU_FLASH *Flash) { return (UINT32)(RomEnd() - Flash->ContentsSize); }

BOOLEAN EmuFlashBvdtIdentity(CONST EMU_FLASH *Flash, CHAR8 *ModelName, UINTN ModelCapacity, CHAR8 *Version,
                             UINTN VersionCapacity) {
  if (Flash->Contents == NULL || ModelCapacity == 0 || VersionCapacity == 0) {
    return FALSE;
  }
  INTN Found = Find(Flash->Contents, Flash->ContentsSize, "$BVDT", 5);
  // The model name field (a '$' at +38 and 25 bytes) must lie in the contents.
  if (Found < 0 || (UINT64)Found + 39 + 25 > Flash->ContentsSize) {
    return FALSE;
  }
  CONST UINT8 *Bvdt = Flash->Contents + Found;
  if (Bvdt[13] != '$' || Bvdt[38] != '$') {
    return FALSE;
  }
  // The version text runs at most up to the model name's '$'.
  TakeText(Version, VersionCapacity, Bvdt + 14, 38 - 14);
  TakeText(ModelName, ModelCapacity, Bvdt + 39, 25);
  return TRUE;
}

// 12h: the protect map (9-byte entries) into the 2048 bytes at EDI, the
// private map (8-byte entries) into the 2048 bytes at ESI, each ended by 0xFF.
UINT8 EmuFlashFunction12h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_FLASH *F = &Bios->Flash;
  UINT8 Map[EMU_FLASH_ROM_MAP_SIZE];
  FillBytes(Map, sizeof(Map), 0xFF);
  for (UINT32 Index = 0; Index < F->ProtectCount && Index < EMU_FLASH_MAX_PROTECT; Index++) {
    UINT8 *Entry = Map + Index * 9;
    Entry[0] = F->Protect[Index].Type;
    Put32(Entry + 1, F->Protect[Index].Address);
    Put32(Entry + 5, F->Protect[Index].Size);
  }
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Map, sizeof(Map))) {
    return EMU_FLASH_STATUS_BAD_MAP_BUFFER;
  }
  FillBytes(Map, sizeof(Map), 0xFF);
  for (UINT32 Index = 0; Index < F->PrivateCount && Index < EMU_FLASH_MAX_PRIVATE; Index++) {
    UINT8 *Entry = Map + Index * 8;
    Put32(Entry, F->Private[Index].Address);
    Put32(Entry + 4, F->Private[Index].Size);
  }
  if (!EmuBiosWritePhysical(Bios, Regs->Esi, Map, sizeof(Map))) {
    return EMU_FLASH_STATUS_BAD_MAP_BUFFER;
  }
  return 0;
}

// 13h: the 72-byte flash part information at EDI, the block map at ESI
// (size in 256-byte units, count; a zero entry ends it).
UINT8 EmuFlashFunction13h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_FLASH *F = &Bios->Flash;
  F->Last13hSelector = (UINT8)(Regs->Ecx & 0xFF);
  UINT8 Info[EMU_FLASH_PART_INFO_SIZE];
  FillBytes(Info, sizeof(Info), 0);
  Info[0] = F->SizeIndex;
  CopyBytes(Info + 1, F->Vendor, sizeof(F->Vendor));
  CopyBytes(Info + 32, F->PartType, sizeof(F->PartType));
  Put32(Info + 64, F->DeviceId);
  Put32(Info + 68, F->SizeSpecified);
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Info, sizeof(Info))) {
    return EMU_FLASH_STATUS_BAD_PART_BUFFER;
  }
  UINT8 Map[(EMU_FLASH_MAX_BLOCK_MAP + 1) * 4];
  FillBytes(Map, sizeof(Map), 0);
  UINT32 Count = F->BlockMapCount < EMU_FLASH_MAX_BLOCK_MAP ? F->BlockMapCount : EMU_FLASH_MAX_BLOCK_MAP;
  for (UINT32 Index = 0; Index < Count; Index++) {
    Put16(Map + Index * 4, F->BlockMap[Index].Units);
    Put16(Map + Index * 4 + 2, F->BlockMap[Index].Count);
  }
  if (!EmuBiosWritePhysical(Bios, Regs->Esi, Map, (Count + 1) * 4)) {
    return EMU_FLASH_STATUS_BAD_PART_BUFFER;
  }
  return 0;
}

// 14h: ECX bytes of the flash at address EDI into the buffer at ESI. A range
// outside the ROM window fails; one touching a locked range answers 0x2A and
// leaves the buffer as it was.
UINT8 EmuFlashFunction14h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_FLASH *F = &Bios->Flash;
  UINT64 Start = Regs->Edi;
  UINT64 Length = Regs->Ecx;
  UINT64 Base = EmuFlashBase(F);
  if (F->Contents == NULL || Start < Base || Start + Length > RomEnd()) {
    return EMU_FLASH_STATUS_READ_FAILED;
  }
  for (UINT32 Index = 0; Index < F->LockedCount && Index < EMU_FLASH_MAX_LOCKED; Index++) {
    UINT64 LockStart = F->Locked[Index].Address;
    UINT64 LockEnd = LockStart + F->Locked[Index].Size;
    if (F->Locked[Index].Size != 0 && Start < LockEnd && LockStart < Start + Length) {
      F->LockedReads++;
      return EMU_FLASH_STATUS_LOCKED;
    }
  }
  if (Length != 0 && !EmuBiosWritePhysical(Bios, Regs->Esi, F->Contents + (Start - Base), (UINTN)Length)) {
    return EMU_FLASH_STATUS_READ_FAILED;
  }
  F->BytesRead += (UINT32)Length;
  F->ReadNs += EmuFlashReadNs(&F->Timing, Length);
  if (Length != 0 && F->LastWriteValid && Start == F->LastWriteAddress && F->CorruptedReadBacks < F->CorruptReadBacks) {
    UINT8 Inverted = (UINT8)~F->Contents[Start - Base];
    EmuBiosWritePhysical(Bios, Regs->Esi, &Inverted, 1);
    F->CorruptedReadBacks++;
  }
  return 0;
}

// 15h: ECX bytes from the buffer at ESI written at flash address EDI, as an
// SPI NOR part does it: the blocks are erased, then the data is programmed.
// A range outside the ROM window or an unreadable buffer fails (0x25); one
// that is not whole blocks of the block map answers 0x26; a locked range
// answers 0x2A and a skip range 0x29. All of these leave the flash as it was.
UINT8 EmuFlashFunction15h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_FLASH *F = &Bios->Flash;
  UINT64 Start = Regs->Edi;
  UINT32 Length = Regs->Ecx;
  UINT64 Base = EmuFlashBase(F);
  if (F->Contents == NULL || Start < Base || Start + Length > RomEnd()) {
    return EMU_FLASH_STATUS_WRITE_FAILED;
  }
  if (!EmuFlashIsBlockRange(F, Start, Length)) {
    return EMU_FLASH_STATUS_NOT_BLOCKS;
  }
  if (Touches(F->Locked, F->LockedCount, EMU_FLASH_MAX_LOCKED, Start, Length)) {
    F->RefusedWrites++;
    return EMU_FLASH_STATUS_LOCKED;
  }
  if (Touches(F->Skip, F->SkipCount, EMU_FLASH_MAX_SKIP, Start, Length)) {
    F->RefusedWrites++;
    return EMU_FLASH_STATUS_SKIP_BLOCK;
  }
  // The whole source is checked before the erase, so an unreadable buffer
  // costs no block its contents.
  UINT8 Chunk[1024];
  for (UINT32 Done = 0; Done < Length; Done += sizeof(Chunk)) {
    UINT32 Piece = Length - Done < sizeof(Chunk) ? Length - Done : (UINT32)sizeof(Chunk);
    if (!EmuBiosReadPhysical(Bios, (UINT64)Regs->Esi + Done, Chunk, Piece)) {
      return EMU_FLASH_STATUS_WRITE_FAILED;
    }
  }
  EmuFlashErase(F, Regs->Edi, Length);
  for (UINT32 Done = 0; Done < Length; Done += sizeof(Chunk)) {
    UINT32 Piece = Length - Done < sizeof(Chunk) ? Length - Done : (UINT32)sizeof(Chunk);
    EmuBiosReadPhysical(Bios, (UINT64)Regs->Esi + Done, Chunk, Piece);
    EmuFlashProgram(F, Regs->Edi + Done, Chunk, Piece);
  }
  F->BytesWritten += Length;
  F->BlocksWritten++;
  F->LastWriteValid = TRUE;
  F->LastWriteAddress = Regs->Edi;
  if (F->PowerCutAfterWrites != 0 && F->BlocksWritten == F->PowerCutAfterWrites) {
    F->PoweredOff = TRUE;
    F->PowerCutAddress = Regs->Edi;
  }
  return 0;
}

// 17h: two 256-byte maps into the buffer at EDI, the current flash's regions
// and the new image's (ESI holds the image's first 4096 bytes).
UINT8 EmuFlashFunction17h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_FLASH *F = &Bios->Flash;
  UINT8 Head[EMU_FLASH_17H_IMAGE_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Esi, Head, sizeof(Head))) {
    return EMU_FLASH_STATUS_BAD_MAP_BUFFER;
  }
  CopyBytes(F->Last17hImage, Head, sizeof(F->Last17hImage));
  UINT8 Maps[2 * EMU_FLASH_EXTERNAL_MAP_SIZE];
  PutExternalMap(Maps, F->External, F->ExternalCount);
  EMU_FLASH_REGION Decoded[EMU_FLASH_MAX_EXTERNAL];
  UINT32 DecodedCount = F->DecodeNewImage ? DecodeDescriptor(Head, Decoded) : 0;
  if (DecodedCount != 0) {
    PutExternalMap(Maps + EMU_FLASH_EXTERNAL_MAP_SIZE, Decoded, DecodedCount);
  } else {
    PutExternalMap(Maps + EMU_FLASH_EXTERNAL_MAP_SIZE, F->External, F->ExternalCount);
  }
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Maps, sizeof(Maps))) {
    return EMU_FLASH_STATUS_BAD_MAP_BUFFER;
  }
  return 0;
}

// 1Eh: 13-byte entries (type, address, size, attribute) into the 4096 bytes
// at EDI, ended by 0xFF.
UINT8 EmuFlashFunction1Eh(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_FLASH *F = &Bios->Flash;
  UINT8 Map[EMU_FLASH_WHOLE_MAP_SIZE];
  FillBytes(Map, sizeof(Map), 0xFF);
  for (UINT32 Index = 0; Index < F->WholeCount && Index < EMU_FLASH_MAX_WHOLE; Index++) {
    UINT8 *Entry = Map + Index * 13;
    Entry[0] = F->Whole[Index].Type;
    Put32(Entry + 1, F->Whole[Index].Address);
    Put32(Entry + 5, F->Whole[Index].Size);
    Put32(Entry + 9, F->Whole[Index].Attribute);
  }
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Map, sizeof(Map))) {
    return EMU_FLASH_STATUS_BAD_MAP_BUFFER;
  }
  return 0;
}
