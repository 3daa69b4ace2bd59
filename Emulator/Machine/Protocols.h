// Handle database of the emulated PC: protocols installed on handles, looked
// up with UEFI boot-service semantics.
#ifndef VYR_EMU_PROTOCOLS_H_
#define VYR_EMU_PROTOCOLS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Base.h"

namespace vyr::emu {

bool SameGuid(const EFI_GUID &A, const EFI_GUID &B);

class ProtocolRegistry {
 public:
  // *Handle null creates a handle. The same GUID twice on one handle, or an
  // unknown handle, is EFI_INVALID_PARAMETER.
  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID &Protocol, void *Interface);
  // EFI_NOT_FOUND unless the handle carries Protocol with exactly Interface.
  // A handle left without protocols disappears.
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID &Protocol, void *Interface);
  EFI_STATUS HandleProtocol(EFI_HANDLE Handle, const EFI_GUID &Protocol, void **Interface) const;
  // The handle whose Protocol was installed first.
  EFI_STATUS LocateProtocol(const EFI_GUID &Protocol, void **Interface) const;
  // Handles carrying Protocol, in the order the protocol was installed on them.
  std::vector<EFI_HANDLE> LocateHandles(const EFI_GUID &Protocol) const;
  bool IsHandle(EFI_HANDLE Handle) const;
  // Drops a handle with whatever it carries.
  void RemoveHandle(EFI_HANDLE Handle);
  size_t HandleCount() const { return Handles_.size(); }
  uint64_t HandleNumber(EFI_HANDLE Handle) const;  // 1-based creation number, 0 if unknown

 private:
  struct Entry {
    EFI_GUID Guid;
    void *Interface;
    uint64_t Sequence;  // installation order across the whole database
  };
  struct HandleObject {
    uint64_t Number;
    std::vector<Entry> Protocols;
  };
  HandleObject *Find(EFI_HANDLE Handle) const;

  std::vector<std::unique_ptr<HandleObject>> Handles_;
  uint64_t NextSequence_ = 1;
  uint64_t NextNumber_ = 1;
};

}  // namespace vyr::emu

#endif  // VYR_EMU_PROTOCOLS_H_
