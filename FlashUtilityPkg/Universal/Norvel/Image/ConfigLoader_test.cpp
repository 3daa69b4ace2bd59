// Where a run's configuration comes from: the external platform.ini, the FD
// file and a secure image's own record, the payload record of a firmware run,
// and the choice of a multi-SKU capsule's image by the platform's model name.
#include "Image/ConfigLoader.h"

#include <string>
#include <vector>

#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Config/OverrideVariables.h"
#include "FlashFixture.h"
#include "Guids.h"
#include "Image/Payload.h"
#include "Platform.h"
#include "Smi/PlatformQueries.h"
#include "vyrpack/Bvdt.h"
#include "vyrpack/Payload.h"
#include "vyrpack/PeImage.h"

namespace {

using vyr::testing::FlashTest;
using Bytes = std::vector<UINT8>;

Bytes Text(const std::string &S) { return Bytes(S.begin(), S.end()); }

Bytes Cat(std::initializer_list<Bytes> Parts) {
  Bytes Out;
  for (const Bytes &P : Parts) Out.insert(Out.end(), P.begin(), P.end());
  return Out;
}

// A payload record: 16-byte tag, unread length, data size, data. Claim
// overrides the size field.
Bytes Record(const std::string &Tag, const Bytes &Data, INT64 Claim = -1) {
  Bytes Out = Text(Tag);
  Out.resize(24, 0);
  WriteUnaligned32(Out.data() + 20, Claim < 0 ? (UINT32)Data.size() : (UINT32)Claim);
  Out.insert(Out.end(), Data.begin(), Data.end());
  return Out;
}

const Bytes kCapsuleSignature = {'$',  'Z',  'T',  'K',  0x33, 0x38, 0xA1, 0xDD, 0x42, 0xC3,
                                 0xAE, 0x4E, 0xB5, 0xC9, 0xC2, 0xD7, 0xD6, 0x13, 0xDB, 0xB8};

// A secure image: the capsule signature, a BIOS record and, when Ini is
// given, an INI record.
Bytes SecureImage(const std::string *Ini, INT64 IniClaim = -1) {
  Bytes Image = Cat({Bytes(16, 0x11), kCapsuleSignature, Record("$_NORVEL_BIOSIMG", Bytes(0x40, 0xA5))});
  if (Ini != nullptr) Image = Cat({Image, Record("$_NORVEL_INI_IMG", Text(*Ini), IniClaim)});
  return Image;
}

// A small BIOS image whose BVDT names Model.
Bytes SkuImage(const std::string &Model, UINT8 Fill) {
  vyr::pack::BvdtStamp Stamp;
  Stamp.model = Model;
  Stamp.version = "V1.00";
  return vyr::pack::StampBvdt(Bytes(0x200, Fill), 0x40, Stamp);
}

struct SkuEntry { UINT32 Offset, Size; };

// "$MULTISC", an unread word, the count, the entries, then the images. Offsets
// count from the signature; Entries empty: the images' true places.
Bytes MultiSku(const std::vector<Bytes> &Images, UINT32 Count, std::vector<SkuEntry> Entries = {}) {
  const UINT32 Header = 16 + 8 * (UINT32)Images.size();
  if (Entries.empty()) {
    UINT32 At = Header;
    for (const Bytes &I : Images) {
      Entries.push_back({At, (UINT32)I.size()});
      At += (UINT32)I.size();
    }
  }
  Bytes Out = Cat({Text("$MULTISC"), Bytes(8, 0)});
  WriteUnaligned32(Out.data() + 12, Count);
  for (const SkuEntry &E : Entries) {
    UINT8 Word[8];
    WriteUnaligned32(Word, E.Offset);
    WriteUnaligned32(Word + 4, E.Size);
    Out.insert(Out.end(), Word, Word + 8);
  }
  for (const Bytes &I : Images) Out.insert(Out.end(), I.begin(), I.end());
  return Cat({Bytes(0x30, 0x22), Out});  // the capsule need not start the file
}

class ConfigLoaderTest : public FlashTest {
 protected:
  // A machine whose 10h and 11h answers are taken, as start-up does.
  void StartPlatform(UINT16 VendorId = 0x1234, const std::string &Model = "VyrPC") {
    Start([&](vyr::emu::Profile &P) {
      P.Platform.VendorId = VendorId;
      P.Platform.ModelName = Model;
    });
    ASSERT_TRUE(SMI_IsSupport());
    PLATFORM_INFO Info;
    ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
  }
  void WriteBytes(const std::string &Name, const Bytes &Data) {
    WriteVolumeFile(Name, std::string(Data.begin(), Data.end()));
  }
  static UINT32 Retry() { return ReadUnaligned32(&mIniSettings.Others.SMIErrorRetry); }
  static UINT32 RetryDelay() { return ReadUnaligned32(&mIniSettings.Others.SMIErrorRetryDelay); }
  std::string Variable(const char16_t *Name) {
    UINTN Size = 0;
    if (PlatformGetVariable(Name, &gFlashOverrideVariableGuid, nullptr, &Size, nullptr) != EFI_BUFFER_TOO_SMALL) {
      return "<absent>";
    }
    return "<present>";
  }
};

const std::string kExternal = "[Others]\r\nSMIErrorRetry=5\r\nSMIErrorRetryDelay=3\r\n";
const std::string kImageIni = "[Others]\r\nSMIErrorRetry=9\r\n";

TEST_F(ConfigLoaderTest, FileConfigurationSources) {
  const std::string Banner = FlashTest::Banner();
  const std::string NotFound = Banner + "\r\n    Error:\r\n    the FD file not found. (new.fd)\r\n\r\n";
  const Bytes Plain = Cat({Bytes(0x100, 0xFF), Record("$_NORVEL_INI_IMG", Text(kImageIni))});  // not secure
  struct Case {
    const char *Name;
    std::string External;  // "" = no platform.ini
    const Bytes *Fd;       // nullptr = no FD file
    const char16_t *FileName;
    bool Result;
    std::string Console;
    UINT32 Retry, RetryDelay;
    std::vector<std::string> Logged, NotLogged;
  };
  const Bytes Secure = SecureImage(&kImageIni);
  const Bytes SecureNoIni = SecureImage(nullptr);
  const Bytes SecureLongIni = SecureImage(&kImageIni, (INT64)kImageIni.size() + 1);
  const Case Cases[] = {
      {"external and a plain FD", kExternal, &Plain, u"new.fd", true, "", 5, 3,
       {" Config from external\r\n", " Config from capsule\r\n"}, {"LoadConfigFromSecureImage"}},
      {"plain FD alone keeps the defaults", "", &Plain, u"new.fd", true, "", 0, 100, {" Config from capsule\r\n"},
       {" Config from external\r\n"}},
      {"FD file missing", kExternal, nullptr, u"new.fd", false, NotFound, 5, 3,
       {"<=== FuncLoadFileConfig (FD file not found)"}, {" Config from capsule\r\n"}},
      {"secure image's own INI wins key by key", kExternal, &Secure, u"new.fd", true, "", 9, 3,
       {" Config from capsule\r\n", "<=== LoadConfigFromSecureImage\r\n"}, {}},
      {"secure image without INI record", kExternal, &SecureNoIni, u"new.fd", false, "", 5, 3,
       {"<=== LoadConfigFromSecureImage (embedded ini signature not found)",
        "<=== FuncLoadFileConfig (Load config from secure image failed)"},
       {}},
      {"INI record running past the image", kExternal, &SecureLongIni, u"new.fd", false, "", 5, 3,
       {"<=== LoadConfigFromSecureImage (embedded ini signature not found)"}, {}},
      {"multi-FD selection matches nothing", "[MULTI_FD]\r\nFlag=1\r\nFD#00=new.fd\r\n", &Plain, u"new.fd", false,
       Banner + "No match file in Multi-FD.\r\n", 0, 100, {"<=== FuncLoadFileConfig (Multi-FD no match)"},
       {" Config from capsule\r\n"}},
      // No FD file named: the external INI alone, and the run goes on to the usage display.
      {"no FD file name", kExternal, nullptr, u"", true, "", 5, 3,
       {" Config from external\r\n", "<=== FuncLoadFileConfig (No FD file)"}, {" Config from capsule\r\n"}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    StartPlatform();
    if (!C.External.empty()) WriteVolumeFile("platform.ini", C.External);
    if (C.Fd != nullptr) WriteBytes("new.fd", *C.Fd);
    CHAR16 FileName[FILE_NAME_CHARS] = {};
    StrCpyS(FileName, FILE_NAME_CHARS, C.FileName);
    EXPECT_EQ(C.Result, (bool)FuncLoadFileConfig(FileName));
    EXPECT_EQ(C.Console, Console());
    EXPECT_EQ(C.Retry, Retry());
    EXPECT_EQ(C.RetryDelay, RetryDelay());
    for (const std::string &L : C.Logged) EXPECT_TRUE(Logged(L)) << L;
    for (const std::string &L : C.NotLogged) EXPECT_FALSE(Logged(L)) << L;
    TearDown();
    SetUp();
  }
}

TEST_F(ConfigLoaderTest, SecureImageClearsBothOverrideVariablesOnlyWhenItHasAnIni) {
  StartPlatform();
  const Bytes WithIni = SecureImage(&kImageIni);
  const Bytes WithoutIni = SecureImage(nullptr);
  const std::u16string Command = u"VyrFFT.efi -all";
  auto SetBoth = [&] {
    ASSERT_TRUE(SetIniOverrideVariable("[UI]\r\n", 6));
    ASSERT_TRUE(SetCommandOverrideVariable(Command.c_str(), (UINT32)(Command.size() * 2 + 2)));
  };
  SetBoth();
  EXPECT_FALSE(LoadConfigFromSecureImage(WithoutIni.data(), (UINT32)WithoutIni.size()));
  EXPECT_EQ("<present>", Variable(FLASH_INI_SETTINGS_VARIABLE));
  EXPECT_EQ("<present>", Variable(FLASH_COMMAND_VARIABLE));
  EXPECT_TRUE(LoadConfigFromSecureImage(WithIni.data(), (UINT32)WithIni.size()));
  EXPECT_EQ("<absent>", Variable(FLASH_INI_SETTINGS_VARIABLE));
  EXPECT_EQ("<absent>", Variable(FLASH_COMMAND_VARIABLE));
  EXPECT_EQ(9u, Retry());
}

TEST_F(ConfigLoaderTest, PayloadIniRecord) {
  struct Case { const char *Name; std::string Ini; bool Result; std::string Console, Trace; UINT32 Retry; } Cases[] = {
      {"empty record", "", false, "Error:\r\nSettings buffer is empty!\r\n",
       "<=== LoadConfigFromCapsule (ini in capsule is empty)", 0},
      {"settings", kImageIni, true, "", "Reference configure from capsule\r\n", 9},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    StartPlatform();
    Bytes Image = vyr::pack::AppendPayload(vyr::pack::BuildStubDriverImage(vyr::pack::Arch::Ia32),
                                           {{vyr::pack::RecordKind::Bios, Bytes(0x40, 0xA5)},
                                            {vyr::pack::RecordKind::Ini, Text(C.Ini)}})
                      .image;
    const CHAR16 *Reason = nullptr;
    ASSERT_TRUE(ScanPayloadImage(Image.data(), Image.size(), &Reason));
    EXPECT_EQ(C.Result, (bool)LoadConfigFromCapsule());
    EXPECT_EQ(C.Console, Console());
    EXPECT_TRUE(Logged(C.Trace));
    EXPECT_EQ(C.Retry, Retry());
    TearDown();
    SetUp();
  }
}

// Chosen: the bytes of the image that replaced the caller's; nullptr: the
// caller's buffer was kept.
TEST_F(ConfigLoaderTest, MultiSkuChoosesTheImageOfThePlatformModel) {
  const Bytes A = SkuImage("ModelA", 0xA1), B = SkuImage("ModelB", 0xB2), C = SkuImage("ModelC", 0xC3);
  const UINT32 Header = 16 + 3 * 8;
  const UINT32 BAt = Header + (UINT32)A.size(), CAt = BAt + (UINT32)B.size();
  const UINT32 End = CAt + (UINT32)C.size();
  struct Case {
    const char *Name;
    std::string Platform;
    Bytes Capsule;
    const Bytes *Chosen;  // nullptr: unchanged
    int ModelFailures;
    std::string Note;
  } Cases[] = {
      {"second matches", "ModelB", MultiSku({A, B, C}, 3), &B, 0, "There are [3] BIOS images in multi-SKU capsule\r\n"},
      {"model names compare case-sensitively", "modelb", MultiSku({A, B, C}, 3), nullptr, 0,
       "There are [3] BIOS images in multi-SKU capsule\r\n"},
      {"no match", "ModelZ", MultiSku({A, B, C}, 3), nullptr, 0, "There are [3] BIOS images in multi-SKU capsule\r\n"},
      {"entries past the image are skipped", "ModelC",
       MultiSku({A, B, C}, 3, {{End + 1, 0x10}, {BAt, End}, {CAt, (UINT32)C.size()}}), &C, 2,
       "Get model name in capsule failed.\r\n"},
      {"offset plus size wraps", "ModelA", MultiSku({A, B, C}, 2, {{0xFFFFFF00u, 0x200}, {Header, 0xFFFFFFFFu}}),
       nullptr, 2, "Get model name in capsule failed.\r\n"},
      {"count larger than fits", "ModelB", MultiSku({A, B, C}, 0xFFFF), &B, 0,
       "There are [65535] BIOS images in multi-SKU capsule\r\n"},
      {"count larger than fits, no match", "ModelZ", MultiSku({A, B, C}, 0x7FFFFFFF), nullptr, -1,
       "There are [2147483647] BIOS images in multi-SKU capsule\r\n"},
      {"no signature", "ModelB", Cat({A, B}), nullptr, 0, "Signature $MULTISC not find\r\n"},
      {"header cut by the end of the image", "ModelB", Cat({A, Text("$MULTISC"), Bytes(7, 3)}), nullptr, 0,
       "Signature $MULTISC not find\r\n"},
  };
  for (const Case &K : Cases) {
    SCOPED_TRACE(K.Name);
    StartPlatform(0x1028, K.Platform);
    // Exact-size pool buffer: a read past it is caught.
    UINT8 *Original = (UINT8 *)AllocateCopyPool(K.Capsule.size(), K.Capsule.data());
    UINT8 *Image = Original;
    UINT32 Size = (UINT32)K.Capsule.size();
    CheckAndSetMultiSkuPackage(&Image, &Size);
    if (K.Chosen == nullptr) {
      EXPECT_EQ(Original, Image);
      EXPECT_EQ(K.Capsule.size(), Size);
      EXPECT_FALSE(Logged("Get matched BIOS in mult-SKU capsule\r\n"));
    } else {
      EXPECT_NE(Original, Image);
      EXPECT_EQ(*K.Chosen, Bytes(Image, Image + Size));
      EXPECT_TRUE(Logged("Get matched BIOS in mult-SKU capsule\r\n"));
    }
    EXPECT_TRUE(Logged(K.Note));
    if (K.ModelFailures >= 0) {
      std::string L = Log();
      int Failures = 0;
      for (size_t At = L.find("Get model name in capsule failed.\r\n"); At != std::string::npos;
           At = L.find("Get model name in capsule failed.\r\n", At + 1)) {
        Failures++;
      }
      EXPECT_EQ(K.ModelFailures, Failures);
    }
    FreePool(Image);
    TearDown();
    SetUp();
  }
}

// A Dell FD file that is a multi-SKU capsule of secure images: the model's
// image gives the configuration. Other vendors take the file as it is, whose
// first INI record belongs to the first image.
TEST_F(ConfigLoaderTest, DellFdFileConfiguredFromTheModelsImage) {
  const std::string IniA = "[Others]\r\nSMIErrorRetry=1\r\n", IniB = "[Others]\r\nSMIErrorRetry=2\r\n";
  auto Sku = [](const std::string &Model, const std::string &Ini) {
    return Cat({SkuImage(Model, 0x5A), SecureImage(&Ini)});
  };
  const Bytes Fd = MultiSku({Sku("ModelA", IniA), Sku("ModelB", IniB)}, 2);
  struct { UINT16 Vendor; UINT32 Retry; } Cases[] = {{0x1028, 2}, {0x1234, 1}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Vendor);
    StartPlatform(C.Vendor, "ModelB");
    WriteBytes("new.fd", Fd);
    CHAR16 FileName[FILE_NAME_CHARS] = u"new.fd";
    EXPECT_TRUE(FuncLoadFileConfig(FileName));
    EXPECT_EQ(C.Retry, Retry());
    EXPECT_EQ(C.Vendor == 0x1028, Logged("Get matched BIOS in mult-SKU capsule\r\n"));
    TearDown();
    SetUp();
  }
}

}  // namespace
