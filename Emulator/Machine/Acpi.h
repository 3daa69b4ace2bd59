// ACPI tables of the emulated PC, laid out in physical memory just below
// 256 MiB the way firmware leaves them for the OS.
#ifndef VYR_EMU_ACPI_H_
#define VYR_EMU_ACPI_H_

#include <cstdint>
#include <vector>

#include "Machine/Memory.h"
#include "Machine/Profile.h"

namespace vyr::emu {

struct AcpiLayout {
  uint64_t RegionBase = 0;
  uint64_t RegionSize = 0;
  uint64_t Rsdp10 = 0;  // 20-byte revision-0 RSDP, 0 when the profile has no 1.0 entry
  uint64_t Rsdp20 = 0;  // 36-byte revision-2 RSDP
  uint64_t Rsdt = 0;
  uint64_t Xsdt = 0;
  uint64_t Facp = 0;
  uint64_t Dsdt = 0;
  uint64_t Fwsm = 0;
  std::vector<uint64_t> Extra;  // in profile order
};

constexpr uint32_t kFacpLength = 244;
constexpr uint32_t kFwsmLength = 56;

// Builds the tables into new memory regions (and the FWSM reserved region).
AcpiLayout BuildAcpiTables(const AcpiConfig &Config, PhysicalMemory &Memory);

}  // namespace vyr::emu

#endif  // VYR_EMU_ACPI_H_
