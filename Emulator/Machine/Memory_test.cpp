#include "Machine/Memory.h"

#include <gtest/gtest.h>

#include <vector>

#include "Machine/Machine.h"

namespace vyr::emu {
namespace {

TEST(PhysicalMemory, AccessSpansAdjacentRegionsButNeverAGap) {
  PhysicalMemory Mem;
  Mem.AddRegion(0x1000, 0x1000, "a");
  Mem.AddRegion(0x2000, 0x1000, "b");
  Mem.AddRegion(0x4000, 0x1000, "c");
  std::vector<uint8_t> Data(0x10, 0xAB);
  EXPECT_TRUE(Mem.Write(0x1FF8, Data.data(), Data.size()));
  std::vector<uint8_t> Back(0x10);
  EXPECT_TRUE(Mem.Read(0x1FF8, Back.data(), Back.size()));
  EXPECT_EQ(Data, Back);
  // 0x3000-0x3FFF is not memory: nothing is copied.
  std::vector<uint8_t> Probe(0x10, 0x55);
  EXPECT_FALSE(Mem.Read(0x2FF8, Probe.data(), Probe.size()));
  EXPECT_EQ(std::vector<uint8_t>(0x10, 0x55), Probe);
  EXPECT_FALSE(Mem.Write(0x2FF8, Data.data(), Data.size()));
  uint8_t Byte = 0x77;
  Mem.Read(0x2FF8, &Byte, 1);
  EXPECT_EQ(0, Byte) << "a failed write must not write the backed part";
  EXPECT_EQ(0x8u, Mem.BackedLength(0x2FF8, 0x100));
  EXPECT_FALSE(Mem.Read(UINT64_MAX - 4, Probe.data(), 0x10));
  EXPECT_THROW(Mem.AddRegion(0x2800, 0x1000, "overlap"), std::invalid_argument);
}

TEST(PageAllocator, TopDownBelowTheMaximumZeroFilledAndWithoutOverlap) {
  PhysicalMemory Mem;
  Mem.AddRegion(0x0FFF0000, 0x10000, "acpi");
  PageAllocator Pages(Mem);
  uint64_t A = 0, B = 0, C = 0;
  ASSERT_EQ(EFI_SUCCESS, Pages.Allocate(0x0FFFFFFF, 2, &A));
  EXPECT_EQ(0x0FFF0000u - 0x2000, A);
  ASSERT_EQ(EFI_SUCCESS, Pages.Allocate(0x0FFFFFFF, 1, &B));
  EXPECT_EQ(A - 0x1000, B);
  // An unaligned maximum: the whole allocation must stay at or below it.
  ASSERT_EQ(EFI_SUCCESS, Pages.Allocate(0x00500FFE, 1, &C));
  EXPECT_EQ(0x004FF000u, C);
  // Above 256 MiB nothing is handed out: the maximum is clipped.
  uint64_t D = 0;
  ASSERT_EQ(EFI_SUCCESS, Pages.Allocate(0xFFFFFFFFFFFFull, 1, &D));
  EXPECT_LT(D, 0x10000000u);
  uint8_t Dirty[4096];
  std::fill(std::begin(Dirty), std::end(Dirty), 0xCC);
  ASSERT_TRUE(Mem.Write(B, Dirty, sizeof(Dirty)));
  ASSERT_EQ(EFI_SUCCESS, Pages.Free(B, 1));
  uint64_t Again = 0;
  ASSERT_EQ(EFI_SUCCESS, Pages.Allocate(0x0FFFFFFF, 1, &Again));
  EXPECT_EQ(B, Again) << "the freed hole is reused";
  uint8_t Back[4096];
  ASSERT_TRUE(Mem.Read(Again, Back, sizeof(Back)));
  EXPECT_EQ(std::vector<uint8_t>(4096, 0), std::vector<uint8_t>(Back, Back + 4096));
}

TEST(PageAllocator, RefusesWhatDoesNotFitAndFreesOnlyWholeAllocations) {
  PhysicalMemory Mem;
  PageAllocator Pages(Mem);
  uint64_t Address = 0;
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, Pages.Allocate(0x000FFFFF, 1, &Address)) << "nothing below 1 MiB";
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, Pages.Allocate(0x00101FFF, 3, &Address));
  EXPECT_EQ(EFI_SUCCESS, Pages.Allocate(0x00101FFF, 2, &Address));
  EXPECT_EQ(0x100000u, Address);
  EXPECT_EQ(EFI_INVALID_PARAMETER, Pages.Allocate(0x0FFFFFFF, 0, &Address));
  EXPECT_EQ(EFI_OUT_OF_RESOURCES, Pages.Allocate(0x0FFFFFFF, 0x10000, &Address));
  EXPECT_EQ(EFI_NOT_FOUND, Pages.Free(0x100000, 1));
  EXPECT_EQ(EFI_NOT_FOUND, Pages.Free(0x101000, 1));
  EXPECT_EQ(EFI_SUCCESS, Pages.Free(0x100000, 2));
  EXPECT_EQ(EFI_NOT_FOUND, Pages.Free(0x100000, 2));
  Mem.AddRegion(0x200000, 0x1000, "acpi");
  EXPECT_EQ(EFI_NOT_FOUND, Pages.Free(0x200000, 1)) << "only pages are freed";
}

// Where the signature goes and which byte follows it is asserted through the
// utility's search (FwsmiTransport_test); here the segment itself.
TEST(MachineMemory, FsegmentIsAlwaysBacked) {
  // Without a signature the whole segment reads as zeros.
  Machine Plain(Profile::Default());
  std::vector<uint8_t> Segment(0x20000, 0xFF);
  ASSERT_TRUE(Plain.ReadPhysical(0xE0000, Segment.data(), Segment.size()));
  EXPECT_EQ(std::vector<uint8_t>(0x20000, 0), Segment);
  EXPECT_FALSE(Plain.ReadPhysical(0xDFFFF, Segment.data(), 2));
  EXPECT_FALSE(Plain.ReadPhysical(0xFFFFF, Segment.data(), 2));
}

TEST(MachineMemory, PatchesPlaceBytesInNewOrExistingMemory) {
  Profile P = Profile::Default();
  P.MemoryPatches = {{0x400, {0x12, 0x34}}, {0xF0000, {0x56}}};
  Machine M(P);
  uint8_t Bytes[3] = {};
  ASSERT_TRUE(M.ReadPhysical(0x400, Bytes, 2));
  ASSERT_TRUE(M.ReadPhysical(0xF0000, Bytes + 2, 1));
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34, 0x56}), std::vector<uint8_t>(Bytes, Bytes + 3));
}

}  // namespace
}  // namespace vyr::emu
