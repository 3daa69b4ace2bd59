#include "EndProgram.h"

#include "Base/RunState.h"
#include "Base/Trace.h"
#include "Config/CommandLine.h"
#include "Console/ConsoleUi.h"
#include "Flash/Completion.h"
#include "Smi/PlatformQueries.h"

BOOLEAN EFIAPI EndProgram(VOID) {
  FuncEnter(u"EndProgram");
  // The -edt option keeps its arguments in module storage: nothing to free.
  SMI_ApHookPoint(HOOK_AP_TERMINATE);

  if (mRun.FirmwareMode && IsVendorId(0x1028) && !IsOptionSet(OPT_NOPAUSE)) {
    if (!IsOptionSet(OPT_FORCETYPE) && !IsOptionSet(OPT_FORCEIT)) {
      BOOLEAN Result = SMI_FlashComplete();
      FuncExit(u"EndProgram", Result ? NULL : u"Flash complete request failed");
      return Result;
    }
    // A forced firmware update on this vendor's platforms must not go back to
    // the firmware: report a terminated run and hold here.
    SetStatus_16h(COMPLETE_ACTION_RETURN_TO_OS, COMPLETE_STATUS_AP_TERMINATED);
    SMI_FlashComplete();
    for (;;) {
      GetKey();
    }
  }

  BOOLEAN Result = SMI_FlashComplete();
  FuncExit(u"EndProgram", Result ? NULL : u"Flash complete request failed");
  return Result;
}
