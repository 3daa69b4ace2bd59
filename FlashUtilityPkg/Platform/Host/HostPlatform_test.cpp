#include "HostPlatform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Machine/Machine.h"
#include "Machine/TestTempDir.h"
#include "Platform.h"

namespace {

using vyr::emu::Machine;
using vyr::emu::Profile;

std::string Contents(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

class HostPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Profile P = Profile::Default();
    P.Fsegment.SignatureAddress = 0xF5A30;
    P.BiosMainFunction = 0xD1;
    P.Volumes = {{"sata", vyr::emu::VolumeKind::Sata, "sata", false}, {"usb", vyr::emu::VolumeKind::Usb, "usb", false}};
    M = std::make_unique<Machine>(P, Dir.Path());
    HostPlatformAttach(M.get());
  }
  void TearDown() override { HostPlatformAttach(nullptr); }

  vyr::emu::testing::TempDir Dir;
  std::unique_ptr<Machine> M;
};

TEST_F(HostPlatformTest, SmiSetUpAsTheUtilityDoesIt) {
  // Scan the F-segment for the signature in 16-byte steps.
  UINT8 Main = 0xEF;
  for (UINT64 At = 0xE0000; At < 0x100000; At += 16) {
    CHAR8 Bytes[7];
    ASSERT_TRUE(PlatformReadPhysical(At, Bytes, 7) || At == 0xFFFF0);
    if (std::memcmp(Bytes, "$FWSMI", 6) == 0) {
      Main = UINT8(Bytes[6]);
      break;
    }
  }
  EXPECT_EQ(0xD1, Main);
  // The walk RSDP → RSDT → FACP → SMI_CMD through the facade is what every
  // whole run does (the smoke run asserts "SMI command port = 0x00B2").
  EFI_PHYSICAL_ADDRESS Buffer = 0;
  ASSERT_EQ(EFI_SUCCESS, PlatformAllocatePagesBelow(0x0FFFFFFF, 0x20, &Buffer));
  EXPECT_LE(Buffer + 0x20000, 0x10000000u);
  SMI_REGISTERS R = {(0x1Fu << 8) | Main, 0x24567972, 1 /* hook point */, 0xB2, 0, 0};
  PlatformTriggerSmi(&R, 0x100000);
  EXPECT_EQ(0u, R.Eax & 0xFF);
  UINT32 Code = 0;
  ASSERT_TRUE(EmuBiosRecentHookCode(&M->Bios(), 0, &Code));
  EXPECT_EQ(1u, Code);
  EXPECT_EQ(EFI_SUCCESS, PlatformFreePages(Buffer, 0x20));
}

TEST_F(HostPlatformTest, UsbVolumeIsFoundByDevicePathAndFilesRoundTrip) {
  const EFI_GUID Sfs = {0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
  const EFI_GUID DevicePath = {0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  ASSERT_EQ(EFI_SUCCESS, PlatformLocateHandleBuffer(&Sfs, &Count, &Handles));
  ASSERT_EQ(2u, Count);
  UINTN Usb = Count;
  for (UINTN Index = 0; Index < Count && Usb == Count; Index++) {
    VOID *Path = nullptr;
    ASSERT_EQ(EFI_SUCCESS, PlatformHandleProtocol(Handles[Index], &DevicePath, &Path));
    for (auto *Node = static_cast<UINT8 *>(Path); Node[0] != 0x7F; Node += Node[2] | (Node[3] << 8)) {
      if (Node[0] == 3 && Node[1] == 5) Usb = Index;
    }
  }
  ASSERT_EQ(1u, Usb) << "the USB stick is the second handle";
  VOID *FileSystem = nullptr;
  ASSERT_EQ(EFI_SUCCESS, PlatformHandleProtocol(Handles[Usb], &Sfs, &FileSystem));
  PlatformFreePool(Handles);

  PLATFORM_FILE Root = nullptr, File = nullptr;
  ASSERT_EQ(EFI_SUCCESS, PlatformOpenVolume(FileSystem, &Root));
  ASSERT_EQ(EFI_SUCCESS, PlatformFileOpen(Root, &File, u"\\VyrFFT-Secure.Log", EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0));
  UINTN Size = 4;
  EXPECT_EQ(EFI_SUCCESS, PlatformFileWrite(File, &Size, "log\n"));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileClose(File));
  EXPECT_EQ(EFI_INVALID_PARAMETER, PlatformFileClose(File)) << "a closed handle is refused, not used";
  ASSERT_EQ(EFI_SUCCESS, PlatformFileOpen(Root, &File, u"VyrFFT-Secure.Log", EFI_FILE_MODE_READ, 0));
  UINT64 End = 0;
  EXPECT_EQ(EFI_SUCCESS, PlatformFileSetPosition(File, ~0ULL));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileGetPosition(File, &End));
  EXPECT_EQ(4u, End);
  EXPECT_EQ(EFI_SUCCESS, PlatformFileClose(File));
  EXPECT_EQ("log\n", Contents(Dir / "usb/VyrFFT-Secure.Log"));
}

TEST_F(HostPlatformTest, ConsoleVariablesTimeAndPoolFaults) {
  EXPECT_EQ(EFI_SUCCESS, PlatformConsoleSetAttribute(0x0E));
  EXPECT_EQ(EFI_SUCCESS, PlatformConsoleOutputString(u"VyrFFT\r\n"));
  UINTN Column = 9, Row = 9, Columns = 0, Rows = 0;
  PlatformConsoleGetCursorPosition(&Column, &Row);
  EXPECT_EQ(EFI_SUCCESS, PlatformConsoleQueryMode(&Columns, &Rows));
  EXPECT_EQ((std::vector<UINTN>{0, 1, 80, 25}), (std::vector<UINTN>{Column, Row, Columns, Rows}));
  EXPECT_EQ("VyrFFT", M->Screen().RowText(0));
  EXPECT_EQ(0x0E, M->Screen().CellAttribute(0, 0));

  const EFI_GUID G = {1, 2, 3, {4}};
  EXPECT_EQ(EFI_SUCCESS, PlatformSetVariable(u"FlashCommand", &G, 7, 2, "-b"));
  UINTN Size = 0;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, PlatformGetVariable(u"FlashCommand", &G, nullptr, &Size, nullptr));
  EXPECT_EQ(2u, Size);

  PlatformStall(1000);
  EXPECT_EQ(1000000u, M->NowNs());
  UINT64 Period = 0;
  EXPECT_EQ(EFI_SUCCESS, PlatformGetTimerPeriod(&Period));
  EXPECT_EQ(100000000u, Period);
  EFI_INPUT_KEY Key;
  M->Keys().Queue(0, u'y');
  EXPECT_EQ(EFI_SUCCESS, PlatformConsoleReadKey(&Key));
  EXPECT_EQ(u'y', Key.UnicodeChar);
}

TEST(HostPlatformPowerCut, TheMachineFreezesVariablesAndVolumesAtTheCut) {
  vyr::emu::testing::TempDir Dir;
  Profile P = Profile::Default();
  P.PowerCutAfterWrites = 1;
  P.Save(Dir / "profile.json");
  auto M = Machine::OpenDirectory(Dir.Path());
  HostPlatformAttach(M.get());
  const EFI_GUID G = {1, 2, 3, {4}};
  const UINT32 Nv = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
  ASSERT_EQ(EFI_SUCCESS, PlatformSetVariable(u"Kept", &G, Nv, 1, "1"));
  ASSERT_EQ(EFI_SUCCESS, PlatformSetVariable(u"Doomed", &G, Nv, 1, "d"));
  VOID *FileSystem = M->Volumes()[0].get();
  PLATFORM_FILE Root = nullptr, Log = nullptr, Gone = nullptr, New = nullptr, Folder = nullptr;
  const UINT64 Create = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE;
  ASSERT_EQ(EFI_SUCCESS, PlatformOpenVolume(FileSystem, &Root));
  ASSERT_EQ(EFI_SUCCESS, PlatformFileOpen(Root, &Log, u"run.log", Create, 0));
  UINTN Size = 7;
  ASSERT_EQ(EFI_SUCCESS, PlatformFileWrite(Log, &Size, "before\n"));
  ASSERT_EQ(EFI_SUCCESS, PlatformFileOpen(Root, &Gone, u"gone.txt", Create, 0));
  const std::string Variables = Contents(Dir / "variables.json");

  // The one 15h write the profile allows.
  EFI_PHYSICAL_ADDRESS Buffer = 0;
  ASSERT_EQ(EFI_SUCCESS, PlatformAllocatePagesBelow(0x0FFFFFFF, 16, &Buffer));
  SMI_REGISTERS R = {0x15EF, EMU_BIOS_CALL_SIGNATURE, 0x10000, 0xB2, UINT32(Buffer), 0xFFF00000};
  PlatformTriggerSmi(&R, 1);
  ASSERT_TRUE(M->PoweredOff());

  // Each call answers as on a running machine; none reaches the directory.
  Size = 6;
  EXPECT_EQ(EFI_SUCCESS, PlatformFileWrite(Log, &Size, "after\n"));
  EXPECT_EQ(6u, Size);
  UINT64 Position = 0;
  EXPECT_EQ(EFI_SUCCESS, PlatformFileGetPosition(Log, &Position));
  EXPECT_EQ(13u, Position);
  EXPECT_EQ(EFI_SUCCESS, PlatformFileWrite(Log, &Size, "again\n"));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileSetSize(Log, 0));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileDelete(Gone));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileOpen(Root, &New, u"saved.rom", Create, 0));
  Size = 4;
  EXPECT_EQ(EFI_SUCCESS, PlatformFileWrite(New, &Size, "\xAA\xBB\xCC\xDD"));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileSetPosition(New, ~0ULL));
  EXPECT_EQ(EFI_SUCCESS, PlatformFileOpen(Root, &Folder, u"backup", Create, EFI_FILE_DIRECTORY));
  EXPECT_EQ(EFI_SUCCESS, PlatformSetVariable(u"Kept", &G, Nv, 1, "2"));
  EXPECT_EQ(EFI_SUCCESS, PlatformSetVariable(u"Added", &G, Nv, 3, "abc"));
  EXPECT_EQ(EFI_SUCCESS, PlatformSetVariable(u"Doomed", &G, Nv, 0, nullptr));
  EXPECT_EQ(EFI_NOT_FOUND, PlatformSetVariable(u"Missing", &G, Nv, 0, nullptr));
  EXPECT_EQ(EFI_SUCCESS, PlatformSetVariable(u"Volatile", &G, EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, "v"));
  EXPECT_EQ(EFI_INVALID_PARAMETER, PlatformSetVariable(u"Kept", &G, EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, "3"));
  for (PLATFORM_FILE F : {Log, New, Folder, Root}) EXPECT_EQ(EFI_SUCCESS, PlatformFileClose(F));
  CHAR8 Value = 0;
  Size = 1;
  EXPECT_EQ(EFI_SUCCESS, PlatformGetVariable(u"Kept", &G, nullptr, &Size, &Value));
  EXPECT_EQ('1', Value) << "the store keeps what it held at the cut";
  HostPlatformAttach(nullptr);

  EXPECT_EQ(Variables, Contents(Dir / "variables.json"));
  EXPECT_EQ("before\n", Contents(Dir / "fs0/run.log"));
  EXPECT_TRUE(std::filesystem::exists(Dir / "fs0/gone.txt"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "fs0/saved.rom"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "fs0/backup"));
  const struct {
    bool Variable;
    const char *Operation, *Name, *Where;
    uint64_t Calls, Bytes;
  } Expected[] = {
      {false, "write", "\\run.log", "fs0", 2, 12},  {false, "resize", "\\run.log", "fs0", 1, 0},
      {false, "delete", "\\gone.txt", "fs0", 1, 0}, {false, "create", "\\saved.rom", "fs0", 1, 0},
      {false, "write", "\\saved.rom", "fs0", 1, 4}, {false, "mkdir", "\\backup", "fs0", 1, 0},
      {true, "set", "Kept", "00000001-0002-0003-0400-000000000000", 1, 1},
      {true, "set", "Added", "00000001-0002-0003-0400-000000000000", 1, 3},
      {true, "delete", "Doomed", "00000001-0002-0003-0400-000000000000", 1, 0},
  };
  const std::vector<vyr::emu::DroppedWrite> &Dropped = M->DroppedWrites();
  ASSERT_EQ(std::size(Expected), Dropped.size());
  for (size_t I = 0; I < Dropped.size(); I++) {
    const auto &E = Expected[I];
    const auto &D = Dropped[I];
    EXPECT_EQ(std::make_tuple(E.Variable, std::string(E.Operation), std::string(E.Name), std::string(E.Where), E.Calls,
                              E.Bytes),
              std::make_tuple(D.Variable, D.Operation, D.Name, D.Where, D.Calls, D.Bytes))
        << I;
  }
}

TEST(HostPlatformDetached, CallsFailSafelyAndPoolStillWorks) {
  HostPlatformAttach(nullptr);
  EXPECT_EQ(nullptr, HostPlatformMachine());
  EFI_PHYSICAL_ADDRESS Address = 0;
  EXPECT_EQ(EFI_NOT_READY, PlatformAllocatePagesBelow(0x0FFFFFFF, 1, &Address));
  UINT8 Byte = 0;
  EXPECT_FALSE(PlatformReadPhysical(0xF0000, &Byte, 1));
  EXPECT_EQ(0xFF, PlatformIoRead8(0xB2));
  EXPECT_EQ(EFI_NOT_READY, PlatformConsoleOutputString(u"x"));
  EFI_INPUT_KEY Key;
  EXPECT_EQ(EFI_NOT_READY, PlatformConsoleReadKey(&Key));
  SMI_REGISTERS R = {0xEF, 0, 0, 0xB2, 0, 0};
  PlatformTriggerSmi(&R, 1);
  EXPECT_EQ(0xEFu, R.Eax);
  VOID *Pool = PlatformAllocatePool(16);
  EXPECT_NE(nullptr, Pool);
  PlatformFreePool(Pool);
}

}  // namespace
