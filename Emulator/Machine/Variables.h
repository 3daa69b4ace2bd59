// UEFI variables of the emulated PC. Non-volatile ones persist in a JSON file.
#ifndef VYR_EMU_VARIABLES_H_
#define VYR_EMU_VARIABLES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Base.h"

namespace vyr::emu {

std::string GuidToString(const EFI_GUID &Guid);
bool ParseGuid(const std::string &Text, EFI_GUID *Guid);

class VariableStore {
 public:
  struct Variable {
    uint32_t Attributes = 0;
    std::vector<uint8_t> Data;
  };
  using Key = std::pair<std::u16string, std::string>;  // name, GUID text

  // UEFI semantics: EFI_BUFFER_TOO_SMALL with *DataSize set to the need,
  // EFI_NOT_FOUND, EFI_INVALID_PARAMETER for missing arguments.
  EFI_STATUS Get(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t *Attributes, uintptr_t *DataSize, void *Data) const;
  // Size 0 (or attributes 0) deletes; deleting a missing variable is EFI_NOT_FOUND.
  // Rewriting with other attributes is EFI_INVALID_PARAMETER, as in firmware.
  // A non-volatile change that cannot be saved is EFI_DEVICE_ERROR and undone.
  EFI_STATUS Set(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t Attributes, uintptr_t DataSize, const void *Data);

  // Persistence: only non-volatile variables are written. Empty path: none.
  void SetFile(const std::string &Path) { Path_ = Path; }
  void Load();  // throws std::runtime_error for a damaged file
  void Save() const;
  nlohmann::json ToJson(bool NonVolatileOnly) const;

  const std::map<Key, Variable> &All() const { return Variables_; }

 private:
  std::map<Key, Variable> Variables_;
  std::string Path_;
};

}  // namespace vyr::emu

#endif  // VYR_EMU_VARIABLES_H_
