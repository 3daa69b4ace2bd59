// The facade: the only door from the utility to the outside world.
// Exactly one backend is linked: Platform/Uefi over real boot and runtime
// services, or Platform/Host over the emulated PC. Policy (which volume, which
// retry, which message) stays in the utility; these calls only do the service.
#ifndef VYR_PLATFORM_H_
#define VYR_PLATFORM_H_

#include "Base.h"
#include "SmiRegisters.h"

// ---- Start-up ------------------------------------------------------------
// Called first thing by the driver entry; the UEFI backend keeps the tables.
VOID PlatformInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// ---- Pool and page memory -------------------------------------------------
VOID *PlatformAllocatePool(UINTN Size);  // not zeroed; NULL on failure
// Zero-filled; NULL on failure. A host can hand out fresh zero pages that cost
// nothing until they are written.
VOID *PlatformAllocateZeroPool(UINTN Size);
VOID PlatformFreePool(VOID *Buffer);
// Boot-services-data pages at or below MaxAddress (AllocateMaxAddress).
EFI_STATUS PlatformAllocatePagesBelow(UINT64 MaxAddress, UINTN Pages, EFI_PHYSICAL_ADDRESS *Address);
EFI_STATUS PlatformFreePages(EFI_PHYSICAL_ADDRESS Address, UINTN Pages);

// ---- Physical memory ------------------------------------------------------
// Copies between physical memory and the caller; FALSE when the range is not
// backed by memory (nothing is copied then).
BOOLEAN PlatformReadPhysical(EFI_PHYSICAL_ADDRESS Address, VOID *Buffer, UINTN Length);
BOOLEAN PlatformWritePhysical(EFI_PHYSICAL_ADDRESS Address, CONST VOID *Buffer, UINTN Length);

// ---- Port I/O ------------------------------------------------------------
UINT8 PlatformIoRead8(UINT16 Port);
UINT16 PlatformIoRead16(UINT16 Port);
UINT32 PlatformIoRead32(UINT16 Port);
VOID PlatformIoWrite8(UINT16 Port, UINT8 Value);
VOID PlatformIoWrite16(UINT16 Port, UINT16 Value);
VOID PlatformIoWrite32(UINT16 Port, UINT32 Value);

// ---- Software SMI ---------------------------------------------------------
// Loads EAX..EDI, writes AL to port DX, runs the settle loop (a 32-bit counter
// in memory from SettleCount down to 0) and returns the registers the handler
// left. The host backend counts the loop in virtual time instead of burning it.
VOID PlatformTriggerSmi(SMI_REGISTERS *Registers, UINT32 SettleCount);

// ---- Protocols and handles ----------------------------------------------
EFI_STATUS PlatformLocateProtocol(CONST EFI_GUID *Protocol, VOID **Interface);
EFI_STATUS PlatformHandleProtocol(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID **Interface);
// All handles carrying Protocol; the caller frees *Buffer with PlatformFreePool.
EFI_STATUS PlatformLocateHandleBuffer(CONST EFI_GUID *Protocol, UINTN *Count, EFI_HANDLE **Buffer);
// *Handle NULL creates a new handle.
EFI_STATUS PlatformInstallProtocolInterface(EFI_HANDLE *Handle, CONST EFI_GUID *Protocol, VOID *Interface);
EFI_STATUS PlatformUninstallProtocolInterface(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID *Interface);

// ---- Simple File System and File ------------------------------------------
// PLATFORM_FILE is the backend's file handle (EFI_FILE_PROTOCOL* on UEFI).
typedef struct PLATFORM_FILE_OBJECT *PLATFORM_FILE;

// FileSystem is the Simple File System interface got with PlatformHandleProtocol.
EFI_STATUS PlatformOpenVolume(VOID *FileSystem, PLATFORM_FILE *Root);
EFI_STATUS PlatformFileOpen(PLATFORM_FILE Directory, PLATFORM_FILE *File, CONST CHAR16 *Name, UINT64 Mode,
                            UINT64 Attributes);
EFI_STATUS PlatformFileClose(PLATFORM_FILE File);
// Deletes and closes; EFI_WARN_DELETE_FAILURE when the file stays (it is closed anyway).
EFI_STATUS PlatformFileDelete(PLATFORM_FILE File);
EFI_STATUS PlatformFileRead(PLATFORM_FILE File, UINTN *Size, VOID *Buffer);
EFI_STATUS PlatformFileWrite(PLATFORM_FILE File, UINTN *Size, CONST VOID *Buffer);
EFI_STATUS PlatformFileSetPosition(PLATFORM_FILE File, UINT64 Position);  // ~0 = end of file
EFI_STATUS PlatformFileGetPosition(PLATFORM_FILE File, UINT64 *Position);
EFI_STATUS PlatformFileFlush(PLATFORM_FILE File);
// Sets the file's size (EFI_FILE_INFO.FileSize through SetInfo on UEFI).
EFI_STATUS PlatformFileSetSize(PLATFORM_FILE File, UINT64 Size);

// ---- Console ---------------------------------------------------------------
// Output goes as given: line-end handling is the utility's print routine's job.
EFI_STATUS PlatformConsoleOutputString(CONST CHAR16 *String);
EFI_STATUS PlatformConsoleSetAttribute(UINTN Attribute);
EFI_STATUS PlatformConsoleClearScreen(VOID);
EFI_STATUS PlatformConsoleSetCursorPosition(UINTN Column, UINTN Row);
EFI_STATUS PlatformConsoleEnableCursor(BOOLEAN Visible);
VOID PlatformConsoleGetCursorPosition(UINTN *Column, UINTN *Row);
EFI_STATUS PlatformConsoleQueryMode(UINTN *Columns, UINTN *Rows);
// EFI_NOT_READY while no key is waiting.
EFI_STATUS PlatformConsoleReadKey(EFI_INPUT_KEY *Key);

// ---- Configuration table ------------------------------------------------------
// Physical address of the vendor table registered under Guid.
EFI_STATUS PlatformGetConfigurationTable(CONST EFI_GUID *Guid, EFI_PHYSICAL_ADDRESS *Table);

// ---- Variables --------------------------------------------------------------
EFI_STATUS PlatformGetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize,
                               VOID *Data);
EFI_STATUS PlatformSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                               CONST VOID *Data);

// ---- Time --------------------------------------------------------------------
EFI_STATUS PlatformGetTime(EFI_TIME *Time);
VOID PlatformStall(UINTN Microseconds);
UINT64 PlatformReadTsc(VOID);
// Timer period of the CPU architectural protocol, in femtoseconds.
EFI_STATUS PlatformGetTimerPeriod(UINT64 *Femtoseconds);

// ---- PCI -------------------------------------------------------------------------
EFI_STATUS PlatformPciRead32(UINT8 Bus, UINT8 Device, UINT8 Function, UINT16 Register, UINT32 *Value);

#endif  // VYR_PLATFORM_H_
