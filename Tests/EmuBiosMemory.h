// Test helper: an emulated BIOS against a small flat memory at Base, without a
// machine around it, and signed calls into it. Host-only (tests).
#ifndef VYR_TESTS_EMU_BIOS_MEMORY_H_
#define VYR_TESTS_EMU_BIOS_MEMORY_H_

#include <cstring>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"

struct EmuBiosMemory {
  explicit EmuBiosMemory(UINT64 MemoryBase = 0x10000, size_t Size = 0x4000) : Base(MemoryBase) {
    EmuBiosInit(&Bios);
    Memory.assign(Size, 0xEE);
    EmuBiosSetMemory(&Bios, Read, Write, this);
  }
  bool Inside(UINT64 Address, UINTN Length) const {
    return Address >= Base && Address + Length <= Base + Memory.size();
  }
  static BOOLEAN Read(VOID *Context, UINT64 Address, VOID *Buffer, UINTN Length) {
    auto *T = static_cast<EmuBiosMemory *>(Context);
    if (!T->Inside(Address, Length)) return FALSE;
    std::memcpy(Buffer, T->Memory.data() + (Address - T->Base), Length);
    return TRUE;
  }
  static BOOLEAN Write(VOID *Context, UINT64 Address, CONST VOID *Buffer, UINTN Length) {
    auto *T = static_cast<EmuBiosMemory *>(Context);
    if (!T->Inside(Address, Length)) return FALSE;
    std::memcpy(T->Memory.data() + (Address - T->Base), Buffer, Length);
    return TRUE;
  }
  void Put(UINT64 Address, const std::string &Bytes) {
    std::memcpy(&Memory[Address - Base], Bytes.data(), Bytes.size());
  }
  std::string At(UINT64 Address, size_t Length) const {
    return std::string(Memory.begin() + (Address - Base), Memory.begin() + (Address - Base) + Length);
  }
  // One signed call of Function with the given ECX, ESI and EDI; the
  // registers as the BIOS left them.
  SMI_REGISTERS Call(UINT8 Function, UINT32 Ecx, UINT32 Esi, UINT32 Edi) {
    SMI_REGISTERS R = {(UINT32(Function) << 8) | Bios.MainFunction, EMU_BIOS_CALL_SIGNATURE, Ecx, 0xB2, Esi, Edi};
    EmuBiosHandleSmi(&Bios, &R);
    return R;
  }
  UINT64 Base;
  EMU_BIOS Bios;
  std::vector<UINT8> Memory;
};

#endif  // VYR_TESTS_EMU_BIOS_MEMORY_H_
