#include "Machine/Memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace vyr::emu {

namespace {

bool RangesOverlap(uint64_t ABase, uint64_t ASize, uint64_t BBase, uint64_t BSize) {
  return ABase < BBase + BSize && BBase < ABase + ASize;
}

}  // namespace

void AdviseHugePages(void *Buffer, size_t Size) {
  constexpr size_t kHuge = 2 * 1024 * 1024;
  if (Buffer == nullptr || Size < kHuge) return;
  // madvise wants page-aligned ranges; the kernel uses whole huge pages inside.
  const uintptr_t Start = (reinterpret_cast<uintptr_t>(Buffer) + kPageSize - 1) & ~(uintptr_t)(kPageSize - 1);
  const uintptr_t End = (reinterpret_cast<uintptr_t>(Buffer) + Size) & ~(uintptr_t)(kPageSize - 1);
  if (End > Start) madvise(reinterpret_cast<void *>(Start), End - Start, MADV_HUGEPAGE);
}

void FreeHostBytes::operator()(uint8_t *Bytes) const { std::free(Bytes); }

HostBytes AllocateZeroedBytes(size_t Size) {
  auto *Bytes = static_cast<uint8_t *>(std::calloc(Size == 0 ? 1 : Size, 1));
  if (Bytes == nullptr) throw std::bad_alloc();
  AdviseHugePages(Bytes, Size);
  return HostBytes(Bytes);
}

uint8_t *PhysicalMemory::AddRegion(uint64_t Base, uint64_t Size, const std::string &Kind) {
  if (Size == 0 || Base + Size < Base) {
    throw std::invalid_argument("memory region " + Kind + " has no size or wraps");
  }
  if (Overlaps(Base, Size)) {
    throw std::invalid_argument("memory region " + Kind + " overlaps an existing region");
  }
  Region R;
  R.Base = Base;
  R.Size = Size;
  R.Kind = Kind;
  R.Bytes = AllocateZeroedBytes(static_cast<size_t>(Size));
  uint8_t *Bytes = R.Bytes.get();
  Regions_.emplace(Base, std::move(R));
  return Bytes;
}

bool PhysicalMemory::RemoveRegion(uint64_t Base) { return Regions_.erase(Base) != 0; }

const PhysicalMemory::Region *PhysicalMemory::FindRegion(uint64_t Address) const {
  auto It = Regions_.upper_bound(Address);
  if (It == Regions_.begin()) {
    return nullptr;
  }
  --It;
  const Region &R = It->second;
  return Address - R.Base < R.Size ? &R : nullptr;
}

bool PhysicalMemory::Overlaps(uint64_t Base, uint64_t Size) const {
  for (const auto &Entry : Regions_) {
    if (RangesOverlap(Base, Size, Entry.second.Base, Entry.second.Size)) {
      return true;
    }
  }
  return false;
}

size_t PhysicalMemory::BackedLength(uint64_t Address, size_t Max) const {
  size_t Done = 0;
  while (Done < Max) {
    const Region *R = FindRegion(Address + Done);
    if (R == nullptr) {
      break;
    }
    uint64_t Available = R->Base + R->Size - (Address + Done);
    Done += static_cast<size_t>(std::min<uint64_t>(Available, Max - Done));
  }
  return Done;
}

bool PhysicalMemory::Read(uint64_t Address, void *Buffer, size_t Length) const {
  if (Address + Length < Address || BackedLength(Address, Length) != Length) {
    return false;
  }
  size_t Done = 0;
  while (Done < Length) {
    const Region *R = FindRegion(Address + Done);
    uint64_t Offset = Address + Done - R->Base;
    size_t Chunk = static_cast<size_t>(std::min<uint64_t>(R->Size - Offset, Length - Done));
    std::memcpy(static_cast<uint8_t *>(Buffer) + Done, R->Bytes.get() + Offset, Chunk);
    Done += Chunk;
  }
  return true;
}

bool PhysicalMemory::Write(uint64_t Address, const void *Buffer, size_t Length) {
  if (Address + Length < Address || BackedLength(Address, Length) != Length) {
    return false;
  }
  size_t Done = 0;
  while (Done < Length) {
    const Region *R = FindRegion(Address + Done);
    uint64_t Offset = Address + Done - R->Base;
    size_t Chunk = static_cast<size_t>(std::min<uint64_t>(R->Size - Offset, Length - Done));
    std::memcpy(R->Bytes.get() + Offset, static_cast<const uint8_t *>(Buffer) + Done, Chunk);
    Done += Chunk;
  }
  return true;
}

uint8_t *PhysicalMemory::HostPointer(uint64_t Address, size_t Length) {
  const Region *R = FindRegion(Address);
  if (R == nullptr || Address - R->Base + Length > R->Size) {
    return nullptr;
  }
  return R->Bytes.get() + (Address - R->Base);
}

EFI_STATUS PageAllocator::Allocate(uint64_t MaxAddress, uint64_t Pages, uint64_t *Address) {
  if (Address == nullptr || Pages == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (Pages > (High_ - Low_) / kPageSize) {
    return EFI_OUT_OF_RESOURCES;
  }
  const uint64_t Need = Pages * kPageSize;
  // Top of the search: the page boundary just above the highest allowed byte.
  uint64_t Top = MaxAddress >= High_ - 1 ? High_ : ((MaxAddress + 1) & ~(kPageSize - 1));
  if (Top < Low_ + Need) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::vector<std::pair<uint64_t, uint64_t>> Busy;  // page-rounded [start, end)
  for (const auto &Entry : Memory_.Regions()) {
    uint64_t Start = Entry.second.Base & ~(kPageSize - 1);
    uint64_t End = (Entry.second.Base + Entry.second.Size + kPageSize - 1) & ~(kPageSize - 1);
    if (End > Low_ && Start < Top) {
      Busy.emplace_back(Start, End);
    }
  }
  std::sort(Busy.begin(), Busy.end(), [](const auto &A, const auto &B) { return A.first > B.first; });
  uint64_t GapTop = Top;
  for (const auto &Range : Busy) {
    if (Range.second <= GapTop && GapTop - Range.second >= Need) {
      break;  // the gap above this region fits
    }
    GapTop = std::min(GapTop, Range.first);
  }
  if (GapTop < Low_ + Need) {
    return EFI_OUT_OF_RESOURCES;
  }
  uint64_t Base = GapTop - Need;
  Memory_.AddRegion(Base, Need, "pages");
  *Address = Base;
  return EFI_SUCCESS;
}

EFI_STATUS PageAllocator::Free(uint64_t Address, uint64_t Pages) {
  const PhysicalMemory::Region *R = Memory_.FindRegion(Address);
  if (R == nullptr || R->Base != Address || R->Kind != "pages" || R->Size != Pages * kPageSize) {
    return EFI_NOT_FOUND;
  }
  Memory_.RemoveRegion(Address);
  return EFI_SUCCESS;
}

uint64_t PageAllocator::PagesInUse() const {
  uint64_t Pages = 0;
  for (const auto &Entry : Memory_.Regions()) {
    if (Entry.second.Kind == "pages") {
      Pages += Entry.second.Size / kPageSize;
    }
  }
  return Pages;
}

}  // namespace vyr::emu
