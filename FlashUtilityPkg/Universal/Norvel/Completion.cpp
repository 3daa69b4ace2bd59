// The launcher's last call.
#include "Console/Trace.h"
#include "NamedFunction.h"
#include "Smi/PlatformQueries.h"

BOOLEAN EFIAPI EndProgram(VOID) {
  FuncEnter(u"EndProgram");
  SMI_ApHookPoint(HOOK_AP_TERMINATE);
  // The completion request to the BIOS is not part of this build yet: the
  // launcher is told that nothing was accepted.
  FuncExit(u"EndProgram", u"Flash complete request not built yet");
  return FALSE;
}
