#include "Machine/Machine.h"

#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"

namespace vyr::emu {
namespace {

SMI_REGISTERS FwsmiCall(uint8_t Function, uint16_t Port = 0xB2) {
  return SMI_REGISTERS{(uint32_t(Function) << 8) | 0xEF, EMU_BIOS_CALL_SIGNATURE, 0, Port, 0, 0};
}

TEST(MachineSmi, OnlyTheCommandPortReachesTheBiosAndEveryCallIsRecorded) {
  Profile P = Profile::Default();
  P.Acpi.SmiCmd = 0x12340082;  // high bits are not part of the port
  Machine M(P);
  ASSERT_EQ(0x82, M.SmiCommandPort());
  SMI_REGISTERS Wrong = FwsmiCall(0x1F, 0xB2);
  Wrong.Ecx = 1;
  M.TriggerSmi(Wrong, 0x100000);
  EXPECT_EQ(0xEFu | (0x1Fu << 8), Wrong.Eax) << "registers untouched";
  EXPECT_EQ(0u, M.Bios().HookCount);

  SMI_REGISTERS Right = FwsmiCall(0x1F, 0x82);
  Right.Edx |= 0xABCD0000;  // only DX counts
  Right.Ecx = 7;
  M.TriggerSmi(Right, 0x100000);
  EXPECT_EQ(0x1F00u, Right.Eax) << "hook point answered with status 0";
  EXPECT_EQ(1u, M.Bios().HookCount);

  const auto &T = M.SmiTranscript();
  ASSERT_EQ(2u, T.size());
  EXPECT_EQ(1u, T[0].Sequence);
  EXPECT_FALSE(T[0].Delivered);
  EXPECT_TRUE(T[1].Delivered);
  EXPECT_EQ(7u, T[1].In.Ecx);
  EXPECT_EQ(0x1FEFu, T[1].In.Eax);
  EXPECT_EQ(0x1F00u, T[1].Out.Eax);
  EXPECT_EQ(0x100000u, T[0].TimeNs) << "the settle loop is one virtual ns per count";
  EXPECT_EQ(0x200000u + 100000u, T[1].TimeNs) << "a delivered SMI also costs its own 100 us";
  const auto Report = M.Report();
  EXPECT_EQ("no SMI", Report["smi"][0]["note"]);
  EXPECT_EQ("0x00001F00", Report["smi"][1]["out"]["eax"]);
  EXPECT_EQ(1, Report["bios"]["calls"]["0x1F"]);

  // A zero SMI command value means no SMI ever, port 0 included.
  P.Acpi.SmiCmd = 0;
  Machine None(P);
  SMI_REGISTERS R = FwsmiCall(0x1F, 0);
  None.TriggerSmi(R, 1);
  EXPECT_FALSE(None.SmiTranscript()[0].Delivered);
}

uint8_t ScribbleOnEsi(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  const uint8_t Byte = 0x5A;
  EmuBiosWritePhysical(Bios, Regs->Esi, &Byte, 1);
  return 0;
}

TEST(MachineSmi, TranscriptDigestsTheBuffersBeforeAndAfter) {
  Machine M(Profile::Default());
  EmuBiosRegisterHandler(&M.Bios(), 0x15, ScribbleOnEsi);
  uint64_t Buffer = 0;
  ASSERT_EQ(EFI_SUCCESS, M.AllocatePages(0x0FFFFFFF, 1, &Buffer));
  SMI_REGISTERS R = FwsmiCall(0x15);
  R.Esi = static_cast<uint32_t>(Buffer);
  R.Edi = 0xFFFF0;  // the F-segment ends 16 bytes later
  M.TriggerSmi(R, 0);
  const SmiRecord &Rec = M.SmiTranscript().back();
  std::vector<uint8_t> Zeros(256, 0), After(256, 0);
  After[0] = 0x5A;
  EXPECT_EQ(256u, Rec.EsiLength);
  EXPECT_EQ(Crc32(Zeros.data(), 256), Rec.EsiCrcIn);
  EXPECT_EQ(Crc32(After.data(), 256), Rec.EsiCrcOut);
  EXPECT_EQ(16u, Rec.EdiLength);
  EXPECT_EQ(Crc32(Zeros.data(), 16), Rec.EdiCrcIn);
  EXPECT_EQ(0xCBF43926u, Crc32("123456789", 9));
}

TEST(MachinePorts, UnhandledReadsFloatHighAndProfileOrMappedPortsAnswer) {
  Profile P = Profile::Default();
  P.IoPorts = {{0x80, 0x11223344}};
  Machine M(P);
  EXPECT_EQ((std::vector<uint32_t>{0xFF, 0xFFFF, 0xFFFFFFFF, 0x44, 0x3344}),
            (std::vector<uint32_t>{M.IoRead(0x70, 1), M.IoRead(0x70, 2), M.IoRead(0x70, 4), M.IoRead(0x80, 1),
                                   M.IoRead(0x80, 2)}));
  uint8_t Index = 0;
  M.MapPort(
      0x70, [&](uint16_t, unsigned) { return 0xAB00u | Index; }, [&](uint16_t, unsigned, uint32_t V) { Index = uint8_t(V); });
  M.IoWrite(0x70, 1, 0x0A);
  EXPECT_EQ(0x0Au, M.IoRead(0x70, 1));
  M.IoWrite(0x99, 2, 0x1234);
  ASSERT_EQ(1u, M.UnmappedPortWrites().size());
  EXPECT_EQ(0x99, M.UnmappedPortWrites()[0].Port);
}

TEST(MachineProtocols, UefiHandleDatabaseSemantics) {
  Machine M(Profile::Default());
  ProtocolRegistry &R = M.Protocols();
  const EFI_GUID G = {1, 2, 3, {4}};
  int A = 0, B = 0;
  EFI_HANDLE H1 = nullptr, H2 = nullptr;
  ASSERT_EQ(EFI_SUCCESS, R.Install(&H2, G, &B));
  ASSERT_EQ(EFI_SUCCESS, R.Install(&H1, G, &A));
  EXPECT_EQ(EFI_INVALID_PARAMETER, R.Install(&H1, G, &A)) << "same GUID twice on one handle";
  EFI_HANDLE Bogus = &A;
  EXPECT_EQ(EFI_INVALID_PARAMETER, R.Install(&Bogus, G, &A));
  void *Found = nullptr;
  EXPECT_EQ(EFI_SUCCESS, R.LocateProtocol(G, &Found));
  EXPECT_EQ(&B, Found) << "first installed wins";
  EXPECT_EQ((std::vector<EFI_HANDLE>{H2, H1}), R.LocateHandles(G));
  EXPECT_EQ(EFI_UNSUPPORTED, R.HandleProtocol(M.Volumes()[0]->Handle, G, &Found));
  EXPECT_EQ(EFI_NOT_FOUND, R.Uninstall(H1, G, &B)) << "wrong interface pointer";
  EXPECT_EQ(EFI_SUCCESS, R.Uninstall(H2, G, &B));
  EXPECT_FALSE(R.IsHandle(H2)) << "a handle without protocols disappears";
  EXPECT_EQ(EFI_SUCCESS, R.LocateProtocol(G, &Found));
  EXPECT_EQ(&A, Found);
  const EFI_GUID Missing = {9, 9, 9, {9}};
  EXPECT_EQ(EFI_NOT_FOUND, R.LocateProtocol(Missing, &Found));
  EXPECT_TRUE(R.LocateHandles(Missing).empty());
}

TEST(MachineVolumes, EachVolumeHandleCarriesDevicePathAndFileSystem) {
  Profile P = Profile::Default();
  P.Volumes = {{"a", VolumeKind::Sata, "a", false}, {"b", VolumeKind::Usb, "b", false}};
  testing::TempDir Dir;
  Machine M(P, Dir.Path());
  std::vector<EFI_HANDLE> Handles = M.Protocols().LocateHandles(kSimpleFileSystemProtocolGuid);
  ASSERT_EQ(2u, Handles.size());
  void *Path = nullptr;
  ASSERT_EQ(EFI_SUCCESS, M.Protocols().HandleProtocol(Handles[1], kDevicePathProtocolGuid, &Path));
  EXPECT_EQ(MSG_USB_DP, static_cast<uint8_t *>(Path)[13]);
  void *FileSystem = nullptr;
  ASSERT_EQ(EFI_SUCCESS, M.Protocols().HandleProtocol(Handles[0], kSimpleFileSystemProtocolGuid, &FileSystem));
  File *Root = nullptr;
  EXPECT_FALSE(std::filesystem::exists(Dir / "a")) << "nothing is created before use";
  ASSERT_EQ(EFI_SUCCESS, M.OpenVolume(FileSystem, &Root));
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "a"));
}

TEST(MachineTime, VirtualClockAdvancesOnlyByStallsSmisAndTscReads) {
  Profile P = Profile::Default();
  P.ClockStart = "2026-12-31 23:59:59";
  P.TscReadStepNs = 10;
  Machine M(P);
  EFI_TIME T;
  ASSERT_EQ(EFI_SUCCESS, M.GetTime(&T));
  EXPECT_EQ(2026, T.Year);
  EXPECT_EQ(59, T.Second);
  M.Stall(1500000);  // 1.5 s
  ASSERT_EQ(EFI_SUCCESS, M.GetTime(&T));
  EXPECT_EQ(std::make_tuple(2027, 1, 1, 0, 0, 0, 500000000u),
            std::make_tuple(T.Year, T.Month, T.Day, T.Hour, T.Minute, T.Second, T.Nanosecond));
  const uint64_t A = M.ReadTsc();
  const uint64_t B = M.ReadTsc();
  EXPECT_EQ(std::make_tuple(1500000010ull, 1500000020ull), std::make_tuple(A, B));
  EXPECT_EQ(100000000u, M.TimerPeriodFs());
}

TEST(MachinePci, ProfileValuesElseAllOnes) {
  Profile P = Profile::Default();
  P.Pci = {{0, 0x1F, 2, 0x80, 0x7007}};
  Machine M(P);
  uint32_t V = 0, Absent = 0;
  EXPECT_EQ(EFI_SUCCESS, M.PciRead32(0, 0x1F, 2, 0x80, &V));
  EXPECT_EQ(EFI_SUCCESS, M.PciRead32(0, 0x1F, 3, 0x80, &Absent));
  EXPECT_EQ(std::make_tuple(0x7007u, 0xFFFFFFFFu), std::make_tuple(V, Absent));
  EXPECT_EQ(EFI_INVALID_PARAMETER, M.PciRead32(0, 0x1F, 2, 0x81, &V));
  EXPECT_EQ(EFI_INVALID_PARAMETER, M.PciRead32(0, 32, 0, 0, &V));
}

TEST(MachineDirectory, FirstUseWritesTheDefaultProfileAndLaterUseReadsIt) {
  testing::TempDir Dir;
  const std::string Path = Dir / "pc";
  { auto M = Machine::OpenDirectory(Path); }
  EXPECT_EQ(Profile::Default().ToJson(), Profile::Load(Path + "/profile.json").ToJson());
  std::ofstream(Path + "/profile.json") << R"({"name": "edited", "volumes": [{"name": "x", "dir": "stick"}]})";
  auto M = Machine::OpenDirectory(Path);
  EXPECT_EQ("edited", M->GetProfile().Name);
  EXPECT_TRUE(std::filesystem::is_directory(Path + "/stick"));
  std::ofstream(Path + "/profile.json") << R"({"volumes": [{"name": "x", "dri": "stick"}]})";
  EXPECT_THROW(Machine::OpenDirectory(Path), ProfileError);
}

TEST(MachineReport, CarriesConsoleVariablesCountersAndExtra) {
  testing::TempDir Dir;
  Machine M(Profile::Default());
  M.Screen().OutputString(u"Hello\r\n");
  const EFI_GUID G = {1, 2, 3, {4}};
  M.Variables().Set(u"V", &G, EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, "x");
  M.WriteReport(Dir / "r.json", {{"exitCode", 3}});
  nlohmann::json R;
  std::ifstream(Dir / "r.json") >> R;
  EXPECT_EQ("Hello", R["console"]["screen"][0]);
  EXPECT_EQ("Hello\r\n", R["console"]["transcript"]);
  EXPECT_EQ("V", R["variables"][0]["name"]);
  EXPECT_EQ("78", R["variables"][0]["data"]);
  EXPECT_EQ(3, R["exitCode"]);
  EXPECT_EQ("default", R["machine"]);
}

}  // namespace
}  // namespace vyr::emu
