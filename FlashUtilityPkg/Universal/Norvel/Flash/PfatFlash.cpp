#include "Flash/PfatFlash.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Flash/BlockFlash.h"
#include "Flash/Completion.h"
#include "Flash/EcUpdate.h"
#include "Flash/ExtraData.h"
#include "Flash/RomMap.h"
#include "Flash/SecureCapsule.h"
#include "Image/Bvdt.h"
#include "Image/PfatImage.h"
#include "Smi/ExtraDataRequest.h"

#define SIZE_INDEX_BYTES_ALT 0xFD
#define SIZE_INDEX_MAX 7
#define RETURN_CODE_MIN_STRUCTURE 16
#define RETURN_CODE_FULL_STRUCTURE 24

static UINT64 ReadCode(CONST UINT8 *Answer) {
  return (UINT64)ReadUnaligned32(Answer + EXTRA_DATA_ANSWER_RETURN_CODE) |
         ((UINT64)ReadUnaligned32(Answer + EXTRA_DATA_ANSWER_RETURN_CODE + 4) << 32);
}

// 0-7: 64 KiB << index; 0xFD and 0xFF: the bytes at offset 10; else 0.
static UINT64 AnswerSize(CONST UINT8 *Answer) {
  UINT8 Index = Answer[EXTRA_DATA_ANSWER_SIZE_INDEX];
  if (Index <= SIZE_INDEX_MAX) {
    return (UINT64)0x10000 << Index;
  }
  if (Index == SIZE_INDEX_BYTES_ALT || Index == EXTRA_DATA_SIZE_IN_BYTES) {
    return ReadUnaligned32(Answer + EXTRA_DATA_ANSWER_DATA_SIZE);
  }
  return 0;
}

static VOID PrintSizeIncorrect(CONST UINT8 *Answer) {
  Print(u"Error: BIOS return size incorrect!\r\n Block Size      = 0x%02X (expect value is 0xFF)\r\n Data Size Index "
        u"= 0x%02X (expect value is 0xFF)\r\n",
        Answer[EXTRA_DATA_ANSWER_BLOCK_INDEX], Answer[EXTRA_DATA_ANSWER_SIZE_INDEX]);
}

BOOLEAN GetStatus41h_Pfat(UINT8 Type, UINT8 SizeIndex, UINT32 Size, UINT64 *ReturnCode) {
  FuncEnter(u"GetStatus41h_Pfat");
  UINT8 Answer[EXTRA_DATA_ANSWER_SIZE];
  ZeroMem(Answer, sizeof(Answer));
  // A failed call leaves the answer zero: the checks below refuse it.
  FuncFwsmi_41h(Type, SizeIndex, Size, Answer);
  if (Answer[EXTRA_DATA_ANSWER_BLOCK_INDEX] != 0xFF && Answer[EXTRA_DATA_ANSWER_SIZE_INDEX] != 0xFF) {
    PrintSizeIncorrect(Answer);
    FuncExit(u"GetStatus41h_Pfat", u"BIOS return size incorrect");
    return FALSE;
  }
  UINT64 Allowed = AnswerSize(Answer);
  if (Allowed < Size) {
    Print(u"BIOS report physical size = 0x%lX\nData size for write request = 0x%lX\r\n", Allowed, (UINT64)Size);
    FuncExit(u"GetStatus41h_Pfat", u"Size not allowed");
    return FALSE;
  }
  UINT16 Status = ExtraDataAnswerStatus(Answer);
  UINT32 Structure = ReadUnaligned32(Answer + EXTRA_DATA_ANSWER_STRUCTURE_SIZE);
  if ((Status & EXTRA_DATA_STATUS_RETURN_CODE) != 0 && Structure > RETURN_CODE_MIN_STRUCTURE) {
    if (ReturnCode != NULL) {
      *ReturnCode = ReadCode(Answer);
    }
    Status &= (UINT16)~EXTRA_DATA_STATUS_RETURN_CODE;
  }
  if (Status == 0) {
    FuncExit(u"GetStatus41h_Pfat", NULL);
    return TRUE;
  }
  Print((Status & EXTRA_DATA_STATUS_NOT_SUPPORTED) != 0 ? u"Data type not support.\r\n"
                                                        : u"BIOS return data incorrect!\r\n");
  FuncExit(u"GetStatus41h_Pfat", u"BIOS return status not success");
  return FALSE;
}

BOOLEAN SMI_PfatDataGetResult(UINT64 *ReturnCode) {
  FuncEnter(u"SMI_PfatDataGetResult");
  UINT8 Answer[EXTRA_DATA_ANSWER_SIZE];
  ZeroMem(Answer, sizeof(Answer));
  if (!FuncFwsmi_41h(EXTRA_DATA_TYPE_PFAT_RESULT, EXTRA_DATA_SIZE_IN_BYTES, 0, Answer)) {
    FuncExit(u"SMI_PfatDataGetResult", u"FWSMI 41h failed");
    return FALSE;
  }
  if (Answer[EXTRA_DATA_ANSWER_BLOCK_INDEX] < 0xFF && Answer[EXTRA_DATA_ANSWER_SIZE_INDEX] < 0xFF) {
    PrintSizeIncorrect(Answer);
    FuncExit(u"SMI_PfatDataGetResult", u"BIOS return size incorrect");
    return FALSE;
  }
  UINT16 Status = ExtraDataAnswerStatus(Answer);
  if (Status == 0) {
    FuncExit(u"SMI_PfatDataGetResult", NULL);
    return TRUE;
  }
  DebugPrint(4, u"BIOS return error code = 0x%04x\r\n", Status);
  if ((Status & EXTRA_DATA_STATUS_NOT_SUPPORTED) != 0) {
    Print(u"Data type not support.\r\n");
    FuncExit(u"SMI_PfatDataGetResult", u"Data type not support");
    return FALSE;
  }
  if ((Status & EXTRA_DATA_STATUS_RETURN_CODE) != 0) {
    UINT32 Structure = ReadUnaligned32(Answer + EXTRA_DATA_ANSWER_STRUCTURE_SIZE);
    UINT64 Code = ReadCode(Answer);
    DebugPrint(4, u"dwStructureSize = %d\r\nqwReturnCode    = 0x%lx\r\n", Structure, Code);
    if (Structure >= RETURN_CODE_FULL_STRUCTURE) {
      *ReturnCode = Code;
    } else {
      // A code the structure does not hold cannot say "written".
      *ReturnCode = (UINT64)-1;
    }
    FuncExit(u"SMI_PfatDataGetResult", NULL);
    return TRUE;
  }
  Print(u"BIOS return data incorrect!\r\n");
  FuncExit(u"SMI_PfatDataGetResult", u"BIOS return data incorrect");
  return FALSE;
}

static BOOLEAN PfatBlockFailed(CONST CHAR16 *Message, CONST CHAR16 *Reason) {
  Print(u"\r\n%s", Message);
  FuncExit(u"WritePfatBlock", Reason);
  return FALSE;
}

BOOLEAN WritePfatBlock(CONST UINT8 *Packet, UINT32 Length, UINT8 Index, UINT8 Action) {
  FuncEnter(u"WritePfatBlock");
  DebugPrint(4, u"%02d block updating (0x%02X)\r\n", Index, Action);
  if (!GetStatus41h_Pfat(EXTRA_DATA_TYPE_PFAT_PACKET, EXTRA_DATA_SIZE_IN_BYTES, Length, NULL)) {
    return PfatBlockFailed(u"Error: PFAT interface error.\r\n", u"PFAT communication failed");
  }
  if (!FuncFwsmi_42h(Action, Index, Packet, Length)) {
    return PfatBlockFailed(u"Error: PFAT write error.\r\n", u"PFAT data write failed");
  }
  UINT64 Code = 0;
  if (!SMI_PfatDataGetResult(&Code)) {
    return PfatBlockFailed(u"FWSMI: Extra Data communcation error in SMI!\r\n", u"Get PFAT write result failed");
  }
  if (Code != 0) {
    Print(u"\r\n");
    Print(u"Error: PFAT update failed.\r\nError code: 0x%016llX\r\n", Code);
    DebugPrint(4, u" BIOS return code = 0x%lx\r\n", Code);
    FuncExit(u"WritePfatBlock", u"Write PFAT result not success");
    return FALSE;
  }
  FuncExit(u"WritePfatBlock", NULL);
  return TRUE;
}

static VOID TraceTableEntry(UINT32 Index, CONST BLOCK_ENTRY *Entry) {
  DebugPrint(4, u" [%02d] 0x%08X 0x%08X %d\r\n", Index, Entry->Address, Entry->Size, Entry->Protect);
}

BOOLEAN GetPfatBlockTable(UINT32 Count, UINT32 RomBlock, BLOCK_ENTRY **Table) {
  FuncEnter(u"GetPfatBlockTable");
  *Table = NULL;
  UINT64 Bytes = (UINT64)Count * RomBlock;
  UINT32 RomSize = GetRomSize();
  if (Count == 0 || RomBlock == 0 || Count > BLOCK_TABLE_ENTRIES || Bytes > RomSize) {
    Print(u"Error: PFAT blocks (%d x 0x%X) do not fit the ROM (0x%X).\r\n", Count, RomBlock, RomSize);
    FuncExit(u"GetPfatBlockTable", u"PFAT blocks larger than ROM");
    return FALSE;
  }
  BLOCK_ENTRY *Blocks = NULL;
  if (!GetBlockTableCopy(&Blocks)) {
    FuncExit(u"GetPfatBlockTable", u"Allocate memory failed");
    return FALSE;
  }
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  UINT32 RegionOffset = 0;
  UINT32 RegionSize = 0;
  if (GetExternalRegionMap(NULL, 0) && GetCurrentRegionRecord(&Current)) {
    RegionOffset = Current.Slot[REGION_SLOT_BIOS].Offset;
    RegionSize = Current.Slot[REGION_SLOT_BIOS].Size;
  }
  // Blocks beyond the BIOS region (or without one) lie where the FD lies: at
  // the top of the ROM.
  if (RegionSize == 0 || Bytes > RegionSize || (UINT64)RegionOffset + RegionSize > RomSize) {
    RegionOffset = RomSize - (UINT32)Bytes;
    RegionSize = (UINT32)Bytes;
  }
  UINT32 Start = GetRomBase() + RegionOffset;
  UINT32 BlockCount = GetBlockCount() < BLOCK_TABLE_ENTRIES ? GetBlockCount() : BLOCK_TABLE_ENTRIES;
  DebugPrint(4, u"Block count = %d\r\n", Blocks[0].Size == 0 ? 0 : RegionSize / Blocks[0].Size);
  DebugPrint(4, u"===== BIOS region Table =====\r\n");
  for (UINT32 Index = 0; Index < BlockCount; Index++) {
    if (Blocks[Index].Address >= Start) {
      TraceTableEntry(Index, &Blocks[Index]);
    }
  }
  BLOCK_ENTRY *Pfat = (BLOCK_ENTRY *)AllocateZeroPool((UINTN)Count * sizeof(BLOCK_ENTRY));
  if (Pfat == NULL) {
    FreePool(Blocks);
    FuncExit(u"GetPfatBlockTable", u"Allocate memory failed");
    return FALSE;
  }
  DebugPrint(4, u"===== PFAT Table =====\r\n");
  for (UINT32 Index = 0; Index < Count; Index++) {
    BLOCK_ENTRY *Entry = &Pfat[Index];
    Entry->Address = Start + Index * RomBlock;
    Entry->Size = RomBlock;
    UINT64 Low = Entry->Address;
    UINT64 High = Low + RomBlock - 1;
    for (UINT32 Block = 0; Block < BlockCount && Entry->Protect == 0; Block++) {
      UINT64 First = Blocks[Block].Address;
      UINT64 Last = First + Blocks[Block].Size - 1;
      if (Blocks[Block].Protect != 0 && Blocks[Block].Size != 0 && First <= High && Last >= Low) {
        Entry->Protect = 1;
      }
    }
    TraceTableEntry(Index, Entry);
  }
  FreePool(Blocks);
  *Table = Pfat;
  FuncExit(u"GetPfatBlockTable", NULL);
  return TRUE;
}

static BOOLEAN RunFailed(CONST CHAR16 *Reason) {
  FuncExit(u"RunPfatFlash", Reason);
  return FALSE;
}

BOOLEAN RunPfatFlash(CONST UINT8 *Rom, UINT32 RomSize, CONST UINT8 *Header, UINT32 HeaderSize,
                     CONST UINT8 *Certificate, UINT32 CertificateSize) {
  FuncEnter(u"RunPfatFlash");
  UINT32 Count = 0, HeaderItem = 0, RomBlock = 0, CertCount = 0, CertItem = 0, Unused = 0;
  if (Rom == NULL || Header == NULL || Certificate == NULL ||
      !ReadPfatBlockFields(Header, HeaderSize, &Count, &HeaderItem, &RomBlock) ||
      !ReadPfatBlockFields(Certificate, CertificateSize, &CertCount, &CertItem, &Unused)) {
    return RunFailed(u"Input buffer is NULL");
  }
  if ((UINT64)RomBlock * Count != RomSize || Count == 0) {
    DebugPrint(4, u" Image Size (0x%X) != ROM Block Size (0x%X) * Block Count (0x%X)\r\n", RomSize, RomBlock, Count);
    return RunFailed(u"Input image buffer size incorrect");
  }
  if ((UINT64)HeaderItem * Count + PFAT_BLOCK_HEAD_SIZE != HeaderSize) {
    DebugPrint(4, u" HDR Size (0x%X) != HDR Block Size (0x%X) * Block Count (0x%X)\r\n", HeaderSize, HeaderItem,
               Count);
    return RunFailed(u"Input PFAT header buffer size incorrect");
  }
  if ((UINT64)CertItem * Count + PFAT_BLOCK_HEAD_SIZE != CertificateSize) {
    DebugPrint(4, u" CER Size (0x%X) != CER Block Size (0x%X) * Block Count (0x%X)\r\n", CertificateSize, CertItem,
               Count);
    return RunFailed(u"Input PFAT cer buffer size incorrect");
  }
  UINT64 PacketSize = (UINT64)HeaderItem + RomBlock + CertItem;
  if (PacketSize > PFAT_PACKET_MAX) {
    Print(u"Error: PFAT packet (0x%lX bytes) too large.\r\n", PacketSize);
    return RunFailed(u"PFAT packet too large");
  }
  if (!SetRsvd_13h()) {
    return RunFailed(u"Set reserve failed");
  }
  BLOCK_ENTRY *Table = NULL;
  if (!GetPfatBlockTable(Count, RomBlock, &Table)) {
    return RunFailed(u"Get PFAT block table failed");
  }
  UINT32 LastWritable = Count;
  for (UINT32 Index = 0; Index < Count; Index++) {
    if (Table[Index].Protect == 0) {
      LastWritable = Index;
    }
  }
  UINT8 *Packet = (UINT8 *)AllocateZeroPool((UINTN)PacketSize);
  if (Packet == NULL) {
    FreePool(Table);
    return RunFailed(u"Allocate memory failed");
  }
  UINT8 Action = PFAT_ACTION_MORE;
  for (UINT32 Index = 0; Index < Count; Index++) {
    ZeroMem(Packet, (UINTN)PacketSize);
    CopyMem(Packet, Header + PFAT_BLOCK_HEAD_SIZE + (UINTN)Index * HeaderItem, HeaderItem);
    CopyMem(Packet + HeaderItem, Rom + (UINTN)Index * RomBlock, RomBlock);
    CopyMem(Packet + HeaderItem + RomBlock, Certificate + PFAT_BLOCK_HEAD_SIZE + (UINTN)Index * CertItem, CertItem);
    if (Table[Index].Protect != 0) {
      DebugPrint(4, u" [%02d] block protected (0x%08X)\r\n", Index, Table[Index].Address);
      continue;
    }
    if (Index == LastWritable) {
      Action = PFAT_ACTION_LAST;
    }
    DebugPrint(4, u" [%02d] block updating (0x%02X)\r\n", Index, Action);
    if (!WritePfatBlock(Packet, (UINT32)PacketSize, (UINT8)Index, Action)) {
      FreePool(Packet);
      FreePool(Table);
      return RunFailed(u"Write PFAT block failed");
    }
    Print(u"\r                           Updating PFAT %3d%%", (UINT32)((UINT64)(Index + 1) * 100 / Count));
  }
  Print(u"\r                           Update PFAT completed.\r\n");
  FreePool(Packet);
  FreePool(Table);
  FuncExit(u"RunPfatFlash", NULL);
  return TRUE;
}

BOOLEAN FlashPfatImage(CONST UINT8 *Rom, UINT32 RomSize, CONST UINT8 *Header, UINT32 HeaderSize,
                       CONST UINT8 *Certificate, UINT32 CertificateSize) {
  FuncEnter(u"FlashPfatImage");
  if (Rom == NULL || Header == NULL || Certificate == NULL) {
    FuncExit(u"FlashPfatImage", u"Input buffer is NULL");
    return FALSE;
  }
  if (!SMI_OemOdmCustom2(OEM_ODM_ACTION_BEGIN, OEM_ODM_STATUS_NONE)) {
    FuncExit(u"FlashPfatImage", u"SMI_OemOdmCustom2 before flash fail");
    return FALSE;
  }
  BOOLEAN Written = RunPfatFlash(Rom, RomSize, Header, HeaderSize, Certificate, CertificateSize);
  if (!SMI_OemOdmCustom2(OEM_ODM_ACTION_END, Written ? OEM_ODM_STATUS_SUCCESS : OEM_ODM_STATUS_FAILURE)) {
    FuncExit(u"FlashPfatImage", u"SMI_OemOdmCustom2 after flash fail");
    return FALSE;
  }
  if (!Written) {
    FuncExit(u"FlashPfatImage", u"Write PFAT failed");
    return FALSE;
  }
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_ENTIRE);
  FuncExit(u"FlashPfatImage", NULL);
  return TRUE;
}

BOOLEAN FuncSize_entirePfat(CONST UINT8 *Image, UINT32 FdSize) {
  FuncEnter(u"FuncSize_entirePfat");
  UINT32 RomSize = GetRomSize();
  if (Image == NULL || FdSize < RomSize) {
    FuncExit(u"FuncSize_entirePfat", u"Input buffer is NULL");
    return FALSE;
  }
  UINT32 EcSize = FdSize - RomSize;
  DebugPrint(4, u" entire PFAT\r\n-----+------\r\n  13h  0x%X\r\n   FD  0x%X\r\n   EC  %dK", RomSize, FdSize,
             EcSize / 1024);
  if (!TakeEcPart(Image, EcSize)) {
    FuncExit(u"FuncSize_entirePfat", u"EC size invalid");
    return FALSE;
  }
  UINT8 Selection = GetRegionSelection();
  if (Selection != 0) {
    if (!GetExternalRegionMap(Image + EcSize, FdSize - EcSize)) {
      FuncExit(u"FuncSize_entirePfat", u"Get Intel region map failed");
      return FALSE;
    }
    SetRegionReserve(Selection);
  }
  if (!SetRsvd_13h()) {
    FuncExit(u"FuncSize_entirePfat", u"Set reserve failed");
    return FALSE;
  }
  FuncExit(u"FuncSize_entirePfat", NULL);
  return TRUE;
}

BOOLEAN FuncSize_regionPfat(CONST UINT8 *Image, UINT32 FdSize) {
  FuncEnter(u"FuncSize_regionPfat");
  UINT8 Selection = GetRegionSelection();
  if (Image == NULL) {
    FuncExit(u"FuncSize_regionPfat", u"Input buffer is NULL");
    return FALSE;
  }
  if (Selection == 0) {
    Print(u"Error: Size not match!\r\n ROM Size = 0x%X\r\n File Size = 0x%X\r\n", GetRomSize(), FdSize);
    FuncExit(u"FuncSize_regionPfat", u"No region selected");
    return FALSE;
  }
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  if (!GetExternalRegionMap(NULL, 0) || !GetCurrentRegionRecord(&Current)) {
    FuncExit(u"FuncSize_regionPfat", u"Get Intel region map failed");
    return FALSE;
  }
  UINT32 BiosSize = Current.Slot[REGION_SLOT_BIOS].Size;
  // An FD smaller than the BIOS region has no EC part; the size check names it.
  UINT32 EcSize = (Selection & REGION_SELECT_BIOS) != 0 && FdSize > BiosSize ? FdSize - BiosSize : 0;
  DebugPrint(4, u" region PFAT\r\n-----+------\r\n  17h  0x%X\r\n   FD  0x%X\r\n   EC  %dK", BiosSize, FdSize,
             EcSize / 1024);
  if (!FuncChk_SizeEC(EcSize) || !CheckRegionSize(FdSize - EcSize)) {
    FuncExit(u"FuncSize_regionPfat", u"Size invalid");
    return FALSE;
  }
  if (EcSize != 0 && !StoreEcImage(Image, EcSize)) {
    FuncExit(u"FuncSize_regionPfat", u"EC size invalid");
    return FALSE;
  }
  if (!SetRegionReserve(Selection) || !SetRsvd_13h()) {
    FuncExit(u"FuncSize_regionPfat", u"Set reserve failed");
    return FALSE;
  }
  FuncExit(u"FuncSize_regionPfat", NULL);
  return TRUE;
}

BOOLEAN FuncUpdate_PFAT(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"FuncUpdate_PFAT");
  CONST PFAT_INFO *Info = GetPfatInfo();
  if (Image == NULL || !Info->IsPfat) {
    Print(u"Error:\r\nIt only supports to flash signed PFAT image on current platform.\r\nThe image to be updated is "
          u"not a PFAT image.\r\n");
    FuncExit(u"FuncUpdate_PFAT", u"Not PFAT image");
    return FALSE;
  }
  UINT32 RomSize = 0, HeaderSize = 0, CertificateSize = 0;
  if (!GetPfatPieces(Image, Size, &RomSize, &HeaderSize, &CertificateSize)) {
    Print(u"Error: PFAT image NOT valid.\r\n");
    FuncExit(u"FuncUpdate_PFAT", u"PFAT blocks outside the image");
    return FALSE;
  }
  BOOLEAN Written = RunPfatFlash(Image, RomSize, Image + Info->HeaderOffset, HeaderSize,
                                 Image + Info->CertificateOffset, CertificateSize);
  FuncExit(u"FuncUpdate_PFAT", Written ? NULL : u"Run PFAT flash failed");
  return Written;
}

BOOLEAN FuncUpdate_via42h(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"FuncUpdate_via42h");
  CONST PFAT_INFO *Info = GetPfatInfo();
  if (Image == NULL || !Info->IsPfat || Info->HeaderOffset > Size) {
    FuncExit(u"FuncUpdate_via42h", u"Input buffer is NULL");
    return FALSE;
  }
  UINT32 FdSize = Info->HeaderOffset;
  UINT32 RomSize = GetRomSize();
  DebugPrint(4, u" FuncUpdate_via42h\r\n-----+------------\r\n   FD  0x%X\r\n", FdSize);
  BOOLEAN Sized = RomSize > FdSize ? FuncSize_regionPfat(Image, FdSize) : FuncSize_entirePfat(Image, FdSize);
  if (!Sized) {
    FuncExit(u"FuncUpdate_via42h", u"Size check failed");
    return FALSE;
  }
  if (!IsModelCheckNeeded() && !SMI_SkipModelCheckVerify(Image, FdSize, RomSize)) {
    FuncExit(u"FuncUpdate_via42h", u"Skip model check failed");
    return FALSE;
  }
  if (!IsSupportPfat()) {
    BOOLEAN Flashed = FuncUpdate_via15h(Image, FdSize);
    FuncExit(u"FuncUpdate_via42h", Flashed ? NULL : u"Update failed");
    return Flashed;
  }
  if (!UpdateOemMe()) {
    FuncExit(u"FuncUpdate_via42h", u"Update OEM ME failed");
    return FALSE;
  }
  if (!FuncUpdate_PFAT(Image, Size)) {
    SMI_OemOdmCustom2(OEM_ODM_ACTION_END, OEM_ODM_STATUS_FAILURE);
    FuncExit(u"FuncUpdate_via42h", u"Update PFAT failed");
    return FALSE;
  }
  SMI_OemOdmCustom2(OEM_ODM_ACTION_END, OEM_ODM_STATUS_SUCCESS);
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_ENTIRE);
  FuncExit(u"FuncUpdate_via42h", NULL);
  return TRUE;
}
