// What a signing platform's BIOS holds (EMU_SIGNED): the public key, the
// secure capsule waiting for the next reset (48h), the OEM secure RBU update
// (4Ch), the PFAT packet sequence (41h type 58h/5Ah, 42h) and the extra data
// of -edt (41h types 4-0Ch, 42h). Only types, below the handlers, so that
// EMU_BIOS can hold them. The host lends the buffers (the pointers are the
// last fields) and reads the ESP; without them capsules and extra data are
// refused. Freestanding, like the BIOS core.
#ifndef VYR_EMU_SIGNED_STATE_H_
#define VYR_EMU_SIGNED_STATE_H_

#include "Base.h"
#include "Bios/RsaVerify.h"

// AL answers of the signed-update functions (0x11, bad request, as the checks).
#define EMU_SIGNED_STATUS_INVALID 0x32        // not a capsule / RBU image, or a malformed one
#define EMU_SIGNED_STATUS_BAD_SIGNATURE 0x33  // no signature, or not made by the machine's key
#define EMU_SIGNED_STATUS_TOO_LARGE 0x34      // past a buffer, an announced or an allowed size
#define EMU_SIGNED_STATUS_NO_FILE 0x35        // address 0, but no capsule file on the ESP
#define EMU_SIGNED_STATUS_BUSY 0x36           // 4Ch while a capsule waits for the reset

#define EMU_SIGNED_MAX_CAPSULE_BLOCKS 512
#define EMU_SIGNED_SIGNATURE_RECORD_SIZE (24 + EMU_RSA_KEY_SIZE)

// 41h type 5Ah return codes of a PFAT packet (0: written).
#define EMU_PFAT_RESULT_NONE 0x01         // no packet since the last result
#define EMU_PFAT_RESULT_BAD_HEADER 0x02   // header, sizes or index do not match
#define EMU_PFAT_RESULT_BAD_ADDRESS 0x03  // not whole blocks of the flash
#define EMU_PFAT_RESULT_BAD_SIGNATURE 0x04
#define EMU_PFAT_RESULT_WRITE_FAILED 0x05  // the profile's fault

#define EMU_PFAT_BLOCK_HEADER_SIZE 32

#define EMU_EXTRA_DATA_TYPES 13  // 0 to 0Ch; -edt uses 4 to 0Ch

// Outcome of the latest capsule or RBU write.
#define EMU_SIGNED_APPLY_NONE 0
#define EMU_SIGNED_APPLY_DONE 1
#define EMU_SIGNED_APPLY_FAILED 2    // the profile's part-way fault: the flash holds a mix
#define EMU_SIGNED_APPLY_POWER_CUT 3  // the power went during the write

// Reads the capsule file of the ESP into Buffer; FALSE when there is none.
// *Size is the file's size, also when it does not fit (then FALSE).
typedef BOOLEAN (*EMU_SIGNED_READ_ESP)(VOID *Context, UINT8 *Buffer, UINT32 Capacity, UINT32 *Size);
// A complete -edt item arrived: the host keeps it.
typedef VOID (*EMU_SIGNED_STORE_EXTRA)(VOID *Context, UINT8 Type, CONST UINT8 *Data, UINT32 Size);

typedef struct {
  // ---- Profile ----
  BOOLEAN HasKey;  // without a key nothing signed is accepted
  UINT8 PublicKey[EMU_RSA_KEY_SIZE];
  UINT32 CapsuleFailAfterBlocks;     // the reset writes this many blocks, then fails (0 never)
  BOOLEAN CapsulePowerCut;           // the power goes right after an accepted submission
  UINT8 RbuStatus;                   // AL for a verified RBU image (0 accepts)
  BOOLEAN RbuFallback;               // AH bit 1 of a refused image
  UINT8 RbuAction;                   // CL of a flashed image
  UINT32 RbuFailAfterBlocks;
  UINT32 PfatPacketLimit;            // what 41h type 58h allows per packet
  UINT32 PfatFailAtPacket;           // the n-th packet reports a write failure (0 never)
  UINT32 ExtraDataLimit;             // largest -edt item accepted

  // ---- 48h: the capsule waiting for the reset ----
  BOOLEAN CapsulePending;
  UINT32 CapsuleSize;
  BOOLEAN CapsuleFromEsp;
  BOOLEAN CapsuleLostToPowerCut;  // CapsulePowerCut struck
  UINT32 CapsulesVerified;
  UINT32 CapsulesRefused;
  UINT8 LastCapsuleRefusal;  // AL of the latest refusal
  UINT32 CapsulesApplied;
  UINT8 LastApply;           // EMU_SIGNED_APPLY_*
  UINT32 LastApplyBlocks;    // blocks the latest capsule or RBU write erased and programmed
  UINT32 LastApplyBiosSize;
  UINT32 LastApplyMeSize;
  UINT32 LastApplyEcSize;    // the EC record: the model has no EC to write, it is counted
  UINT32 LastApplyDeviceFirmwareSize;

  // ---- 4Ch ----
  UINT32 RbuVerified;
  UINT32 RbuRefused;
  UINT32 RbuFlashed;
  UINT8 LastRbuRefusal;  // AL, or 0 with AH bit 0 clear for a bad checksum or signature

  // ---- 41h / 42h ----
  UINT8 AnnouncedType;      // 0: nothing announced
  UINT32 AnnouncedSize;
  UINT32 PfatPackets;       // 42h packets handled (written or not)
  UINT32 PfatWritten;
  UINT32 PfatSequences;     // packets with action 0: the sequence ended
  UINT64 PfatResult;        // return code of the latest packet
  UINT8 LastPfatIndex;
  UINT32 ExtraReceived;     // bytes of the item being assembled
  UINT8 ExtraNextPiece;
  UINT32 ExtraItems;        // complete items handed to the host
  UINT32 ExtraRefused;
  UINT32 ExtraSizes[EMU_EXTRA_DATA_TYPES];  // latest complete item of each type

  // ---- Host (pointers last) ----
  UINT32 StoreCapacity;
  UINT32 ExtraCapacity;
  UINT8 *Store;  // the capsule or RBU image
  UINT8 *Extra;  // the -edt item being assembled
  EMU_SIGNED_READ_ESP ReadEsp;
  EMU_SIGNED_STORE_EXTRA StoreExtra;
  VOID *HostContext;
} EMU_SIGNED;

#endif  // VYR_EMU_SIGNED_STATE_H_
