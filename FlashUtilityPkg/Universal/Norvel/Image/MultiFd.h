// Multi-FD selection: one directory or package carries BIOS images for
// several hardware variants, and [MULTI_FD] FD#01 .. FD#99 say which one
// belongs to which machine. Each entry is a hardware condition (an I/O port,
// a PCI dword, physical memory, the BIOS model name, or any of several PCI
// and I/O conditions) followed by the FD file and, recorded only, an ME file
// and an INI file:
//
//   IO,offset,mask,value,FD[,ME[,INI]]
//   PCI,bus,device,function,offset,mask,value,FD[,ME[,INI]]
//   MPCIIO,count,PCI-b-d-f-o-mask-value|IO-o-mask-value ...,FD[,ME[,INI]]
//   ID,model name,FD[,ME[,INI]]
//   MEMORY,address,mask,value,FD[,ME[,INI]]
//
// The first entry whose condition holds is selected.
#ifndef VYR_MULTI_FD_H_
#define VYR_MULTI_FD_H_

#include "Base.h"
#include "Base/Settings.h"

#define MULTI_FD_NAME_CHARS 39   // FD, ME and INI file names
#define MULTI_FD_FIELD_CHARS 79  // the longest field: an MPCIIO sub-condition

typedef struct {
  CHAR8 FdFile[MULTI_FD_NAME_CHARS + 1];
  CHAR8 MeFile[MULTI_FD_NAME_CHARS + 1];
  CHAR8 IniFile[MULTI_FD_NAME_CHARS + 1];
  // The entry being tried: the matchers change it ('-' becomes ','), the
  // settings record keeps what platform.ini said.
  CHAR8 Entry[INI_TEXT_SIZE];
  CHAR8 Original[INI_TEXT_SIZE];
  CHAR16 Wide[INI_TEXT_SIZE];  // an 8-bit text widened for a %s trace
} MULTI_FD_STATE;

extern MULTI_FD_STATE mMultiFd;

VOID MultiFdResetState(VOID);

// [MULTI_FD] Flag.
BOOLEAN IsMultiFdEnabled(VOID);
// Walks FD#01 .. FD#99 (FD#00 never counts) and keeps the names of the first
// entry whose condition holds. The previous selection is cleared first.
BOOLEAN SelectMultiFd(VOID);
// The selected FD file name, at most Chars - 1 characters; "" when nothing
// is selected.
VOID GetMultiFdFileName(CHAR16 *Name, UINTN Chars);
// The selected entry's ME and INI file names; "" when not given.
CONST CHAR8 *GetMultiFdMeFileName(VOID);
CONST CHAR8 *GetMultiFdIniFileName(VOID);

// The matchers. Entry is a whole terminated entry text, type word included,
// which IO and PCI change in place; each reads its fields from a fixed
// position after the type word. TRUE when the condition holds, with *Next
// the position after its last condition field; FALSE on no match or a
// format error (logged at level 0).
BOOLEAN IsMatch_IO(CHAR8 *Entry, UINTN *Next);
BOOLEAN IsMatch_PCI(CHAR8 *Entry, UINTN *Next);
BOOLEAN IsMatch_MPCIIO(CHAR8 *Entry, UINTN *Next);
BOOLEAN IsMatch_ID(CHAR8 *Entry, UINTN *Next);
BOOLEAN IsMatch_MEMORY(CHAR8 *Entry, UINTN *Next);

#endif  // VYR_MULTI_FD_H_
