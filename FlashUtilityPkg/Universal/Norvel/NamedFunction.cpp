#include "NamedFunction.h"

#include "Base/RunState.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/ConsoleUi.h"
#include "Console/FileAccess.h"
#include "EndProgram.h"
#include "MainFlow.h"

NAMED_FUNCTION_PROTOCOL mNamedFunctionProtocol = {GetFunctionByName};

// Constant data only: the image has no start-up code to fill a table.
static CONST NAMED_FUNCTION_ENTRY mNamedFunctionTable[] = {
    {u"SetCurrentDirectory", (VOID *)SetCurrentDirectory},
    {u"SetCommandLineArgument", (VOID *)SetCommandLineArgument},
    {u"SetImageHandle", (VOID *)SetImageHandle},
    {u"SetShellExecuteCallback", (VOID *)SetShellExecuteCallback},
    {u"EndProgram", (VOID *)EndProgram},
    {u"ShellFlashMain", (VOID *)ShellFlashMain},
    {u"UefiFlashMain", (VOID *)UefiFlashMain},
    {u"", NULL},
};

VOID *EFIAPI GetFunctionByName(CONST CHAR16 *Name) {
  if (Name != NULL) {
    for (CONST NAMED_FUNCTION_ENTRY *Entry = mNamedFunctionTable; Entry->Entry != NULL; Entry++) {
      if (StrEqualNoCase(Entry->Name, Name)) {
        return Entry->Entry;
      }
    }
  }
  Print(u" Engineering Warning:\r\n [%s] founction not found.\r\n", Name);
  WaitKey();
  return NULL;
}

VOID EFIAPI SetCommandLineArgument(UINT32 Argc, CHAR16 **Argv) {
  mRun.Argc = Argv == NULL ? 0 : Argc;
  mRun.Argv = Argv;
}

