#include "Machine/Variables.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "Machine/Console.h"
#include "Machine/Profile.h"

namespace vyr::emu {

std::string GuidToString(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1, Guid.Data2, Guid.Data3,
                Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3], Guid.Data4[4], Guid.Data4[5], Guid.Data4[6],
                Guid.Data4[7]);
  return Text;
}

bool ParseGuid(const std::string &Text, EFI_GUID *Guid) {
  unsigned D1, D2, D3, B[8];
  char Tail;
  if (Text.size() != 36 ||
      std::sscanf(Text.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &D1, &D2, &D3, &B[0], &B[1], &B[2], &B[3], &B[4],
                  &B[5], &B[6], &B[7], &Tail) != 11) {
    return false;
  }
  Guid->Data1 = D1;
  Guid->Data2 = static_cast<uint16_t>(D2);
  Guid->Data3 = static_cast<uint16_t>(D3);
  for (int Index = 0; Index < 8; Index++) {
    Guid->Data4[Index] = static_cast<uint8_t>(B[Index]);
  }
  return true;
}

EFI_STATUS VariableStore::Get(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t *Attributes, uintptr_t *DataSize, void *Data) const {
  if (Name == nullptr || Guid == nullptr || DataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto It = Variables_.find(Key{Name, GuidToString(*Guid)});
  if (It == Variables_.end()) {
    return EFI_NOT_FOUND;
  }
  const Variable &V = It->second;
  if (*DataSize < V.Data.size()) {
    *DataSize = V.Data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Data == nullptr && !V.Data.empty()) {
    return EFI_INVALID_PARAMETER;
  }
  if (!V.Data.empty()) {
    std::memcpy(Data, V.Data.data(), V.Data.size());
  }
  *DataSize = V.Data.size();
  if (Attributes != nullptr) {
    *Attributes = V.Attributes;
  }
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::Set(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t Attributes, uintptr_t DataSize, const void *Data) {
  if (Name == nullptr || Name[0] == 0 || Guid == nullptr || (DataSize != 0 && Data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 && (Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const Key K{Name, GuidToString(*Guid)};
  auto It = Variables_.find(K);
  const bool Existed = It != Variables_.end();
  const Variable Before = Existed ? It->second : Variable{};
  bool Persist = false;
  if (DataSize == 0 || Attributes == 0) {
    if (It == Variables_.end()) {
      return EFI_NOT_FOUND;
    }
    Persist = (It->second.Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
    Variables_.erase(It);
  } else {
    if (It != Variables_.end() && It->second.Attributes != Attributes) {
      return EFI_INVALID_PARAMETER;
    }
    Variable &V = Variables_[K];
    V.Attributes = Attributes;
    V.Data.assign(static_cast<const uint8_t *>(Data), static_cast<const uint8_t *>(Data) + DataSize);
    Persist = (Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  }
  if (Persist) {
    try {
      Save();
    } catch (const std::exception &) {
      // The store could not be rewritten: like firmware whose NV write failed,
      // the variable keeps its old state and the caller gets an error.
      if (Existed) {
        Variables_[K] = Before;
      } else {
        Variables_.erase(K);
      }
      return EFI_DEVICE_ERROR;
    }
  }
  return EFI_SUCCESS;
}

nlohmann::json VariableStore::ToJson(bool NonVolatileOnly) const {
  nlohmann::json List = nlohmann::json::array();
  for (const auto &Entry : Variables_) {
    if (NonVolatileOnly && (Entry.second.Attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      continue;
    }
    List.push_back({{"name", Utf16ToUtf8(Entry.first.first)},
                    {"guid", Entry.first.second},
                    {"attributes", Entry.second.Attributes},
                    {"data", HexBytes(Entry.second.Data)}});
  }
  return List;
}

void VariableStore::Save() const {
  if (Path_.empty()) {
    return;
  }
  const std::string Temp = Path_ + ".tmp";
  {
    std::ofstream Out(Temp);
    Out << ToJson(true).dump(2) << "\n";
    if (!Out) {
      throw std::runtime_error(Temp + ": write failed");
    }
  }
  if (std::rename(Temp.c_str(), Path_.c_str()) != 0) {
    throw std::runtime_error(Path_ + ": cannot replace");
  }
}

void VariableStore::Load() {
  Variables_.clear();
  std::ifstream In(Path_);
  if (!In) {
    return;  // nothing stored yet
  }
  nlohmann::json List;
  try {
    List = nlohmann::json::parse(In);  // the whole file: nothing may follow the list
  } catch (const nlohmann::json::exception &Error) {
    throw std::runtime_error(Path_ + ": not valid JSON: " + Error.what());
  }
  if (!List.is_array()) {
    throw std::runtime_error(Path_ + ": must be a list of variables");
  }
  for (const nlohmann::json &Entry : List) {
    EFI_GUID Guid;
    if (!Entry.is_object() || !Entry.contains("name") || !Entry["name"].is_string() || !Entry.contains("guid") ||
        !Entry["guid"].is_string() || !ParseGuid(Entry["guid"].get<std::string>(), &Guid) ||
        !Entry.contains("attributes") || !Entry["attributes"].is_number_unsigned() || !Entry.contains("data") ||
        !Entry["data"].is_string()) {
      throw std::runtime_error(Path_ + ": damaged entry " + Entry.dump());
    }
    Variable V;
    V.Attributes = Entry["attributes"].get<uint32_t>();
    V.Data = ParseHexBytes(Entry["data"].get<std::string>(), Path_);
    Variables_[Key{Utf8ToUtf16(Entry["name"].get<std::string>()), GuidToString(Guid)}] = V;
  }
}

}  // namespace vyr::emu
