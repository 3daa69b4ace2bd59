#include "Machine/Protocols.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vyr::emu {

bool SameGuid(const EFI_GUID &A, const EFI_GUID &B) { return std::memcmp(&A, &B, sizeof(EFI_GUID)) == 0; }

ProtocolRegistry::HandleObject *ProtocolRegistry::Find(EFI_HANDLE Handle) const {
  for (const auto &Object : Handles_) {
    if (Object.get() == Handle) {
      return Object.get();
    }
  }
  return nullptr;
}

bool ProtocolRegistry::IsHandle(EFI_HANDLE Handle) const { return Handle != nullptr && Find(Handle) != nullptr; }

uint64_t ProtocolRegistry::HandleNumber(EFI_HANDLE Handle) const {
  HandleObject *Object = Find(Handle);
  return Object ? Object->Number : 0;
}

EFI_STATUS ProtocolRegistry::Install(EFI_HANDLE *Handle, const EFI_GUID &Protocol, void *Interface) {
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  HandleObject *Object = nullptr;
  if (*Handle == nullptr) {
    Handles_.push_back(std::make_unique<HandleObject>());
    Object = Handles_.back().get();
    Object->Number = NextNumber_++;
  } else {
    Object = Find(*Handle);
    if (Object == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (const Entry &E : Object->Protocols) {
      if (SameGuid(E.Guid, Protocol)) {
        return EFI_INVALID_PARAMETER;
      }
    }
  }
  Object->Protocols.push_back(Entry{Protocol, Interface, NextSequence_++});
  *Handle = Object;
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolRegistry::Uninstall(EFI_HANDLE Handle, const EFI_GUID &Protocol, void *Interface) {
  HandleObject *Object = Find(Handle);
  if (Object == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto It = std::find_if(Object->Protocols.begin(), Object->Protocols.end(),
                         [&](const Entry &E) { return SameGuid(E.Guid, Protocol) && E.Interface == Interface; });
  if (It == Object->Protocols.end()) {
    return EFI_NOT_FOUND;
  }
  Object->Protocols.erase(It);
  if (Object->Protocols.empty()) {
    RemoveHandle(Handle);
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolRegistry::HandleProtocol(EFI_HANDLE Handle, const EFI_GUID &Protocol, void **Interface) const {
  if (Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  HandleObject *Object = Find(Handle);
  if (Object == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (const Entry &E : Object->Protocols) {
    if (SameGuid(E.Guid, Protocol)) {
      *Interface = E.Interface;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS ProtocolRegistry::LocateProtocol(const EFI_GUID &Protocol, void **Interface) const {
  if (Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  uint64_t Best = std::numeric_limits<uint64_t>::max();
  for (const auto &Object : Handles_) {
    for (const Entry &E : Object->Protocols) {
      if (SameGuid(E.Guid, Protocol) && E.Sequence < Best) {
        Best = E.Sequence;
        *Interface = E.Interface;
      }
    }
  }
  return Best == std::numeric_limits<uint64_t>::max() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

std::vector<EFI_HANDLE> ProtocolRegistry::LocateHandles(const EFI_GUID &Protocol) const {
  std::vector<std::pair<uint64_t, EFI_HANDLE>> Found;
  for (const auto &Object : Handles_) {
    for (const Entry &E : Object->Protocols) {
      if (SameGuid(E.Guid, Protocol)) {
        Found.emplace_back(E.Sequence, Object.get());
      }
    }
  }
  std::sort(Found.begin(), Found.end(), [](const auto &A, const auto &B) { return A.first < B.first; });
  std::vector<EFI_HANDLE> Handles;
  for (const auto &Pair : Found) {
    Handles.push_back(Pair.second);
  }
  return Handles;
}

void ProtocolRegistry::RemoveHandle(EFI_HANDLE Handle) {
  Handles_.erase(std::remove_if(Handles_.begin(), Handles_.end(), [&](const auto &Object) { return Object.get() == Handle; }),
                 Handles_.end());
}

}  // namespace vyr::emu
