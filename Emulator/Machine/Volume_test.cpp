#include "Machine/Volume.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Machine/Machine.h"
#include "TempDir.h"

namespace vyr::emu {
namespace {

using testing::TempDir;

struct PathCase {
  std::vector<std::string> Base;
  std::u16string Path;
  std::vector<std::string> Expected;
};

TEST(VolumePath, NormalisationNeverClimbsAboveTheRoot) {
  const PathCase Cases[] = {
      {{}, u"\\a\\b.txt", {"a", "b.txt"}},
      {{}, u"a\\\\b\\.\\c", {"a", "b", "c"}},
      {{}, u"..\\..\\etc\\passwd", {"etc", "passwd"}},
      {{"x", "y"}, u"..\\z", {"x", "z"}},
      {{"x", "y"}, u"\\z", {"z"}},
      {{"x"}, u".\\Tools\\FILE.BIN", {"x", "Tools", "FILE.BIN"}},
      {{"x"}, u"\\..\\..\\..", {}},
      {{}, u"", {}},
      {{}, u"Mixed Case\\ÄÖ.txt", {"Mixed Case", "ÄÖ.txt"}},
  };
  for (const PathCase &Case : Cases) {
    std::vector<std::string> Out = {"junk"};
    ASSERT_TRUE(NormaliseUefiPath(Case.Base, Case.Path, &Out));
    EXPECT_EQ(Case.Expected, Out);
  }
  std::vector<std::string> Out;
  for (const char16_t *Bad : {u"a/../../x", u"fs0:\\x", u"a*", u"a?b", u"bad\x01"}) {
    EXPECT_FALSE(NormaliseUefiPath({}, Bad, &Out));
  }
}

class VolumeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Profile P = Profile::Default();
    P.Volumes = {{"fs0", VolumeKind::Usb, "usb", false}, {"ro", VolumeKind::Sata, "sata", true}};
    M = std::make_unique<Machine>(P, Dir.Path());
    ASSERT_EQ(EFI_SUCCESS, M->OpenVolume(M->FindVolume("fs0"), &Root));
  }
  File *Open(const char16_t *Name, uint64_t Mode, uint64_t Attributes = 0, EFI_STATUS Expect = EFI_SUCCESS) {
    File *F = nullptr;
    EXPECT_EQ(Expect, M->FileOpen(Root, Name, Mode, Attributes, &F)) << std::string(Name, Name + 0);
    return F;
  }
  std::string HostText(const std::string &Relative) {
    std::ifstream In(Dir / Relative);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
  }

  static constexpr uint64_t R = EFI_FILE_MODE_READ;
  static constexpr uint64_t RW = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
  static constexpr uint64_t RWC = RW | EFI_FILE_MODE_CREATE;
  TempDir Dir;
  std::unique_ptr<Machine> M;
  File *Root = nullptr;
};

TEST_F(VolumeFileTest, CreateWriteSeekReadAndSize) {
  File *F = Open(u"\\log.txt", RWC);
  ASSERT_NE(nullptr, F);
  uintptr_t Size = 5;
  EXPECT_EQ(EFI_SUCCESS, F->Write(&Size, "hello"));
  EXPECT_EQ(EFI_SUCCESS, F->SetPosition(UINT64_MAX));
  uint64_t Position = 0;
  EXPECT_EQ(EFI_SUCCESS, F->GetPosition(&Position));
  EXPECT_EQ(5u, Position) << "past the end means the end";
  Size = 3;
  EXPECT_EQ(EFI_SUCCESS, F->Write(&Size, "!!!"));
  EXPECT_EQ(EFI_SUCCESS, F->Flush());
  EXPECT_EQ(EFI_SUCCESS, M->FileClose(F));
  EXPECT_EQ("hello!!!", HostText("usb/log.txt"));

  F = Open(u"log.txt", R);
  char Buffer[16] = {};
  Size = sizeof(Buffer);
  EXPECT_EQ(EFI_SUCCESS, F->Read(&Size, Buffer));
  EXPECT_EQ(8u, Size);
  Size = sizeof(Buffer);
  EXPECT_EQ(EFI_SUCCESS, F->Read(&Size, Buffer));
  EXPECT_EQ(0u, Size) << "reading at the end gives nothing";
  EXPECT_EQ(EFI_SUCCESS, F->SetPosition(100));
  Size = 1;
  EXPECT_EQ(EFI_DEVICE_ERROR, F->Read(&Size, Buffer)) << "reading past the end";
  M->FileClose(F);

  F = Open(u"\\LOG.TXT", R, 0, EFI_NOT_FOUND);  // case as given on the host
  F = Open(u"log.txt", RW);
  EXPECT_EQ(EFI_SUCCESS, F->SetSize(2));
  EXPECT_EQ(EFI_SUCCESS, F->SetSize(4));
  M->FileClose(F);
  EXPECT_EQ(std::string("he\0\0", 4), HostText("usb/log.txt"));
}

TEST_F(VolumeFileTest, StatusesFollowFirmware) {
  Open(u"\\missing.bin", R, 0, EFI_NOT_FOUND);
  Open(u"\\missing.bin", RW, 0, EFI_NOT_FOUND);
  Open(u"\\nodir\\new.bin", RWC, 0, EFI_NOT_FOUND);
  Open(u"\\x", EFI_FILE_MODE_WRITE, 0, EFI_INVALID_PARAMETER);
  Open(u"\\x", EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ, 0, EFI_INVALID_PARAMETER);

  File *F = Open(u"\\data.bin", RWC);
  uintptr_t Size = 4;
  M->FileClose(F);
  F = Open(u"\\data.bin", R);
  EXPECT_EQ(EFI_ACCESS_DENIED, F->Write(&Size, "abcd"));
  EXPECT_EQ(EFI_ACCESS_DENIED, F->SetSize(0));
  EXPECT_EQ(EFI_WARN_DELETE_FAILURE, M->FileDelete(F)) << "delete needs write access";
  EXPECT_FALSE(M->IsOpenFile(F)) << "closed anyway";
  EXPECT_TRUE(std::filesystem::exists(Dir / "usb/data.bin"));

  F = Open(u"\\data.bin", RW);
  EXPECT_EQ(EFI_SUCCESS, M->FileDelete(F));
  EXPECT_FALSE(std::filesystem::exists(Dir / "usb/data.bin"));
  EXPECT_EQ(EFI_INVALID_PARAMETER, M->FileClose(F)) << "a deleted handle is gone";
}

TEST_F(VolumeFileTest, DirectoriesAreCreatedOpenedAndUsedAsBase) {
  File *D = Open(u"\\EFI\\", RWC, EFI_FILE_DIRECTORY);
  ASSERT_NE(nullptr, D);
  EXPECT_TRUE(D->IsDirectory());
  File *Sub = Open(u"\\EFI\\Korvath", RWC, EFI_FILE_DIRECTORY);
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "usb/EFI/Korvath"));
  File *F = nullptr;
  ASSERT_EQ(EFI_SUCCESS, M->FileOpen(Sub, u"..\\..\\..\\top.bin", RWC, 0, &F));
  EXPECT_TRUE(std::filesystem::exists(Dir / "usb/top.bin")) << ".. stops at the volume root";
  uintptr_t Size = 1;
  char Byte;
  EXPECT_EQ(EFI_UNSUPPORTED, D->Read(&Size, &Byte));
  EXPECT_EQ(EFI_UNSUPPORTED, D->Write(&Size, &Byte));
  File *NotDir = nullptr;
  EXPECT_EQ(EFI_INVALID_PARAMETER, M->FileOpen(F, u"x", R, 0, &NotDir));
  EXPECT_EQ(EFI_WARN_DELETE_FAILURE, M->FileDelete(D)) << "not empty";
  EXPECT_EQ(EFI_SUCCESS, M->FileDelete(Sub));
  EXPECT_EQ(2u, M->OpenFileCount()) << "root and file stay open; both deletes closed their handles";
}

TEST_F(VolumeFileTest, ReadOnlyVolumeRefusesEveryChange) {
  std::filesystem::create_directories(Dir / "sata");
  std::ofstream(Dir / "sata/rom.bin") << "ROM";
  File *RoRoot = nullptr;
  ASSERT_EQ(EFI_SUCCESS, M->OpenVolume(M->FindVolume("ro"), &RoRoot));
  File *F = nullptr;
  EXPECT_EQ(EFI_WRITE_PROTECTED, M->FileOpen(RoRoot, u"\\new.bin", RWC, 0, &F));
  EXPECT_EQ(EFI_WRITE_PROTECTED, M->FileOpen(RoRoot, u"\\rom.bin", RW, 0, &F));
  ASSERT_EQ(EFI_SUCCESS, M->FileOpen(RoRoot, u"\\rom.bin", R, 0, &F));
  uintptr_t Size = 1;
  EXPECT_EQ(EFI_WRITE_PROTECTED, F->Write(&Size, "x"));
  EXPECT_EQ(EFI_WRITE_PROTECTED, F->SetSize(0));
  EXPECT_EQ(EFI_WRITE_PROTECTED, M->FileDelete(F));
  EXPECT_TRUE(std::filesystem::exists(Dir / "sata/rom.bin"));
}

TEST_F(VolumeFileTest, ForeignPointersAreRefused) {
  File *F = nullptr;
  int NotAFile = 0;
  EXPECT_EQ(EFI_INVALID_PARAMETER, M->FileOpen(reinterpret_cast<File *>(&NotAFile), u"x", R, 0, &F));
  EXPECT_EQ(EFI_INVALID_PARAMETER, M->OpenVolume(&NotAFile, &F));
  EXPECT_EQ(EFI_INVALID_PARAMETER, M->FileClose(reinterpret_cast<File *>(&NotAFile)));
}

}  // namespace
}  // namespace vyr::emu
