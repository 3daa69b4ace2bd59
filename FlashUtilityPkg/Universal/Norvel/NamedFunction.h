// The named-function table the protocol looks names up in.
#ifndef VYR_NAMED_FUNCTION_H_
#define VYR_NAMED_FUNCTION_H_

#include "NamedFunctionProtocol.h"

#define NAMED_FUNCTION_NAME_CHARS 64

typedef struct {
  CHAR16 Name[NAMED_FUNCTION_NAME_CHARS];
  VOID *Entry;
} NAMED_FUNCTION_ENTRY;

extern NAMED_FUNCTION_PROTOCOL mNamedFunctionProtocol;

VOID *EFIAPI GetFunctionByName(CONST CHAR16 *Name);
VOID EFIAPI SetCommandLineArgument(UINT32 Argc, CHAR16 **Argv);

#endif  // VYR_NAMED_FUNCTION_H_
