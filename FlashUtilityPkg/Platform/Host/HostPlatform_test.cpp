#include "HostPlatform.h"

#include <gtest/gtest.h>

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

// What the utility does through the facade (SMI set-up, volumes, files,
// console, variables, time) its own tests and the whole runs assert; these
// are the machine's answers that no run reaches.
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
  EXPECT_EQ(EFI_INVALID_PARAMETER, PlatformFileClose(Log)) << "a closed handle is refused, not used";
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

TEST(HostPlatformQueries, ConsoleModeAndTimerPeriodComeFromTheMachine) {
  vyr::emu::testing::TempDir Dir;
  Machine M(Profile::Default(), Dir.Path());
  HostPlatformAttach(&M);
  UINTN Columns = 0, Rows = 0;
  UINT64 Period = 0;
  EXPECT_EQ(EFI_SUCCESS, PlatformConsoleQueryMode(&Columns, &Rows));
  EXPECT_EQ(EFI_SUCCESS, PlatformGetTimerPeriod(&Period));
  EXPECT_EQ(std::make_tuple(UINTN(80), UINTN(25), UINT64(100000000)), std::make_tuple(Columns, Rows, Period));
  HostPlatformAttach(nullptr);
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
