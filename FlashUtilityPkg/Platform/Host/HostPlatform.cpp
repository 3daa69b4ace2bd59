// Every facade service over the attached emulated machine.
#include "HostPlatform.h"

#include <cstring>

#include "Machine/Machine.h"
#include "Platform.h"

using vyr::emu::File;
using vyr::emu::Machine;

namespace {

Machine *gMachine = nullptr;

File *ToFile(PLATFORM_FILE Handle) { return reinterpret_cast<File *>(Handle); }
PLATFORM_FILE ToHandle(File *F) { return reinterpret_cast<PLATFORM_FILE>(F); }

// The open file behind a facade handle, or nullptr for a stale or foreign one.
File *OpenFile(PLATFORM_FILE Handle) {
  if (gMachine == nullptr || !gMachine->IsOpenFile(ToFile(Handle))) {
    return nullptr;
  }
  return ToFile(Handle);
}

}  // namespace

void HostPlatformAttach(Machine *M) { gMachine = M; }

Machine *HostPlatformMachine() { return gMachine; }

VOID PlatformInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

// ---- Pages and physical memory ----

EFI_STATUS PlatformAllocatePagesBelow(UINT64 MaxAddress, UINTN Pages, EFI_PHYSICAL_ADDRESS *Address) {
  if (gMachine == nullptr) {
    return EFI_NOT_READY;
  }
  return gMachine->AllocatePages(MaxAddress, Pages, Address);
}

EFI_STATUS PlatformFreePages(EFI_PHYSICAL_ADDRESS Address, UINTN Pages) {
  if (gMachine == nullptr) {
    return EFI_NOT_READY;
  }
  return gMachine->FreePages(Address, Pages);
}

BOOLEAN PlatformReadPhysical(EFI_PHYSICAL_ADDRESS Address, VOID *Buffer, UINTN Length) {
  return gMachine != nullptr && Buffer != nullptr && gMachine->ReadPhysical(Address, Buffer, Length) ? TRUE : FALSE;
}

BOOLEAN PlatformWritePhysical(EFI_PHYSICAL_ADDRESS Address, CONST VOID *Buffer, UINTN Length) {
  return gMachine != nullptr && Buffer != nullptr && gMachine->WritePhysical(Address, Buffer, Length) ? TRUE : FALSE;
}

// ---- Ports ----

UINT8 PlatformIoRead8(UINT16 Port) { return gMachine ? static_cast<UINT8>(gMachine->IoRead(Port, 1)) : 0xFF; }
UINT16 PlatformIoRead16(UINT16 Port) { return gMachine ? static_cast<UINT16>(gMachine->IoRead(Port, 2)) : 0xFFFF; }
UINT32 PlatformIoRead32(UINT16 Port) { return gMachine ? gMachine->IoRead(Port, 4) : 0xFFFFFFFFu; }

VOID PlatformIoWrite8(UINT16 Port, UINT8 Value) {
  if (gMachine) gMachine->IoWrite(Port, 1, Value);
}
VOID PlatformIoWrite16(UINT16 Port, UINT16 Value) {
  if (gMachine) gMachine->IoWrite(Port, 2, Value);
}
VOID PlatformIoWrite32(UINT16 Port, UINT32 Value) {
  if (gMachine) gMachine->IoWrite(Port, 4, Value);
}

// ---- SMI ----

VOID PlatformTriggerSmi(SMI_REGISTERS *Registers, UINT32 SettleCount) {
  if (gMachine != nullptr && Registers != nullptr) {
    gMachine->TriggerSmi(*Registers, SettleCount);
  }
}

// ---- Protocols ----

EFI_STATUS PlatformLocateProtocol(CONST EFI_GUID *Protocol, VOID **Interface) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Protocol == nullptr) return EFI_INVALID_PARAMETER;
  return gMachine->Protocols().LocateProtocol(*Protocol, Interface);
}

EFI_STATUS PlatformHandleProtocol(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID **Interface) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Protocol == nullptr) return EFI_INVALID_PARAMETER;
  return gMachine->Protocols().HandleProtocol(Handle, *Protocol, Interface);
}

EFI_STATUS PlatformLocateHandleBuffer(CONST EFI_GUID *Protocol, UINTN *Count, EFI_HANDLE **Buffer) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Protocol == nullptr || Count == nullptr || Buffer == nullptr) return EFI_INVALID_PARAMETER;
  *Count = 0;
  *Buffer = NULL;
  const std::vector<EFI_HANDLE> Handles = gMachine->Protocols().LocateHandles(*Protocol);
  if (Handles.empty()) {
    return EFI_NOT_FOUND;
  }
  // Firmware hands out pool memory the caller frees.
  auto *Copy = static_cast<EFI_HANDLE *>(PlatformAllocatePool(Handles.size() * sizeof(EFI_HANDLE)));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memcpy(Copy, Handles.data(), Handles.size() * sizeof(EFI_HANDLE));
  *Count = Handles.size();
  *Buffer = Copy;
  return EFI_SUCCESS;
}

EFI_STATUS PlatformInstallProtocolInterface(EFI_HANDLE *Handle, CONST EFI_GUID *Protocol, VOID *Interface) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Protocol == nullptr) return EFI_INVALID_PARAMETER;
  return gMachine->Protocols().Install(Handle, *Protocol, Interface);
}

EFI_STATUS PlatformUninstallProtocolInterface(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID *Interface) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Protocol == nullptr) return EFI_INVALID_PARAMETER;
  return gMachine->Protocols().Uninstall(Handle, *Protocol, Interface);
}

// ---- Files ----

EFI_STATUS PlatformOpenVolume(VOID *FileSystem, PLATFORM_FILE *Root) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Root == nullptr) return EFI_INVALID_PARAMETER;
  File *Opened = nullptr;
  EFI_STATUS Status = gMachine->OpenVolume(FileSystem, &Opened);
  if (!EFI_ERROR(Status)) {
    *Root = ToHandle(Opened);
  }
  return Status;
}

EFI_STATUS PlatformFileOpen(PLATFORM_FILE Directory, PLATFORM_FILE *Result, CONST CHAR16 *Name, UINT64 Mode,
                            UINT64 Attributes) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Result == nullptr) return EFI_INVALID_PARAMETER;
  File *Opened = nullptr;
  EFI_STATUS Status = gMachine->FileOpen(ToFile(Directory), Name, Mode, Attributes, &Opened);
  if (!EFI_ERROR(Status)) {
    *Result = ToHandle(Opened);
  }
  return Status;
}

EFI_STATUS PlatformFileClose(PLATFORM_FILE Handle) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  return gMachine->FileClose(ToFile(Handle));
}

EFI_STATUS PlatformFileDelete(PLATFORM_FILE Handle) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  return gMachine->FileDelete(ToFile(Handle));
}

EFI_STATUS PlatformFileRead(PLATFORM_FILE Handle, UINTN *Size, VOID *Buffer) {
  File *F = OpenFile(Handle);
  return F ? F->Read(Size, Buffer) : (gMachine ? EFI_INVALID_PARAMETER : EFI_NOT_READY);
}

// Writes, resizes and sets go through the machine, which drops them once the power is cut.
EFI_STATUS PlatformFileWrite(PLATFORM_FILE Handle, UINTN *Size, CONST VOID *Buffer) {
  File *F = OpenFile(Handle);
  return F ? gMachine->FileWrite(F, Size, Buffer) : (gMachine ? EFI_INVALID_PARAMETER : EFI_NOT_READY);
}

EFI_STATUS PlatformFileSetPosition(PLATFORM_FILE Handle, UINT64 Position) {
  File *F = OpenFile(Handle);
  return F ? F->SetPosition(Position) : (gMachine ? EFI_INVALID_PARAMETER : EFI_NOT_READY);
}

EFI_STATUS PlatformFileGetPosition(PLATFORM_FILE Handle, UINT64 *Position) {
  File *F = OpenFile(Handle);
  return F ? F->GetPosition(Position) : (gMachine ? EFI_INVALID_PARAMETER : EFI_NOT_READY);
}

EFI_STATUS PlatformFileFlush(PLATFORM_FILE Handle) {
  File *F = OpenFile(Handle);
  return F ? F->Flush() : (gMachine ? EFI_INVALID_PARAMETER : EFI_NOT_READY);
}

EFI_STATUS PlatformFileSetSize(PLATFORM_FILE Handle, UINT64 Size) {
  File *F = OpenFile(Handle);
  return F ? gMachine->FileSetSize(F, Size) : (gMachine ? EFI_INVALID_PARAMETER : EFI_NOT_READY);
}

// ---- Console ----

EFI_STATUS PlatformConsoleOutputString(CONST CHAR16 *String) {
  return gMachine ? gMachine->Screen().OutputString(String) : EFI_NOT_READY;
}

EFI_STATUS PlatformConsoleSetAttribute(UINTN Attribute) {
  return gMachine ? gMachine->Screen().SetAttribute(Attribute) : EFI_NOT_READY;
}

EFI_STATUS PlatformConsoleClearScreen(VOID) { return gMachine ? gMachine->Screen().ClearScreen() : EFI_NOT_READY; }

EFI_STATUS PlatformConsoleSetCursorPosition(UINTN Column, UINTN Row) {
  return gMachine ? gMachine->Screen().SetCursorPosition(Column, Row) : EFI_NOT_READY;
}

EFI_STATUS PlatformConsoleEnableCursor(BOOLEAN Visible) {
  return gMachine ? gMachine->Screen().EnableCursor(Visible != FALSE) : EFI_NOT_READY;
}

VOID PlatformConsoleGetCursorPosition(UINTN *Column, UINTN *Row) {
  if (Column != nullptr) *Column = gMachine ? gMachine->Screen().CursorColumn() : 0;
  if (Row != nullptr) *Row = gMachine ? gMachine->Screen().CursorRow() : 0;
}

EFI_STATUS PlatformConsoleQueryMode(UINTN *Columns, UINTN *Rows) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Columns == nullptr || Rows == nullptr) return EFI_INVALID_PARAMETER;
  *Columns = gMachine->Screen().Columns();
  *Rows = gMachine->Screen().Rows();
  return EFI_SUCCESS;
}

EFI_STATUS PlatformConsoleReadKey(EFI_INPUT_KEY *Key) { return gMachine ? gMachine->ReadKey(Key) : EFI_NOT_READY; }

// ---- Configuration table and variables ----

EFI_STATUS PlatformGetConfigurationTable(CONST EFI_GUID *Guid, EFI_PHYSICAL_ADDRESS *Table) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Guid == nullptr || Table == nullptr) return EFI_INVALID_PARAMETER;
  return gMachine->GetConfigurationTable(*Guid, Table);
}

EFI_STATUS PlatformGetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data) {
  return gMachine ? gMachine->Variables().Get(Name, Guid, Attributes, DataSize, Data) : EFI_NOT_READY;
}

EFI_STATUS PlatformSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize, CONST VOID *Data) {
  return gMachine ? gMachine->SetVariable(Name, Guid, Attributes, DataSize, Data) : EFI_NOT_READY;
}

// ---- Time and PCI ----

EFI_STATUS PlatformGetTime(EFI_TIME *Time) { return gMachine ? gMachine->GetTime(Time) : EFI_NOT_READY; }

VOID PlatformStall(UINTN Microseconds) {
  if (gMachine) gMachine->Stall(Microseconds);
}

UINT64 PlatformReadTsc(VOID) { return gMachine ? gMachine->ReadTsc() : 0; }

EFI_STATUS PlatformGetTimerPeriod(UINT64 *Femtoseconds) {
  if (gMachine == nullptr) return EFI_NOT_READY;
  if (Femtoseconds == nullptr) return EFI_INVALID_PARAMETER;
  *Femtoseconds = gMachine->TimerPeriodFs();
  return EFI_SUCCESS;
}

EFI_STATUS PlatformPciRead32(UINT8 Bus, UINT8 Device, UINT8 Function, UINT16 Register, UINT32 *Value) {
  return gMachine ? gMachine->PciRead32(Bus, Device, Function, Register, Value) : EFI_NOT_READY;
}
