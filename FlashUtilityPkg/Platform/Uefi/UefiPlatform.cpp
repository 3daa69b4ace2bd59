// Every facade service over the real firmware: boot and runtime services,
// the system table's consoles and configuration table, port I/O (the SMI is
// SmiTrigger.cpp's). Physical memory is reached directly: UEFI firmware maps
// it 1:1.
#include "UefiPlatform.h"

#include "BaseLib.h"
#include "Guids.h"

EFI_HANDLE gImageHandle = NULL;
EFI_SYSTEM_TABLE *gST = NULL;
EFI_BOOT_SERVICES *gBS = NULL;
EFI_RUNTIME_SERVICES *gRT = NULL;

static EFI_GUID mCpuArchProtocolGuid = EFI_CPU_ARCH_PROTOCOL_GUID;
static EFI_GUID mPciRootBridgeIoProtocolGuid = EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID;
static EFI_GUID mFileInfoGuid = EFI_FILE_INFO_ID;

// The firmware's prototypes take GUIDs and names as non-const pointers; they never write them.
static EFI_GUID *Guid(CONST EFI_GUID *G) { return const_cast<EFI_GUID *>(G); }
static CHAR16 *Text(CONST CHAR16 *T) { return const_cast<CHAR16 *>(T); }

VOID PlatformInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable != NULL ? SystemTable->BootServices : NULL;
  gRT = SystemTable != NULL ? SystemTable->RuntimeServices : NULL;
}

// ---- Pool and pages -------------------------------------------------------------------

VOID *PlatformAllocatePool(UINTN Size) {
  VOID *Buffer = NULL;
  if (gBS == NULL || EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size == 0 ? 1 : Size, &Buffer))) {
    return NULL;
  }
  return Buffer;
}

VOID *PlatformAllocateZeroPool(UINTN Size) {
  VOID *Buffer = PlatformAllocatePool(Size);
  if (Buffer != NULL) {
    SetMem(Buffer, Size, 0);
  }
  return Buffer;
}

VOID PlatformFreePool(VOID *Buffer) {
  if (gBS != NULL && Buffer != NULL) {
    gBS->FreePool(Buffer);
  }
}

EFI_STATUS PlatformAllocatePagesBelow(UINT64 MaxAddress, UINTN Pages, EFI_PHYSICAL_ADDRESS *Address) {
  if (gBS == NULL) {
    return EFI_NOT_READY;
  }
  if (Address == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_PHYSICAL_ADDRESS Memory = MaxAddress;  // AllocateMaxAddress reads the ceiling from here
  EFI_STATUS Status = gBS->AllocatePages(AllocateMaxAddress, EfiBootServicesData, Pages, &Memory);
  if (!EFI_ERROR(Status)) {
    *Address = Memory;
  }
  return Status;
}

EFI_STATUS PlatformFreePages(EFI_PHYSICAL_ADDRESS Address, UINTN Pages) {
  return gBS == NULL ? EFI_NOT_READY : gBS->FreePages(Address, Pages);
}

// ---- Physical memory ------------------------------------------------------------------

// A string move the compiler cannot reason about: a physical address may be 0
// or anything else a C++ pointer is not supposed to be.
static VOID MoveBytes(VOID *Destination, CONST VOID *Source, UINTN Length) {
  __asm__ __volatile__("rep movsb" : "+D"(Destination), "+S"(Source), "+c"(Length) : : "memory");
}

// TRUE when the whole range is addressable by a pointer of this build (IA32:
// below 4 GiB) without wrapping.
static BOOLEAN PhysicalRangeFits(EFI_PHYSICAL_ADDRESS Address, UINTN Length) {
  CONST UINT64 Top = (UINT64)(UINTN)~(UINTN)0;
  if (Address > Top) {
    return FALSE;
  }
  return Length == 0 || (UINT64)(Length - 1) <= Top - Address ? TRUE : FALSE;
}

BOOLEAN PlatformReadPhysical(EFI_PHYSICAL_ADDRESS Address, VOID *Buffer, UINTN Length) {
  if (Buffer == NULL || !PhysicalRangeFits(Address, Length)) {
    return FALSE;
  }
  MoveBytes(Buffer, (CONST VOID *)(UINTN)Address, Length);
  return TRUE;
}

BOOLEAN PlatformWritePhysical(EFI_PHYSICAL_ADDRESS Address, CONST VOID *Buffer, UINTN Length) {
  if (Buffer == NULL || !PhysicalRangeFits(Address, Length)) {
    return FALSE;
  }
  MoveBytes((VOID *)(UINTN)Address, Buffer, Length);
  return TRUE;
}

// ---- Port I/O --------------------------------------------------------------------------

UINT8 PlatformIoRead8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

UINT16 PlatformIoRead16(UINT16 Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

UINT32 PlatformIoRead32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

VOID PlatformIoWrite8(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port)); }

VOID PlatformIoWrite16(UINT16 Port, UINT16 Value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port));
}

VOID PlatformIoWrite32(UINT16 Port, UINT32 Value) { __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port)); }

// ---- Protocols and handles ----------------------------------------------------------------

EFI_STATUS PlatformLocateProtocol(CONST EFI_GUID *Protocol, VOID **Interface) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Protocol == NULL || Interface == NULL) return EFI_INVALID_PARAMETER;
  return gBS->LocateProtocol(Guid(Protocol), NULL, Interface);
}

EFI_STATUS PlatformHandleProtocol(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID **Interface) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Protocol == NULL || Interface == NULL) return EFI_INVALID_PARAMETER;
  return gBS->HandleProtocol(Handle, Guid(Protocol), Interface);
}

EFI_STATUS PlatformLocateHandleBuffer(CONST EFI_GUID *Protocol, UINTN *Count, EFI_HANDLE **Buffer) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Protocol == NULL || Count == NULL || Buffer == NULL) return EFI_INVALID_PARAMETER;
  *Count = 0;
  *Buffer = NULL;
  // The firmware allocates the list from pool: PlatformFreePool releases it.
  return gBS->LocateHandleBuffer(ByProtocol, Guid(Protocol), NULL, Count, Buffer);
}

EFI_STATUS PlatformInstallProtocolInterface(EFI_HANDLE *Handle, CONST EFI_GUID *Protocol, VOID *Interface) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Handle == NULL || Protocol == NULL) return EFI_INVALID_PARAMETER;
  return gBS->InstallProtocolInterface(Handle, Guid(Protocol), EFI_NATIVE_INTERFACE, Interface);
}

EFI_STATUS PlatformUninstallProtocolInterface(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID *Interface) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Protocol == NULL) return EFI_INVALID_PARAMETER;
  return gBS->UninstallProtocolInterface(Handle, Guid(Protocol), Interface);
}

// ---- Simple File System and File ---------------------------------------------------------

static EFI_FILE_PROTOCOL *FileOf(PLATFORM_FILE File) { return (EFI_FILE_PROTOCOL *)File; }

EFI_STATUS PlatformOpenVolume(VOID *FileSystem, PLATFORM_FILE *Root) {
  if (FileSystem == NULL || Root == NULL) return EFI_INVALID_PARAMETER;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Fs = (EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *)FileSystem;
  EFI_FILE_PROTOCOL *Opened = NULL;
  EFI_STATUS Status = Fs->OpenVolume(Fs, &Opened);
  if (!EFI_ERROR(Status)) {
    *Root = (PLATFORM_FILE)Opened;
  }
  return Status;
}

EFI_STATUS PlatformFileOpen(PLATFORM_FILE Directory, PLATFORM_FILE *File, CONST CHAR16 *Name, UINT64 Mode,
                            UINT64 Attributes) {
  if (Directory == NULL || File == NULL || Name == NULL) return EFI_INVALID_PARAMETER;
  EFI_FILE_PROTOCOL *Opened = NULL;
  EFI_STATUS Status = FileOf(Directory)->Open(FileOf(Directory), &Opened, Text(Name), Mode, Attributes);
  if (!EFI_ERROR(Status)) {
    *File = (PLATFORM_FILE)Opened;
  }
  return Status;
}

EFI_STATUS PlatformFileClose(PLATFORM_FILE File) {
  return File == NULL ? EFI_INVALID_PARAMETER : FileOf(File)->Close(FileOf(File));
}

EFI_STATUS PlatformFileDelete(PLATFORM_FILE File) {
  return File == NULL ? EFI_INVALID_PARAMETER : FileOf(File)->Delete(FileOf(File));
}

EFI_STATUS PlatformFileRead(PLATFORM_FILE File, UINTN *Size, VOID *Buffer) {
  if (File == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  return FileOf(File)->Read(FileOf(File), Size, Buffer);
}

EFI_STATUS PlatformFileWrite(PLATFORM_FILE File, UINTN *Size, CONST VOID *Buffer) {
  if (File == NULL || Size == NULL) return EFI_INVALID_PARAMETER;
  return FileOf(File)->Write(FileOf(File), Size, const_cast<VOID *>(Buffer));
}

EFI_STATUS PlatformFileSetPosition(PLATFORM_FILE File, UINT64 Position) {
  return File == NULL ? EFI_INVALID_PARAMETER : FileOf(File)->SetPosition(FileOf(File), Position);
}

EFI_STATUS PlatformFileGetPosition(PLATFORM_FILE File, UINT64 *Position) {
  if (File == NULL || Position == NULL) return EFI_INVALID_PARAMETER;
  return FileOf(File)->GetPosition(FileOf(File), Position);
}

EFI_STATUS PlatformFileFlush(PLATFORM_FILE File) {
  return File == NULL ? EFI_INVALID_PARAMETER : FileOf(File)->Flush(FileOf(File));
}

// The size is a field of the file's information record: read it whole (its
// length depends on the name), change FileSize, write it back.
EFI_STATUS PlatformFileSetSize(PLATFORM_FILE File, UINT64 Size) {
  if (File == NULL) return EFI_INVALID_PARAMETER;
  EFI_FILE_PROTOCOL *F = FileOf(File);
  UINTN InfoSize = 0;
  EFI_STATUS Status = F->GetInfo(F, &mFileInfoGuid, &InfoSize, NULL);
  if (Status != EFI_BUFFER_TOO_SMALL) {
    return EFI_ERROR(Status) ? Status : EFI_DEVICE_ERROR;
  }
  if (InfoSize < sizeof(EFI_FILE_INFO)) {
    return EFI_DEVICE_ERROR;  // a record without its fixed part cannot be edited
  }
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)PlatformAllocatePool(InfoSize);
  if (Info == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  Status = F->GetInfo(F, &mFileInfoGuid, &InfoSize, Info);
  if (!EFI_ERROR(Status)) {
    Info->FileSize = Size;
    Status = F->SetInfo(F, &mFileInfoGuid, InfoSize, Info);
  }
  PlatformFreePool((VOID *)Info);
  return Status;
}

// ---- Console -----------------------------------------------------------------------------------

static EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut(VOID) { return gST != NULL ? gST->ConOut : NULL; }

EFI_STATUS PlatformConsoleOutputString(CONST CHAR16 *String) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  if (Out == NULL) return EFI_NOT_READY;
  if (String == NULL) return EFI_INVALID_PARAMETER;
  return Out->OutputString(Out, Text(String));
}

EFI_STATUS PlatformConsoleSetAttribute(UINTN Attribute) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  return Out == NULL ? EFI_NOT_READY : Out->SetAttribute(Out, Attribute);
}

EFI_STATUS PlatformConsoleClearScreen(VOID) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  return Out == NULL ? EFI_NOT_READY : Out->ClearScreen(Out);
}

EFI_STATUS PlatformConsoleSetCursorPosition(UINTN Column, UINTN Row) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  return Out == NULL ? EFI_NOT_READY : Out->SetCursorPosition(Out, Column, Row);
}

EFI_STATUS PlatformConsoleEnableCursor(BOOLEAN Visible) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  return Out == NULL ? EFI_NOT_READY : Out->EnableCursor(Out, Visible);
}

VOID PlatformConsoleGetCursorPosition(UINTN *Column, UINTN *Row) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  BOOLEAN Known = Out != NULL && Out->Mode != NULL;
  if (Column != NULL) *Column = Known && Out->Mode->CursorColumn > 0 ? (UINTN)Out->Mode->CursorColumn : 0;
  if (Row != NULL) *Row = Known && Out->Mode->CursorRow > 0 ? (UINTN)Out->Mode->CursorRow : 0;
}

EFI_STATUS PlatformConsoleQueryMode(UINTN *Columns, UINTN *Rows) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = ConOut();
  if (Out == NULL || Out->Mode == NULL) return EFI_NOT_READY;
  if (Columns == NULL || Rows == NULL) return EFI_INVALID_PARAMETER;
  return Out->QueryMode(Out, (UINTN)Out->Mode->Mode, Columns, Rows);
}

EFI_STATUS PlatformConsoleReadKey(EFI_INPUT_KEY *Key) {
  if (gST == NULL || gST->ConIn == NULL) return EFI_NOT_READY;
  if (Key == NULL) return EFI_INVALID_PARAMETER;
  return gST->ConIn->ReadKeyStroke(gST->ConIn, Key);
}

// ---- Configuration table ---------------------------------------------------------------------

EFI_STATUS PlatformGetConfigurationTable(CONST EFI_GUID *TableGuid, EFI_PHYSICAL_ADDRESS *Table) {
  if (gST == NULL) return EFI_NOT_READY;
  if (TableGuid == NULL || Table == NULL) return EFI_INVALID_PARAMETER;
  for (UINTN Index = 0; Index < gST->NumberOfTableEntries && gST->ConfigurationTable != NULL; Index++) {
    if (CompareGuid(&gST->ConfigurationTable[Index].VendorGuid, TableGuid)) {
      *Table = (EFI_PHYSICAL_ADDRESS)(UINTN)gST->ConfigurationTable[Index].VendorTable;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

// ---- Variables -----------------------------------------------------------------------------------

EFI_STATUS PlatformGetVariable(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINT32 *Attributes, UINTN *DataSize,
                               VOID *Data) {
  if (gRT == NULL) return EFI_NOT_READY;
  if (Name == NULL || VendorGuid == NULL || DataSize == NULL) return EFI_INVALID_PARAMETER;
  return gRT->GetVariable(Text(Name), Guid(VendorGuid), Attributes, DataSize, Data);
}

EFI_STATUS PlatformSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                               CONST VOID *Data) {
  if (gRT == NULL) return EFI_NOT_READY;
  if (Name == NULL || VendorGuid == NULL) return EFI_INVALID_PARAMETER;
  return gRT->SetVariable(Text(Name), Guid(VendorGuid), Attributes, DataSize, const_cast<VOID *>(Data));
}

// ---- Time ----------------------------------------------------------------------------------------

EFI_STATUS PlatformGetTime(EFI_TIME *Time) {
  if (gRT == NULL) return EFI_NOT_READY;
  if (Time == NULL) return EFI_INVALID_PARAMETER;
  return gRT->GetTime(Time, NULL);
}

VOID PlatformStall(UINTN Microseconds) {
  if (gBS != NULL) {
    gBS->Stall(Microseconds);
  }
}

UINT64 PlatformReadTsc(VOID) {
  UINT32 Low;
  UINT32 High;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return ((UINT64)High << 32) | Low;
}

EFI_STATUS PlatformGetTimerPeriod(UINT64 *Femtoseconds) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Femtoseconds == NULL) return EFI_INVALID_PARAMETER;
  EFI_CPU_ARCH_PROTOCOL *Cpu = NULL;
  if (EFI_ERROR(gBS->LocateProtocol(&mCpuArchProtocolGuid, NULL, (VOID **)&Cpu)) || Cpu == NULL) {
    return EFI_NOT_FOUND;
  }
  UINT64 Value = 0;
  UINT64 Period = 0;
  EFI_STATUS Status = Cpu->GetTimerValue(Cpu, 0, &Value, &Period);
  if (!EFI_ERROR(Status)) {
    *Femtoseconds = Period;
  }
  return Status;
}

// ---- PCI ---------------------------------------------------------------------------------------------

EFI_STATUS PlatformPciRead32(UINT8 Bus, UINT8 Device, UINT8 Function, UINT16 Register, UINT32 *Value) {
  if (gBS == NULL) return EFI_NOT_READY;
  if (Value == NULL || Register > 0xFFC || Device > 31 || Function > 7) return EFI_INVALID_PARAMETER;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridge = NULL;
  if (EFI_ERROR(gBS->LocateProtocol(&mPciRootBridgeIoProtocolGuid, NULL, (VOID **)&RootBridge)) ||
      RootBridge == NULL) {
    return EFI_NOT_FOUND;
  }
  return RootBridge->Pci.Read(RootBridge, EfiPciWidthUint32, EFI_PCI_CONFIG_ADDRESS(Bus, Device, Function, Register),
                              1, Value);
}
