#include "Base/Banner.h"

#include "Base/Print.h"
#include "Base/RunState.h"
#include "Base/Trace.h"

VOID PrintBanner(BOOLEAN WithBuild) {
  CONST CHAR16 *Version = mRun.FirmwareMode ? u"1.00.61" : u"1.4b-Beta5";
  CONST CHAR16 *Build = mRun.FirmwareMode ? u"01" : u"00";
  CHAR16 Text[32];
  if (WithBuild) {
    UnicodeSPrint(Text, sizeof(Text), u"%s.%s", Version, Build);
  } else {
    UnicodeSPrint(Text, sizeof(Text), u"%s", Version);
  }
  Print(u"\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version %s\r\n", Text);
  Print(u"         Copyright (c) 2026 Korvath. All rights reserved.");
  Print(u"\r\n\r\n\r\n");
}
