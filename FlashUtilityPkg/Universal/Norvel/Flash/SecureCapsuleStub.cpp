// Stand-ins for the secure-capsule services until that module is merged:
// each agrees and leaves a trace line so that tests can see the call.
#include "Console/Trace.h"
#include "Flash/SecureCapsule.h"

BOOLEAN SMI_OemOdmCustom2(UINT8 Action, UINT8 Status) {
  FuncEnter(u"SMI_OemOdmCustom2");
  DebugPrint(4, u" OEM ODM custom (stub) action %d status %d\r\n", Action, Status);
  FuncExit(u"SMI_OemOdmCustom2", NULL);
  return TRUE;
}

BOOLEAN SMI_SkipModelCheckVerify(CONST UINT8 *Image, UINT32 RomSize) {
  FuncEnter(u"SMI_SkipModelCheckVerify");
  DebugPrint(4, u" Skip model check (stub) image %a size 0x%X\r\n", Image == NULL ? "none" : "given", RomSize);
  FuncExit(u"SMI_SkipModelCheckVerify", NULL);
  return TRUE;
}
