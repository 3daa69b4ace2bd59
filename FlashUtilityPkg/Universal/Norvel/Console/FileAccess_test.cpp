#include "Console/FileAccess.h"

#include "BaseLib.h"
#include "Base/Trace.h"
#include "UtilityFixture.h"

namespace {

using vyr::emu::Profile;
using vyr::emu::VolumeKind;
using vyr::emu::VolumeConfig;
using vyr::testing::UtilityTest;

class FileAccessTest : public UtilityTest {};

TEST_F(FileAccessTest, CurrentDirectoryForms) {
  struct { const char16_t *Path; const char *Expected; } Cases[] = {
      {u"fs0:\\Tools", ".\\Tools\\"},
      {u"fs1:", ".\\"},
      {u"Tools\\Sub", "Tools\\Sub"},
      {u"a:b:c", ".b:c\\"},
  };
  Boot();
  for (const auto &Case : Cases) {
    SetCurrentDirectory(Case.Path);
    EXPECT_EQ(Case.Expected, vyr::emu::Utf16ToUtf8(mFileAccess.CurrentDirectory));
  }
  // Longer than the 128-character directory: cut, never overrun.
  std::u16string Long = u"fs0:" + std::u16string(300, u'd');
  SetCurrentDirectory(Long.c_str());
  EXPECT_EQ(127u, StrLen(mFileAccess.CurrentDirectory));
}

TEST_F(FileAccessTest, ReadSizesExistenceAndZeroByteFiles) {
  Boot();
  WriteVolumeFile("empty.bin", "");
  WriteVolumeFile("Tools/data.bin", "0123456789");
  SetCurrentDirectory(u"fs0:\\Tools");
  VOID *Buffer = nullptr;
  UINT32 Size = 99;
  ASSERT_TRUE(EfiReadFile(u"data.bin", &Buffer, &Size));
  EXPECT_EQ(10u, Size);
  EXPECT_EQ(0, std::memcmp(Buffer, "0123456789", 10));
  FreePool(Buffer);
  EXPECT_EQ(10u, EfiGetFileSize(u"data.bin"));
  EXPECT_TRUE(EfiFileExists(u"data.bin"));
  EXPECT_FALSE(EfiFileExists(u"missing.bin"));
  EXPECT_EQ(0u, EfiGetFileSize(u"missing.bin"));

  SetCurrentDirectory(u"fs0:");
  Size = 99;
  Buffer = nullptr;
  ASSERT_TRUE(EfiReadFile(u"empty.bin", &Buffer, &Size));
  EXPECT_EQ(0u, Size);
  EXPECT_NE(nullptr, Buffer);
  FreePool(Buffer);
  EXPECT_EQ(1u, M().OpenFileCount());  // only the volume's root stays open
}

TEST_F(FileAccessTest, WriteLeavesExactlyTheBufferAndProbeKeepsOldFiles) {
  Boot();
  WriteVolumeFile("rom.bin", std::string(20, 'o'));
  SetCurrentDirectory(u"fs0:");
  // The probe form creates or keeps; it never empties an existing file.
  EXPECT_TRUE(EfiWriteFile(u"rom.bin", nullptr, 0));
  EXPECT_EQ(std::string(20, 'o'), ReadVolumeFile("rom.bin"));
  EXPECT_TRUE(EfiWriteFile(u"new.bin", nullptr, 0));
  EXPECT_TRUE(VolumeFileExists("new.bin"));
  EXPECT_TRUE(EfiWriteFile(u"rom.bin", "short", 5));
  EXPECT_EQ("short", ReadVolumeFile("rom.bin"));
  EXPECT_TRUE(EfiAppendFile(u"rom.bin", "+tail", 5));
  EXPECT_EQ("short+tail", ReadVolumeFile("rom.bin"));
  // A file that is not there counts as deleted.
  EXPECT_TRUE(EfiDeleteFile(u"rom.bin"));
  EXPECT_FALSE(VolumeFileExists("rom.bin"));
  EXPECT_TRUE(EfiDeleteFile(u"never.log"));
}

TEST_F(FileAccessTest, LeadingBackslashIsFromTheRootOnlyForWriteAndMkdir) {
  Boot();
  WriteVolumeFile("Tools/keep.txt", "x");
  SetCurrentDirectory(u"fs0:\\Tools");
  EXPECT_TRUE(EfiWriteFile(u"\\root.bin", "R", 1));
  EXPECT_EQ("R", ReadVolumeFile("root.bin"));
  EXPECT_FALSE(VolumeFileExists("Tools/root.bin"));
  // Read, append and delete still join the current directory.
  EXPECT_FALSE(EfiFileExists(u"\\root.bin"));
  EXPECT_TRUE(EfiAppendFile(u"\\app.bin", "A", 1));
  EXPECT_TRUE(VolumeFileExists("Tools/app.bin"));
  EXPECT_TRUE(EfiCreateDirectory(u"\\Saved"));
  EXPECT_TRUE(std::filesystem::is_directory(VolumePath("Saved")));
  EXPECT_TRUE(EfiCreateDirectory(u"Logs"));
  EXPECT_TRUE(std::filesystem::is_directory(VolumePath("Tools/Logs")));
}

TEST_F(FileAccessTest, ReadOnlyOrMissingVolumes) {
  Profile P = Profile::Default();
  P.Volumes[0].ReadOnly = true;
  Boot(P);
  WriteVolumeFile("data.bin", "abc");
  EXPECT_TRUE(EfiFileExists(u"data.bin"));
  EXPECT_FALSE(EfiWriteFile(u"data.bin", "zz", 2));
  EXPECT_FALSE(EfiAppendFile(u"log.txt", "zz", 2));
  EXPECT_EQ("abc", ReadVolumeFile("data.bin"));

  ResetModuleState();
  P.Volumes.clear();
  Boot(P);
  EXPECT_FALSE(EfiWriteFile(u"a.bin", "a", 1) || EfiAppendFile(u"a.bin", "a", 1) || EfiFileExists(u"a.bin") ||
               EfiDeleteFile(u"a.bin") || EfiCreateDirectory(u"d"));
  EXPECT_EQ(0u, EfiGetFileSize(u"a.bin"));
}

Profile Volumes(std::initializer_list<std::pair<const char *, VolumeKind>> List) {
  Profile P = Profile::Default();
  P.Volumes.clear();
  for (const auto &[Name, Kind] : List) {
    VolumeConfig V;
    V.Name = Name;
    V.Kind = Kind;
    V.Dir = Name;
    P.Volumes.push_back(V);
  }
  return P;
}

TEST_F(FileAccessTest, SelectionPrefersTheFirstUsbVolumeElseTheFirstHandle) {
  struct { Profile P; const char *Expected; } Cases[] = {
      {Volumes({{"sata0", VolumeKind::Sata}, {"nvme0", VolumeKind::Nvme}, {"usb0", VolumeKind::Usb}, {"usb1", VolumeKind::Usb}}), "usb0"},
      {Volumes({{"emmc0", VolumeKind::Emmc}, {"sata0", VolumeKind::Sata}, {"cd0", VolumeKind::Atapi}}), "emmc0"},
  };
  for (auto &Case : Cases) {
    ResetModuleState();
    Boot(Case.P);
    ASSERT_TRUE(EfiWriteFile(u"mark.txt", "m", 1));
    EXPECT_TRUE(VolumeFileExists("mark.txt", Case.Expected)) << Case.Expected;
  }
}

EFI_HANDLE VolumeHandle(vyr::emu::Machine &M, const std::string &Name) {
  for (const auto &V : M.Volumes()) {
    if (V->Name() == Name) return V->Handle;
  }
  return nullptr;
}

TEST_F(FileAccessTest, TheFirstTraceChoosesTheVolumeBeforeTheLauncherRegisters) {
  Boot(Volumes({{"usb0", VolumeKind::Usb}, {"sata0", VolumeKind::Sata}}));
  // SetImageHandle traces first, and that first trace of the load deletes the
  // old log, which chooses the volume while no launcher image is known.
  SetImageHandle(M().CreateLoadedImage(VolumeHandle(M(), "sata0"), u"Launcher.efi"), 1);
  ASSERT_TRUE(EfiWriteFile(u"a.txt", "a", 1));
  EXPECT_TRUE(VolumeFileExists("a.txt", "usb0"));
}

TEST_F(FileAccessTest, LauncherImageChoosesItsOwnVolumeWhenNoneIsChosenYet) {
  Boot(Volumes({{"usb0", VolumeKind::Usb}, {"sata0", VolumeKind::Sata}}));
  // A log already started whose volume selection found nothing: the next
  // operation takes the launcher's device.
  mTrace.Buffer = (CHAR16 *)AllocateZeroPool(TRACE_BUFFER_CHARS * sizeof(CHAR16));
  SetImageHandle(M().CreateLoadedImage(VolumeHandle(M(), "sata0"), u"Launcher.efi"), 1);
  ASSERT_TRUE(EfiWriteFile(u"a.txt", "a", 1));
  EXPECT_TRUE(VolumeFileExists("a.txt", "sata0"));
  // Kept for the rest of the run: a later registration changes nothing.
  EFI_HANDLE UsbHandle = VolumeHandle(M(), "usb0");
  SetImageHandle(M().CreateLoadedImage(UsbHandle, u"Other.efi"), 1);
  ASSERT_TRUE(EfiWriteFile(u"b.txt", "b", 1));
  EXPECT_TRUE(VolumeFileExists("b.txt", "sata0"));
  // A zero flag records the handle without using it for files.
  SetImageHandle(UsbHandle, 0);
  EXPECT_EQ(UsbHandle, mFileAccess.SecondImage);
}

}  // namespace
