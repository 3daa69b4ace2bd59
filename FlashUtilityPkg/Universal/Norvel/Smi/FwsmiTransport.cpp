#include "Smi/FwsmiTransport.h"

#include "Base/HexDump.h"
#include "Base/Print.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Guids.h"
#include "Platform.h"

// The load state. A firmware image starts from its initialised data and
// nothing calls FwsmiResetState before the first run: the defaults must be in
// the initialiser itself (a constant one: the image runs no constructors).
static constexpr FWSMI_TRANSPORT mFwsmiLoadState = {
    0, FWSMI_DEFAULT_MAIN_FUNCTION, {{0, FWSMI_DEFAULT_BUFFER_SIZE}, {0, FWSMI_DEFAULT_BUFFER_SIZE}}, 0, 0, 0, 0};

FWSMI_TRANSPORT mFwsmi = mFwsmiLoadState;

#define PAGE_SIZE 0x1000
#define FSEG_START 0xE0000
#define FSEG_END 0x100000
#define ACPI_HEADER_LENGTH 36
#define FACP_DSDT_OFFSET 40
#define FACP_SMI_CMD_OFFSET 48
#define FWSM_RESERVED_SIZE_OFFSET 40
#define FWSM_RESERVED_ADDRESS_OFFSET 48
#define FWSM_MIN_LENGTH 56
// A table length beyond this is not a table: the copy is refused.
#define ACPI_TABLE_MAX_LENGTH 0x10000
#define RESERVED_MIN_SIZE 0x10000
#define MAX_ATTEMPTS 255

VOID FwsmiResetState(VOID) { CopyMem(&mFwsmi, &mFwsmiLoadState, sizeof(mFwsmi)); }

static UINTN PagesFor(UINT32 Size) { return ((UINTN)Size + PAGE_SIZE - 1) / PAGE_SIZE; }

static VOID ZeroPhysical(UINT32 Address, UINT32 Size) {
  UINT8 Zeros[256];
  ZeroMem(Zeros, sizeof(Zeros));
  for (UINT32 Done = 0; Done < Size;) {
    UINT32 Piece = Size - Done < sizeof(Zeros) ? Size - Done : (UINT32)sizeof(Zeros);
    PlatformWritePhysical((EFI_PHYSICAL_ADDRESS)Address + Done, Zeros, Piece);
    Done += Piece;
  }
}

// Whole pages of boot-services data at or below 256 MiB, zero-filled.
static BOOLEAN AllocatePhysicalBuffer(UINT32 Size, UINT32 *Address) {
  EFI_PHYSICAL_ADDRESS Physical = 0;
  if (EFI_ERROR(PlatformAllocatePagesBelow(FWSMI_MAX_ADDRESS, PagesFor(Size), &Physical))) {
    return FALSE;
  }
  if (Physical == 0) {
    PlatformFreePages(Physical, PagesFor(Size));
    return FALSE;
  }
  ZeroPhysical((UINT32)Physical, (UINT32)(PagesFor(Size) * PAGE_SIZE));
  *Address = (UINT32)Physical;
  return TRUE;
}

static VOID FreePhysicalBuffer(FWSMI_BUFFER *Buffer) {
  if (Buffer->Address != 0) {
    PlatformFreePages(Buffer->Address, PagesFor(Buffer->Size));
    Buffer->Address = 0;
  }
}

BOOLEAN AllocateFwsmiBuffers(VOID) {
  // A later main entry finds the buffers in place (perhaps in reserved memory): keep them.
  if (mFwsmi.Buffer[0].Address != 0 && mFwsmi.Buffer[1].Address != 0) {
    return TRUE;
  }
  FuncEnter(u"AllocateFwsmiBuffers");
  if (mFwsmi.Buffer[0].Address == 0 && !AllocatePhysicalBuffer(mFwsmi.Buffer[0].Size, &mFwsmi.Buffer[0].Address)) {
    FuncExit(u"AllocateFwsmiBuffers", u"Allocate memory failed");
    return FALSE;
  }
  if (mFwsmi.Buffer[1].Address == 0 && !AllocatePhysicalBuffer(mFwsmi.Buffer[1].Size, &mFwsmi.Buffer[1].Address)) {
    FreePhysicalBuffer(&mFwsmi.Buffer[0]);
    FuncExit(u"AllocateFwsmiBuffers", u"Allocate memory failed");
    return FALSE;
  }
  DebugPrint(4, u" FWSMI buffer 1 address: 0x%08X  size: 0x%X\r\n", mFwsmi.Buffer[0].Address, mFwsmi.Buffer[0].Size);
  DebugPrint(4, u" FWSMI buffer 2 address: 0x%08X  size: 0x%X\r\n", mFwsmi.Buffer[1].Address, mFwsmi.Buffer[1].Size);
  FuncExit(u"AllocateFwsmiBuffers", NULL);
  return TRUE;
}

VOID FreeFwsmiBuffers(VOID) {
  if (mFwsmi.Reserved != 0) {
    return;  // reserved memory belongs to the BIOS
  }
  FreePhysicalBuffer(&mFwsmi.Buffer[0]);
  FreePhysicalBuffer(&mFwsmi.Buffer[1]);
}

UINT8 GetSmiMainFunctionNumberFromPhysicalMemory(VOID) {
  FuncEnter(u"GetSmiMainFunctionNumberFromPhysicalMemory");
  // Kept with a placeholder so that this image holds no copy a search could find.
  CHAR8 Signature[] = "~FWSMI";
  Signature[0] = '$';
  UINT8 Chunk[PAGE_SIZE];
  for (UINT32 Base = FSEG_START; Base < FSEG_END; Base += PAGE_SIZE) {
    if (!PlatformReadPhysical(Base, Chunk, sizeof(Chunk))) {
      continue;
    }
    for (UINT32 Offset = 0; Offset < PAGE_SIZE; Offset += 16) {
      if (CompareMem(Chunk + Offset, Signature, 6) == 0) {
        UINT8 Number = Chunk[Offset + 6];
        DebugPrint(4, u" SMI main function number 0x%02X found in 0x%X\r\n", Number, Base + Offset);
        FuncExit(u"GetSmiMainFunctionNumberFromPhysicalMemory", NULL);
        return Number;
      }
    }
  }
  DebugPrint(4, u" FWSMI signature not found.\r\n Using default value 0xEF for SMI main function number.\r\n");
  FuncExit(u"GetSmiMainFunctionNumberFromPhysicalMemory", NULL);
  return FWSMI_DEFAULT_MAIN_FUNCTION;
}

BOOLEAN FindRsdp(EFI_PHYSICAL_ADDRESS *Rsdp) {
  EFI_PHYSICAL_ADDRESS Acpi10 = 0;
  EFI_PHYSICAL_ADDRESS Acpi20 = 0;
  BOOLEAN Has10 = !EFI_ERROR(PlatformGetConfigurationTable(&gEfiAcpi10TableGuid, &Acpi10));
  BOOLEAN Has20 = !EFI_ERROR(PlatformGetConfigurationTable(&gEfiAcpiTableGuid, &Acpi20));
  if (Has20) {
    *Rsdp = Acpi20;
    return TRUE;
  }
  if (Has10) {
    *Rsdp = Acpi10;
    return TRUE;
  }
  return FALSE;
}

static BOOLEAN ReadPhysical32(EFI_PHYSICAL_ADDRESS Address, UINT32 *Value) {
  UINT8 Bytes[4];
  if (!PlatformReadPhysical(Address, Bytes, 4)) {
    return FALSE;
  }
  *Value = ReadUnaligned32(Bytes);
  return TRUE;
}

static VOID TracePhysicalDump(UINT32 Address, UINT32 Length) {
  UINT8 Bytes[64];
  if (Length > sizeof(Bytes) || !PlatformReadPhysical(Address, Bytes, Length)) {
    return;
  }
  DumpHex(Bytes, Length);
}

// The RSDT address from the RSDP. Without an RSDP, or with an RSDT address of
// 0, prints the walk's message and leaves its exit trace under Name.
static BOOLEAN LocateRsdt(CONST CHAR16 *Name, CONST CHAR16 *RsdtName, UINT32 *Rsdt) {
  EFI_PHYSICAL_ADDRESS Rsdp = 0;
  if (!FindRsdp(&Rsdp)) {
    Print(u"Error: RSDP not found!\r\n");
    FuncExit(Name, u"RSDP not found");
    return FALSE;
  }
  if (!ReadPhysical32(Rsdp + 16, Rsdt) || *Rsdt == 0) {
    CHAR16 Reason[32];
    UnicodeSPrint(Reason, sizeof(Reason), u"%s not found", RsdtName);
    Print(u"Error: %s!\r\n", Reason);
    FuncExit(Name, Reason);
    return FALSE;
  }
  return TRUE;
}

// Visits the RSDT's entries in order; the first table whose signature matches.
static BOOLEAN FindRsdtEntry(UINT32 Rsdt, CONST CHAR8 *Signature, UINT32 *Table) {
  UINT32 Length = 0;
  if (!ReadPhysical32((EFI_PHYSICAL_ADDRESS)Rsdt + 4, &Length) || Length < ACPI_HEADER_LENGTH) {
    return FALSE;
  }
  UINT32 Entries = (Length - ACPI_HEADER_LENGTH) / 4;
  for (UINT32 Index = 0; Index < Entries; Index++) {
    UINT32 Address = 0;
    if (!ReadPhysical32((EFI_PHYSICAL_ADDRESS)Rsdt + ACPI_HEADER_LENGTH + 4 * Index, &Address)) {
      return FALSE;  // the table runs past memory: nothing further can be read
    }
    CHAR8 Found[4];
    if (Address != 0 && PlatformReadPhysical(Address, Found, 4) && CompareMem(Found, Signature, 4) == 0) {
      *Table = Address;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN GetFacpTableAddress(UINT32 *Address) {
  FuncEnter(u"GetFacpTableAddress");
  UINT32 Rsdt = 0;
  if (!LocateRsdt(u"GetFacpTableAddress", u"RSDT", &Rsdt)) {
    return FALSE;
  }
  UINT32 Facp = 0;
  if (!FindRsdtEntry(Rsdt, "FACP", &Facp)) {
    FuncExit(u"GetFacpTableAddress", u"Not found");
    return FALSE;
  }
  DebugPrint(4, u" FACP table address = 0x%08X\r\n", Facp);
  TracePhysicalDump(Facp, 52);
  *Address = Facp;
  FuncExit(u"GetFacpTableAddress", NULL);
  return TRUE;
}

BOOLEAN GetAcpiFwsmTable(UINT8 **Copy, UINT32 *Length) {
  FuncEnter(u"GetAcpiFwsmTable");
  UINT32 Rsdt = 0;
  // This walk names the missing table "XSDT" in its message, though it reads the RSDT.
  if (!LocateRsdt(u"GetAcpiFwsmTable", u"XSDT", &Rsdt)) {
    return FALSE;
  }
  UINT32 Fwsm = 0;
  UINT32 TableLength = 0;
  if (!FindRsdtEntry(Rsdt, "FWSM", &Fwsm) || !ReadPhysical32((EFI_PHYSICAL_ADDRESS)Fwsm + 4, &TableLength)) {
    FuncExit(u"GetAcpiFwsmTable", u"Not found");
    return FALSE;
  }
  DebugPrint(4, u" FWSM table address = 0x%08X\r\n", Fwsm);
  TracePhysicalDump(Fwsm, 56);
  if (TableLength > ACPI_TABLE_MAX_LENGTH) {
    FuncExit(u"GetAcpiFwsmTable", u"Table length not valid");
    return FALSE;
  }
  // The copy is at least as long as the fields read from it; a short table reads as zeros there.
  UINT32 CopyLength = TableLength < FWSM_MIN_LENGTH ? FWSM_MIN_LENGTH : TableLength;
  UINT8 *Table = (UINT8 *)AllocateZeroPool(CopyLength);
  if (Table == NULL) {
    FuncExit(u"GetAcpiFwsmTable", u"Allocate memory failed");
    return FALSE;
  }
  if (!PlatformReadPhysical(Fwsm, Table, TableLength)) {
    FreePool(Table);
    FuncExit(u"GetAcpiFwsmTable", u"Not found");
    return FALSE;
  }
  *Copy = Table;
  *Length = TableLength;
  FuncExit(u"GetAcpiFwsmTable", NULL);
  return TRUE;
}

BOOLEAN IsAcerPlatform(VOID) {
  FuncEnter(u"IsAcerPlatform");
  UINT32 Facp = 0;
  if (!GetFacpTableAddress(&Facp)) {
    FuncExit(u"IsAcerPlatform", u"FADT not found");
    return FALSE;
  }
  UINT32 Dsdt = 0;
  UINT8 Header[ACPI_HEADER_LENGTH];
  ZeroMem(Header, sizeof(Header));
  if (ReadPhysical32((EFI_PHYSICAL_ADDRESS)Facp + FACP_DSDT_OFFSET, &Dsdt) && Dsdt != 0) {
    PlatformReadPhysical(Dsdt, Header, sizeof(Header));
  }
  DumpHex(Header, sizeof(Header));
  if (CompareMem(Header, "DSDT", 4) != 0) {
    DebugPrint(4, u"ACPI table DSDT not found.\r\n");
    FuncExit(u"IsAcerPlatform", u"Not acer platform");
    return FALSE;
  }
  if (CompareMem(Header + 10, "ACRSYS", 6) != 0) {
    FuncExit(u"IsAcerPlatform", u"Not acer platform");
    return FALSE;
  }
  DebugPrint(4, u"acer signature found.\r\n");
  FuncExit(u"IsAcerPlatform", NULL);
  return TRUE;
}

BOOLEAN SetBiosReservedMemory(UINT32 Address, UINT32 Size) {
  FuncEnter(u"SetBiosReservedMemory");
  if (Size < RESERVED_MIN_SIZE) {
    FuncExit(u"SetBiosReservedMemory", u"BIOS reserved size too small");
    return FALSE;
  }
  UINT32 Size1 = Size >= 0x20000 ? Size - 0x10000 : 0x10000;
  UINT32 Size2 = Size >= 0x20000 ? 0x10000 : Size - 0x10000;
  if (mFwsmi.Reserved == 0) {
    FreePhysicalBuffer(&mFwsmi.Buffer[0]);
    FreePhysicalBuffer(&mFwsmi.Buffer[1]);
  }
  mFwsmi.Buffer[1].Address = Address;
  mFwsmi.Buffer[1].Size = Size2;
  mFwsmi.Buffer[0].Address = Address + Size2;
  mFwsmi.Buffer[0].Size = Size1;
  mFwsmi.Reserved = 1;
  mFwsmi.ReservedBase = Address;
  mFwsmi.ReservedSize = Size;
  DebugPrint(4, u" FWSMI buffer 1 address: 0x%08X  size: 0x%X\r\n", mFwsmi.Buffer[0].Address, mFwsmi.Buffer[0].Size);
  DebugPrint(4, u" FWSMI buffer 2 address: 0x%08X  size: 0x%X\r\n", mFwsmi.Buffer[1].Address, mFwsmi.Buffer[1].Size);
  FuncExit(u"SetBiosReservedMemory", NULL);
  return TRUE;
}

BOOLEAN InitBiosReservedMemory(VOID) {
  FuncEnter(u"InitBiosReservedMemory");
  UINT8 *Table = NULL;
  UINT32 Length = 0;
  if (!GetAcpiFwsmTable(&Table, &Length)) {
    FuncExit(u"InitBiosReservedMemory", u"Init failed");
    return FALSE;
  }
  UINT32 Address = ReadUnaligned32(Table + FWSM_RESERVED_ADDRESS_OFFSET);
  UINT32 Size = ReadUnaligned32(Table + FWSM_RESERVED_SIZE_OFFSET);
  DebugPrint(4, u"Reserve Memory Address: 0x%X\r\n", Address);
  DebugPrint(4, u"Reserve Memory Size: 0x%X\r\n", Size);
  SetBiosReservedMemory(Address, Size);
  FreePool(Table);
  FuncExit(u"InitBiosReservedMemory", NULL);
  return TRUE;
}

BOOLEAN FindSMICommandPort(VOID) {
  FuncEnter(u"FindSMICommandPort");
  mFwsmi.MainFunction = GetSmiMainFunctionNumberFromPhysicalMemory();
  UINT32 Facp = 0;
  if (!GetFacpTableAddress(&Facp)) {
    Print(u"Error: FACP not found!\r\n");
    FuncExit(u"FindSMICommandPort", u"FACP not found");
    return FALSE;
  }
  UINT32 SmiCmd = 0;
  ReadPhysical32((EFI_PHYSICAL_ADDRESS)Facp + FACP_SMI_CMD_OFFSET, &SmiCmd);
  mFwsmi.CommandPort = (UINT16)(SmiCmd & 0xFFFF);
  DebugPrint(4, u" SMI command port = 0x%04X\r\n", mFwsmi.CommandPort);
  if (mFwsmi.CommandPort == 0) {
    Print(u"Error: SMI command port not found!\r\n");
    FuncExit(u"FindSMICommandPort", u"SMI command port not found");
    return FALSE;
  }
  FuncExit(u"FindSMICommandPort", NULL);
  return TRUE;
}

BOOLEAN InitialSmi(VOID) {
  FuncEnter(u"InitialSmi");
  if (mFwsmi.Initialized != 0) {
    FuncExit(u"InitialSmi", u"Already initialed");
    return TRUE;
  }
  if (!FindSMICommandPort()) {
    FuncExit(u"InitialSmi", u"Find SMI command port failed");
    return FALSE;
  }
  // Without BIOS reserved memory the allocated buffers stay in use.
  InitBiosReservedMemory();
  mFwsmi.Initialized = 1;
  FuncExit(u"InitialSmi", NULL);
  return TRUE;
}

static FWSMI_BUFFER *BufferAt(UINT32 Address) {
  for (UINTN Index = 0; Index < 2; Index++) {
    if (mFwsmi.Buffer[Index].Address != 0 && mFwsmi.Buffer[Index].Address == Address) {
      return &mFwsmi.Buffer[Index];
    }
  }
  return NULL;
}

BOOLEAN EnlargeFwsmiBuffer(UINT32 BufferAddress, UINT32 BufferSize, UINT32 NewSize) {
  FuncEnter(u"EnlargeFwsmiBuffer");
  FWSMI_BUFFER *Buffer = BufferAt(BufferAddress);
  if (Buffer == NULL) {
    FuncExit(u"EnlargeFwsmiBuffer", u"No matched physical buffer to enlarge");
    return FALSE;
  }
  (VOID)BufferSize;
  if (Buffer->Size >= NewSize) {
    FuncExit(u"EnlargeFwsmiBuffer", NULL);
    return TRUE;
  }
  // The new pages are obtained before the old ones go, so a failure leaves
  // the buffer as it was instead of pointing at freed memory.
  UINT32 NewAddress = 0;
  if (!AllocatePhysicalBuffer(NewSize, &NewAddress)) {
    FuncExit(u"EnlargeFwsmiBuffer", u"Allocate memory failed");
    return FALSE;
  }
  FreePhysicalBuffer(Buffer);
  Buffer->Address = NewAddress;
  Buffer->Size = NewSize;
  FuncExit(u"EnlargeFwsmiBuffer", NULL);
  return TRUE;
}

BOOLEAN CopyToFwsmiBuffer(UINT8 Which, CONST VOID *Source, UINT32 Size, UINT32 *PhysicalAddress) {
  if (Which != 1 && Which != 2) {
    return FALSE;
  }
  if (Source == NULL && Size != 0) {
    return FALSE;
  }
  FWSMI_BUFFER *Buffer = &mFwsmi.Buffer[Which - 1];
  if (Buffer->Address == 0) {
    return FALSE;
  }
  if (Buffer->Size < Size) {
    DebugPrint(4, u"Physical Buffer Size(%X) < Size(%X), enlarge physical memory.\r\n", Buffer->Size, Size);
    if (mFwsmi.Reserved != 0) {
      DebugPrint(4, u"Use BIOS reserved memory. Enlarge memory failed.\r\n");
      return FALSE;
    }
    if (!EnlargeFwsmiBuffer(Buffer->Address, Buffer->Size, Size)) {
      DebugPrint(4, u"Enlarge memory failed.\r\n");
      return FALSE;
    }
  }
  if (Size != 0 && !PlatformWritePhysical(Buffer->Address, Source, Size)) {
    return FALSE;
  }
  if (PhysicalAddress != NULL) {
    *PhysicalAddress = Buffer->Address;
  }
  return TRUE;
}

BOOLEAN CopyFromFwsmiBuffer(UINT32 PhysicalAddress, UINT32 Size, VOID *Destination) {
  FWSMI_BUFFER *Buffer = BufferAt(PhysicalAddress);
  if (Buffer == NULL || Size > Buffer->Size || (Destination == NULL && Size != 0)) {
    return FALSE;
  }
  return Size == 0 || PlatformReadPhysical(PhysicalAddress, Destination, Size);
}

// ---- The function catalogue --------------------------------------------------

typedef enum {
  READ_BACK_EAX,          // only EAX; AL is the status
  READ_BACK_ECX,          // EAX, and ECX through the out-parameter
  READ_BACK_FOLD_CL,      // CL copied into AH
  READ_BACK_CX_AX,        // EAX rebuilt as CX in the upper half and AX in the lower
} FWSMI_READ_BACK;

typedef struct {
  UINT8 Function;
  UINT32 EcxMask;   // bits of ECX taken from the caller; the rest are cleared...
  UINT32 EcxFixed;  // ...or set to these fixed bits
  BOOLEAN Esi;      // ESI from the caller (buffer address or value), else 0
  BOOLEAN Edi;      // EDI from the caller, else 0
  FWSMI_READ_BACK ReadBack;
} FWSMI_CATALOGUE_ROW;

static CONST FWSMI_CATALOGUE_ROW mCatalogue[] = {
    {0x10, 0x00000000, 0, FALSE, TRUE, READ_BACK_ECX},   // EDI = buffer 1
    {0x11, 0x00000000, 0, TRUE, TRUE, READ_BACK_ECX},    // EDI = buffer 1, ESI = buffer 2
    {0x12, 0x00000000, 0, TRUE, TRUE, READ_BACK_EAX},
    {0x13, 0x000000FF, 0, TRUE, TRUE, READ_BACK_EAX},    // CL = selector
    {0x14, 0xFFFFFFFF, 0, TRUE, TRUE, READ_BACK_EAX},    // ESI = buffer 1, ECX = count, EDI = flash address
    {0x15, 0xFFFFFFFF, 0, TRUE, TRUE, READ_BACK_EAX},
    {0x16, 0x0000FFFF, 0, TRUE, FALSE, READ_BACK_EAX},   // CH clear-CMOS, CL action
    {0x17, 0x00000000, 4096, TRUE, TRUE, READ_BACK_EAX},
    {0x19, 0x00000000, 1, FALSE, TRUE, READ_BACK_EAX},   // CL = 1
    {0x1A, 0x0000FFFF, 0, FALSE, FALSE, READ_BACK_EAX},
    {0x1B, 0xFFFFFFFF, 0, TRUE, TRUE, READ_BACK_EAX},
    {0x1C, 0x00000000, 0, FALSE, FALSE, READ_BACK_FOLD_CL},
    {0x1D, 0x00000000, 0, TRUE, FALSE, READ_BACK_EAX},
    {0x1E, 0x00000000, 0, FALSE, TRUE, READ_BACK_EAX},
    {0x1F, 0xFFFFFFFF, 0, FALSE, FALSE, READ_BACK_EAX},  // ECX = hook point
    {0x20, 0x0000FFFF, 0, TRUE, TRUE, READ_BACK_EAX},
    {0x21, 0x0000FF00, 0, TRUE, FALSE, READ_BACK_FOLD_CL},
    {0x23, 0xFFFFFFFF, 0, TRUE, FALSE, READ_BACK_EAX},
    {0x25, 0xFFFFFFFF, 0, TRUE, FALSE, READ_BACK_EAX},
    {0x32, 0xFFFFFFFF, 0, TRUE, FALSE, READ_BACK_EAX},
    {0x41, 0xFFFFFFFF, 0, FALSE, TRUE, READ_BACK_EAX},
    {0x42, 0x0000FFFF, 0, TRUE, TRUE, READ_BACK_EAX},
    {0x43, 0xFFFFFFFF, 0, FALSE, FALSE, READ_BACK_EAX},
    {0x44, 0x00000000, 0, TRUE, TRUE, READ_BACK_EAX},
    {0x45, 0xFFFFFFFF, 0, FALSE, FALSE, READ_BACK_EAX},
    {0x48, 0xFFFFFFFF, 0, TRUE, TRUE, READ_BACK_FOLD_CL},
    {0x49, 0xFFFFFFFF, 0, FALSE, FALSE, READ_BACK_EAX},
    {0x4C, 0xFFFFFFFF, 0, TRUE, TRUE, READ_BACK_CX_AX},
};

static CONST FWSMI_CATALOGUE_ROW *FindCatalogueRow(UINT8 Function) {
  for (UINTN Index = 0; Index < ARRAY_SIZE(mCatalogue); Index++) {
    if (mCatalogue[Index].Function == Function) {
      return &mCatalogue[Index];
    }
  }
  return NULL;
}

UINT32 FwsmiCall(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut) {
  CONST FWSMI_CATALOGUE_ROW *Row = FindCatalogueRow(Function);
  if (Row == NULL) {
    DebugPrint(4, u" FWSMI %02Xh is not a catalogue function: not issued\r\n", Function);
    return (UINT32)FWSMI_STATUS_NOT_SUPPORTED;
  }
  FWSMI_ARGS None = {0, 0, 0};
  if (Args == NULL) {
    Args = &None;
  }
  SMI_REGISTERS Registers;
  Registers.Ecx = (Args->Ecx & Row->EcxMask) | Row->EcxFixed;
  Registers.Esi = Row->Esi ? Args->Esi : 0;
  Registers.Edi = Row->Edi ? Args->Edi : 0;
  Registers.Eax = ((UINT32)Function << 8) | mFwsmi.MainFunction;
  Registers.Ebx = FWSMI_SIGNATURE;
  Registers.Edx = mFwsmi.CommandPort;
  PlatformTriggerSmi(&Registers, FWSMI_SETTLE_COUNT);

  UINT32 Eax = Registers.Eax;
  switch (Row->ReadBack) {
    case READ_BACK_ECX:
      if (EcxOut != NULL) {
        *EcxOut = Registers.Ecx;
      }
      break;
    case READ_BACK_FOLD_CL:
      Eax = (Eax & 0xFFFF00FFu) | ((Registers.Ecx & 0xFFu) << 8);
      break;
    case READ_BACK_CX_AX:
      Eax = ((Registers.Ecx & 0xFFFFu) << 16) | (Eax & 0xFFFFu);
      break;
    default:
      break;
  }
  return Eax;
}

UINT32 FwsmiAttemptCount(VOID) {
  // The count is kept in 8 bits; large settings are capped there instead of
  // wrapping to no attempt at all.
  UINT32 Retry = mIniSettings.Others.SMIErrorRetry;
  return Retry >= MAX_ATTEMPTS ? MAX_ATTEMPTS : Retry + 1;
}

BOOLEAN IsFwsmiReady(VOID) { return mFwsmi.Initialized != 0 && mFwsmi.CommandPort != 0; }

VOID FwsmiRetryDelay(VOID) {
  for (UINT32 Wait = 0; Wait < mIniSettings.Others.SMIErrorRetryDelay; Wait++) {
    PlatformStall(1000);
  }
}

UINT32 FwsmiCallWithRetry(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut, UINT8 StopStatus) {
  if (!IsFwsmiReady()) {
    DebugPrint(2, u" FWSMI %02Xh not issued: SMI interface not initialised\r\n", Function);
    return (UINT32)FWSMI_STATUS_NOT_SUPPORTED;
  }
  UINT32 Attempts = FwsmiAttemptCount();
  UINT32 Eax = 0xFF;
  for (UINT32 Attempt = 1; Attempt <= Attempts; Attempt++) {
    Eax = FwsmiCall(Function, Args, EcxOut);
    UINT8 Status = (UINT8)(Eax & 0xFF);
    if (Status == FWSMI_STATUS_SUCCESS || (StopStatus != 0 && Status == StopStatus)) {
      break;
    }
    DebugPrint(4, u" Call FWSMI failed. Error Code: 0x%02X, Retry Count: %02d\r\n", Status, Attempt);
    FwsmiRetryDelay();
  }
  return Eax;
}

typedef struct {
  UINT8 Status;
  CONST CHAR16 *Message;
} FWSMI_ERROR_ROW;

static CONST FWSMI_ERROR_ROW FwsmiErrorTable[] = {
    {0x01, u"Access prohibited. (Need provide secure mechanism to work for it, EBX='$Vyr')\r\n"},
    {0xEF, u"Function not supported.\r\n"},
    {0x02, u"Output buffer length too small.\r\n"},
    {0x10, u"VATS: Variable not found.\r\n"},
    {0x11, u"VATS: Incorrect Output Buffer format.\r\n"},
    {0x12, u"VATS: Output buffer checksum failed.\r\n"},
    {0x13, u"VATS: Table revision not supported.\r\n"},
    {0x14, u"VATS: Error during variable part access.\r\n"},
    {0x20, u"FBTS: Permission is denied by user.\r\n"},
    {0x22, u"FBTS: Unknown platform rom map.\r\n"},
    {0x23, u"FBTS: Unknown flash part information.\r\n"},
    {0x24, u"FBTS: Read bios failed.\r\n"},
    {0x25, u"FBTS: Write bios failed.\r\n"},
    {0x26, u"FBTS: Erase bios failed.\r\n"},
    {0x27, u"FBTS: Cannot skip module check.\r\n"},
    {0xFF, NULL},
};

VOID ReportFwsmiError(UINT8 Function, UINT8 Status) {
  Print(u"\r\n\r\nError: FWSMI %02Xh failed.\r\nInternal Error Code 0x%02X.\r\n", Function, Status);
  for (UINTN Index = 0; FwsmiErrorTable[Index].Status != 0xFF; Index++) {
    if (FwsmiErrorTable[Index].Status == Status) {
      Print(u"%s", FwsmiErrorTable[Index].Message);
      return;
    }
  }
}
