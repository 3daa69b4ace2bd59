#include "Bios/CheckFunctions.h"

#include "Bios/EmuBytes.h"

namespace {

using namespace emu_bytes;

// Length of the text up to its NUL, at most Capacity.
UINTN TextLength(CONST UINT8 *Text, UINTN Capacity) {
  UINTN Length = 0;
  while (Length < Capacity && Text[Length] != 0) {
    Length++;
  }
  return Length;
}

// Writes an answer back: Status, or the bad-request status when the buffer
// cannot be written.
UINT8 WriteAnswer(EMU_BIOS *Bios, UINT64 Address, CONST VOID *Data, UINTN Length, UINT8 Status) {
  return EmuBiosWritePhysical(Bios, Address, Data, Length) ? Status : (UINT8)EMU_CHECKS_STATUS_BAD_REQUEST;
}

VOID SetCl(SMI_REGISTERS *Regs, UINT8 Value) { Regs->Ecx = (Regs->Ecx & 0xFFFFFF00u) | Value; }

CONST UINT32 mEcIndexSizes[] = {0x10000, 0x20000, 0x40000, 0x80000, 0x100000, 0x200000};

}  // namespace

VOID EmuChecksInit(EMU_CHECKS *Checks) {
  FillBytes(Checks, sizeof(*Checks), 0);
  EmuChecksSetStringAnswer(Checks, NULL, 0);
  Checks->ConditionResult = 1;
  Checks->CommonFlashPermit = 1;
  Checks->CapsuleAction = 1;  // reboot
  Checks->EcPartCount = 1;
  Checks->EcPartSizes[0] = 0x20000;
}

BOOLEAN EmuChecksSetStringAnswer(EMU_CHECKS *Checks, CONST CHAR8 *CONST *Strings, UINTN Count) {
  UINT8 List[EMU_CHECKS_STRING_LIST_SIZE];
  FillBytes(List, sizeof(List), 0);
  UINTN At = 0;
  for (UINTN Index = 0; Index < Count; Index++) {
    UINTN Length = TextLength((CONST UINT8 *)Strings[Index], EMU_CHECKS_STRING_LIST_SIZE);
    if (At + Length + 1 >= sizeof(List)) {
      return FALSE;  // no room for the string, its NUL and the end mark
    }
    CopyBytes(List + At, Strings[Index], Length);
    At += Length + 1;
  }
  // An empty list is one NUL and the end mark, as the utility sends it.
  List[At == 0 ? 1 : At] = 0xFF;
  CopyBytes(Checks->StringAnswer, List, sizeof(List));
  return TRUE;
}

BOOLEAN EmuChecksRecentNotification(CONST EMU_CHECKS *Checks, UINT32 Index, EMU_CHECKS_NOTIFICATION *Out) {
  if (Index >= Checks->NotificationCount || Index >= EMU_CHECKS_NOTIFY_RING_SIZE) {
    return FALSE;
  }
  *Out = Checks->Notifications[(Checks->NotificationCount - 1 - Index) % EMU_CHECKS_NOTIFY_RING_SIZE];
  return TRUE;
}

UINT8 EmuChecksEcSizeIndex(UINT32 Size) {
  for (UINTN Index = 0; Index < ARRAY_SIZE(mEcIndexSizes); Index++) {
    if (mEcIndexSizes[Index] == Size) {
      return (UINT8)Index;
    }
  }
  return 0xFF;
}

BOOLEAN EmuChecksNextCommonItem(CONST UINT8 *Items, UINTN Size, UINTN *Offset, UINT8 *Type, CONST UINT8 **Value,
                                UINTN *Length) {
  UINTN At = *Offset;
  if (At >= Size || Items[At] == 0 || Items[At] == 0xFF) {
    return FALSE;
  }
  UINTN End = At + 1;
  while (End < Size && Items[End] != 0xFF) {
    End++;
  }
  if (End >= Size) {
    return FALSE;  // an item without its end mark
  }
  *Type = Items[At];
  *Value = Items + At + 1;
  *Length = End - At - 1;
  *Offset = End + 1;
  return TRUE;
}

// 19h: the 256-byte list at EDI is read and replaced by the answer list.
UINT8 EmuChecksFunction19h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  UINT8 List[EMU_CHECKS_STRING_LIST_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Edi, List, sizeof(List))) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  C->StringRequests++;
  C->StringCl = (UINT8)(Regs->Ecx & 0xFF);
  CopyBytes(C->StringRequest, List, sizeof(List));
  return WriteAnswer(Bios, Regs->Edi, C->StringAnswer, sizeof(C->StringAnswer), 0);
}

// 1Ah: CL action, CH status; nothing to do but remember them.
UINT8 EmuChecksFunction1Ah(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  EMU_CHECKS_NOTIFICATION *Slot = &C->Notifications[C->NotificationCount % EMU_CHECKS_NOTIFY_RING_SIZE];
  Slot->Action = (UINT8)(Regs->Ecx & 0xFF);
  Slot->Status = (UINT8)((Regs->Ecx >> 8) & 0xFF);
  C->NotificationCount++;
  return C->NotifyStatus;
}

// 1Bh: ECX bytes at ESI are the new image's block for flash address EDI. The
// model does not compare them; the profile decides the verdict.
UINT8 EmuChecksFunction1Bh(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  C->SkipModelRequests++;
  C->SkipModelLastAddress = Regs->Edi;
  C->SkipModelLastLength = Regs->Ecx;
  return C->SkipModelStatus;
}

// 1Dh: ESI holds three addresses: the sections, keys and values strings of
// the settings record, 4096 bytes each.
UINT8 EmuChecksFunction1Dh(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  UINT8 Input[4 * EMU_CHECKS_INI_STRINGS];
  if (!EmuBiosReadPhysical(Bios, Regs->Esi, Input, sizeof(Input))) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  UINT8 Text[EMU_CHECKS_INI_STRING_SIZE];
  UINT32 Total = 0;
  for (UINTN Which = 0; Which < EMU_CHECKS_INI_STRINGS; Which++) {
    UINT32 Address = Get32(Input + 4 * Which);
    if (!EmuBiosReadPhysical(Bios, Address, Text, sizeof(Text))) {
      return EMU_CHECKS_STATUS_BAD_REQUEST;
    }
    C->IniAddresses[Which] = Address;
    C->IniLengths[Which] = (UINT32)TextLength(Text, sizeof(Text));
    Total += C->IniLengths[Which];
  }
  C->IniBytes = Total;
  C->IniRequests++;
  return C->IniStatus;
}

// 21h: CH is the size index of the EC image, ESI the 52-byte request. One
// part of a listed size answers its index in CL and leaves the request;
// anything else answers 0xFF with the "$ECINFO_" record.
UINT8 EmuChecksFunction21h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  UINT8 Record[EMU_CHECKS_EC_REQUEST_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Esi, Record, sizeof(Record))) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  C->EcRequests++;
  C->EcLastIndex = (UINT8)((Regs->Ecx >> 8) & 0xFF);
  C->EcLastSize = Get32(Record + 8);
  if (C->EcPartCount == 0) {
    return EMU_CHECKS_STATUS_NOT_SUPPORTED;
  }
  UINT8 Index = C->EcPartCount == 1 ? EmuChecksEcSizeIndex(C->EcPartSizes[0]) : 0xFF;
  SetCl(Regs, Index);
  if (Index != 0xFF) {
    return 0;
  }
  UINT32 Count = C->EcPartCount < EMU_CHECKS_MAX_EC_PARTS ? C->EcPartCount : EMU_CHECKS_MAX_EC_PARTS;
  FillBytes(Record, sizeof(Record), 0);
  CopyBytes(Record, "$ECINFO_", 8);
  Put32(Record + 8, Count);
  for (UINT32 Part = 0; Part < Count; Part++) {
    Put32(Record + 12 + 4 * Part, C->EcPartSizes[Part]);
  }
  return WriteAnswer(Bios, Regs->Esi, Record, sizeof(Record), 0);
}

// 43h: the 269-byte "$PASSWDI" buffer at ECX; mode 0 asks whether a password
// is set (answer at 12), mode 1 checks the one from 13 (answer at 13, 0 = right).
UINT8 EmuChecksFunction43h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  UINT8 Buffer[EMU_CHECKS_PASSWORD_BUFFER];
  if (!EmuBiosReadPhysical(Bios, Regs->Ecx, Buffer, sizeof(Buffer)) || !SameBytes(Buffer, "$PASSWDI", 8)) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  if (Buffer[12] == 0) {
    C->PasswordQueries++;
    Buffer[12] = C->Password[0] != 0 ? 1 : 0;
  } else if (Buffer[12] == 1) {
    C->PasswordVerifies++;
    UINTN Length = TextLength(Buffer + 13, EMU_CHECKS_PASSWORD_CHARS - 1);
    FillBytes(C->LastPasswordTried, sizeof(C->LastPasswordTried), 0);
    CopyBytes(C->LastPasswordTried, Buffer + 13, Length);
    BOOLEAN Right = TextLength((CONST UINT8 *)C->Password, sizeof(C->Password)) == Length &&
                    SameBytes(C->Password, Buffer + 13, Length);
    if (!Right) {
      C->PasswordWrong++;
    }
    Buffer[13] = Right ? 0 : 1;
  } else {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  return WriteAnswer(Bios, Regs->Ecx, Buffer, sizeof(Buffer), 0);
}

// 44h: EDI is buffer 1 (1024 bytes of typed items), ESI buffer 2 (the switch
// words, ended by 0xFF); the answer's three words replace buffer 2's first
// six bytes. Both are recorded even when the machine does not support it.
UINT8 EmuChecksFunction44h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  if (!EmuBiosReadPhysical(Bios, Regs->Edi, C->CommonFlashItems, sizeof(C->CommonFlashItems))) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  UINT32 Length = 0;
  for (; Length < EMU_CHECKS_COMMON_SWITCHES_SIZE; Length++) {
    UINT8 Byte = 0;
    if (!EmuBiosReadPhysical(Bios, Regs->Esi + Length, &Byte, 1)) {
      return EMU_CHECKS_STATUS_BAD_REQUEST;
    }
    C->CommonFlashSwitches[Length] = Byte;
    if (Byte == 0xFF) {
      Length++;
      break;
    }
  }
  C->CommonFlashSwitchesLength = Length;
  C->CommonFlashRequests++;
  if (!C->CommonFlashSupported) {
    return EMU_CHECKS_STATUS_NOT_SUPPORTED;
  }
  UINT8 Answer[6];
  Put16(Answer, C->CommonFlashPermit);
  Put16(Answer + 2, C->CommonFlashMessage);
  Put16(Answer + 4, C->CommonFlashAction);
  return WriteAnswer(Bios, Regs->Esi, Answer, sizeof(Answer), 0);
}

// 45h: the "$CHKCNDI" request at ECX is answered in place with "$CHKCNDO",
// size 13 and the verdict byte.
UINT8 EmuChecksFunction45h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  UINT8 Header[16];
  if (!EmuBiosReadPhysical(Bios, Regs->Ecx, Header, sizeof(Header)) || !SameBytes(Header, "$CHKCNDI", 8)) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  C->ConditionRequests++;
  C->ConditionType = Header[12];
  C->ConditionFormat = Header[13];
  C->ConditionLength = Get16(Header + 14);
  UINTN Kept = C->ConditionLength < EMU_CHECKS_CONDITION_KEPT ? C->ConditionLength : EMU_CHECKS_CONDITION_KEPT;
  FillBytes(C->ConditionData, sizeof(C->ConditionData), 0);
  if (Kept != 0 && !EmuBiosReadPhysical(Bios, Regs->Ecx + sizeof(Header), C->ConditionData, Kept)) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  if (!C->ConditionSupported) {
    return EMU_CHECKS_STATUS_NOT_SUPPORTED;
  }
  UINT8 Answer[13];
  CopyBytes(Answer, "$CHKCNDO", 8);
  Put32(Answer + 8, sizeof(Answer));
  Answer[12] = C->ConditionResult;
  return WriteAnswer(Bios, Regs->Ecx, Answer, sizeof(Answer), 0);
}

// 49h: the 16-byte "$RDI" request at ECX gets its status word at offset 14;
// a request the model does not know gets bit 15.
UINT8 EmuChecksFunction49h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  EMU_CHECKS *C = &Bios->Checks;
  UINT8 Request[EMU_CHECKS_RESTORE_SIZE];
  if (!EmuBiosReadPhysical(Bios, Regs->Ecx, Request, sizeof(Request))) {
    return EMU_CHECKS_STATUS_BAD_REQUEST;
  }
  C->RestoreRequests++;
  BOOLEAN Known = SameBytes(Request, "$RDI", 4) && Get32(Request + 4) == EMU_CHECKS_RESTORE_SIZE &&
                  Request[8] == 4 && Request[9] == 0xFE;
  UINT8 Word[2];
  Put16(Word, Known ? C->RestoreWord : (UINT16)EMU_CHECKS_RESTORE_UNKNOWN);
  return WriteAnswer(Bios, Regs->Ecx + 14, Word, sizeof(Word), C->RestoreStatus);
}
