#include "Config/IniLoad.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandFilter.h"
#include "Config/IniSettings.h"
#include "Config/IniStore.h"

BOOLEAN LoadOption(CHAR8 *Text, UINT32 *Length, BOOLEAN MultiFd) {
  FuncEnter(u"LoadOption");
  if (Text == NULL || Length == NULL) {
    FuncExit(u"LoadOption", u"Input buffer is NULL");
    return FALSE;
  }
  StripCommentLines(Text, Length);
  NormalizeIniLines(Text, Length);

  CHAR8 *Copy = (CHAR8 *)AllocateZeroPool((UINTN)*Length + 1);
  if (Copy == NULL) {
    FuncExit(u"LoadOption", u"Allocate memory failed");
    return FALSE;
  }
  CopyMem(Copy, Text, *Length);
  if (!SetIniBuffer(Copy, *Length)) {
    FreePool(Copy);
    FuncExit(u"LoadOption", u"Set ini buffer failed");
    return FALSE;
  }
  mIniStore.MultiFd = MultiFd;
  LoadIniConfig(MultiFd);
  ChkFilterTblIni();
  FuncExit(u"LoadOption", NULL);
  return TRUE;
}
