// Just enough PE/COFF to place a UEFI image in memory the way the firmware's
// loader does (headers and sections; no relocation, nothing executed).
#ifndef VYR_EMU_PE_IMAGE_H_
#define VYR_EMU_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyr::emu {

struct PeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct PeSection {
  std::string Name;
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawOffset = 0;
  uint32_t RawSize = 0;
};

struct PeInfo {
  bool Pe32Plus = false;
  uint16_t Machine = 0;
  uint16_t Subsystem = 0;
  uint32_t EntryPoint = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  std::vector<PeSection> Sections;
};

// Throws PeError naming what is wrong.
PeInfo ParsePe(const uint8_t *Data, size_t Size);
// Copies headers and sections into Image (SizeOfImage bytes, zero-filled by the caller).
void MapPe(const PeInfo &Info, const uint8_t *Data, size_t Size, uint8_t *Image);

}  // namespace vyr::emu

#endif  // VYR_EMU_PE_IMAGE_H_
