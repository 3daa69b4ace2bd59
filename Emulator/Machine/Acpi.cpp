#include "Machine/Acpi.h"

#include <cstring>
#include <stdexcept>

namespace vyr::emu {

namespace {

constexpr uint64_t kAcpiTop = 0x10000000;
constexpr uint32_t kHeaderLength = 36;

void Put32(uint8_t *At, uint32_t Value) { std::memcpy(At, &Value, 4); }
void Put64(uint8_t *At, uint64_t Value) { std::memcpy(At, &Value, 8); }

uint8_t Checksum(const uint8_t *Bytes, size_t Length) {
  uint8_t Sum = 0;
  for (size_t Index = 0; Index < Length; Index++) {
    Sum = static_cast<uint8_t>(Sum + Bytes[Index]);
  }
  return static_cast<uint8_t>(0x100 - Sum);
}

// Standard description header; the checksum is set by Seal once the body is in.
void Header(uint8_t *At, const char *Signature, uint32_t Length, uint8_t Revision, const std::string &OemId) {
  std::memcpy(At, Signature, 4);
  Put32(At + 4, Length);
  At[8] = Revision;
  std::memset(At + 10, ' ', 6);
  std::memcpy(At + 10, OemId.data(), std::min<size_t>(OemId.size(), 6));
  std::memcpy(At + 16, "VYREMUPC", 8);  // OEM table ID
  Put32(At + 24, 1);                     // OEM revision
  std::memcpy(At + 28, "VYRE", 4);       // creator ID
  Put32(At + 32, 1);                     // creator revision
}

void Seal(uint8_t *Table) {
  uint32_t Length;
  std::memcpy(&Length, Table + 4, 4);
  Table[9] = 0;
  Table[9] = Checksum(Table, Length);
}

uint64_t Align16(uint64_t Value) { return (Value + 15) & ~uint64_t(15); }

}  // namespace

AcpiLayout BuildAcpiTables(const AcpiConfig &Config, PhysicalMemory &Memory) {
  AcpiLayout L;
  // Offsets inside the region, then the region is placed so that it ends at 256 MiB.
  const uint32_t EntryCount = static_cast<uint32_t>(3 + Config.ExtraTables.size());
  uint64_t Offset = 0;
  const uint64_t Rsdp10Off = Offset;
  Offset = Align16(Offset + 20);
  const uint64_t Rsdp20Off = Offset;
  Offset = Align16(Offset + 36);
  const uint64_t RsdtOff = Offset;
  Offset = Align16(Offset + kHeaderLength + 4 * EntryCount);
  const uint64_t XsdtOff = Offset;
  Offset = Align16(Offset + kHeaderLength + 8 * EntryCount);
  const uint64_t FacpOff = Offset;
  Offset = Align16(Offset + kFacpLength);
  const uint64_t DsdtOff = Offset;
  Offset = Align16(Offset + kHeaderLength);
  const uint64_t FwsmOff = Offset;
  Offset = Align16(Offset + kFwsmLength);
  std::vector<uint64_t> ExtraOff;
  for (const AcpiTableConfig &Table : Config.ExtraTables) {
    ExtraOff.push_back(Offset);
    Offset = Align16(Offset + kHeaderLength + Table.Data.size());
  }
  L.RegionSize = (Offset + kPageSize - 1) & ~(kPageSize - 1);
  L.RegionBase = kAcpiTop - L.RegionSize;
  uint8_t *Base = Memory.AddRegion(L.RegionBase, L.RegionSize, "acpi");
  auto Addr = [&](uint64_t Off) { return L.RegionBase + Off; };

  // Tables the RSDT lists, in order.
  std::vector<uint64_t> Entries;
  for (size_t Index = 0; Index < Config.ExtraTables.size(); Index++) {
    if (Config.ExtraTables[Index].BeforeFacp) Entries.push_back(Addr(ExtraOff[Index]));
  }
  if (Config.Facp) {
    L.Facp = Addr(FacpOff);
    Entries.push_back(L.Facp);
  }
  if (Config.Fwsm) {
    L.Fwsm = Addr(FwsmOff);
    Entries.push_back(L.Fwsm);
  }
  for (size_t Index = 0; Index < Config.ExtraTables.size(); Index++) {
    if (!Config.ExtraTables[Index].BeforeFacp) Entries.push_back(Addr(ExtraOff[Index]));
  }

  if (Config.Dsdt) {
    L.Dsdt = Addr(DsdtOff);
    uint8_t *Dsdt = Base + DsdtOff;
    Header(Dsdt, "DSDT", kHeaderLength, 2, Config.DsdtOemId);
    Seal(Dsdt);
  }
  if (Config.Facp) {
    uint8_t *Facp = Base + FacpOff;
    Header(Facp, "FACP", kFacpLength, 3, "VYRPC ");
    Put32(Facp + 40, static_cast<uint32_t>(L.Dsdt));
    Put32(Facp + 48, Config.SmiCmd);
    Facp[52] = 0xF0;  // ACPI_ENABLE
    Facp[53] = 0xF1;  // ACPI_DISABLE
    Put64(Facp + 140, L.Dsdt);  // X_DSDT
    Seal(Facp);
  }
  if (Config.Fwsm) {
    if (Memory.Overlaps(Config.FwsmAddress, Config.FwsmSize)) {
      throw std::invalid_argument("FWSM reserved memory overlaps other memory");
    }
    if (Config.FwsmSize != 0) {
      Memory.AddRegion(Config.FwsmAddress, Config.FwsmSize, "reserved");
    }
    uint8_t *Fwsm = Base + FwsmOff;
    Header(Fwsm, "FWSM", kFwsmLength, 1, "VYRPC ");
    Put32(Fwsm + 40, Config.FwsmSize);
    Put32(Fwsm + 48, Config.FwsmAddress);
    Seal(Fwsm);
  }
  for (size_t Index = 0; Index < Config.ExtraTables.size(); Index++) {
    const AcpiTableConfig &Table = Config.ExtraTables[Index];
    uint8_t *At = Base + ExtraOff[Index];
    Header(At, Table.Signature.c_str(), static_cast<uint32_t>(kHeaderLength + Table.Data.size()), 1, Table.OemId);
    if (!Table.Data.empty()) {
      std::memcpy(At + kHeaderLength, Table.Data.data(), Table.Data.size());
    }
    Seal(At);
    L.Extra.push_back(Addr(ExtraOff[Index]));
  }
  if (Config.Rsdt) {
    L.Rsdt = Addr(RsdtOff);
    uint8_t *Rsdt = Base + RsdtOff;
    Header(Rsdt, "RSDT", static_cast<uint32_t>(kHeaderLength + 4 * Entries.size()), 1, "VYRPC ");
    for (size_t Index = 0; Index < Entries.size(); Index++) {
      Put32(Rsdt + kHeaderLength + 4 * Index, static_cast<uint32_t>(Entries[Index]));
    }
    Seal(Rsdt);
  }
  // The XSDT lists the same tables; the 2.0 RSDP points to it.
  L.Xsdt = Addr(XsdtOff);
  uint8_t *Xsdt = Base + XsdtOff;
  Header(Xsdt, "XSDT", static_cast<uint32_t>(kHeaderLength + 8 * Entries.size()), 1, "VYRPC ");
  for (size_t Index = 0; Index < Entries.size(); Index++) {
    Put64(Xsdt + kHeaderLength + 8 * Index, Entries[Index]);
  }
  Seal(Xsdt);

  auto Rsdp = [&](uint64_t Off, uint8_t Revision) {
    uint8_t *At = Base + Off;
    std::memcpy(At, "RSD PTR ", 8);
    std::memcpy(At + 9, "VYRPC ", 6);
    At[15] = Revision;
    Put32(At + 16, static_cast<uint32_t>(L.Rsdt));
    At[8] = Checksum(At, 20);
    if (Revision >= 2) {
      Put32(At + 20, 36);
      Put64(At + 24, L.Xsdt);
      At[32] = Checksum(At, 36);
    }
  };
  if (Config.Rsdp10) {
    L.Rsdp10 = Addr(Rsdp10Off);
    Rsdp(Rsdp10Off, 0);
  }
  if (Config.Rsdp20) {
    L.Rsdp20 = Addr(Rsdp20Off);
    Rsdp(Rsdp20Off, 2);
  }
  return L;
}

}  // namespace vyr::emu
