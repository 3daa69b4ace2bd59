// OEM/ODM customization-1: the list of words handed to the BIOS in one FWSMI
// 19h exchange (-OemCus words, "ECCMD", "MFG") and the strings it answers.
#ifndef VYR_OEM_CUSTOM_H_
#define VYR_OEM_CUSTOM_H_

#include "Base.h"

#define OEM_CUSTOM_LIST_SIZE 256
#define OEM_CUSTOM_ENTRY_SIZE 32  // 31 characters and the NUL
#define OEM_CUSTOM_MAX_ENTRIES (OEM_CUSTOM_LIST_SIZE - 1)
#define OEM_CUSTOM_LIST_END 0xFF

typedef struct {
  CHAR8 Input[OEM_CUSTOM_LIST_SIZE];  // upper-case items, each followed by '#'
  UINT32 Length;
  UINT32 EntryCount;
  CHAR8 Entries[OEM_CUSTOM_MAX_ENTRIES][OEM_CUSTOM_ENTRY_SIZE];
} OEM_CUSTOM_STATE;

extern OEM_CUSTOM_STATE mOemCustom;

VOID OemCustomResetState(VOID);

// Appends Item in upper case. FALSE (list unchanged) when it would not leave
// room for the end byte.
BOOLEAN AddOemCustomItem(CONST CHAR8 *Item);
// The wire form of the list: NUL-terminated items ended by FFh; an empty list
// is 00h FFh. Wire holds OEM_CUSTOM_LIST_SIZE bytes.
VOID FinishOemCustomList(UINT8 *Wire);
// List (256 bytes) goes to the BIOS and comes back with its answer.
BOOLEAN Fwsmi_19h(UINT8 *List);
// Keeps the strings of a 256-byte reply; returns how many.
UINT32 ParseOemCustomReply(CONST UINT8 *Reply);
// The whole exchange: list contents, 19h, parse. Its result never stops a flow.
BOOLEAN SMI_OemOdmCustom1(VOID);

UINT32 GetOemCustomEntryCount(VOID);
CONST CHAR8 *GetOemCustomEntry(UINT32 Index);  // NULL past the count

#endif  // VYR_OEM_CUSTOM_H_
