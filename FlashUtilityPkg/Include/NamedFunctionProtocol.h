// The named-function protocol: the launcher's way into the utility. Launchers
// include this header only.
#ifndef VYR_NAMED_FUNCTION_PROTOCOL_H_
#define VYR_NAMED_FUNCTION_PROTOCOL_H_

#include "Base.h"

// {530D4469-5683-4EAD-AF79-54D1882B8A35}
#define NAMED_FUNCTION_PROTOCOL_GUID \
  { 0x530D4469, 0x5683, 0x4EAD, { 0xAF, 0x79, 0x54, 0xD1, 0x88, 0x2B, 0x8A, 0x35 } }

typedef VOID *(EFIAPI *NAMED_FUNCTION_GET_FUNCTION_BY_NAME)(CONST CHAR16 *Name);

typedef struct {
  NAMED_FUNCTION_GET_FUNCTION_BY_NAME GetFunctionByName;
} NAMED_FUNCTION_PROTOCOL;

// Signatures of the seven entries, in table order.
typedef VOID(EFIAPI *SHELL_EXECUTE_CALLBACK)(CONST CHAR16 *CommandLine);
typedef VOID(EFIAPI *SET_CURRENT_DIRECTORY)(CONST CHAR16 *Path);
typedef VOID(EFIAPI *SET_COMMAND_LINE_ARGUMENT)(UINT32 Argc, CHAR16 **Argv);
typedef VOID(EFIAPI *SET_IMAGE_HANDLE)(EFI_HANDLE Handle, UINT8 Flag);
typedef VOID(EFIAPI *SET_SHELL_EXECUTE_CALLBACK)(SHELL_EXECUTE_CALLBACK Callback);
typedef BOOLEAN(EFIAPI *END_PROGRAM)(VOID);
typedef BOOLEAN(EFIAPI *SHELL_FLASH_MAIN)(VOID);
typedef BOOLEAN(EFIAPI *UEFI_FLASH_MAIN)(VOID);

// The driver's entry point (the image entry of the boot-service driver).
EFI_STATUS EFIAPI NorvelDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

#endif  // VYR_NAMED_FUNCTION_PROTOCOL_H_
