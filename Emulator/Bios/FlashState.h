// The emulated flash part's state (EMU_FLASH): geometry, region maps, locked
// and skip ranges, the faults it models and the host-provided contents. Only
// types, below the handlers, so that EMU_BIOS can hold them. Freestanding,
// like the BIOS core.
#ifndef VYR_EMU_FLASH_STATE_H_
#define VYR_EMU_FLASH_STATE_H_

#include "Base.h"
#include "Bios/FlashTiming.h"

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

  // ---- What each operation costs on the real part ----
  EMU_FLASH_TIMING Timing;

  // ---- Contents (host-provided; the pointer is the last field) ----
  UINT32 ContentsSize;  // mapped at 2^32 - ContentsSize
  BOOLEAN ContentsChanged;  // set by EmuFlashErase and EmuFlashProgram
  // The span of the contents changed since the host last cleared
  // ContentsChanged (offsets; End exclusive), so that a host can write back
  // only what changed.
  UINT32 ChangedStart;
  UINT32 ChangedEnd;

  // ---- What the utility did ----
  UINT32 BytesRead;
  UINT32 LockedReads;
  UINT32 BytesWritten;
  UINT32 BlocksWritten;  // 15h calls that changed the contents
  UINT32 BlocksErased;   // blocks of the map erased to 0xFF
  UINT32 RefusedWrites;  // 15h calls answered 0x29 or 0x2A
  UINT8 Last13hSelector;
  UINT8 Last17hImage[16];  // first bytes of the latest 17h image buffer
  // Modeled time of the part's work so far (Timing): reads of 14h, erases
  // and programs of 15h.
  UINT64 ReadNs;
  UINT64 EraseNs;
  UINT64 ProgramNs;

  // Last: everything above it has the same layout on every target, so the
  // set-up file (EmuBiosSetup.h) can carry the part as bytes.
  UINT8 *Contents;
} EMU_FLASH;

#endif  // VYR_EMU_FLASH_STATE_H_
