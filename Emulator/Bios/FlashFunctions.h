// The emulated BIOS's flash part: 12h (protected and private regions), 13h
// (flash part information and block map), 14h (read), 15h (write), 17h (flash-descriptor
// regions of the current flash and of a new image) and 1Eh (whole ROM map),
// and the model name and version that 11h reads from the BVDT of the flash
// contents. The contents live behind a pointer the host provides; they are
// mapped at the top of the 4 GiB window. Freestanding, like the BIOS core.
#ifndef VYR_EMU_FLASH_FUNCTIONS_H_
#define VYR_EMU_FLASH_FUNCTIONS_H_

#include "Base.h"
#include "SmiRegisters.h"

typedef struct EMU_BIOS EMU_BIOS;

// Capacities: each list fills the buffer the utility gives for it, so a
// profile can also model answers beyond the utility's own limits.
#define EMU_FLASH_PART_INFO_SIZE 72
#define EMU_FLASH_MAX_BLOCK_MAP 1024
#define EMU_FLASH_ROM_MAP_SIZE 2048        // each 12h buffer
#define EMU_FLASH_MAX_PROTECT (EMU_FLASH_ROM_MAP_SIZE / 9)   // 227
#define EMU_FLASH_MAX_PRIVATE (EMU_FLASH_ROM_MAP_SIZE / 8)   // 256
#define EMU_FLASH_WHOLE_MAP_SIZE 4096
#define EMU_FLASH_MAX_WHOLE (EMU_FLASH_WHOLE_MAP_SIZE / 13)  // 315
#define EMU_FLASH_EXTERNAL_MAP_SIZE 256    // each of the two 17h maps
#define EMU_FLASH_MAX_EXTERNAL (EMU_FLASH_EXTERNAL_MAP_SIZE / 10)  // 25
#define EMU_FLASH_17H_IMAGE_SIZE 4096      // what the utility hands in buffer 2
#define EMU_FLASH_MAX_LOCKED 16
#define EMU_FLASH_MAX_SKIP 16
#define EMU_FLASH_MODEL_CHARS 26           // 25 bytes of BVDT model name + terminator
#define EMU_FLASH_VERSION_CHARS 27

// AL answers of the flash functions.
#define EMU_FLASH_STATUS_BAD_MAP_BUFFER 0x22   // "Unknown platform rom map"
#define EMU_FLASH_STATUS_BAD_PART_BUFFER 0x23  // "Unknown flash part information"
#define EMU_FLASH_STATUS_READ_FAILED 0x24      // "Read bios failed"
#define EMU_FLASH_STATUS_WRITE_FAILED 0x25   // "Write bios failed"
// "Erase bios failed": a 15h range that does not start and end on the block
// map's boundaries cannot be erased, so the part refuses it untouched.
#define EMU_FLASH_STATUS_NOT_BLOCKS 0x26
#define EMU_FLASH_STATUS_SKIP_BLOCK 0x29     // the BIOS keeps this block as it is
#define EMU_FLASH_STATUS_LOCKED 0x2A

typedef struct {
  UINT8 Type;
  UINT32 Address;    // flash address (12h, 1Eh) or offset from the ROM base (17h)
  UINT32 Size;
  UINT32 Attribute;  // 1Eh attribute, 17h access byte
} EMU_FLASH_REGION;

typedef struct {
  UINT16 Units;  // block size in 256-byte units
  UINT16 Count;
} EMU_FLASH_BLOCKS;

typedef struct {
  UINT32 Address;
  UINT32 Size;
} EMU_FLASH_RANGE;

typedef struct {
  // ---- The part (13h) ----
  UINT8 SizeIndex;
  UINT32 SizeSpecified;
  CHAR8 Vendor[31];    // not terminated when full
  CHAR8 PartType[32];
  UINT32 DeviceId;
  EMU_FLASH_BLOCKS BlockMap[EMU_FLASH_MAX_BLOCK_MAP];
  UINT32 BlockMapCount;

  // ---- Maps ----
  EMU_FLASH_REGION Protect[EMU_FLASH_MAX_PROTECT];
  UINT32 ProtectCount;
  EMU_FLASH_RANGE Private[EMU_FLASH_MAX_PRIVATE];
  UINT32 PrivateCount;
  EMU_FLASH_REGION Whole[EMU_FLASH_MAX_WHOLE];
  UINT32 WholeCount;
  EMU_FLASH_REGION External[EMU_FLASH_MAX_EXTERNAL];  // the current flash
  UINT32 ExternalCount;
  // The "new" map of 17h: decoded from a flash descriptor in the image bytes
  // the utility hands in, else the current map.
  BOOLEAN DecodeNewImage;

  // ---- Reads ----
  EMU_FLASH_RANGE Locked[EMU_FLASH_MAX_LOCKED];  // reads touching them answer 0x2A
  UINT32 LockedCount;

  // ---- Writes ----
  // Writes touching a locked range answer 0x2A and change nothing; writes
  // touching a skip range answer 0x29 and change nothing.
  EMU_FLASH_RANGE Skip[EMU_FLASH_MAX_SKIP];
  UINT32 SkipCount;

  // Power cut: after this many 15h writes that changed the contents (0 =
  // never) the machine is off. The contents keep what was written; the core
  // answers nothing from then on.
  UINT32 PowerCutAfterWrites;
  BOOLEAN PoweredOff;
  UINT32 PowerCutAddress;  // flash address of the last block written

  // Verify corruption: the first this-many reads of a block right after it
  // was written (the read-back of a verify) return its first byte inverted;
  // the flash itself holds what was written.
  UINT32 CorruptReadBacks;
  UINT32 CorruptedReadBacks;
  BOOLEAN LastWriteValid;
  UINT32 LastWriteAddress;

  // ---- Cells ----
  // The part is SPI NOR: a write erases whole blocks of the block map to 0xFF
  // and then programs the data. With ProgramClearsBitsOnly a program can only
  // clear bits (each byte becomes old AND new), so a path that programs
  // without erasing first leaves a visibly wrong mix; without it a program
  // simply stores the data.
  BOOLEAN ProgramClearsBitsOnly;

  // ---- Contents (host-provided) ----
  UINT8 *Contents;
  UINT32 ContentsSize;  // mapped at 2^32 - ContentsSize
  BOOLEAN ContentsChanged;  // set by EmuFlashErase and EmuFlashProgram

  // ---- What the utility did ----
  UINT32 BytesRead;
  UINT32 LockedReads;
  UINT32 BytesWritten;
  UINT32 BlocksWritten;  // 15h calls that changed the contents
  UINT32 BlocksErased;   // blocks of the map erased to 0xFF
  UINT32 RefusedWrites;  // 15h calls answered 0x29 or 0x2A
  UINT8 Last13hSelector;
  UINT8 Last17hImage[16];  // first bytes of the latest 17h image buffer
} EMU_FLASH;

// A plain part: 8 MiB, 128 blocks of 64 KiB, no maps, no contents.
VOID EmuFlashInit(EMU_FLASH *Flash);
// Sets the contents and their size (the ROM window).
VOID EmuFlashSetContents(EMU_FLASH *Flash, UINT8 *Contents, UINT32 Size);
// Base of the ROM window (2^32 - size).
UINT32 EmuFlashBase(CONST EMU_FLASH *Flash);

// The part's cells. Every path of the BIOS that changes flash bytes goes
// through these two, erase first, so the cell model holds for all of them.
//
// TRUE when [Address, Address + Length) is one or more whole blocks of the
// block map, laid from the ROM base upward (the map may mix block sizes; a
// zero-size or 0xFFFF entry ends it, and the blocks must lie in the window).
BOOLEAN EmuFlashIsBlockRange(CONST EMU_FLASH *Flash, UINT64 Address, UINT64 Length);
// Erases the blocks of a block range to 0xFF; FALSE, changing nothing, for a
// range that is not whole blocks.
BOOLEAN EmuFlashErase(EMU_FLASH *Flash, UINT32 Address, UINT32 Length);
// Programs Length bytes at Address (inside the window): stores them, or with
// ProgramClearsBitsOnly ANDs them into what the cells hold. FALSE, changing
// nothing, outside the window.
BOOLEAN EmuFlashProgram(EMU_FLASH *Flash, UINT32 Address, CONST UINT8 *Data, UINT32 Length);

// The model name and version of the BVDT in the contents (8-bit text,
// terminated). FALSE when there are no contents or no complete BVDT.
BOOLEAN EmuFlashBvdtIdentity(CONST EMU_FLASH *Flash, CHAR8 *ModelName, UINTN ModelCapacity, CHAR8 *Version,
                             UINTN VersionCapacity);

// Handlers for the BIOS core's table.
UINT8 EmuFlashFunction12h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction13h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction14h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction15h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction17h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction1Eh(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

#endif  // VYR_EMU_FLASH_FUNCTIONS_H_
