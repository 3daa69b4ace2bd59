// The two main entries the launcher calls by name: the shell flow and the
// firmware flow.
#ifndef VYR_MAIN_FLOW_H_
#define VYR_MAIN_FLOW_H_

#include "Base.h"
#include "Config/CommandLine.h"

typedef struct {
  CHAR16 FileName[FILE_NAME_CHARS];
  CHAR16 OptionString[OPTION_STRING_CHARS];
  BOOLEAN ConfigSecureImage;  // the FD read for the configuration was a secure capsule
  UINT8 *FirmwareBios;        // the model's image picked from a multi-SKU BIOS record
} MAIN_FLOW_STATE;

extern MAIN_FLOW_STATE mMainFlow;

VOID MainFlowResetState(VOID);

BOOLEAN EFIAPI ShellFlashMain(VOID);
BOOLEAN EFIAPI UefiFlashMain(VOID);

#endif  // VYR_MAIN_FLOW_H_
