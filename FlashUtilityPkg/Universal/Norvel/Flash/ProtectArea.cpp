#include "Flash/ProtectArea.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Flash/BlockFlash.h"
#include "Flash/Completion.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMap.h"
#include "Flash/SecureCapsule.h"
#include "Image/Admission.h"
#include "Smi/PlatformQueries.h"

#define FV_GUID_LENGTH 16
#define FV_HEADER_MIN_LENGTH (FV_CHECKSUM_OFFSET + 2)

// 7A9354D9-0468-444A-81CE-0BF617D890DF in its in-memory byte order.
static CONST UINT8 kFfsGuid[FV_GUID_LENGTH] = {0xD9, 0x54, 0x93, 0x7A, 0x68, 0x04, 0x4A, 0x44,
                                               0x81, 0xCE, 0x0B, 0xF6, 0x17, 0xD8, 0x90, 0xDF};

BOOLEAN CalculateFvChecksum(CONST UINT8 *Image, UINT32 Size, UINT16 *Checksum) {
  if (Image == NULL || Size < FV_HEADER_MIN_LENGTH) {
    return FALSE;
  }
  UINT32 Length = ReadUnaligned16(Image + FV_HEADER_LENGTH_OFFSET);
  if (Length > Size) {
    return FALSE;
  }
  UINT16 Sum = 0;
  for (UINT32 Word = 0; Word < Length / 2; Word++) {
    if (Word * 2 != FV_CHECKSUM_OFFSET) {
      Sum = (UINT16)(Sum + ReadUnaligned16(Image + Word * 2));
    }
  }
  *Checksum = (UINT16)(0x10000 - Sum);
  return TRUE;
}

static BOOLEAN HasFfsGuid(CONST UINT8 *Image, UINT32 Size) {
  for (UINT32 At = 0; Size >= FV_GUID_LENGTH && At <= Size - FV_GUID_LENGTH; At++) {
    if (CompareMem(Image + At, kFfsGuid, FV_GUID_LENGTH) == 0) {
      return TRUE;
    }
  }
  return FALSE;
}

static BOOLEAN ProfileRefused(CONST CHAR16 *Reason) {
  FuncExit(u"VerifyProfile", Reason);
  return FALSE;
}

BOOLEAN VerifyProfile(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"VerifyProfile");
  UINT8 Type = GetPbiType();
  BOOLEAN Acer = IsVendorId(VENDOR_ID_ACER);
  UINT32 Address = 0;
  UINT32 AreaSize = 0;
  // An absent type is named as such, not as a file larger than no area.
  if (Image == NULL || GetSpecifyProtectAreaCount(Type) == 0 || !GetSpecifyProtectArea(Type, 0, &Address, &AreaSize)) {
    if (Acer && Type == PROFILE_AREA_TYPE) {
      Print(u"\r\nSystem BIOS did not support ABCT BIOS structure and Profile region cannot be updated!\r\n");
    } else {
      Print(u"Input protected region type (0x%X) not found!\r\n", Type);
    }
    return ProfileRefused(u"Protect area type not found");
  }
  if (Size > AreaSize) {
    Print(u"\r\nError:\r\nSize of Profile binary (0x%X) is larger than region size (0x%X)!\r\n", Size, AreaSize);
    return ProfileRefused(u"Size too large");
  }
  if (Acer && Type == PROFILE_AREA_TYPE) {
    if (!HasFfsGuid(Image, Size)) {
      Print(u"\r\nSystem BIOS is not KorvathVyr and Profile region cannot be updated!\r\n");
      return ProfileRefused(u"Korvath FV GUID not found");
    }
    UINT16 Calculated = 0;
    BOOLEAN Fits = CalculateFvChecksum(Image, Size, &Calculated);
    UINT16 Stored = ReadUnaligned16(Image + FV_CHECKSUM_OFFSET);
    DebugPrint(4, u"Old checksum: 0x%X, New checksum: 0x%X\r\n", Stored, Calculated);
    if (!Fits || Stored != Calculated) {
      Print(u"\r\nError: Wrong checksum!\r\n");
      return ProfileRefused(u"Checksum error");
    }
    if (!CheckPassword()) {
      return ProfileRefused(u"Password error");
    }
  }
  FuncExit(u"VerifyProfile", NULL);
  return TRUE;
}

BOOLEAN UnportectSpecifyProtectAreaType(UINT8 Type) {
  FuncEnter(u"UnportectSpecifyProtectAreaType");
  UINT32 Address = 0;
  UINT32 Size = 0;
  if (!GetSpecifyProtectArea(Type, 0, &Address, &Size) || Size == 0 || mRomMap.BlockTable == NULL) {
    FuncExit(u"UnportectSpecifyProtectAreaType", u"Protect area type not found");
    return FALSE;
  }
  UINT64 Last = (UINT64)Address + Size - 1;
  DebugPrint(4, u" Unprotect [%02Xh] %08Xh - %08Xh\r\n", Type, Address, (UINT32)Last);
  UINT32 Count = GetBlockCount() < BLOCK_TABLE_ENTRIES ? GetBlockCount() : BLOCK_TABLE_ENTRIES;
  for (UINT32 Index = 0; Index < Count; Index++) {
    BLOCK_ENTRY *Block = &mRomMap.BlockTable[Index];
    // A block that the area only partly covers is written too, or the file's
    // bytes in it would be lost; its bytes outside the area are kept.
    UINT64 BlockLast = (UINT64)Block->Address + Block->Size - 1;
    if (Block->Size != 0 && Block->Address <= Last && BlockLast >= Address) {
      Block->Protect = 0;
    }
  }
  FuncExit(u"UnportectSpecifyProtectAreaType", NULL);
  return TRUE;
}

// The unprotected blocks as the flash holds them, so that a block the area
// covers only in part keeps its bytes outside the area.
static BOOLEAN ReadUnprotectedBlocks(UINT8 *Working, UINT32 RomSize) {
  UINT32 Count = GetBlockCount() < BLOCK_TABLE_ENTRIES ? GetBlockCount() : BLOCK_TABLE_ENTRIES;
  UINT32 Base = GetRomBase();
  for (UINT32 Index = 0; Index < Count; Index++) {
    CONST BLOCK_ENTRY *Block = GetBlockEntry(Index);
    if (Block == NULL || Block->Protect != 0) {
      continue;
    }
    if (Block->Address < Base || (UINT64)(Block->Address - Base) + Block->Size > RomSize ||
        !SMI_ReadRom(Block->Address, Block->Size, Working + (Block->Address - Base), NULL)) {
      return FALSE;
    }
  }
  return TRUE;
}

static BOOLEAN AreaFailed(UINT8 *Working, CONST CHAR16 *Reason) {
  FreePool(Working);
  FuncExit(u"FlashProtectAreaOnly", Reason);
  return FALSE;
}

BOOLEAN FlashProtectAreaOnly(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"FlashProtectAreaOnly");
  if (!VerifyProfile(Image, Size)) {
    FuncExit(u"FlashProtectAreaOnly", u"Verify profile failed");
    return FALSE;
  }
  UINT8 Type = GetPbiType();
  UINT32 Address = 0;
  UINT32 AreaSize = 0;
  UINT32 RomSize = GetRomSize();
  UINT32 Base = GetRomBase();
  GetSpecifyProtectArea(Type, 0, &Address, &AreaSize);
  // The area comes from the BIOS: one outside the ROM is not written at all.
  if (Address < Base || (UINT64)(Address - Base) + Size > RomSize) {
    Print(u"Error: Protected region 0x%08X (0x%X) lies outside the ROM.\r\n", Address, AreaSize);
    FuncExit(u"FlashProtectAreaOnly", u"Protect area outside ROM");
    return FALSE;
  }
  ProtectAllBlocks();
  if (!UnportectSpecifyProtectAreaType(Type)) {
    FuncExit(u"FlashProtectAreaOnly", u"Protect area type not found");
    return FALSE;
  }
  UINT8 *Working = (UINT8 *)AllocateZeroPool((UINTN)RomSize + WORKING_IMAGE_EXTRA);
  if (Working == NULL) {
    Print(u"Error: Allocate memory for updating failed. (0x%X)\r\n", RomSize);
    FuncExit(u"FlashProtectAreaOnly", u"Allocate memory failed");
    return FALSE;
  }
  if (!ReadUnprotectedBlocks(Working, RomSize)) {
    Print(u"Error: The blocks of the protected region could not be read; nothing was written.\r\n");
    return AreaFailed(Working, u"Read ROM failed");
  }
  UINT64 AreaEnd = (UINT64)(Address - Base) + AreaSize;
  ZeroMem(Working + (Address - Base), (UINTN)((AreaEnd > RomSize ? RomSize : AreaEnd) - (Address - Base)));
  DebugPrint(4, u" Image Size 0x%X\r\n", Size);
  CopyMem(Working + (Address - Base), Image, Size);
  SMI_OemOdmCustom2(OEM_ODM_ACTION_BEGIN, OEM_ODM_STATUS_NONE);
  BOOLEAN Updated = UpdateProcEntire(Working);
  SMI_OemOdmCustom2(OEM_ODM_ACTION_END, Updated ? OEM_ODM_STATUS_SUCCESS : OEM_ODM_STATUS_FAILURE);
  if (!Updated) {
    return AreaFailed(Working, u"Update failed");
  }
  FreePool(Working);
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_PARTIAL);
  FuncExit(u"FlashProtectAreaOnly", NULL);
  return TRUE;
}
