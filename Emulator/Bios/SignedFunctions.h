// The emulated BIOS of a signing platform: 48h takes a secure capsule from
// the exchange memory or from the ESP, checks its signature and keeps it for
// the next reset; 4Ch verifies and flashes an RBU image; 41h announces PFAT
// packets and -edt items and reports a packet's result; 42h writes PFAT
// packets into flash blocks and assembles -edt items. 41h also takes the
// update progress. State in EMU_SIGNED. Freestanding, like the BIOS core.
//
// Signed layouts (little-endian; the signature is RSA-2048 PKCS#1 v1.5 over
// SHA-256, checked with EMU_SIGNED.PublicKey):
// - secure capsule: anything, with the 20-byte "$ZTK" capsule signature and
//   a "$_NORVEL_BIOSIMG" record (16-byte tag, u32, u32 data size, data), and
//   as its last 280 bytes the record "$_NORVEL_CAPSIG_" with data size 256:
//   the signature of every byte before that record.
// - RBU image: "$RBU", u8 header length H, then at H a "$BIS" block (u16
//   length L at +4) whose last 280 bytes are the record "$_NORVEL_RBUSIG_";
//   the raw FD from H + L, whole 512 KiB blocks; then u32 FD checksum (over
//   H up to the trailer) and u32 entire checksum (over all but the last 4
//   bytes). The signature covers every byte before the trailer except the
//   signature record.
// - PFAT packet: a 32-byte header "$PFATBLK", u32 index, u32 flash address,
//   u32 block size R, u32 certificate size 256, 8 bytes 0; the R bytes of the
//   block; the 256-byte signature of header and block.
#ifndef VYR_EMU_SIGNED_FUNCTIONS_H_
#define VYR_EMU_SIGNED_FUNCTIONS_H_

#include "Bios/EmuBiosState.h"

typedef struct {
  UINT32 BiosOffset, BiosSize;
  UINT32 EcOffset, EcSize;
  UINT32 MeOffset, MeSize;
  UINT32 DeviceFirmwareOffset, DeviceFirmwareSize;
} EMU_CAPSULE_LAYOUT;

// No key, no buffers, nothing pending; 1 MiB per PFAT packet and -edt item.
VOID EmuSignedInit(EMU_SIGNED *Signed);

// Lends the buffers of the capsule / RBU image and of the -edt item.
VOID EmuSignedSetBuffers(EMU_SIGNED *Signed, UINT8 *Store, UINT32 StoreCapacity, UINT8 *Extra, UINT32 ExtraCapacity);

// 0 when Data is a secure capsule that the machine's key signed, with its
// records in Layout; else the AL a submission gets.
UINT8 EmuSignedCheckCapsule(CONST EMU_SIGNED *Signed, CONST EMU_FLASH *Flash, CONST UINT8 *Data, UINT32 Size,
                            EMU_CAPSULE_LAYOUT *Layout);

// 0 when Data is an RBU image whose raw FD fits the flash; *Authentic when
// its checksums and signature hold. Else the AL a submission gets.
UINT8 EmuSignedCheckRbu(CONST EMU_SIGNED *Signed, CONST EMU_FLASH *Flash, CONST UINT8 *Data, UINT32 Size,
                        UINT32 *WindowStart, UINT32 *WindowSize, BOOLEAN *Authentic);

// The reflected CRC-32 of the RBU trailer: initial value all ones, no final
// inversion.
UINT32 EmuSignedRbuCrc32(CONST UINT8 *Data, UINT32 Size);

// The reset: a capsule waiting in the store (the host puts one back with
// CapsulePending after a restart) is written to the flash and dropped.
// FALSE when nothing was pending.
BOOLEAN EmuSignedApplyPending(EMU_BIOS *Bios);

// Handlers for the dispatch table (EmuBios.cpp).
UINT8 EmuSignedFunction41h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuSignedFunction42h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuSignedFunction48h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuSignedFunction4Ch(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

#endif  // VYR_EMU_SIGNED_FUNCTIONS_H_
