// The UEFI backend against a fake firmware. The host links the host backend
// under the facade's names, so the UEFI one is compiled here inside a
// namespace of its own (its headers first, so their guards keep them global).
#include "BaseLib.h"
#include "Guids.h"
#include "Platform.h"
#include "Platform/Uefi/UefiPlatform.h"

namespace uefi_backend {
#include "Platform/Uefi/UefiPlatform.cpp"
}  // namespace uefi_backend

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

namespace ub = uefi_backend;

// The fake firmware: it records what the backend asked for.
struct Firmware {
  int PoolType = -1, PageType = -1, PageMemoryType = -1, SearchType = -1, InterfaceType = -1, PciWidth = -1;
  UINTN PoolSize = 0, PciCount = 0, QueriedMode = 99;
  bool PoolFails = false;
  std::vector<void *> Freed;
  EFI_PHYSICAL_ADDRESS PageCeiling = 0;
  EFI_STATUS PageStatus = EFI_SUCCESS;
  std::map<std::string, void *> Protocols;  // by GUID bytes
  std::vector<uint8_t> Info;                // the file's EFI_FILE_INFO record
  int GetInfoCalls = 0;
  EFI_STATUS ProbeStatus = EFI_BUFFER_TOO_SMALL;
  std::vector<uint8_t> SetInfoRecord;
  UINT64 PciAddress = 0;
  UINT32 TimerIndex = 99;
};
Firmware *gFw = nullptr;

std::string Key(const EFI_GUID *G) { return std::string(reinterpret_cast<const char *>(G), sizeof(EFI_GUID)); }

EFI_STATUS GetInfo(EFI_FILE_PROTOCOL *, EFI_GUID *Type, UINTN *Size, VOID *Buffer) {
  gFw->GetInfoCalls++;
  EFI_GUID Expected = EFI_FILE_INFO_ID;
  if (std::memcmp(Type, &Expected, sizeof(EFI_GUID)) != 0) return EFI_UNSUPPORTED;
  const bool Fits = *Size >= gFw->Info.size();
  *Size = gFw->Info.size();
  if (!Fits) return gFw->ProbeStatus;
  std::memcpy(Buffer, gFw->Info.data(), gFw->Info.size());
  return EFI_SUCCESS;
}
EFI_STATUS SetInfo(EFI_FILE_PROTOCOL *, EFI_GUID *, UINTN Size, VOID *Buffer) {
  gFw->SetInfoRecord.assign(static_cast<uint8_t *>(Buffer), static_cast<uint8_t *>(Buffer) + Size);
  return EFI_SUCCESS;
}

class UefiPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    gFw = &Fw;
    Bs.AllocatePool = [](EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
      gFw->PoolType = Type;
      gFw->PoolSize = Size;
      if (gFw->PoolFails) return EFI_STATUS(EFI_OUT_OF_RESOURCES);
      *Buffer = std::malloc(Size);
      return EFI_STATUS(EFI_SUCCESS);
    };
    Bs.FreePool = [](VOID *Buffer) {
      gFw->Freed.push_back(Buffer);
      std::free(Buffer);
      return EFI_STATUS(EFI_SUCCESS);
    };
    Bs.AllocatePages = [](EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN, EFI_PHYSICAL_ADDRESS *Memory) {
      gFw->PageType = Type;
      gFw->PageMemoryType = MemoryType;
      gFw->PageCeiling = *Memory;
      if (gFw->PageStatus == EFI_SUCCESS) *Memory = 0x00200000;
      return gFw->PageStatus;
    };
    Bs.LocateProtocol = [](EFI_GUID *Protocol, VOID *, VOID **Interface) {
      auto It = gFw->Protocols.find(Key(Protocol));
      if (It == gFw->Protocols.end()) return EFI_STATUS(EFI_NOT_FOUND);
      *Interface = It->second;
      return EFI_STATUS(EFI_SUCCESS);
    };
    Bs.LocateHandleBuffer = [](EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *, VOID *, UINTN *Count,
                               EFI_HANDLE **Buffer) {
      gFw->SearchType = SearchType;
      *Count = 2;
      *Buffer = static_cast<EFI_HANDLE *>(std::malloc(2 * sizeof(EFI_HANDLE)));
      return EFI_STATUS(EFI_SUCCESS);
    };
    Bs.InstallProtocolInterface = [](EFI_HANDLE *, EFI_GUID *Protocol, EFI_INTERFACE_TYPE Type, VOID *Interface) {
      gFw->InterfaceType = Type;
      gFw->Protocols[Key(Protocol)] = Interface;
      return EFI_STATUS(EFI_SUCCESS);
    };
    Mode.Mode = 2;
    Mode.CursorColumn = 7;
    Mode.CursorRow = 3;
    Out.QueryMode = [](EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN Mode, UINTN *Columns, UINTN *Rows) {
      gFw->QueriedMode = Mode;
      *Columns = 100;
      *Rows = 31;
      return EFI_STATUS(EFI_SUCCESS);
    };
    Out.Mode = &Mode;
    St.BootServices = &Bs;
    St.RuntimeServices = &Rt;
    St.ConOut = &Out;
    ub::PlatformInitialize(reinterpret_cast<EFI_HANDLE>(0x1234), &St);
  }
  void TearDown() override {
    ub::PlatformInitialize(nullptr, nullptr);
    gFw = nullptr;
  }
  Firmware Fw;
  EFI_BOOT_SERVICES Bs{};
  EFI_RUNTIME_SERVICES Rt{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Out{};
  SIMPLE_TEXT_OUTPUT_MODE Mode{};
  EFI_SYSTEM_TABLE St{};
};

TEST_F(UefiPlatform, TheBackendLayoutsMatchTheFirmwaresOffsets) {
  // Offsets of the 64-bit firmware tables (the X64 image's view).
  if (sizeof(void *) != 8) GTEST_SKIP();
  EXPECT_EQ(offsetof(EFI_SYSTEM_TABLE, ConOut), 64u);
  EXPECT_EQ(offsetof(EFI_SYSTEM_TABLE, RuntimeServices), 88u);
  EXPECT_EQ(offsetof(EFI_SYSTEM_TABLE, BootServices), 96u);
  EXPECT_EQ(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable), 112u);
  EXPECT_EQ(offsetof(EFI_BOOT_SERVICES, AllocatePages), 40u);
  EXPECT_EQ(offsetof(EFI_BOOT_SERVICES, HandleProtocol), 152u);
  EXPECT_EQ(offsetof(EFI_BOOT_SERVICES, LoadImage), 200u);
  EXPECT_EQ(offsetof(EFI_BOOT_SERVICES, Stall), 248u);
  EXPECT_EQ(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer), 312u);
  EXPECT_EQ(offsetof(EFI_BOOT_SERVICES, LocateProtocol), 320u);
  EXPECT_EQ(offsetof(EFI_RUNTIME_SERVICES, GetVariable), 72u);
  EXPECT_EQ(offsetof(EFI_RUNTIME_SERVICES, SetVariable), 88u);
  EXPECT_EQ(offsetof(EFI_RUNTIME_SERVICES, ResetSystem), 104u);
  EXPECT_EQ(offsetof(EFI_FILE_PROTOCOL, GetInfo), 64u);
  EXPECT_EQ(offsetof(EFI_FILE_PROTOCOL, Flush), 80u);
  EXPECT_EQ(offsetof(EFI_FILE_INFO, Attribute), 72u);
  EXPECT_EQ(offsetof(EFI_FILE_INFO, FileName), 80u);
  EXPECT_EQ(offsetof(EFI_CPU_ARCH_PROTOCOL, GetTimerValue), 48u);
  EXPECT_EQ(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Pci), 56u);
}

TEST_F(UefiPlatform, PoolAndPagesAreBootServicesData) {
  void *Buffer = ub::PlatformAllocatePool(0);
  ASSERT_NE(Buffer, nullptr);
  // A zero-size request still yields a freeable buffer.
  EXPECT_EQ(std::make_tuple(int(EfiBootServicesData), UINTN(1)), std::make_tuple(Fw.PoolType, Fw.PoolSize));
  ub::PlatformFreePool(Buffer);
  EXPECT_EQ(Fw.Freed, std::vector<void *>{Buffer});
  Fw.PoolFails = true;
  EXPECT_EQ(ub::PlatformAllocatePool(64), nullptr);

  EFI_PHYSICAL_ADDRESS Address = 0;
  EXPECT_EQ(ub::PlatformAllocatePagesBelow(0x0FFFFFFF, 32, &Address), EFI_SUCCESS);
  EXPECT_EQ(std::make_tuple(int(AllocateMaxAddress), int(EfiBootServicesData), 0x0FFFFFFFull, 0x00200000ull),
            std::make_tuple(Fw.PageType, Fw.PageMemoryType, Fw.PageCeiling, Address));
  Fw.PageStatus = EFI_NOT_FOUND;
  Address = 0x77;
  EXPECT_EQ(ub::PlatformAllocatePagesBelow(0x0FFFFFFF, 32, &Address), EFI_NOT_FOUND);
  EXPECT_EQ(Address, 0x77u);  // untouched on failure
}

TEST_F(UefiPlatform, PhysicalMemoryIsReachedDirectlyAndRangesMustFit) {
  uint8_t Memory[16] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t Copy[8] = {};
  EFI_PHYSICAL_ADDRESS Address = reinterpret_cast<UINTN>(Memory);
  ASSERT_TRUE(ub::PlatformReadPhysical(Address, Copy, 8));
  EXPECT_EQ(std::memcmp(Copy, Memory, 8), 0);
  const uint8_t Pattern[4] = {0xAA, 0xBB, 0xCC, 0xDD};
  ASSERT_TRUE(ub::PlatformWritePhysical(Address + 8, Pattern, 4));
  EXPECT_EQ(std::memcmp(Memory + 8, Pattern, 4), 0);

  const struct {
    EFI_PHYSICAL_ADDRESS Address;
    UINTN Length;
    bool Fits;
  } Cases[] = {
      {~0ull - 3, 4, true},   // ends on the last byte
      {~0ull - 3, 5, false},  // wraps
      {~0ull, 0, true},
      {0, 0, true},
  };
  for (const auto &C : Cases) {
    EXPECT_EQ(ub::PhysicalRangeFits(C.Address, C.Length) != 0, C.Fits) << std::hex << C.Address << " " << C.Length;
  }
  EXPECT_FALSE(ub::PlatformReadPhysical(~0ull - 3, Copy, 8));
  EXPECT_FALSE(ub::PlatformReadPhysical(Address, nullptr, 8));
}

TEST_F(UefiPlatform, ProtocolsHandlesAndTablesAreAskedForTheRightWay) {
  EFI_HANDLE Handle = nullptr;
  int Interface = 0;
  void *Found = nullptr;
  EXPECT_EQ(ub::PlatformInstallProtocolInterface(&Handle, &gNamedFunctionProtocolGuid, &Interface), EFI_SUCCESS);
  EXPECT_EQ(ub::PlatformLocateProtocol(&gNamedFunctionProtocolGuid, &Found), EFI_SUCCESS);
  EXPECT_EQ(std::make_tuple(int(EFI_NATIVE_INTERFACE), static_cast<void *>(&Interface)),
            std::make_tuple(Fw.InterfaceType, Found));

  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  EXPECT_EQ(ub::PlatformLocateHandleBuffer(&gEfiSimpleFileSystemProtocolGuid, &Count, &Handles), EFI_SUCCESS);
  EXPECT_EQ(std::make_tuple(int(ByProtocol), UINTN(2)), std::make_tuple(Fw.SearchType, Count));
  ub::PlatformFreePool(Handles);  // the caller frees the firmware's list with FreePool
  EXPECT_EQ(Fw.Freed.back(), static_cast<void *>(Handles));
  // Configuration tables are found by GUID.
  EFI_CONFIGURATION_TABLE Tables[2] = {{gEfiAcpi10TableGuid, reinterpret_cast<void *>(0xF0000)},
                                       {gEfiAcpiTableGuid, reinterpret_cast<void *>(0x7FE14000)}};
  St.NumberOfTableEntries = 2;
  St.ConfigurationTable = Tables;
  EFI_PHYSICAL_ADDRESS Table20 = 0, Table10 = 0, Table = 0;
  EXPECT_EQ(ub::PlatformGetConfigurationTable(&gEfiAcpiTableGuid, &Table20), EFI_SUCCESS);
  EXPECT_EQ(ub::PlatformGetConfigurationTable(&gEfiAcpi10TableGuid, &Table10), EFI_SUCCESS);
  EXPECT_EQ(std::make_tuple(0x7FE14000ull, 0xF0000ull), std::make_tuple(Table20, Table10));
  EXPECT_EQ(ub::PlatformGetConfigurationTable(&gNamedFunctionProtocolGuid, &Table), EFI_NOT_FOUND);
}

TEST_F(UefiPlatform, SetSizeRewritesOnlyTheFileSizeOfTheInformationRecord) {
  // A record with a name: fixed part, "LOG.TXT" and its NUL.
  Fw.Info.assign(offsetof(EFI_FILE_INFO, FileName) + 8 * sizeof(CHAR16), 0);
  EFI_FILE_INFO Fixed{};
  Fixed.Size = Fw.Info.size();
  Fixed.FileSize = 5000;
  Fixed.PhysicalSize = 8192;
  Fixed.Attribute = 0x20;
  std::memcpy(Fw.Info.data(), &Fixed, offsetof(EFI_FILE_INFO, FileName));
  std::memcpy(Fw.Info.data() + offsetof(EFI_FILE_INFO, FileName), u"LOG.TXT", 8 * sizeof(CHAR16));
  EFI_FILE_PROTOCOL File{};
  File.GetInfo = GetInfo;
  File.SetInfo = SetInfo;
  PLATFORM_FILE Handle = reinterpret_cast<PLATFORM_FILE>(&File);

  ASSERT_EQ(ub::PlatformFileSetSize(Handle, 123), EFI_SUCCESS);
  EXPECT_EQ(Fw.GetInfoCalls, 2);  // size probe, then the record
  std::vector<uint8_t> Expected = Fw.Info;
  UINT64 NewSize = 123;
  std::memcpy(Expected.data() + offsetof(EFI_FILE_INFO, FileSize), &NewSize, sizeof(NewSize));
  EXPECT_EQ(Fw.SetInfoRecord, Expected);
  EXPECT_EQ(Fw.Freed.size(), 1u);  // the record's pool copy

  // A probe that fails otherwise than "too small" is reported and nothing is written.
  Fw.SetInfoRecord.clear();
  Fw.ProbeStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(ub::PlatformFileSetSize(Handle, 1), EFI_DEVICE_ERROR);
  EXPECT_TRUE(Fw.SetInfoRecord.empty());
}

TEST_F(UefiPlatform, TimerPeriodAndPciNeedTheirProtocols) {
  UINT64 Period = 0;
  UINT32 Value = 0;
  EXPECT_EQ(ub::PlatformGetTimerPeriod(&Period), EFI_NOT_FOUND);
  EXPECT_EQ(ub::PlatformPciRead32(0, 31, 0, 0, &Value), EFI_NOT_FOUND);

  EFI_CPU_ARCH_PROTOCOL Cpu{};
  Cpu.GetTimerValue = [](EFI_CPU_ARCH_PROTOCOL *, UINT32 Index, UINT64 *Value, UINT64 *Period) {
    gFw->TimerIndex = Index;
    *Value = 1;
    if (Period != nullptr) *Period = 10000000;  // 10 ns in femtoseconds
    return EFI_STATUS(EFI_SUCCESS);
  };
  EFI_GUID CpuGuid = EFI_CPU_ARCH_PROTOCOL_GUID;
  Fw.Protocols[Key(&CpuGuid)] = &Cpu;
  EXPECT_EQ(ub::PlatformGetTimerPeriod(&Period), EFI_SUCCESS);
  EXPECT_EQ(std::make_tuple(10000000ull, 0u), std::make_tuple(Period, Fw.TimerIndex));

  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL RootBridge{};
  RootBridge.Pci.Read = [](EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                           UINT64 Address, UINTN Count, VOID *Buffer) {
    gFw->PciWidth = Width;
    gFw->PciAddress = Address;
    gFw->PciCount = Count;
    *static_cast<UINT32 *>(Buffer) = 0x80868086u;
    return EFI_STATUS(EFI_SUCCESS);
  };
  EFI_GUID PciGuid = EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID;
  Fw.Protocols[Key(&PciGuid)] = &RootBridge;
  const struct {
    UINT8 Bus, Device, Function;
    UINT16 Register;
    UINT64 Address;
  } Cases[] = {
      {0, 31, 0, 0x00, 0x001F0000ull},
      {1, 2, 3, 0x40, 0x01020340ull},
      {0xFF, 0, 7, 0xFC, 0xFF0007FCull},
      {0, 0, 0, 0x100, 0x0000010000000000ull},  // extended register, low byte 0
      {2, 1, 0, 0xFFC, 0x00000FFC02010000ull},
  };
  for (const auto &C : Cases) {
    Value = 0;
    ASSERT_EQ(ub::PlatformPciRead32(C.Bus, C.Device, C.Function, C.Register, &Value), EFI_SUCCESS);
    EXPECT_EQ(std::make_tuple(C.Address, int(EfiPciWidthUint32), UINTN(1), 0x80868086u),
              std::make_tuple(Fw.PciAddress, Fw.PciWidth, Fw.PciCount, Value))
        << std::hex << C.Register;
  }
  EXPECT_EQ(ub::PlatformPciRead32(0, 32, 0, 0, &Value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ub::PlatformPciRead32(0, 0, 8, 0, &Value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ub::PlatformPciRead32(0, 0, 0, 0x1000, &Value), EFI_INVALID_PARAMETER);
}

TEST_F(UefiPlatform, ConsoleModeAndCursorComeFromTheOutputMode) {
  UINTN Columns = 0, Rows = 0, Column = 0, Row = 0;
  EXPECT_EQ(ub::PlatformConsoleQueryMode(&Columns, &Rows), EFI_SUCCESS);
  ub::PlatformConsoleGetCursorPosition(&Column, &Row);
  // The current mode's size (not mode 0's), and the cursor of the output mode.
  EXPECT_EQ((std::vector<UINTN>{2, 100, 31, 7, 3}), (std::vector<UINTN>{Fw.QueriedMode, Columns, Rows, Column, Row}));
  // No console input on this system table.
  EFI_INPUT_KEY Key;
  EXPECT_EQ(ub::PlatformConsoleReadKey(&Key), EFI_NOT_READY);
}

TEST(UefiPlatformUninitialised, EveryServiceRefusesBeforeInitialize) {
  ub::PlatformInitialize(nullptr, nullptr);
  EFI_PHYSICAL_ADDRESS Address = 0;
  void *Interface = nullptr;
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_TIME Time;
  UINT64 Period = 0;
  UINT32 Value = 0;
  UINTN DataSize = 0;
  EXPECT_EQ(ub::PlatformAllocatePool(16), nullptr);
  EXPECT_EQ(ub::PlatformAllocatePagesBelow(0x0FFFFFFF, 1, &Address), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformLocateProtocol(&gNamedFunctionProtocolGuid, &Interface), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformLocateHandleBuffer(&gEfiSimpleFileSystemProtocolGuid, &Count, &Handles), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformConsoleOutputString(u"x"), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformGetConfigurationTable(&gEfiAcpiTableGuid, &Address), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformGetVariable(u"X", &gEfiGlobalVariableGuid, nullptr, &DataSize, nullptr), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformGetTime(&Time), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformGetTimerPeriod(&Period), EFI_NOT_READY);
  EXPECT_EQ(ub::PlatformPciRead32(0, 0, 0, 0, &Value), EFI_NOT_READY);
  ub::PlatformStall(10);  // nothing to call: returns
}

}  // namespace
