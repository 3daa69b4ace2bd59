// Sparse physical memory of the emulated PC and its page allocator.
#ifndef VYR_EMU_MEMORY_H_
#define VYR_EMU_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Base.h"

namespace vyr::emu {

constexpr uint64_t kPageSize = 4096;

// Image-sized host buffers (ROM contents, loaded images, FD files): on huge
// pages where the kernel allows it, so that touching 16 MiB costs a few page
// faults rather than 4096. A no-op for small buffers.
void AdviseHugePages(void *Buffer, size_t Size);

struct FreeHostBytes {
  void operator()(uint8_t *Bytes) const;
};
// Zero-filled: fresh pages from the kernel, which cost nothing until written.
// Throws std::bad_alloc.
using HostBytes = std::unique_ptr<uint8_t[], FreeHostBytes>;
HostBytes AllocateZeroedBytes(size_t Size);

// Regions of backed memory. A region's host bytes never move while it exists,
// so host pointers into it stay valid (loaded images rely on this).
class PhysicalMemory {
 public:
  struct Region {
    uint64_t Base = 0;
    uint64_t Size = 0;
    std::string Kind;  // "fsegment", "acpi", "reserved", "pages", "patch"
    HostBytes Bytes;
  };

  // Adds a zero-filled region; throws std::invalid_argument on overlap.
  uint8_t *AddRegion(uint64_t Base, uint64_t Size, const std::string &Kind);
  bool RemoveRegion(uint64_t Base);
  const Region *FindRegion(uint64_t Address) const;  // region holding Address
  bool Overlaps(uint64_t Base, uint64_t Size) const;

  // FALSE, with nothing copied, unless every byte of the range is backed.
  bool Read(uint64_t Address, void *Buffer, size_t Length) const;
  bool Write(uint64_t Address, const void *Buffer, size_t Length);
  // Backed bytes from Address on, without a gap, up to Max.
  size_t BackedLength(uint64_t Address, size_t Max) const;
  // Host pointer for a range inside one region, else nullptr.
  uint8_t *HostPointer(uint64_t Address, size_t Length);

  const std::map<uint64_t, Region> &Regions() const { return Regions_; }

 private:
  std::map<uint64_t, Region> Regions_;
};

// Boot-services pages between Low and High, handed out top-down below a
// maximum address as firmware does, never over any other region.
class PageAllocator {
 public:
  explicit PageAllocator(PhysicalMemory &Memory, uint64_t Low = 0x100000, uint64_t High = 0x10000000)
      : Memory_(Memory), Low_(Low), High_(High) {}

  EFI_STATUS Allocate(uint64_t MaxAddress, uint64_t Pages, uint64_t *Address);
  // Only whole allocations are freed; anything else is EFI_NOT_FOUND.
  EFI_STATUS Free(uint64_t Address, uint64_t Pages);
  uint64_t PagesInUse() const;

 private:
  PhysicalMemory &Memory_;
  uint64_t Low_;
  uint64_t High_;
};

}  // namespace vyr::emu

#endif  // VYR_EMU_MEMORY_H_
