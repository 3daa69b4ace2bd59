// The PFAT engine: each ROM block goes to the BIOS as a signed packet (its
// per-block header, the block, its certificate), announced with 41h type
// 58h, carried by 42h and judged by 41h type 5Ah. Blocks the platform
// protects are passed over. The shell road takes the pieces from a PFAT file,
// the firmware road from the payload's records.
#ifndef VYR_PFAT_FLASH_H_
#define VYR_PFAT_FLASH_H_

#include "Base.h"
#include "Flash/RomMapTypes.h"

// Larger packets are refused before anything is allocated: what a BIOS takes
// per packet is far below this.
#define PFAT_PACKET_MAX 0x1000000
#define PFAT_ACTION_MORE 0xEF
#define PFAT_ACTION_LAST 0x00

// Entry i: address = the table's start + i·R, length R, protected when a
// protected block of the block table shares a byte with it. The table starts
// at the BIOS region; one larger than that region ends at the top of the ROM
// as the FD does. FALSE when it does not fit the ROM. *Table is pool memory.
BOOLEAN GetPfatBlockTable(UINT32 Count, UINT32 RomBlock, BLOCK_ENTRY **Table);

// A short 41h request whose answer must allow Size bytes and carry status 0.
BOOLEAN GetStatus41h_Pfat(UINT8 Type, UINT8 SizeIndex, UINT32 Size, UINT64 *ReturnCode);
// The result of the last packet (41h type 5Ah); *ReturnCode 0 when written.
BOOLEAN SMI_PfatDataGetResult(UINT64 *ReturnCode);
// One packet: announce, transfer (CL Action, CH Index), result.
BOOLEAN WritePfatBlock(CONST UINT8 *Packet, UINT32 Length, UINT8 Index, UINT8 Action);

// Every block in order, from the ROM data, header and certificate blocks.
BOOLEAN RunPfatFlash(CONST UINT8 *Rom, UINT32 RomSize, CONST UINT8 *Header, UINT32 HeaderSize,
                     CONST UINT8 *Certificate, UINT32 CertificateSize);
// The firmware road: RunPfatFlash between the 1Ah notifications.
BOOLEAN FlashPfatImage(CONST UINT8 *Rom, UINT32 RomSize, CONST UINT8 *Header, UINT32 HeaderSize,
                       CONST UINT8 *Certificate, UINT32 CertificateSize);

// Stage 1 of a PFAT file whose FD part is the ROM size or larger / smaller.
BOOLEAN FuncSize_entirePfat(CONST UINT8 *Image, UINT32 FdSize);
BOOLEAN FuncSize_regionPfat(CONST UINT8 *Image, UINT32 FdSize);
// The packets of a processed PFAT file.
BOOLEAN FuncUpdate_PFAT(CONST UINT8 *Image, UINT32 Size);
// The shell road for a PFAT file: sizes, the model-check waiver, then the
// packets on a PFAT platform or the FD part through 15h elsewhere.
BOOLEAN FuncUpdate_via42h(CONST UINT8 *Image, UINT32 Size);

#endif  // VYR_PFAT_FLASH_H_
