#include "Machine/Acpi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Machine/Machine.h"

namespace vyr::emu {
namespace {

// Walks the tables from memory the way the utility does, so the test fails
// for any layout the utility could not read.
struct Walker {
  Machine &M;

  uint32_t U32(uint64_t Address) {
    uint32_t Value = 0;
    EXPECT_TRUE(M.ReadPhysical(Address, &Value, 4)) << std::hex << Address;
    return Value;
  }
  std::string Text(uint64_t Address, size_t Length) {
    std::string Out(Length, '\0');
    EXPECT_TRUE(M.ReadPhysical(Address, Out.data(), Length));
    return Out;
  }
  uint8_t Sum(uint64_t Address, size_t Length) {
    uint8_t Total = 0;
    for (char C : Text(Address, Length)) Total = uint8_t(Total + uint8_t(C));
    return Total;
  }
  uint64_t Rsdp() {
    uint64_t V1 = 0, V2 = 0;
    M.GetConfigurationTable(kAcpi10TableGuid, &V1);
    M.GetConfigurationTable(kAcpi20TableGuid, &V2);
    return V2 != 0 ? V2 : V1;
  }
  uint64_t Find(const char *Signature) {
    uint64_t Rsdt = U32(Rsdp() + 16);
    if (Rsdt == 0) return 0;
    uint32_t Count = (U32(Rsdt + 4) - 36) / 4;
    for (uint32_t Index = 0; Index < Count; Index++) {
      uint32_t Table = U32(Rsdt + 36 + 4 * Index);
      if (Text(Table, 4) == Signature) return Table;
    }
    return 0;
  }
};

TEST(Acpi, DefaultMachineHasBothRsdpsPointingAtOneValidRsdt) {
  Machine M(Profile::Default());
  Walker W{M};
  uint64_t V1 = 0, V2 = 0;
  ASSERT_EQ(EFI_SUCCESS, M.GetConfigurationTable(kAcpi10TableGuid, &V1));
  ASSERT_EQ(EFI_SUCCESS, M.GetConfigurationTable(kAcpi20TableGuid, &V2));
  EXPECT_NE(V1, V2);
  EXPECT_EQ(2u, M.ConfigurationTable().size());  // the two RSDPs and nothing else
  for (uint64_t Rsdp : {V1, V2}) {
    EXPECT_EQ("RSD PTR ", W.Text(Rsdp, 8));
    EXPECT_EQ(0, W.Sum(Rsdp, 20));
  }
  EXPECT_EQ(std::string("\0", 1), W.Text(V1 + 15, 1));  // revisions
  EXPECT_EQ("\2", W.Text(V2 + 15, 1));
  EXPECT_EQ(36u, W.U32(V2 + 20));
  EXPECT_EQ(0, W.Sum(V2, 36));
  EXPECT_EQ(W.U32(V1 + 16), W.U32(V2 + 16));

  uint64_t Rsdt = W.U32(V2 + 16);
  EXPECT_EQ("RSDT", W.Text(Rsdt, 4));
  EXPECT_EQ(0, W.Sum(Rsdt, W.U32(Rsdt + 4)));
  uint64_t Facp = W.Find("FACP");
  ASSERT_NE(0u, Facp);
  EXPECT_GE(W.U32(Facp + 4), 52u);
  EXPECT_EQ(0, W.Sum(Facp, W.U32(Facp + 4)));
  EXPECT_EQ(0xB2u, W.U32(Facp + 48));
  uint64_t Dsdt = W.U32(Facp + 40);
  EXPECT_EQ("DSDT", W.Text(Dsdt, 4));
  EXPECT_EQ("VYRPC ", W.Text(Dsdt + 10, 6));
  EXPECT_EQ(0u, W.Find("FWSM"));  // absent by default
  EXPECT_LT(Facp, 0x10000000u);
}

TEST(Acpi, FwsmTableDescribesReservedMemoryThatExistsAndIsNeverAllocated) {
  Profile P = Profile::Default();
  P.Acpi.Fwsm = true;
  P.Acpi.FwsmAddress = 0x0FF00000;
  P.Acpi.FwsmSize = 0x30000;
  Machine M(P);
  Walker W{M};
  uint64_t Fwsm = W.Find("FWSM");
  ASSERT_NE(0u, Fwsm);
  EXPECT_GE(W.U32(Fwsm + 4), 56u);
  EXPECT_EQ(0, W.Sum(Fwsm, W.U32(Fwsm + 4)));
  EXPECT_EQ(0x30000u, W.U32(Fwsm + 40));
  EXPECT_EQ(0x0FF00000u, W.U32(Fwsm + 48));
  uint8_t Probe[16] = {};
  EXPECT_TRUE(M.WritePhysical(0x0FF00000, Probe, 16));
  EXPECT_TRUE(M.WritePhysical(0x0FF30000 - 16, Probe, 16));
  // Allocations up to the top must go round the reserved range and the tables.
  for (int Round = 0; Round < 8; Round++) {
    uint64_t Address = 0;
    ASSERT_EQ(EFI_SUCCESS, M.AllocatePages(0x0FFFFFFF, 0x20, &Address));
    EXPECT_TRUE(Address + 0x20000 <= 0x0FF00000 || Address >= 0x0FF30000) << std::hex << Address;
    EXPECT_TRUE(Address + 0x20000 <= M.Acpi().RegionBase) << std::hex << Address;
  }
}

TEST(Acpi, ExtraTablesAreListedInOrderAndCanPrecedeTheFacp) {
  Profile P = Profile::Default();
  AcpiTableConfig Early{"FACQ", "EARLY ", {1, 2, 3}, true};
  AcpiTableConfig Late{"SSDT", "LATE  ", {}, false};
  P.Acpi.ExtraTables = {Late, Early};
  Machine M(P);
  Walker W{M};
  uint64_t Rsdt = W.U32(W.Rsdp() + 16);
  ASSERT_EQ(36u + 4 * 3, W.U32(Rsdt + 4));
  EXPECT_EQ("FACQ", W.Text(W.U32(Rsdt + 36), 4));
  EXPECT_EQ("FACP", W.Text(W.U32(Rsdt + 40), 4));
  EXPECT_EQ("SSDT", W.Text(W.U32(Rsdt + 44), 4));
  uint64_t Early0 = W.U32(Rsdt + 36);
  EXPECT_EQ(39u, W.U32(Early0 + 4));
  EXPECT_EQ(std::string("\x01\x02\x03", 3), W.Text(Early0 + 36, 3));
  EXPECT_EQ(0, W.Sum(Early0, 39));
}

}  // namespace
}  // namespace vyr::emu
