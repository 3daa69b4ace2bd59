#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Console/FileAccess.h"
#include "Base/Trace.h"
#include "Guids.h"
#include "Image/Payload.h"
#include "NamedFunction.h"
#include "UtilityFixture.h"
#include "vyrpack/Payload.h"
#include "vyrpack/PeImage.h"
#include "Base/Settings.h"
#include "EndProgram.h"
#include "MainFlow.h"

namespace {

using vyr::pack::Arch;
using vyr::pack::Bytes;
using vyr::pack::PayloadRecord;
using vyr::pack::RecordKind;
using vyr::testing::UtilityTest;

Bytes Text(const std::string &S) { return Bytes(S.begin(), S.end()); }

Bytes PackedImage(std::vector<PayloadRecord> Records, Arch A = Arch::Ia32, bool EmptyBios = false) {
  vyr::pack::AppendOptions Options;
  Options.emptyBios = EmptyBios;
  return vyr::pack::AppendPayload(vyr::pack::BuildStubDriverImage(A), Records, Options).image;
}

Bytes DefaultImage() {
  return PackedImage({{RecordKind::Bios, Bytes(4096, 0xFF)}, {RecordKind::Ini, Text("[Others]\r\nSMIErrorRetry=5\r\n")}});
}

class DriverEntryTest : public UtilityTest {
 protected:
  EFI_HANDLE Load(const Bytes &Image) {
    return M().LoadImage(Image, M().Volumes()[0]->Handle, u"\\VyrFFT.efi");
  }
};

TEST_F(DriverEntryTest, EntryInstallsBothProtocolsOnceAndUnloadRemovesThem) {
  Boot();
  EFI_HANDLE Image = Load(DefaultImage());
  EXPECT_EQ(EFI_SUCCESS, NorvelDriverEntry(Image, nullptr));
  void *Interface = nullptr;
  EXPECT_EQ(EFI_SUCCESS, M().Protocols().HandleProtocol(Image, gNamedFunctionProtocolGuid, &Interface));
  EXPECT_EQ(&mNamedFunctionProtocol, Interface);
  EXPECT_EQ(NorvelUnload, M().LoadedImage(Image)->Unload);
  EXPECT_EQ("", Console());
  // The component name answers English only.
  struct Protocol {
    EFI_STATUS(EFIAPI *GetDriverName)(Protocol *, CHAR8 *, CHAR16 **);
    EFI_STATUS(EFIAPI *GetControllerName)(Protocol *, EFI_HANDLE, EFI_HANDLE, CHAR8 *, CHAR16 **);
    CHAR8 *SupportedLanguages;
  } *Name = nullptr;
  ASSERT_EQ(EFI_SUCCESS, M().Protocols().HandleProtocol(Image, gEfiComponentNameProtocolGuid, (void **)&Name));
  EXPECT_STREQ("eng", Name->SupportedLanguages);
  CHAR16 *Driver = nullptr;
  char Eng[] = "eng", Fra[] = "fra", En[] = "en";
  EXPECT_EQ(EFI_SUCCESS, Name->GetDriverName(Name, Eng, &Driver));
  EXPECT_EQ(std::u16string(u"1.00.42.00"), std::u16string(Driver));
  EXPECT_EQ(EFI_UNSUPPORTED, Name->GetDriverName(Name, Fra, &Driver));
  EXPECT_EQ(EFI_UNSUPPORTED, Name->GetDriverName(Name, En, &Driver));
  EXPECT_EQ(EFI_UNSUPPORTED, Name->GetControllerName(Name, Image, nullptr, Eng, &Driver));
  // A second load keeps the first named-function interface.
  EFI_HANDLE Second = Load(DefaultImage());
  ASSERT_EQ(EFI_SUCCESS, NorvelDriverEntry(Second, nullptr));
  EXPECT_NE(EFI_SUCCESS, M().Protocols().HandleProtocol(Second, gNamedFunctionProtocolGuid, &Interface));
  EXPECT_EQ(EFI_SUCCESS, M().Protocols().HandleProtocol(Second, gEfiComponentNameProtocolGuid, &Interface));
  EXPECT_EQ(EFI_SUCCESS, M().UnloadImage(Second));
  // Unloading runs the routine, which uninstalls both protocols.
  EXPECT_EQ(EFI_SUCCESS, M().UnloadImage(Image));
  EXPECT_NE(EFI_SUCCESS, M().Protocols().LocateProtocol(gNamedFunctionProtocolGuid, &Interface));
  EXPECT_NE(EFI_SUCCESS, M().Protocols().LocateProtocol(gEfiComponentNameProtocolGuid, &Interface));
}

TEST_F(DriverEntryTest, MissingBiosOrIniRecordFailsTheEntry) {
  // AppendPayload insists on both records: a spoiled tag removes one.
  struct { const char *Tag, *Reason; } Cases[] = {{"$_NORVEL_BIOSIMG", "BIOS image pointer is NULL"},
                                                  {"$_NORVEL_INI_IMG", "ini image pointer is NULL"}};
  for (auto &Case : Cases) {
    ResetModuleState();
    Boot();
    mIniSettings.Log_file.Flag = 1;
    mIniSettings.Log_file.Level = 2;
    Bytes Packed = DefaultImage();
    auto At = std::search(Packed.begin(), Packed.end(), Case.Tag, Case.Tag + 16);
    ASSERT_NE(Packed.end(), At);
    *At = '#';
    EFI_HANDLE Handle = Load(Packed);
    EXPECT_EQ(EFI_UNSUPPORTED, NorvelDriverEntry(Handle, nullptr));
    EXPECT_EQ("Driver Initial Module Variable failed\r\n", Console());
    EXPECT_TRUE(Logged(std::string("<=== InitialModuleVariable (") + Case.Reason + ")"));
    // The protocol installs are not undone by the failed entry.
    void *Interface = nullptr;
    EXPECT_EQ(EFI_SUCCESS, M().Protocols().LocateProtocol(gNamedFunctionProtocolGuid, &Interface));
  }
}

TEST_F(DriverEntryTest, NamesAreLookedUpCaseInsensitivelyAsWholeNames) {
  Boot();
  EXPECT_EQ((void *)ShellFlashMain, GetFunctionByName(u"ShellFlashMain"));
  EXPECT_EQ((void *)ShellFlashMain, GetFunctionByName(u"shellflashmain"));
  EXPECT_EQ((void *)EndProgram, GetFunctionByName(u"ENDPROGRAM"));
  EXPECT_EQ((void *)UefiFlashMain, GetFunctionByName(u"UefiFlashMain"));
  EXPECT_EQ((void *)SetCurrentDirectory, GetFunctionByName(u"SetCurrentDirectory"));
  EXPECT_EQ("", Console());
  EXPECT_EQ(0u, M().Counters().KeyReads);

  const char16_t *Misses[] = {u"ShellFlash", u"ShellFlashMainX", u"", u"Shell_FlashMain"};
  for (const char16_t *Name : Misses) {
    ResetModuleState();
    Boot();
    M().Keys().Queue(0, u'x');
    EXPECT_EQ(nullptr, GetFunctionByName(Name));
    EXPECT_EQ(" Engineering Warning:\r\n [" + std::string(Name, Name + std::char_traits<char16_t>::length(Name)) +
                  "] founction not found.\r\n",
              Console());
    EXPECT_EQ(0u, M().Keys().Pending());  // one key was waited for
    // The dialog hook points are not issued before the SMI interface is set up.
    EXPECT_TRUE(M().SmiTranscript().empty());
  }
}

class PayloadTest : public UtilityTest {
 protected:
  bool Scan(Bytes &Image, std::string *ReasonOut = nullptr) {
    const CHAR16 *Reason = nullptr;
    bool Ok = ScanPayloadImage(Image.data(), Image.size(), &Reason);
    if (ReasonOut && Reason) *ReasonOut = vyr::emu::Utf16ToUtf8(Reason);
    return Ok;
  }
};

TEST_F(PayloadTest, WithoutOptionalRecordsEveryPredicateIsFalseAndEightNotesAreLogged) {
  Boot();
  mIniSettings.Log_file.Flag = 1;
  mIniSettings.Log_file.Level = 4;
  Bytes Image = DefaultImage();
  ASSERT_TRUE(Scan(Image));
  EXPECT_EQ(4096u, PayloadRecordSize(PayloadBios));
  EXPECT_FALSE(HasEcImage() || HasIshImage() || HasPdtImage() || HasMeImage() || HasDeviceFirmware() || HasPfatImage());
  EXPECT_FALSE(IsBiosRecordEmpty());
  EXPECT_EQ(
      "Capsule not pack EC\r\nCapsule not pack ISH\r\nCapsule not pack PDT\r\nCapsule not pack ME\r\n"
      "Capsule not pack OEM ID\r\nCapsule not pack PFAT header\r\nCapsule not pack PFAT cer\r\n"
      "Capsule not pack Device FW\r\n",
      ReadVolumeFile("VyrFFT-Secure.Log"));
  // Empty records are 16 blanks and two zero sizes; start-up later writes their tags.
  EXPECT_EQ(0, std::memcmp(mPayload.Record[PayloadEc], "                \0\0\0\0\0\0\0\0", 24));
  StampPayloadTags();
  EXPECT_EQ(0, std::memcmp(mPayload.Record[PayloadEc], "$_NORVEL_EC_IMG_", 16));
  EXPECT_EQ(0u, PayloadRecordSize(PayloadEc));
}

TEST_F(PayloadTest, OptionalRecordsAreFoundInBothArchitectures) {
  for (Arch A : {Arch::Ia32, Arch::X64}) {
    ResetModuleState();
    Boot();
    Bytes Image = PackedImage({{RecordKind::Bios, Bytes(100, 1)},
                               {RecordKind::BiosCer, Text("certificate")},
                               {RecordKind::Ini, Text("ini")},
                               {RecordKind::Ec, Bytes(33, 2)},
                               {RecordKind::PfatHdr, Bytes(8, 3)},
                               {RecordKind::DeviceFw, Bytes(5, 4)}},
                              A);
    ASSERT_TRUE(Scan(Image));
    EXPECT_EQ(100u, PayloadRecordSize(PayloadBios));
    EXPECT_EQ(3u, PayloadRecordSize(PayloadIni));
    EXPECT_EQ(0, std::memcmp(PayloadRecordData(PayloadIni), "ini", 3));
    EXPECT_TRUE(HasEcImage());
    EXPECT_EQ(33u, PayloadRecordSize(PayloadEc));
    EXPECT_TRUE(HasDeviceFirmware());
    EXPECT_FALSE(HasPfatImage());  // needs the certificate too
    EXPECT_FALSE(HasIshImage());
  }
  // A BIOS record of size 0 is accepted.
  Bytes Image = PackedImage({{RecordKind::Ini, Text("ini")}, {RecordKind::Ish, Bytes(10, 9)}}, Arch::Ia32, true);
  ASSERT_TRUE(Scan(Image));
  EXPECT_TRUE(IsBiosRecordEmpty());
  EXPECT_TRUE(HasIshImage());
}

TEST_F(PayloadTest, MalformedImagesFailTheScan) {
  Boot();
  const Bytes Good = DefaultImage();
  const size_t Ini = size_t(std::search(Good.begin(), Good.end(), std::begin("$_NORVEL_INI_IMG"),
                                        std::end("$_NORVEL_INI_IMG") - 1) - Good.begin());
  ASSERT_LT(Ini, Good.size());
  const struct {
    const char *Name;
    std::function<void(Bytes &)> Spoil;
    const char *Reason;  // nullptr: not looked at
  } Cases[] = {
      {"INI record past the image's end", [&](Bytes &I) { WriteUnaligned32(&I[Ini + 20], 0xFFFFFFF0u); },
       "ini image pointer is NULL"},
      {"cut inside a record header", [&](Bytes &I) { I.resize(Ini + 18); }, nullptr},
      {"no MZ", [](Bytes &I) { I[0] = 'X'; }, nullptr},
      {"PE header far away", [](Bytes &I) { WriteUnaligned32(&I[0x3C], 0x7FFFFFF0u); }, nullptr},
      {"smaller than a header", [](Bytes &I) { I.resize(0x30); }, "image header not valid"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Bytes Image = Good;
    Case.Spoil(Image);
    std::string Reason;
    EXPECT_FALSE(Scan(Image, &Reason));
    if (Case.Reason) {
      EXPECT_EQ(Case.Reason, Reason);
    }
  }
}

}  // namespace
