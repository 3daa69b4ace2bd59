#include "Machine/PeImage.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Machine/Machine.h"

namespace vyr::emu {
namespace {

struct SectionLayout {
  const char *Name;
  uint32_t VirtualAddress, VirtualSize;
  std::vector<uint8_t> Raw;
};

void Put16(std::vector<uint8_t> &B, size_t At, uint16_t V) { std::memcpy(&B[At], &V, 2); }
void Put32(std::vector<uint8_t> &B, size_t At, uint32_t V) { std::memcpy(&B[At], &V, 4); }

// A minimal but well-formed PE32 or PE32+ file with the given sections.
std::vector<uint8_t> BuildPe(bool Plus, uint32_t SizeOfImage, const std::vector<SectionLayout> &Sections) {
  const uint32_t PeOffset = 0x40;
  const uint16_t OptionalSize = Plus ? 0xF0 : 0xE0;
  const uint32_t Headers = 0x200;
  std::vector<uint8_t> B(Headers, 0);
  B[0] = 'M';
  B[1] = 'Z';
  Put32(B, 0x3C, PeOffset);
  std::memcpy(&B[PeOffset], "PE\0\0", 4);
  Put16(B, PeOffset + 4, Plus ? 0x8664 : 0x14C);
  Put16(B, PeOffset + 6, static_cast<uint16_t>(Sections.size()));
  Put16(B, PeOffset + 20, OptionalSize);
  const size_t Opt = PeOffset + 24;
  Put16(B, Opt, Plus ? 0x20B : 0x10B);
  Put32(B, Opt + 16, 0x1000);
  Put32(B, Opt + 56, SizeOfImage);
  Put32(B, Opt + 60, Headers);
  Put16(B, Opt + 68, 11);  // boot-service driver
  size_t Table = Opt + OptionalSize;
  for (const SectionLayout &S : Sections) {
    std::memcpy(&B[Table], S.Name, std::min<size_t>(8, std::strlen(S.Name)));
    Put32(B, Table + 8, S.VirtualSize);
    Put32(B, Table + 12, S.VirtualAddress);
    Put32(B, Table + 16, static_cast<uint32_t>(S.Raw.size()));
    Put32(B, Table + 20, static_cast<uint32_t>(B.size()));
    B.insert(B.end(), S.Raw.begin(), S.Raw.end());
    Table += 40;
  }
  return B;
}

TEST(PeImage, MalformedFilesAreRefusedWithAReason) {
  auto Good = BuildPe(false, 0x3000, {{".text", 0x1000, 0x10, {1, 2, 3}}});
  struct Case {
    const char *Name;
    std::function<void(std::vector<uint8_t> &)> Damage;
    const char *Reason;
  } Cases[] = {
      {"NoMz", [](auto &B) { B[0] = 'X'; }, "no MZ"},
      {"Truncated", [](auto &B) { B.resize(40); }, "no MZ"},
      {"PeOffsetOutside", [](auto &B) { Put32(B, 0x3C, 0x7FFFFFF0); }, "outside the file"},
      {"NoPeSignature", [](auto &B) { B[0x40] = 'X'; }, "no PE signature"},
      {"BadMagic", [](auto &B) { Put16(B, 0x58, 0x1234); }, "magic"},
      {"ZeroImage", [](auto &B) { Put32(B, 0x58 + 56, 0); }, "SizeOfImage"},
      {"HeadersTooBig", [](auto &B) { Put32(B, 0x58 + 60, 0x4000); }, "SizeOfHeaders"},
      {"SectionPastImage", [](auto &B) { Put32(B, 0x58 + 0xE0 + 12, 0x2FF8); }, "outside SizeOfImage"},
      {"RawPastFile", [](auto &B) { Put32(B, 0x58 + 0xE0 + 20, 0x10000); }, "outside the file"},
      {"SectionTableCut", [](auto &B) { Put16(B, 0x46, 200); }, "section table"},
  };
  for (const Case &C : Cases) {
    auto File = Good;
    C.Damage(File);
    std::string Error = "accepted";
    try {
      ParsePe(File.data(), File.size());
    } catch (const PeError &E) {
      Error = E.what();
    }
    EXPECT_NE(std::string::npos, Error.find(C.Reason)) << C.Name << ": " << Error;
  }
}

TEST(MachineImages, LoadMapsSectionsAndPublishesTheLoadedImage) {
  Machine M(Profile::Default());
  auto File = BuildPe(true, 0x3000, {{".text", 0x1000, 0x2, {0xAA, 0xBB, 0xCC}}, {".data", 0x2000, 0x100, {0x11}}});
  EFI_HANDLE Device = M.Volumes()[0]->Handle;
  EFI_HANDLE Image = M.LoadImage(File, Device, u"\\VyrFFT.efi");
  void *Interface = nullptr;
  ASSERT_EQ(EFI_SUCCESS, M.Protocols().HandleProtocol(Image, kLoadedImageProtocolGuid, &Interface));
  auto *Loaded = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
  EXPECT_EQ(Device, Loaded->DeviceHandle);
  EXPECT_EQ(0x3000u, Loaded->ImageSize);
  const uint8_t *Base = static_cast<const uint8_t *>(Loaded->ImageBase);
  ASSERT_NE(nullptr, Base);
  EXPECT_EQ(0, std::memcmp(Base, File.data(), 0x200)) << "headers copied";
  // Raw data beyond the virtual size is not copied.
  EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xBB, 0x00, 0x11, 0x00}),
            (std::vector<uint8_t>{Base[0x1000], Base[0x1001], Base[0x1002], Base[0x2000], Base[0x20FF]}));
  const uint8_t *Path = reinterpret_cast<const uint8_t *>(Loaded->FilePath);
  EXPECT_EQ((std::vector<uint8_t>{4, 4, '\\'}), (std::vector<uint8_t>{Path[0], Path[1], Path[4]}));  // a file path node
  EXPECT_EQ(3u, M.PagesInUse());

  EXPECT_EQ(EFI_SUCCESS, M.UnloadImage(Image));
  EXPECT_EQ(0u, M.PagesInUse());
  EXPECT_FALSE(M.Protocols().IsHandle(Image));
  EXPECT_THROW(M.LoadImage({'M', 'Z'}, Device, u"x"), PeError);
}

EFI_STATUS RefuseUnload(EFI_HANDLE) { return EFI_ACCESS_DENIED; }
int gUnloadCalls = 0;
EFI_STATUS AcceptUnload(EFI_HANDLE) {
  gUnloadCalls++;
  return EFI_SUCCESS;
}

TEST(MachineImages, UnloadRunsTheImagesUnloadAndKeepsARefusingImage) {
  Machine M(Profile::Default());
  EFI_HANDLE Launcher = M.CreateLoadedImage(M.Volumes()[0]->Handle, u"\\vyrfft");
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = M.LoadedImage(Launcher);
  ASSERT_NE(nullptr, Loaded);
  EXPECT_EQ(std::make_tuple(static_cast<void *>(nullptr), uint64_t(0)),
            std::make_tuple(Loaded->ImageBase, Loaded->ImageSize));
  Loaded->Unload = RefuseUnload;
  EXPECT_EQ(EFI_ACCESS_DENIED, M.UnloadImage(Launcher));
  EXPECT_TRUE(M.Protocols().IsHandle(Launcher));
  EXPECT_EQ(1u, M.Notes().size());
  Loaded->Unload = AcceptUnload;
  EXPECT_EQ(EFI_SUCCESS, M.UnloadImage(Launcher));
  EXPECT_EQ(1, gUnloadCalls);
  EXPECT_EQ(nullptr, M.LoadedImage(Launcher));
  EXPECT_EQ(EFI_INVALID_PARAMETER, M.UnloadImage(Launcher));
}

}  // namespace
}  // namespace vyr::emu
