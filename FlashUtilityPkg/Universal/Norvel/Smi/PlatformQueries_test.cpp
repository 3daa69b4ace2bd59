#include "Smi/PlatformQueries.h"

#include <cstdio>
#include <cstring>

#include "UtilityFixture.h"

namespace {

using vyr::emu::PlatformConfig;
using vyr::emu::Profile;
using vyr::testing::FlashTest;

const char kNotSupported[] =
    "\r\nError: Update failed!\r\nCurrent system cannot support this version of flash utility.\r\n";
const char kStolen[] = "The system is in stolen mode. BIOS update is aborted!\r\n";
const char kProtected[] =
    "The system is currently under Intel(R) Anti-Theft Technology protection.\r\n"
    "Please un-enroll the client (Intel(R) Anti-Theft Service, Computrace LoJack, or\r\n"
    "PC Theft Defense Service) before perform BIOS update.\r\n";
const char kTimer[] =
    "The timer is not enough to program image!\r\nClient must rendezvous server then update image later.\r\n";

class PlatformQueryTest : public FlashTest {
 protected:
  // FlashTest's start on a machine whose platform answers Edit has changed.
  void StartPlatform(const std::function<void(PlatformConfig &)> &Edit) {
    Start([&](Profile &P) { Edit(P.Platform); });
  }
  const SMI_REGISTERS &LastIn() { return M().SmiTranscript().back().In; }
};

// ---- 10h ---------------------------------------------------------------------

TEST_F(PlatformQueryTest, ToolInformationAndPlatformStatusAsTheBiosSeesThem) {
  StartPlatform([](PlatformConfig &P) {
    P.InterfaceVersion = 0x1612;
    P.AcPlug = 1;
    P.DcLife = 87;
    P.DcBound = 2;
    P.Help1 = 0xDEADBEEF;
    P.Help2 = 0x55667788;
    P.VendorId = 0x1028;
    P.BiosCheck.Present = true;
    P.BiosCheck.Size = 13;
  });
  ASSERT_TRUE(SMI_IsSupport());
  const EMU_PLATFORM &Bios = M().Bios().Platform;
  ASSERT_TRUE(Bios.ToolInformationSeen);
  EXPECT_EQ(std::string("$VER\x04\x00" "14b" "$FWSMI" "212", 18), std::string((const char *)Bios.ToolInformation, 18));
  EXPECT_EQ(0x10EFu, LastIn().Eax & 0xFFFF);
  EXPECT_EQ(mFwsmi.Buffer[0].Address, LastIn().Edi);
  EXPECT_EQ(0u, LastIn().Esi | LastIn().Ecx);

  // Record bytes 4-16 are output bytes 0-12 in place.
  const UINT8 Expected[] = {0x00, 0x01, 0x12, 0x16, 1, 87, 2, 0xEF, 0xBE, 0xAD, 0xDE, 0x88, 0x77, 0x66, 0x55, 0x28, 0x10};
  EXPECT_EQ(0, std::memcmp(Expected, &mPlatformQuery.PlatformStatus, sizeof(Expected)));
  EXPECT_TRUE(IsVendorId(0x1028));
  EXPECT_FALSE(IsVendorId(0x1234));
  EXPECT_EQ("", Console());
  EXPECT_EQ(
      " Platform Information\r\n"
      "       Permission | 1\r\n"
      "      Return Code | 0x00\r\n"
      "    FWSMI Version | 0x1612\r\n"
      "  Skip BVDT Check | 1\r\n"
      "   Command Filter | 0\r\n"
      "          AC Plug | 1\r\n"
      "          DC Life | 87\r\n"
      "         DC Bound | 2\r\n"
      "           Help 1 | 0xDEADBEEF\r\n"
      "           Help 2 | 0x55667788\r\n"
      "        Vendor ID | 0x1028\r\n"
      "        Signature | $BIOSCHK\r\n"
      "      Struct Size | 13\r\n"
      "       Check BVDT | 0\r\n"
      "<=== FuncIsSupport\r\n",
      LogBlock(" Platform Information", "<=== FuncIsSupport"));
  EXPECT_TRUE(Logged("===== Tool Information =====\r\n"));
  EXPECT_TRUE(Logged("===== Platform Status =====\r\n"));
}

TEST_F(PlatformQueryTest, PermissionVersionAndA10hFailureDecideOnce) {
  const struct {
    UINT8 Permission;
    UINT16 Version;
    bool Failing10h, Result;
    const char *Console;  // printed once
    const char *Reason;   // FuncIsSupport's exit line
  } Cases[] = {
      {1, 0x1503, false, false, "", " (BIOS FWSMI version too old)"}, {1, 0x1504, false, true, "", ""},
      {1, 0x2100, false, true, "", ""}, {1, 0x0000, false, false, "", " (BIOS FWSMI version too old)"},
      {0, 0x1504, false, false, kNotSupported, " (BIOS not support FWSMI)"},
      {0, 0x1503, false, false, kNotSupported, " (BIOS not support FWSMI)"},
      {2, 0x1600, false, false, kNotSupported, " (BIOS not support FWSMI)"},
      {1, 0x1504, true, false, "", " (FWSMI 10h failed)"},  // 10h has no error-table message
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << int(Case.Permission) << " " << std::hex << Case.Version << " " << Case.Failing10h);
    Start([&](Profile &P) {
      P.Platform.Permission = Case.Permission;
      P.Platform.InterfaceVersion = Case.Version;
      if (Case.Failing10h) P.BiosFaults = {{0x10, 0x25, 1, 0}};
    });
    EXPECT_EQ(Case.Result, SMI_IsSupport() != 0);
    EXPECT_EQ(Case.Result, SMI_IsSupport() != 0);  // answered from the first verdict
    EXPECT_EQ(1u, CallsOf(0x10));
    EXPECT_EQ(Case.Console, Console());
    EXPECT_TRUE(Logged(std::string("<=== FuncIsSupport") + Case.Reason + "\r\n"));
    EXPECT_EQ(Case.Failing10h, Logged("<=== Fwsmi_10h (BIOS return not success)\r\n"));
    EXPECT_EQ(!Case.Failing10h, Logged(" Platform Information"));
  }
}

TEST_F(PlatformQueryTest, PowerValuesAndDcLifeValidity) {
  const struct {
    UINT8 AcPlug, DcLife, DcBound;
    UINT8 Expected[4];  // AC plug, DC-life-valid, DC bound, DC life
  } Cases[] = {
      {1, 0, 0, {1, 0, 0, 0}},     {0, 1, 3, {0, 1, 3, 1}}, {1, 100, 0, {1, 1, 0, 100}},
      {1, 101, 0, {1, 0, 0, 101}}, {1, 255, 9, {1, 0, 9, 255}},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(int(Case.DcLife));
    StartPlatform([&](PlatformConfig &P) {
      P.AcPlug = Case.AcPlug;
      P.DcLife = Case.DcLife;
      P.DcBound = Case.DcBound;
    });
    ASSERT_TRUE(SMI_IsSupport());
    UINT8 Power[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    ASSERT_TRUE(GetPowerStatus(Power));
    EXPECT_EQ(0, std::memcmp(Case.Expected, Power, 4));
  }
  EXPECT_FALSE(GetPowerStatus(nullptr));
  EXPECT_TRUE(Logged("<=== GetPowerStatus (Input buffer is NULL)\r\n"));
}

TEST_F(PlatformQueryTest, BiosCheckCountsOnlyAtOffsetThirteen) {
  const struct { bool Present; UINT32 Offset, Size; UINT8 CheckBvdt, Skip; bool SizeTraced; } Cases[] = {
      {true, 13, 13, 0, 1, true}, {true, 13, 0x40, 0, 1, true}, {true, 13, 12, 0, 0, true},
      {true, 13, 13, 1, 0, true}, {true, 14, 13, 0, 0, false},  {true, 100, 13, 0, 0, false},
      {false, 13, 13, 0, 0, false},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Offset << " size " << Case.Size << " flag " << int(Case.CheckBvdt));
    StartPlatform([&](PlatformConfig &P) {
      P.BiosCheck = {Case.Present, Case.Offset, Case.Size, Case.CheckBvdt};
    });
    ASSERT_TRUE(SMI_IsSupport());
    EXPECT_EQ(Case.Skip, mPlatformQuery.PlatformStatus.SkipBvdtCheck);
    char Line[64];
    std::snprintf(Line, sizeof(Line), " BIOS Check Structure Size: 0x%X\r\n", Case.Size);
    EXPECT_EQ(Case.SizeTraced, Logged(Line));
    EXPECT_EQ(Case.Skip != 0, Logged("        Signature | $BIOSCHK\r\n"));
  }
}

std::vector<UINT8> Counting(size_t N, UINT8 First = 1) {
  std::vector<UINT8> Out(N);
  for (size_t I = 0; I < N; I++) Out[I] = UINT8(First + I);
  return Out;
}

std::vector<UINT8> Padded(std::vector<UINT8> Bytes) {
  Bytes.resize(16, 0);
  return Bytes;
}

TEST_F(PlatformQueryTest, CommandFilterLengthAndBitmapStayInsideTheirBounds) {
  const struct {
    const char *Name;
    UINT32 Offset, Size;
    std::vector<UINT8> Bitmap;  // what the BIOS is given
    UINT32 Length;
    std::vector<UINT8> Table;   // the 16 bytes the utility keeps
  } Cases[] = {
      {"header only", 64, 12, {0xFF, 0xFF}, 0, Padded({})},
      {"two bytes", 64, 14, {0xA5, 0x5A, 0xFF}, 2, Padded({0xA5, 0x5A})},
      {"full table", 200, 28, Counting(16), 16, Counting(16)},
      {"oversized", 64, 40, Counting(28), 28, Counting(16)},
      {"huge size", 64, 0xFFFFFFFF, Counting(16), 0xFFFFFFF3, Counting(16)},
      {"undersized", 64, 8, Counting(4), 0, Padded({})},
      {"size zero", 64, 0, {}, 0, Padded({})},
      {"cut by the output end", 1010, 28, Counting(16, 0x11), 16, Padded({0x11, 0x12})},
      // Only the size's low two bytes lie inside the output: 0x001C is read.
      {"size cut by the output end", 1014, 0xFFFF001C, Counting(16), 16, Padded({})},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartPlatform([&](PlatformConfig &P) {
      P.CommandFilter.Present = true;
      P.CommandFilter.Offset = Case.Offset;
      P.CommandFilter.Size = Case.Size;
      P.CommandFilter.Bitmap = Case.Bitmap;
    });
    ASSERT_TRUE(SMI_IsSupport());
    EXPECT_EQ(1, IsCommandFilterEnabled());
    EXPECT_EQ(1, mPlatformQuery.PlatformStatus.CommandFilterPresent);
    COMMAND_FILTER_TABLE Table;
    std::memset(&Table, 0xCC, sizeof(Table));
    ASSERT_TRUE(GetCommandFilterTable(&Table));
    EXPECT_EQ(Case.Length, Table.Length);
    EXPECT_EQ(Case.Table, std::vector<UINT8>(Table.Bitmap, Table.Bitmap + 16));
    EXPECT_TRUE(Logged("===== Command Filter Table =====\r\n"));
    if (Case.Offset != 200) continue;
    // The structure replaces record bytes 30 on.
    std::vector<UINT8> Record = {'$', 'C', 'M', 'D', 'F', 'I', 'L', 'T', 28, 0, 0, 0};
    Record.insert(Record.end(), Case.Bitmap.begin(), Case.Bitmap.end());
    const UINT8 *Status = (const UINT8 *)&mPlatformQuery.PlatformStatus;
    EXPECT_EQ(Record, std::vector<UINT8>(Status + 30, Status + 58));
    EXPECT_EQ(0, Status[58]);  // no BVDT check skip
    EXPECT_EQ(1, Status[59]);
  }
  // Without one the table stays empty and the filter off.
  Start();
  ASSERT_TRUE(SMI_IsSupport());
  EXPECT_EQ(0, IsCommandFilterEnabled());
  EXPECT_EQ(0u, mPlatformQuery.CommandFilter.Length);
  EXPECT_FALSE(GetCommandFilterTable(nullptr));
}

TEST_F(PlatformQueryTest, AcerOemVendorIdIsRevisedOnlyOnAnAcerDsdt) {
  const struct { UINT16 Reported; const char *OemId; UINT16 Kept; } Cases[] = {
      {0x1656, "ACRSYS", 0x1025}, {0x1656, "VYRPC ", 0x1656}, {0x1656, "ACRSYZ", 0x1656},
      {0x1025, "VYRPC ", 0x1025}, {0x1028, "ACRSYS", 0x1028},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << Case.Reported << " " << Case.OemId);
    Start([&](Profile &P) {
      P.Platform.VendorId = Case.Reported;
      P.Acpi.DsdtOemId = Case.OemId;
    });
    ASSERT_TRUE(SMI_IsSupport());
    EXPECT_TRUE(IsVendorId(Case.Kept));
    EXPECT_EQ(Case.Kept, UINT16(mPlatformQuery.PlatformStatus.VendorId));
    EXPECT_EQ(Case.Kept != Case.Reported, Logged(" Revise Vendor ID from 0x1656 to 0x1025 for OEM\r\n"));
  }
}

// ---- 11h ---------------------------------------------------------------------

std::u16string Wide(const CHAR16 *Text) { return std::u16string(Text); }

TEST_F(PlatformQueryTest, PlatformInformationBuffersAsTheBiosSeesThem) {
  StartPlatform([](PlatformConfig &P) {
    P.ModelName = "Vyr Model 14";
    P.Version = "V2.31 (build 7)";
  });
  PLATFORM_INFO Info;
  std::memset(&Info, 0xCC, sizeof(Info));
  ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
  EXPECT_EQ(u"Vyr Model 14", Wide(Info.ModelName));
  EXPECT_EQ(u"V2.31 (build 7)", Wide(Info.Version));
  EXPECT_EQ(0, std::memcmp(&Info, &mPlatformQuery.PlatformInfo, sizeof(Info)));
  // Everything outside the two strings is zero.
  const UINT8 *Bytes = (const UINT8 *)&Info;
  EXPECT_EQ(std::vector<UINT8>(448, 0), std::vector<UINT8>(Bytes + 64, Bytes + 512));
  EXPECT_EQ(std::vector<UINT8>(256, 0), std::vector<UINT8>(Bytes + 768, Bytes + 1024));

  const EMU_PLATFORM &Bios = M().Bios().Platform;
  ASSERT_TRUE(Bios.ExtendedHeaderSeen);
  EXPECT_EQ(std::string("$BUFFER_\x00\x10\x00\x00", 12), std::string((const char *)Bios.ExtendedHeader, 12));
  EXPECT_EQ(0x11EFu, LastIn().Eax & 0xFFFF);
  EXPECT_EQ(mFwsmi.Buffer[0].Address, LastIn().Edi);
  EXPECT_EQ(mFwsmi.Buffer[1].Address, LastIn().Esi);
  EXPECT_EQ(0u, LastIn().Ecx);
  EXPECT_TRUE(Logged("===== Platform Info =====\r\n"));
}

TEST_F(PlatformQueryTest, EmptyNamesBecomeNotAvailable) {
  const struct { const char *Name, *Version; const char16_t *KeptName, *KeptVersion; } Cases[] = {
      {"", "V1.0", u"N/A", u"V1.0"},
      {"Box", "", u"Box", u"N/A"},
      {"", "", u"N/A", u"N/A"},
      // A name that fills its 64 bytes is ended by the zero bytes after it.
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "V9", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", u"V9"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartPlatform([&](PlatformConfig &P) {
      P.ModelName = Case.Name;
      P.Version = Case.Version;
    });
    PLATFORM_INFO Info;
    ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
    EXPECT_EQ(Case.KeptName, Wide(Info.ModelName));
    EXPECT_EQ(Case.KeptVersion, Wide(Info.Version));
  }
}

TEST_F(PlatformQueryTest, ControlSwitchesDecode) {
  const struct {
    UINT8 S;
    UINT32 E;
    BIOS_CONTROL_SWITCHES Expected;  // name, version, display name/version, same, compare, checksum, ALP
  } Cases[] = {
      {0x00, 0, {0, 0, 1, 1, 0, 1, 0, 0}},          {0x40, 0, {0, 0, 1, 1, 0, 0, 0, 0}},
      {0x80, 1, {0, 0, 1, 1, 0, 1, 0, 1}},          {0x80, 0xFFFFFFFE, {0, 0, 1, 1, 0, 1, 0, 0}},
      {0x00, 1, {0, 0, 1, 1, 0, 1, 0, 0}},          {0x3F, 0, {1, 1, 0, 0, 1, 1, 1, 0}},
      {0x01, 0, {1, 0, 1, 1, 0, 1, 0, 0}},          {0x0A, 0, {0, 1, 1, 1, 0, 1, 1, 0}},
      {0xFF, 0xFFFFFFFF, {1, 1, 0, 0, 1, 0, 1, 1}},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(Case.S) << " " << Case.E);
    StartPlatform([&](PlatformConfig &P) {
      P.Switches = Case.S;
      P.ExtendedSwitches = Case.E;
    });
    PLATFORM_INFO Info;
    ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
    BIOS_CONTROL_SWITCHES Switches;
    ASSERT_TRUE(GetBiosControlSwitches(&Switches));
    EXPECT_EQ(0, std::memcmp(&Case.Expected, &Switches, sizeof(Switches)));
    EXPECT_EQ(Case.Expected.AllowAlpCommand, IsAllowAlpCommand());
    EXPECT_EQ(Case.Expected.CompareBeforeWrite == 0, IsCompareBeforeWriteOff() != 0);
  }
  StartPlatform([](PlatformConfig &P) {
    P.Switches = 0xC5;
    P.ExtendedSwitches = 0x80000001;
  });
  PLATFORM_INFO Info;
  ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
  EXPECT_TRUE(Logged("BIOS switch: 0xC5\r\nExtend switch: 0x80000001\r\n"));
  EXPECT_EQ(
      " (11h) BIOS control switch setting\r\n"
      "---------------------------+-------\r\n"
      "          Check Model Name | 1\r\n"
      "       Check Model Version | 0\r\n"
      " Allow Same Version Update | 1\r\n"
      "      Verify File Checksum | 0\r\n"
      "        Display Model Name | 1\r\n"
      "     Display Model Version | 1\r\n"
      "      Compare Before Write | 0\r\n"
      "         Allow ALP Command | 1\r\n"
      "<=== Process11hOutputData\r\n",
      LogBlock(" (11h) BIOS control switch setting", "<=== Process11hOutputData"));
}

TEST_F(PlatformQueryTest, PlatformInfoIsAskedOnceAlsoAfterAFailure) {
  StartPlatform([](PlatformConfig &P) { P.ModelName = "Once"; });
  PLATFORM_INFO First, Second;
  ASSERT_TRUE(SMI_GetPlatformInfo(&First));
  ASSERT_TRUE(SMI_GetPlatformInfo(&Second));
  EXPECT_EQ(1u, CallsOf(0x11));
  EXPECT_EQ(0, std::memcmp(&First, &Second, sizeof(First)));

  Start([](Profile &P) { P.BiosFaults = {{0x11, 0x24, 1, 0}}; });
  EXPECT_FALSE(SMI_GetPlatformInfo(&First));
  EXPECT_EQ("", Console());
  EXPECT_TRUE(Logged("<=== Fwsmi_11h (BIOS return not success)\r\n"));
  EXPECT_TRUE(Logged("<=== FuncGetPlatformInfo (FWSMI failed)\r\n"));
  // The later call answers from the record the failed query left: no SMI.
  std::memset(&Second, 0xCC, sizeof(Second));
  EXPECT_TRUE(SMI_GetPlatformInfo(&Second));
  EXPECT_EQ(1u, CallsOf(0x11));
  EXPECT_EQ(std::vector<UINT8>(sizeof(Second), 0), std::vector<UINT8>((UINT8 *)&Second, (UINT8 *)&Second + sizeof(Second)));

  Start([](Profile &P) { P.PoolFaults = {{1, 1, EXTENDED_BUFFER_SIZE}}; });
  EXPECT_FALSE(SMI_GetPlatformInfo(&First));
  EXPECT_EQ(0u, CallsOf(0x11));
  EXPECT_TRUE(Logged("<=== FuncGetPlatformInfo (Allocate Memory Fail)\r\n"));
}

// ---- 1Ch ---------------------------------------------------------------------

TEST_F(PlatformQueryTest, AntiTheftStatusDecidesWithItsMessages) {
  const struct { UINT8 T; bool Result; UINT8 Present; const char *Console; } Cases[] = {
      {0x00, true, 0, ""},          {0x80, true, 1, ""},      {0x81, false, 0, kStolen},
      {0x83, false, 0, kProtected}, {0xC3, false, 0, kTimer}, {0xC7, true, 1, ""},
      {0x01, true, 0, ""},          {0x85, false, 0, kStolen}, {0x87, false, 0, kProtected},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(Case.T));
    StartPlatform([&](PlatformConfig &P) { P.AntiTheft = Case.T; });
    EXPECT_EQ(Case.Result, SMI_CheckATpStatus() != 0);
    EXPECT_EQ(Case.Result, SMI_CheckATpStatus() != 0);
    EXPECT_EQ(1u, CallsOf(0x1C));
    EXPECT_EQ(Case.Present, IsAntiTheftPresent());
    EXPECT_EQ(Case.Console, Console());  // printed once
    EXPECT_EQ(!Case.Result, Logged("<=== FuncCheckATpStatus (AT is enrolled, not allow flash.)\r\n"));
    EXPECT_EQ(0x1CEFu, LastIn().Eax & 0xFFFF);
    EXPECT_EQ(0u, LastIn().Ecx | LastIn().Esi | LastIn().Edi);
  }
}

TEST_F(PlatformQueryTest, FailedAntiTheftCallReportsKeepsItsFlagsAndIsNotRepeated) {
  Start([](Profile &P) { P.BiosFaults = {{0x1C, 0xEF, 1, 0, {}, 0x81}}; });  // T left in CL
  EXPECT_FALSE(SMI_CheckATpStatus());
  EXPECT_EQ("\r\n\r\nError: FWSMI 1Ch failed.\r\nInternal Error Code 0xEF.\r\nFunction not supported.\r\n", Console());
  EXPECT_TRUE(Logged("<=== FuncCheckATpStatus (FWSMI 1Ch failed)\r\n"));
  const auto &A = mPlatformQuery.AntiTheft;
  EXPECT_EQ(0xEF, A.ReturnCode);
  EXPECT_EQ(1, A.Supported & A.Enrolled & A.Stolen);
  EXPECT_EQ(0, IsAntiTheftPresent());
  EXPECT_FALSE(SMI_CheckATpStatus());
  EXPECT_EQ(1u, CallsOf(0x1C));
}

TEST_F(PlatformQueryTest, ResetReturnsEveryQueryToItsLoadState) {
  StartPlatform([](PlatformConfig &P) {
    P.AntiTheft = 0x80;
    P.CommandFilter.Present = true;
    P.CommandFilter.Bitmap = {0xFF};
    P.VendorId = 0x1028;
  });
  PLATFORM_INFO Info;
  ASSERT_TRUE(SMI_IsSupport());
  ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
  ASSERT_TRUE(SMI_CheckATpStatus());
  PlatformQueryResetState();
  PLATFORM_QUERY_STATE Zero;
  std::memset(&Zero, 0, sizeof(Zero));
  EXPECT_EQ(0, std::memcmp(&Zero, &mPlatformQuery, sizeof(Zero)));
  // And the next run asks the BIOS again.
  ASSERT_TRUE(SMI_IsSupport());
  ASSERT_TRUE(SMI_CheckATpStatus());
  EXPECT_EQ(2u, CallsOf(0x10));
  EXPECT_EQ(2u, CallsOf(0x1C));
}

}  // namespace
