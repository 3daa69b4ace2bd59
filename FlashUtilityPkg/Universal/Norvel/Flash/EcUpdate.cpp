#include "Flash/EcUpdate.h"

#include "Base/HexDump.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniStore.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapListings.h"
#include "Flash/RomMapTypes.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/PlatformQueries.h"

#define EC_SIZE_UNIT 0x10000  // index 0

EC_UPDATE_STATE mEcUpdate;

// Kept with '~' so that a scan of this driver's own image finds no answer record.
static CONST CHAR8 mRequestSignature[] = "$BUFFER_";
static CONST CHAR8 mAnswerSignature[] = "~ECINFO_";

VOID EcUpdateResetState(VOID) {
  FreePool(mEcUpdate.ImageBuffer);
  ZeroMem(&mEcUpdate, sizeof(mEcUpdate));
}

// ---- 21h part information ---------------------------------------------------

UINT8 EcSizeToIndex(UINT32 Size) {
  for (UINT8 Index = 0; Index <= EC_SIZE_INDEX_MAX; Index++) {
    if (Size == ((UINT32)EC_SIZE_UNIT << Index)) {
      return Index;
    }
  }
  return EC_SIZE_INDEX_PARTS;
}

UINT32 EcIndexToSize(UINT8 Index) { return Index <= EC_SIZE_INDEX_MAX ? (UINT32)EC_SIZE_UNIT << Index : 0; }

// 0xEF: a BIOS without the function answers the same on every retry.
static CONST FWSMI_EXCHANGE k21h = {
    u"Fwsmi_21h", 0x21, 0, FWSMI_STATUS_NOT_SUPPORTED, u"Allocate memory failed",
    {{FWSMI_REG_ESI, EC_PART_RECORD_SIZE, FWSMI_BACK_ALWAYS, EC_PART_RECORD_SIZE}, {}}, NULL, NULL};

BOOLEAN Fwsmi_21h(UINT8 SizeIndex, UINT8 *Record, UINT8 *Status, UINT8 *Index) {
  if (!FwsmiExchangeBegin(&k21h, Record == NULL || Status == NULL || Index == NULL)) {
    return FALSE;
  }
  *Status = 0xFF;
  *Index = 0;
  DebugPrint(4, u"===== 21h Input =====\r\n");
  DumpHex(Record, EC_PART_RECORD_SIZE);
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = Record;
  Io.Args.Ecx = (UINT32)SizeIndex << 8;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k21h, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k21h, &Io);
    *Status = (UINT8)(Io.Eax & 0xFF);
    *Index = (UINT8)((Io.Eax >> 8) & 0xFF);
    if (*Status == FWSMI_STATUS_NOT_SUPPORTED) {
      DebugPrint(4, u" FWSMI function not support\r\n");
    }
  }
  return FwsmiExchangeEnd(&k21h, Reason);
}

BOOLEAN Process21hOutputData(UINT8 Index, CONST UINT8 *Record) {
  FuncEnter(u"Process21hOutputData");
  ZeroMem(&mEcUpdate.Parts, sizeof(mEcUpdate.Parts));
  mEcUpdate.Parts.PartCount = 1;
  mEcUpdate.Parts.PartSize[0] = EcIndexToSize(Index);
  mEcUpdate.Parts.WholeSize = mEcUpdate.Parts.PartSize[0];
  if (Index != EC_SIZE_INDEX_PARTS) {
    FuncExit(u"Process21hOutputData", u"Single EC part");
    return TRUE;
  }
  CHAR8 Signature[EC_PART_SIGNATURE_SIZE];
  CopyMem(Signature, mAnswerSignature, sizeof(Signature));
  Signature[0] = '$';
  if (Record == NULL || CompareMem(Record, Signature, sizeof(Signature)) != 0) {
    FuncExit(u"Process21hOutputData", u"Signature incorrect");
    return FALSE;
  }
  UINT32 Count = ReadUnaligned32(Record + EC_PART_SIGNATURE_SIZE);
  // The record has room for ten sizes; a larger count cannot be believed.
  if (Count > EC_PART_MAX) {
    ZeroMem(&mEcUpdate.Parts, sizeof(mEcUpdate.Parts));
    FuncExit(u"Process21hOutputData", u"Too many EC parts");
    return FALSE;
  }
  mEcUpdate.Parts.PartCount = Count;
  mEcUpdate.Parts.WholeSize = 0;
  ZeroMem(mEcUpdate.Parts.PartSize, sizeof(mEcUpdate.Parts.PartSize));
  DebugPrint(4, u" EC part information (21h)\r\nindex|    size\r\n-----+-----------\r\n");
  UINT64 Whole = 0;
  for (UINT32 Part = 0; Part < Count; Part++) {
    UINT32 Size = ReadUnaligned32(Record + 12 + Part * 4);
    mEcUpdate.Parts.PartSize[Part] = Size;
    Whole += Size;
    DebugPrint(4, u" %02d  | 0x%08X\r\n", Part + 1, Size);
  }
  // Ten sizes can overflow 32 bits; the sum then stands for "anything fits in 4 GiB".
  mEcUpdate.Parts.WholeSize = Whole > 0xFFFFFFFFull ? 0xFFFFFFFFu : (UINT32)Whole;
  DebugPrint(4, u" Whole EC size 0x%08X\r\n", mEcUpdate.Parts.WholeSize);
  FuncExit(u"Process21hOutputData", NULL);
  return TRUE;
}

BOOLEAN FuncGetEcPartInfo(UINT32 EcSize) {
  FuncEnter(u"FuncGetEcPartInfo");
  UINT8 Request[EC_PART_RECORD_SIZE];
  ZeroMem(Request, sizeof(Request));
  CopyMem(Request, mRequestSignature, EC_PART_SIGNATURE_SIZE);
  WriteUnaligned32(Request + EC_PART_SIGNATURE_SIZE, EcSize);
  UINT8 SizeIndex = EcSizeToIndex(EcSize);
  UINT8 Status = 0;
  UINT8 Index = 0;
  Fwsmi_21h(SizeIndex, Request, &Status, &Index);
  UINT8 Ignore = mIniSettings.UpdateEC.Ignore_21h;
  if (Ignore == 1 && Status == FWSMI_STATUS_NOT_SUPPORTED) {
    DebugPrint(4, u" Ignore FWSMI 21h.\r\n");
    Status = FWSMI_STATUS_SUCCESS;
    Index = SizeIndex;
  }
  if (Status != FWSMI_STATUS_SUCCESS) {
    CONST CHAR16 *Default = u"Get EC part information failed.\r\n";
    CONST CHAR16 *Message = GetMessageString(mIniSettings.UpdateEC.EC_DockWarning, Default);
    Print(u"%s", Message);
    if (Message != Default) {
      FreePool((VOID *)Message);
    }
    FuncExit(u"FuncGetEcPartInfo", u"FWSMI failed");
    return FALSE;
  }
  DebugPrint(4, u"===== 21h Output =====\r\n");
  DebugPrint(4, u" EC part size 0x%X (%dK) Index %2X\r\n", EcIndexToSize(Index), EcIndexToSize(Index) / 1024, Index);
  DumpHex(Request, EC_PART_RECORD_SIZE);
  if (!Process21hOutputData(Index, Request)) {
    FuncExit(u"FuncGetEcPartInfo", u"Output structure incorrect");
    return FALSE;
  }
  FuncExit(u"FuncGetEcPartInfo", NULL);
  return TRUE;
}

BOOLEAN CheckEcPartSize(UINT32 EcSize) {
  FuncEnter(u"CheckEcPartSize");
  DebugPrint(4, u" EC image size (%dK) / EC part size (%dK)\r\n", EcSize / 1024, mEcUpdate.Parts.WholeSize / 1024);
  if (EcSize > mEcUpdate.Parts.WholeSize) {
    FuncExit(u"CheckEcPartSize", u"EC image size is too large");
    return FALSE;
  }
  FuncExit(u"CheckEcPartSize", NULL);
  return TRUE;
}

BOOLEAN SMI_CheckEcPartSize(UINT32 EcSize) {
  FuncEnter(u"SMI_CheckEcPartSize");
  if (mEcUpdate.Queried == 0) {
    mEcUpdate.QueryResult = FuncGetEcPartInfo(EcSize);
    mEcUpdate.Queried = 1;
  }
  if (!mEcUpdate.QueryResult) {
    FuncExit(u"SMI_CheckEcPartSize", u"Get EC part information failed");
    return FALSE;
  }
  if (!CheckEcPartSize(EcSize)) {
    FuncExit(u"SMI_CheckEcPartSize", u"EC image size is too large");
    return FALSE;
  }
  FuncExit(u"SMI_CheckEcPartSize", NULL);
  return TRUE;
}

static VOID PrintEcSizeMismatch(UINT32 EcSize) {
  Print(u"Error: Size not match!\r\n ROM Size = 0x%X\r\n File (with EC) Size = %dK\r\n", GetRomSize(), EcSize / 1024);
}

BOOLEAN FuncChk_SizeEC(UINT32 EcSize) {
  FuncEnter(u"FuncChk_SizeEC");
  BOOLEAN Ecb = IsEcWithBiosOptionSet();
  BOOLEAN Ecbp = IsEcWithBiosPercentOptionSet();
  BOOLEAN Eob = IsEcBiosOnlyOptionSet();
  DebugPrint(4, u" FuncChk_SizeEC\r\n-----+---------\r\n   EC  %dK\r\n /ecb  %d\r\n/ecbp  %d\r\n /eob  %d\r\n",
             EcSize / 1024, Ecb ? 1 : 0, Ecbp ? 1 : 0, Eob ? 1 : 0);
  BOOLEAN EcOption = Ecb || Ecbp || Eob;
  if (EcSize > EC_IMAGE_MAX_SIZE) {
    FuncExit(u"FuncChk_SizeEC", u"EC size too large");
    return FALSE;
  }
  if (EcSize != 0) {
    if (!EcOption && mEcUpdate.CapsuleEcRecord == 0) {
      PrintEcSizeMismatch(EcSize);
      FuncExit(u"FuncChk_SizeEC", u"No EC option");
      return FALSE;
    }
    if (!SMI_CheckEcPartSize(EcSize)) {
      FuncExit(u"FuncChk_SizeEC", u"EC part size check failed");
      return FALSE;
    }
  } else if (EcOption) {
    PrintEcSizeMismatch(0);
    FuncExit(u"FuncChk_SizeEC", u"No EC image");
    return FALSE;
  }
  FuncExit(u"FuncChk_SizeEC", NULL);
  return TRUE;
}

// ---- The EC image buffer ------------------------------------------------------

BOOLEAN AllocateEcImageBuffer(VOID) {
  if (mEcUpdate.ImageBuffer == NULL) {
    mEcUpdate.ImageBuffer = (UINT8 *)AllocateZeroPool(EC_IMAGE_BUFFER_SIZE);
  }
  return mEcUpdate.ImageBuffer != NULL;
}

VOID FreeEcImageBuffer(VOID) {
  FreePool(mEcUpdate.ImageBuffer);
  mEcUpdate.ImageBuffer = NULL;
}

BOOLEAN StoreEcImage(CONST UINT8 *Image, UINT32 Size) {
  if (mEcUpdate.ImageBuffer == NULL || (Image == NULL && Size != 0) || Size > EC_IMAGE_BUFFER_SIZE) {
    DebugPrint(4, u" Store EC image (0x%X) refused\r\n", Size);
    return FALSE;
  }
  CopyMem(mEcUpdate.ImageBuffer, Image, Size);
  mEcUpdate.ImageSize = Size;
  return TRUE;
}

BOOLEAN TakeEcPart(CONST UINT8 *Image, UINT32 EcSize) {
  return FuncChk_SizeEC(EcSize) && (EcSize == 0 || StoreEcImage(Image, EcSize));
}

CONST UINT8 *GetEcImageBuffer(VOID) { return mEcUpdate.ImageBuffer; }

UINT32 GetEcImageSize(VOID) { return mEcUpdate.ImageSize; }

VOID SetCapsuleEcRecord(BOOLEAN Present) { mEcUpdate.CapsuleEcRecord = Present ? 1 : 0; }

// ---- The EC region of the SPI flash ---------------------------------------------

BOOLEAN UpdateExternalEcMain(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"UpdateExternalEcMain");
  BLOCK_ENTRY *Table = NULL;
  if (Image == NULL || Size == 0 || !GetBlockTableCopy(&Table)) {
    FuncExit(u"UpdateExternalEcMain", u"Input buffer is NULL");
    return FALSE;
  }
  DebugPrint(4, u"===== ROM Block Protect Table =====\r\n");
  TraceRomBlockProtectTable();
  SMI_ApHookPoint(HOOK_BEFORE_WRITE_ROM);
  UINT32 Count = GetBlockCount();
  if (Count > BLOCK_TABLE_ENTRIES) {
    Count = BLOCK_TABLE_ENTRIES;
  }
  UINT32 Written = 0;
  for (UINT32 Index = 0; Index < Count && Written < Size; Index++) {
    CONST BLOCK_ENTRY *Block = &Table[Index];
    if (Block->Protect != 0) {
      continue;
    }
    // An image that ends inside a block fills only its part of the block.
    UINT32 Piece = Size - Written < Block->Size ? Size - Written : Block->Size;
    if (!SMI_WriteRomPiece(Block->Address, Block->Size, Image + Written, Piece)) {
      FreePool(Table);
      FuncExit(u"UpdateExternalEcMain", u"Write ROM failed");
      return FALSE;
    }
    Written += Piece;
    Print(u"\r                           Updating EC %3d%%", (UINT32)((UINT64)Written * 100 / Size));
  }
  if (Written < Size) {
    DebugPrint(4, u" EC image bytes left over 0x%X\r\n", Size - Written);
  }
  FreePool(Table);
  FuncExit(u"UpdateExternalEcMain", NULL);
  return TRUE;
}
