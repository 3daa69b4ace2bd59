#include "Bios/SignedFunctions.h"

#include "Bios/EmuBytes.h"
#include "Bios/FlashFunctions.h"

namespace {

using namespace emu_bytes;

CONST UINT8 mCapsuleSignature[20] = {'$',  'Z',  'T',  'K',  0x33, 0x38, 0xA1, 0xDD, 0x42, 0xC3,
                                     0xAE, 0x4E, 0xB5, 0xC9, 0xC2, 0xD7, 0xD6, 0x13, 0xDB, 0xB8};
#define CAPSULE_SIGNATURE_TAG "$_NORVEL_CAPSIG_"
#define RBU_SIGNATURE_TAG "$_NORVEL_RBUSIG_"
#define RBU_BLOCK 0x80000u
#define PIECE 1024u
#define EXTRA_TYPE_FIRST 0x04
#define EXTRA_TYPE_LAST 0x0C
#define TYPE_PFAT_PACKET 0x58
#define TYPE_PFAT_RESULT 0x5A
#define TYPE_PROGRESS 0x67

VOID SetCl(SMI_REGISTERS *Regs, UINT8 Value) { Regs->Ecx = (Regs->Ecx & 0xFFFFFF00u) | Value; }
VOID SetAh(SMI_REGISTERS *Regs, UINT8 Value) { Regs->Eax = (Regs->Eax & 0xFFFF00FFu) | ((UINT32)Value << 8); }

// First offset of the Length bytes of Needle in [0, Size), or -1.
INTN Find(CONST UINT8 *Data, UINT32 Size, CONST VOID *Needle, UINT32 Length) {
  CONST UINT8 *N = (CONST UINT8 *)Needle;
  for (UINT32 At = 0; Size >= Length && At <= Size - Length; At++) {
    if (Data[At] == N[0] && SameBytes(Data + At, N, Length)) {
      return (INTN)At;
    }
  }
  return -1;
}

// A record found by its tag in [0, Size): its data must lie inside too.
// FALSE, with *Valid still TRUE, when there is none; *Valid FALSE when one
// runs past the end.
BOOLEAN FindRecord(CONST UINT8 *Data, UINT32 Size, CONST CHAR8 *Tag, UINT32 *Offset, UINT32 *Length,
                   BOOLEAN *Valid) {
  INTN At = Find(Data, Size, Tag, 16);
  if (At < 0) {
    return FALSE;
  }
  UINT32 Start = (UINT32)At;
  if (Size - Start < 24 || Get32(Data + Start + 20) > Size - Start - 24) {
    *Valid = FALSE;
    return FALSE;
  }
  *Offset = Start + 24;
  *Length = Get32(Data + Start + 20);
  return TRUE;
}

BOOLEAN CheckSignature(CONST EMU_SIGNED *S, CONST UINT8 Digest[EMU_SHA256_DIGEST_SIZE], CONST UINT8 *Signature) {
  return S->HasKey && EmuRsaVerifySha256(S->PublicKey, Digest, Signature);
}

// Where an image of Size bytes goes: the whole part, or its BIOS region
// (17h type 1). 0 when it fits neither.
UINT32 TargetOf(CONST EMU_FLASH *F, UINT32 Size) {
  if (F->Contents == NULL || Size == 0) {
    return 0;
  }
  if (Size == F->ContentsSize) {
    return EmuFlashBase(F);
  }
  for (UINT32 Index = 0; Index < F->ExternalCount && Index < EMU_FLASH_MAX_EXTERNAL; Index++) {
    CONST EMU_FLASH_REGION *R = &F->External[Index];
    if (R->Type == 1 && R->Size == Size && (UINT64)R->Address + Size <= F->ContentsSize) {
      return EmuFlashBase(F) + R->Address;
    }
  }
  return 0;
}

// Size of the block-map block that starts at Address, 0 when none does.
UINT32 BlockAt(CONST EMU_FLASH *F, UINT32 Address) {
  UINT64 At = EmuFlashBase(F);
  UINT32 Entries = F->BlockMapCount < EMU_FLASH_MAX_BLOCK_MAP ? F->BlockMapCount : EMU_FLASH_MAX_BLOCK_MAP;
  for (UINT32 Index = 0; Index < Entries && At <= Address; Index++) {
    UINT32 Units = F->BlockMap[Index].Units;
    if (Units == 0 || Units == 0xFFFF) {
      break;
    }
    UINT32 Block = Units * 256;
    UINT64 End = At + (UINT64)Block * F->BlockMap[Index].Count;
    if (Address < End) {
      return (UINT32)(Address - At) % Block == 0 ? Block : 0;
    }
    At = End;
  }
  return 0;
}

// A block the BIOS itself wrote counts like a 15h write, also towards the power cut.
VOID CountBlockWrite(EMU_FLASH *F, UINT32 Address, UINT32 Length) {
  F->BytesWritten += Length;
  F->BlocksWritten++;
  if (F->PowerCutAfterWrites != 0 && F->BlocksWritten == F->PowerCutAfterWrites) {
    F->PoweredOff = TRUE;
    F->PowerCutAddress = Address;
  }
}

VOID WriteBlock(EMU_FLASH *F, UINT32 Address, CONST UINT8 *Data, UINT32 Length) {
  EmuFlashErase(F, Address, Length);
  EmuFlashProgram(F, Address, Data, Length);
  CountBlockWrite(F, Address, Length);
}

// Writes Size bytes at Address block by block; stops after FailAfter blocks
// (0 never) or at a power cut. An EMU_SIGNED_APPLY_* outcome.
UINT8 WriteImage(EMU_BIOS *Bios, UINT32 Address, CONST UINT8 *Data, UINT32 Size, UINT32 FailAfter) {
  EMU_FLASH *F = &Bios->Flash;
  EMU_SIGNED *S = &Bios->Signed;
  if (!EmuFlashIsBlockRange(F, Address, Size)) {
    return EMU_SIGNED_APPLY_FAILED;
  }
  for (UINT32 Done = 0; Done < Size;) {
    if (F->PoweredOff) {
      return EMU_SIGNED_APPLY_POWER_CUT;
    }
    if (FailAfter != 0 && S->LastApplyBlocks == FailAfter) {
      return EMU_SIGNED_APPLY_FAILED;
    }
    UINT32 Block = BlockAt(F, Address + Done);
    if (Block == 0 || Block > Size - Done) {
      return EMU_SIGNED_APPLY_FAILED;
    }
    WriteBlock(F, Address + Done, Data + Done, Block);
    S->LastApplyBlocks++;
    Done += Block;
  }
  return F->PoweredOff ? EMU_SIGNED_APPLY_POWER_CUT : EMU_SIGNED_APPLY_DONE;
}

// The capsule block list at Address (count, 0, then length and address of
// each block) copied into the store: at most 512 blocks, 32-bit fields, the
// lengths adding up to Size, every block readable.
UINT8 GatherBlocks(EMU_BIOS *Bios, UINT32 Address, UINT32 Size, BOOLEAN *FromZero) {
  EMU_SIGNED *S = &Bios->Signed;
  UINT8 Header[8];
  if (!EmuBiosReadPhysical(Bios, Address, Header, sizeof(Header))) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  UINT32 Count = Get32(Header);
  if (Count == 0 || Count > EMU_SIGNED_MAX_CAPSULE_BLOCKS) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  if (Size > S->StoreCapacity || S->Store == NULL) {
    return EMU_SIGNED_STATUS_TOO_LARGE;
  }
  UINT32 Total = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    UINT8 Entry[16];
    if (!EmuBiosReadPhysical(Bios, (UINT64)Address + 8 + 16 * Index, Entry, sizeof(Entry))) {
      return EMU_CHECKS_STATUS_BAD_REQUEST;
    }
    UINT32 Length = Get32(Entry);
    UINT32 From = Get32(Entry + 8);
    if (Get32(Entry + 4) != 0 || Get32(Entry + 12) != 0 || Length == 0 || Length > Size - Total) {
      return EMU_CHECKS_STATUS_BAD_REQUEST;
    }
    if (Index == 0 && From == 0 && FromZero != NULL) {
      *FromZero = TRUE;
      return 0;  // the capsule lies on the ESP: the list carries no data
    }
    if (!EmuBiosReadPhysical(Bios, From, S->Store + Total, Length)) {
      return EMU_CHECKS_STATUS_BAD_REQUEST;
    }
    Total += Length;
  }
  return Total == Size ? 0 : (UINT8)EMU_CHECKS_STATUS_BAD_REQUEST;
}

// The 41h "$EDO" answer: indexes 0xFF, the byte size, the status word and,
// when not 0, a return code.
VOID PutAnswer(UINT8 *Answer, UINT32 Size, UINT16 Status, UINT64 Code) {
  FillBytes(Answer, EMU_CHECKS_EDO_SIZE, 0);
  CopyBytes(Answer, "$EDO", 4);
  Put32(Answer + 4, EMU_CHECKS_EDO_STRUCTURE_SIZE);
  Answer[8] = 0xFF;
  Answer[9] = 0xFF;
  Put32(Answer + 10, Size);
  Put16(Answer + 14, Status);
  Put32(Answer + 16, (UINT32)Code);
  Put32(Answer + 20, (UINT32)(Code >> 32));
}

// The size of a 41h request: index 0-7 for 64 KiB << index, 0xFD and 0xFF
// the bytes at offset 10, anything else 0.
UINT32 RequestSize(CONST UINT8 *Request) {
  UINT8 Index = Request[9];
  if (Index <= 7) {
    return 0x10000u << Index;
  }
  return Index == 0xFD || Index == 0xFF ? Get32(Request + 10) : 0;
}

// One PFAT packet of Length bytes at Address: checked in a first pass over
// the exchange memory (header, sizes, place, signature), written in a
// second. The return code for 41h type 5Ah.
UINT64 WritePacket(EMU_BIOS *Bios, UINT32 Address, UINT32 Length, UINT8 Index) {
  EMU_SIGNED *S = &Bios->Signed;
  EMU_FLASH *F = &Bios->Flash;
  UINT8 Header[EMU_PFAT_BLOCK_HEADER_SIZE];
  if (Length < sizeof(Header) + EMU_RSA_KEY_SIZE || !EmuBiosReadPhysical(Bios, Address, Header, sizeof(Header))) {
    return EMU_PFAT_RESULT_BAD_HEADER;
  }
  UINT32 Target = Get32(Header + 12);
  UINT32 Block = Get32(Header + 16);
  if (!SameBytes(Header, "$PFATBLK", 8) || (UINT8)Get32(Header + 8) != Index ||
      Get32(Header + 20) != EMU_RSA_KEY_SIZE || Block != Length - sizeof(Header) - EMU_RSA_KEY_SIZE) {
    return EMU_PFAT_RESULT_BAD_HEADER;
  }
  if (!EmuFlashIsBlockRange(F, Target, Block)) {
    return EMU_PFAT_RESULT_BAD_ADDRESS;
  }
  EMU_SHA256 Hash;
  EmuSha256Init(&Hash);
  EmuSha256Update(&Hash, Header, sizeof(Header));
  UINT8 Piece[PIECE];
  for (UINT32 Done = 0; Done < Block; Done += PIECE) {
    UINT32 Take = Block - Done < PIECE ? Block - Done : PIECE;
    if (!EmuBiosReadPhysical(Bios, (UINT64)Address + sizeof(Header) + Done, Piece, Take)) {
      return EMU_PFAT_RESULT_BAD_HEADER;
    }
    EmuSha256Update(&Hash, Piece, Take);
  }
  UINT8 Digest[EMU_SHA256_DIGEST_SIZE];
  UINT8 Signature[EMU_RSA_KEY_SIZE];
  EmuSha256Final(&Hash, Digest);
  if (!EmuBiosReadPhysical(Bios, (UINT64)Address + sizeof(Header) + Block, Signature, sizeof(Signature)) ||
      !CheckSignature(S, Digest, Signature)) {
    return EMU_PFAT_RESULT_BAD_SIGNATURE;
  }
  if (S->PfatFailAtPacket != 0 && S->PfatPackets == S->PfatFailAtPacket) {
    return EMU_PFAT_RESULT_WRITE_FAILED;
  }
  // The packet's one block: erased, then programmed piece by piece.
  EmuFlashErase(F, Target, Block);
  for (UINT32 Done = 0; Done < Block; Done += PIECE) {
    UINT32 Take = Block - Done < PIECE ? Block - Done : PIECE;
    EmuBiosReadPhysical(Bios, (UINT64)Address + sizeof(Header) + Done, Piece, Take);
    EmuFlashProgram(F, Target + Done, Piece, Take);
  }
  CountBlockWrite(F, Target, Block);
  S->PfatWritten++;
  return 0;
}

}  // namespace

VOID EmuSignedInit(EMU_SIGNED *Signed) {
  FillBytes(Signed, sizeof(*Signed), 0);
  Signed->RbuAction = 1;  // reboot
  Signed->PfatPacketLimit = 0x100000;
  Signed->ExtraDataLimit = 0x100000;
  Signed->PfatResult = EMU_PFAT_RESULT_NONE;
}

VOID EmuSignedSetBuffers(EMU_SIGNED *Signed, UINT8 *Store, UINT32 StoreCapacity, UINT8 *Extra,
                         UINT32 ExtraCapacity) {
  Signed->Store = Store;
  Signed->StoreCapacity = Store != NULL ? StoreCapacity : 0;
  Signed->Extra = Extra;
  Signed->ExtraCapacity = Extra != NULL ? ExtraCapacity : 0;
}

UINT32 EmuSignedRbuCrc32(CONST UINT8 *Data, UINT32 Size) {
  if (Data == NULL || Size == 0) {
    return 0;
  }
  UINT32 Table[256];
  for (UINT32 N = 0; N < 256; N++) {
    UINT32 C = N;
    for (UINTN Bit = 0; Bit < 8; Bit++) {
      C = (C & 1) != 0 ? 0xEDB88320u ^ (C >> 1) : C >> 1;
    }
    Table[N] = C;
  }
  UINT32 Crc = 0xFFFFFFFFu;
  for (UINT32 I = 0; I < Size; I++) {
    Crc = Table[(Crc ^ Data[I]) & 0xFF] ^ (Crc >> 8);
  }
  return Crc;
}

UINT8 EmuSignedCheckCapsule(CONST EMU_SIGNED *Signed, CONST EMU_FLASH *Flash, CONST UINT8 *Data, UINT32 Size,
                            EMU_CAPSULE_LAYOUT *Layout) {
  FillBytes(Layout, sizeof(*Layout), 0);
  if (Data == NULL || Size < EMU_SIGNED_SIGNATURE_RECORD_SIZE) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  // Everything the BIOS reads lies in the signed part, before the signature record.
  UINT32 SignedEnd = Size - EMU_SIGNED_SIGNATURE_RECORD_SIZE;
  CONST UINT8 *Record = Data + SignedEnd;
  if (Find(Data, SignedEnd, mCapsuleSignature, sizeof(mCapsuleSignature)) < 0) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  if (!SameBytes(Record, CAPSULE_SIGNATURE_TAG, 16) || Get32(Record + 20) != EMU_RSA_KEY_SIZE) {
    return EMU_SIGNED_STATUS_BAD_SIGNATURE;
  }
  EMU_SHA256 Hash;
  UINT8 Digest[EMU_SHA256_DIGEST_SIZE];
  EmuSha256Init(&Hash);
  EmuSha256Update(&Hash, Data, SignedEnd);
  EmuSha256Final(&Hash, Digest);
  if (!CheckSignature(Signed, Digest, Record + 24)) {
    return EMU_SIGNED_STATUS_BAD_SIGNATURE;
  }
  BOOLEAN Valid = TRUE;
  if (!FindRecord(Data, SignedEnd, "$_NORVEL_BIOSIMG", &Layout->BiosOffset, &Layout->BiosSize, &Valid)) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  FindRecord(Data, SignedEnd, "$_NORVEL_EC_IMG_", &Layout->EcOffset, &Layout->EcSize, &Valid);
  FindRecord(Data, SignedEnd, "$_NORVEL_ME_IMG_", &Layout->MeOffset, &Layout->MeSize, &Valid);
  FindRecord(Data, SignedEnd, "$_DEVICE_FW_IMG_", &Layout->DeviceFirmwareOffset, &Layout->DeviceFirmwareSize, &Valid);
  if (!Valid) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  if (Layout->BiosSize != 0 && TargetOf(Flash, Layout->BiosSize) == 0) {
    return EMU_SIGNED_STATUS_TOO_LARGE;
  }
  return 0;
}

UINT8 EmuSignedCheckRbu(CONST EMU_SIGNED *Signed, CONST EMU_FLASH *Flash, CONST UINT8 *Data, UINT32 Size,
                        UINT32 *WindowStart, UINT32 *WindowSize, BOOLEAN *Authentic) {
  *Authentic = FALSE;
  *WindowStart = 0;
  *WindowSize = 0;
  if (Data == NULL || Size < 5 + 8 || !SameBytes(Data, "$RBU", 4)) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  UINT32 H = Data[4];
  // A signed image carries a "$BIS" block big enough for the signature record.
  if (H < 5 || (UINT64)H + 6 > Size || !SameBytes(Data + H, "$BIS", 4)) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  UINT32 L = Get16(Data + H + 4);
  if (L < 6 + EMU_SIGNED_SIGNATURE_RECORD_SIZE || (UINT64)H + L + 8 > Size) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  UINT32 Start = H + L;
  UINT32 Raw = Size - H - L - 8;
  if (Raw == 0 || Raw % RBU_BLOCK != 0 || TargetOf(Flash, Raw) == 0) {
    return EMU_SIGNED_STATUS_INVALID;
  }
  *WindowStart = Start;
  *WindowSize = Raw;
  CONST UINT8 *Trailer = Data + Start + Raw;
  if (Get32(Trailer) != EmuSignedRbuCrc32(Data + H, Start + Raw - H) ||
      Get32(Trailer + 4) != EmuSignedRbuCrc32(Data, Size - 4)) {
    return 0;
  }
  CONST UINT8 *Record = Data + Start - EMU_SIGNED_SIGNATURE_RECORD_SIZE;
  if (!SameBytes(Record, RBU_SIGNATURE_TAG, 16) || Get32(Record + 20) != EMU_RSA_KEY_SIZE) {
    return 0;
  }
  EMU_SHA256 Hash;
  UINT8 Digest[EMU_SHA256_DIGEST_SIZE];
  EmuSha256Init(&Hash);
  EmuSha256Update(&Hash, Data, (UINTN)(Record - Data));
  EmuSha256Update(&Hash, Data + Start, Raw);
  EmuSha256Final(&Hash, Digest);
  *Authentic = CheckSignature(Signed, Digest, Record + 24);
  return 0;
}

BOOLEAN EmuSignedApplyPending(EMU_BIOS *Bios) {
  EMU_SIGNED *S = &Bios->Signed;
  EMU_FLASH *F = &Bios->Flash;
  if (!S->CapsulePending || S->Store == NULL || S->CapsuleSize > S->StoreCapacity) {
    S->CapsulePending = FALSE;
    return FALSE;
  }
  S->CapsulePending = FALSE;
  S->LastApplyBlocks = 0;
  EMU_CAPSULE_LAYOUT Layout;
  // Checked again: the store may have come back from the host's disk.
  if (EmuSignedCheckCapsule(S, F, S->Store, S->CapsuleSize, &Layout) != 0) {
    S->LastApply = EMU_SIGNED_APPLY_FAILED;
    return TRUE;
  }
  S->LastApplyBiosSize = Layout.BiosSize;
  S->LastApplyEcSize = Layout.EcSize;
  S->LastApplyDeviceFirmwareSize = Layout.DeviceFirmwareSize;
  S->LastApplyMeSize = 0;
  UINT8 Outcome = EMU_SIGNED_APPLY_DONE;
  if (Layout.BiosSize != 0) {
    Outcome = WriteImage(Bios, TargetOf(F, Layout.BiosSize), S->Store + Layout.BiosOffset, Layout.BiosSize,
                         S->CapsuleFailAfterBlocks);
  }
  // The ME record goes into the ME region (17h type 2) when it is its size.
  for (UINT32 Index = 0; Outcome == EMU_SIGNED_APPLY_DONE && Layout.MeSize != 0 && Index < F->ExternalCount &&
                         Index < EMU_FLASH_MAX_EXTERNAL;
       Index++) {
    CONST EMU_FLASH_REGION *R = &F->External[Index];
    if (R->Type == 2 && R->Size == Layout.MeSize && (UINT64)R->Address + R->Size <= F->ContentsSize) {
      Outcome = WriteImage(Bios, EmuFlashBase(F) + R->Address, S->Store + Layout.MeOffset, Layout.MeSize,
                           S->CapsuleFailAfterBlocks);
      S->LastApplyMeSize = Layout.MeSize;
      break;
    }
  }
  S->LastApply = Outcome;
  if (Outcome == EMU_SIGNED_APPLY_DONE) {
    S->CapsulesApplied++;
  }
  return TRUE;
}

// 48h: ECX is the capsule size, ESI the block list, EDI the 9-byte "$EXT"
// record. Size 0 asks whether the platform is secure. A capsule is gathered
// from the list (or, with address 0 on an ESP machine, read from the ESP),
// checked, and kept for the reset; CL answers what the utility should do.
UINT8 EmuSignedFunction48h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  EMU_SIGNED *S = &Bios->Signed;
  UINT8 Record[EMU_CHECKS_CAPSULE_RECORD_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Edi, Record, sizeof(Record)) || !SameBytes(Record, "$EXT", 4)) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  C->LastCapsuleFlags = Record[8];
  UINT8 Action = 0;
  if (Regs->Ecx == 0) {
    C->SecureQueries++;
    if (!C->Secure) {
      return EMU_CHECKS_STATUS_NOT_SUPPORTED;
    }
  } else {
    if (!C->Secure) {
      return EMU_CHECKS_STATUS_NOT_SUPPORTED;
    }
    C->CapsuleSubmissions++;
    C->LastCapsuleSize = Regs->Ecx;
    UINT8 Count[4] = {0, 0, 0, 0};
    EmuBiosReadPhysical(Bios, Regs->Esi, Count, sizeof(Count));
    C->LastCapsuleBlocks = Get32(Count);
    // A new submission replaces one that waits.
    S->CapsulePending = FALSE;
    BOOLEAN FromEsp = FALSE;
    UINT8 Status = GatherBlocks(Bios, Regs->Esi, Regs->Ecx, &FromEsp);
    if (Status == 0 && FromEsp) {
      UINT32 FileSize = 0;
      if (!C->EspSupport || (Record[8] & 1) == 0 || S->ReadEsp == NULL) {
        Status = EMU_CHECKS_STATUS_BAD_REQUEST;
      } else if (!S->ReadEsp(S->HostContext, S->Store, S->StoreCapacity, &FileSize)) {
        Status = FileSize > S->StoreCapacity ? EMU_SIGNED_STATUS_TOO_LARGE : EMU_SIGNED_STATUS_NO_FILE;
      } else if (FileSize != Regs->Ecx) {
        Status = EMU_SIGNED_STATUS_INVALID;
      }
    }
    EMU_CAPSULE_LAYOUT Layout;
    if (Status == 0) {
      Status = EmuSignedCheckCapsule(S, &Bios->Flash, S->Store, Regs->Ecx, &Layout);
      if (Status == 0) {
        S->CapsulesVerified++;
        Status = C->CapsuleStatus;  // a BIOS that refuses even a good capsule
      }
    }
    if (Status != 0) {
      S->CapsulesRefused++;
      S->LastCapsuleRefusal = Status;
      return Status;
    }
    S->CapsulePending = TRUE;
    S->CapsuleSize = Regs->Ecx;
    S->CapsuleFromEsp = FromEsp;
    Action = C->CapsuleAction;
  }
  CopyBytes(Record, "$EXO", 4);
  Record[8] = C->EspSupport ? 1 : 0;
  SetCl(Regs, Action);
  if (!EmuBiosWritePhysical(Bios, Regs->Edi, Record, sizeof(Record))) {
    S->CapsulePending = FALSE;
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  if (S->CapsulePending && S->CapsulePowerCut) {
    // The answer is given, then the power goes: the capsule in memory is lost.
    S->CapsulePending = FALSE;
    S->CapsuleLostToPowerCut = TRUE;
    Bios->Flash.PoweredOff = TRUE;
  }
  return 0;
}

// 4Ch: ECX is the image size, ESI the block list, EDI the mode (1 verify
// only, 0 verify and flash). Size 0 asks whether the platform is OEM secure.
// AH answers bit 0 signature accepted, bit 1 fall-back allowed, bit 2 the
// update succeeded; CL the action after a flash.
UINT8 EmuSignedFunction4Ch(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  EMU_SIGNED *S = &Bios->Signed;
  if (Regs->Ecx == 0) {
    C->OemSecureQueries++;
    if (!C->OemSecure) {
      return EMU_CHECKS_STATUS_NOT_SUPPORTED;
    }
    SetCl(Regs, 0);
    return 0;
  }
  C->OemCapsuleSubmissions++;
  if (!C->OemSecure) {
    return EMU_CHECKS_STATUS_NOT_SUPPORTED;
  }
  if (Regs->Edi > 1) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  if (S->CapsulePending) {
    return EMU_SIGNED_STATUS_BUSY;  // the store holds the capsule for the reset
  }
  UINT8 Status = GatherBlocks(Bios, Regs->Esi, Regs->Ecx, NULL);
  UINT32 Start = 0, Raw = 0;
  BOOLEAN Authentic = FALSE;
  if (Status == 0) {
    Status = EmuSignedCheckRbu(S, &Bios->Flash, S->Store, Regs->Ecx, &Start, &Raw, &Authentic);
  }
  if (Status == 0 && Authentic) {
    Status = S->RbuStatus;
  }
  if (Status != 0 || !Authentic) {
    S->RbuRefused++;
    S->LastRbuRefusal = Status;
    if (Status == 0) {
      SetAh(Regs, S->RbuFallback ? 0x02 : 0x00);
    }
    return Status;
  }
  S->RbuVerified++;
  UINT8 Answer = 0x01;
  if (Regs->Edi == 0) {
    S->LastApplyBlocks = 0;
    S->LastApply = WriteImage(Bios, TargetOf(&Bios->Flash, Raw), S->Store + Start, Raw, S->RbuFailAfterBlocks);
    if (S->LastApply == EMU_SIGNED_APPLY_DONE) {
      S->RbuFlashed++;
      Answer |= 0x04;
    }
    SetCl(Regs, S->RbuAction);
  }
  SetAh(Regs, Answer);
  return 0;
}

// 41h: the "$EDI" request at ECX (data at EDI for the long form) is answered
// with a 52-byte "$EDO" structure in its place. Known: the update progress
// (67h), the PFAT packet announcement and support query (58h), the PFAT
// result (5Ah) and the -edt items (4-0Ch); other types answer "not supported".
UINT8 EmuSignedFunction41h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  EMU_SIGNED *S = &Bios->Signed;
  UINT8 Request[EMU_CHECKS_EDI_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Ecx, Request, sizeof(Request)) || !SameBytes(Request, "$EDI", 4)) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  C->ExtraDataRequests++;
  UINT8 Type = Request[8];
  C->LastExtraDataType = Type;
  UINT32 Size = RequestSize(Request);
  UINT8 Answer[EMU_CHECKS_EDO_SIZE];
  PutAnswer(Answer, 0, EMU_CHECKS_EDO_NOT_SUPPORTED, 0);
  if (Type == TYPE_PROGRESS) {
    UINT8 Progress[EMU_CHECKS_PROGRESS_SIZE];
    if (Regs->Edi == 0 || !EmuBiosReadPhysical(Bios, Regs->Edi, Progress, sizeof(Progress)) ||
        !SameBytes(Progress, "$67I", 4)) {
      return EMU_CHECKS_STATUS_BAD_REQUEST;
    }
    C->ProgressReports++;
    C->ProgressTotal = Get32(Progress + 8);
    C->ProgressIndex = Get32(Progress + 12);
    PutAnswer(Answer, 0, 0, 0);
  } else if (Type == TYPE_PFAT_PACKET && C->Pfat) {
    // Size 0 asks for support; a packet's size announces it. The allowed
    // size is answered either way: the utility compares it.
    if (Size == 0) {
      C->PfatQueries++;
      S->AnnouncedType = 0;
    } else {
      S->AnnouncedType = TYPE_PFAT_PACKET;
      S->AnnouncedSize = Size;
    }
    PutAnswer(Answer, S->PfatPacketLimit, 0, 0);
  } else if (Type == TYPE_PFAT_PACKET) {
    C->PfatQueries += Size == 0 ? 1 : 0;
  } else if (Type == TYPE_PFAT_RESULT && C->Pfat) {
    if (S->PfatResult == 0) {
      PutAnswer(Answer, 0, 0, 0);
    } else {
      PutAnswer(Answer, 0, 0x2000, S->PfatResult);
    }
    S->PfatResult = EMU_PFAT_RESULT_NONE;  // each result is reported once
  } else if (Type >= EXTRA_TYPE_FIRST && Type <= EXTRA_TYPE_LAST) {
    S->AnnouncedType = 0;
    if (Size == 0 || Size > S->ExtraDataLimit || Size > S->ExtraCapacity) {
      S->ExtraRefused++;
      return EMU_SIGNED_STATUS_TOO_LARGE;
    }
    S->AnnouncedType = Type;
    S->AnnouncedSize = Size;
    S->ExtraReceived = 0;
    S->ExtraNextPiece = 0;
    PutAnswer(Answer, Size, 0, 0);
  }
  return EmuBiosWritePhysical(Bios, Regs->Ecx, Answer, sizeof(Answer)) ? 0 : (UINT8)EMU_CHECKS_STATUS_BAD_REQUEST;
}

// 42h: CL continuation (0xEF more follow, 0 last), CH piece or block index,
// EDI length, ESI the bytes. After a PFAT announcement it is one packet of
// exactly the announced size; after an -edt announcement the next piece of
// the item. Anything else, or a piece past the announced size, is refused
// and drops the item.
UINT8 EmuSignedFunction42h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_SIGNED *S = &Bios->Signed;
  UINT8 Continuation = (UINT8)(Regs->Ecx & 0xFF);
  UINT8 Index = (UINT8)((Regs->Ecx >> 8) & 0xFF);
  UINT32 Length = Regs->Edi;
  if (S->AnnouncedType == TYPE_PFAT_PACKET) {
    S->AnnouncedType = 0;  // one packet per announcement
    if (Length != S->AnnouncedSize || Length > S->PfatPacketLimit) {
      S->PfatResult = EMU_PFAT_RESULT_NONE;
      return EMU_SIGNED_STATUS_TOO_LARGE;
    }
    S->PfatPackets++;
    S->LastPfatIndex = Index;
    S->PfatResult = WritePacket(Bios, Regs->Esi, Length, Index);
    if (S->PfatResult == 0 && Continuation == 0) {
      S->PfatSequences++;
    }
    return 0;
  }
  if (S->AnnouncedType < EXTRA_TYPE_FIRST || S->AnnouncedType > EXTRA_TYPE_LAST) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  UINT8 Refusal = 0;
  if (Index != S->ExtraNextPiece || Length > S->AnnouncedSize - S->ExtraReceived ||
      (Continuation == 0 && S->ExtraReceived + Length != S->AnnouncedSize) ||
      (Continuation != 0 && Continuation != 0xEF)) {
    Refusal = EMU_SIGNED_STATUS_TOO_LARGE;
  } else if (!EmuBiosReadPhysical(Bios, Regs->Esi, S->Extra + S->ExtraReceived, Length)) {
    Refusal = EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  if (Refusal != 0) {
    S->AnnouncedType = 0;
    S->ExtraRefused++;
    return Refusal;
  }
  S->ExtraReceived += Length;
  S->ExtraNextPiece++;
  if (Continuation == 0) {
    S->ExtraSizes[S->AnnouncedType] = S->ExtraReceived;
    S->ExtraItems++;
    if (S->StoreExtra != NULL) {
      S->StoreExtra(S->HostContext, S->AnnouncedType, S->Extra, S->ExtraReceived);
    }
    S->AnnouncedType = 0;
  }
  return 0;
}
