// The emulated BIOS's set-up as a file: what a machine profile configured
// (main function number, platform answers, the flash part and its maps, the
// OEM/ODM checks, the fault table) and the SMI command port, so that a BIOS
// configured on the host answers the same inside real firmware. The flash
// contents travel apart, as flash.bin. Freestanding.
//
// Layout, little-endian: "VYRBIOS1", u32 version, u16 SMI command port,
// u8 main function, u8 0, then u32 size + bytes of EMU_PLATFORM, EMU_CHECKS,
// the part of EMU_FLASH before its contents pointer, the fault table, and the
// part of EMU_SIGNED before the buffers the host lends it. The
// parts are the structures' own bytes: they hold fixed-width fields only, laid
// out alike on the host and both firmware targets; a reader built from other
// sources sees other sizes and refuses the file.
#ifndef VYR_EMU_BIOS_SETUP_H_
#define VYR_EMU_BIOS_SETUP_H_

#include "Base.h"
#include "Bios/EmuBiosState.h"

#define EMU_BIOS_SETUP_VERSION 2

// Bytes EmuBiosSaveSetup writes.
UINTN EmuBiosSetupSize(VOID);

// Writes the set-up of Bios into Buffer; FALSE when it is smaller than
// EmuBiosSetupSize().
MUST_CHECK BOOLEAN EmuBiosSaveSetup(CONST EMU_BIOS *Bios, UINT16 SmiCommandPort, UINT8 *Buffer, UINTN Size);

// Configures Bios (already EmuBiosInit'ed, contents not yet set) from a set-up
// file. FALSE, with Bios unchanged, for a file that is not one, of another
// version or of other part sizes.
MUST_CHECK BOOLEAN EmuBiosLoadSetup(EMU_BIOS *Bios, CONST UINT8 *Buffer, UINTN Size, UINT16 *SmiCommandPort);

#endif  // VYR_EMU_BIOS_SETUP_H_
