#include "Smi/PlatformQueries.h"

#include <cstdio>
#include <cstring>
#include <functional>

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Base/Trace.h"
#include "Smi/FwsmiTransport.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"

namespace {

using vyr::emu::BiosFaultConfig;
using vyr::emu::PlatformConfig;
using vyr::emu::Profile;
using vyr::testing::UtilityTest;

const char kNotSupported[] =
    "\r\nError: Update failed!\r\nCurrent system cannot support this version of flash utility.\r\n";
const char kStolen[] = "The system is in stolen mode. BIOS update is aborted!\r\n";
const char kProtected[] =
    "The system is currently under Intel(R) Anti-Theft Technology protection.\r\n"
    "Please un-enroll the client (Intel(R) Anti-Theft Service, Computrace LoJack, or\r\n"
    "PC Theft Defense Service) before perform BIOS update.\r\n";
const char kTimer[] =
    "The timer is not enough to program image!\r\nClient must rendezvous server then update image later.\r\n";

class PlatformQueryTest : public UtilityTest {
 protected:
  // A fresh machine whose platform answers Edit has changed, with the SMI set
  // up as start-up does it and the trace going to the log.
  void Start(const std::function<void(PlatformConfig &)> &Edit = nullptr, std::vector<BiosFaultConfig> Faults = {},
             const std::string &OemId = "VYRPC ") {
    ResetModuleState();
    Profile P = Profile::Default();
    if (Edit) Edit(P.Platform);
    P.BiosFaults = std::move(Faults);
    P.Acpi.DsdtOemId = OemId;
    Boot(P);
    InitialIniConfig();
    mIniSettings.Others.SMIErrorRetry = 0;
    mTrace.DebugFlag = 1;
    mTrace.DebugLevel = 4;
    ASSERT_TRUE(AllocateFwsmiBuffers());
    ASSERT_TRUE(InitialSmi());
  }
  UINT32 CallsOf(UINT8 Function) { return M().Bios().CallCount[Function]; }
  std::string Log() { return ReadVolumeFile("VyrFFT-Secure.Log"); }
  // The log from the first line starting with First up to and including the
  // line starting with Last.
  std::string LogBlock(const std::string &First, const std::string &Last) {
    std::string Text = Log();
    size_t Begin = Text.find(First);
    if (Begin == std::string::npos) return "<" + First + " not logged>";
    size_t End = Text.find(Last, Begin);
    if (End == std::string::npos) return "<" + Last + " not logged>";
    return Text.substr(Begin, Text.find("\r\n", End) + 2 - Begin);
  }
  bool Logged(const std::string &Text) { return Log().find(Text) != std::string::npos; }
};

BiosFaultConfig Always(UINT8 Function, UINT8 Status) {
  BiosFaultConfig F;
  F.Function = Function;
  F.Status = Status;
  F.Count = 0;
  return F;
}

// ---- 10h ---------------------------------------------------------------------

TEST_F(PlatformQueryTest, ToolInformationAndPlatformStatusAsTheBiosSeesThem) {
  Start([](PlatformConfig &P) {
    P.InterfaceVersion = 0x1612;
    P.AcPlug = 0;
    P.DcLife = 55;
    P.DcBound = 7;
    P.Help1 = 0x11223344;
    P.Help2 = 0x55667788;
    P.VendorId = 0xABCD;
  });
  ASSERT_TRUE(SMI_IsSupport());

  const EMU_PLATFORM &Bios = M().Bios().Platform;
  ASSERT_TRUE(Bios.ToolInformationSeen);
  const char Tool[] = "$VER\x04\x00" "14b" "$FWSMI" "212";
  EXPECT_EQ(std::string(Tool, 18), std::string((const char *)Bios.ToolInformation, 18));
  const SMI_REGISTERS &In = M().SmiTranscript().back().In;
  EXPECT_EQ(0x10EFu, In.Eax & 0xFFFF);
  EXPECT_EQ(mFwsmi.Buffer[0].Address, In.Edi);
  EXPECT_EQ(0u, In.Esi);
  EXPECT_EQ(0u, In.Ecx);

  // Record bytes 4-16 are output bytes 0-12 in place.
  const UINT8 Expected[] = {0x00, 0x01, 0x12, 0x16, 0, 55, 7, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCD, 0xAB};
  const PLATFORM_STATUS &S = mPlatformQuery.PlatformStatus;
  EXPECT_EQ(0, std::memcmp(Expected, &S, sizeof(Expected)));
  EXPECT_EQ(0x1612, S.InterfaceVersion);
  EXPECT_TRUE(IsVendorId(0xABCD));
  EXPECT_FALSE(IsVendorId(0x1234));
  EXPECT_EQ("", Console());
}

struct DecisionCase {
  UINT8 Permission;
  UINT16 Version;
  bool Result;
  const char *Console;
  const char *Reason;  // FuncIsSupport's exit line
};

TEST_F(PlatformQueryTest, PermissionAndInterfaceVersionDecide) {
  const DecisionCase Cases[] = {
      {1, 0x1503, false, "", "<=== FuncIsSupport (BIOS FWSMI version too old)\r\n"},
      {1, 0x1504, true, "", "<=== FuncIsSupport\r\n"},
      {1, 0x2100, true, "", "<=== FuncIsSupport\r\n"},
      {1, 0x0000, false, "", "<=== FuncIsSupport (BIOS FWSMI version too old)\r\n"},
      {0, 0x1504, false, kNotSupported, "<=== FuncIsSupport (BIOS not support FWSMI)\r\n"},
      {0, 0x1503, false, kNotSupported, "<=== FuncIsSupport (BIOS not support FWSMI)\r\n"},
      {2, 0x1600, false, kNotSupported, "<=== FuncIsSupport (BIOS not support FWSMI)\r\n"},
  };
  for (const DecisionCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << int(Case.Permission) << " " << std::hex << Case.Version);
    Start([&](PlatformConfig &P) {
      P.Permission = Case.Permission;
      P.InterfaceVersion = Case.Version;
    });
    EXPECT_EQ(Case.Result, SMI_IsSupport() != 0);
    EXPECT_EQ(Case.Console, Console());
    EXPECT_TRUE(Logged(Case.Reason));
  }
}

TEST_F(PlatformQueryTest, FailedTenHIsReportedOnlyByItsTrace) {
  Start(nullptr, {Always(0x10, 0x25)});
  EXPECT_FALSE(SMI_IsSupport());
  EXPECT_EQ("", Console());  // 10h has no error-table message
  EXPECT_TRUE(Logged("<=== Fwsmi_10h (BIOS return not success)\r\n"));
  EXPECT_TRUE(Logged("<=== FuncIsSupport (FWSMI 10h failed)\r\n"));
  EXPECT_FALSE(Logged("Platform Information"));
}

TEST_F(PlatformQueryTest, IsSupportAsksTheBiosOnceAlsoAfterAFailure) {
  Start();
  EXPECT_TRUE(SMI_IsSupport());
  EXPECT_TRUE(SMI_IsSupport());
  EXPECT_EQ(1u, CallsOf(0x10));

  Start(nullptr, {Always(0x10, 0x25)});
  EXPECT_FALSE(SMI_IsSupport());
  EXPECT_FALSE(SMI_IsSupport());
  EXPECT_EQ(1u, CallsOf(0x10));

  Start([](PlatformConfig &P) { P.Permission = 0; });
  EXPECT_FALSE(SMI_IsSupport());
  EXPECT_FALSE(SMI_IsSupport());
  EXPECT_EQ(1u, CallsOf(0x10));
  EXPECT_EQ(kNotSupported, Console());  // printed once

  // A reset module asks again.
  ResetModuleState();
  EXPECT_EQ(0, mPlatformQuery.IsSupportCalled);
  EXPECT_EQ(0, mPlatformQuery.PlatformStatus.Permission);
}

struct PowerCase {
  UINT8 AcPlug, DcLife, DcBound;
  UINT8 Expected[4];  // AC plug, DC-life-valid, DC bound, DC life
};

TEST_F(PlatformQueryTest, PowerValuesAndDcLifeValidity) {
  const PowerCase Cases[] = {
      {1, 0, 0, {1, 0, 0, 0}},     {0, 1, 3, {0, 1, 3, 1}},       {1, 100, 0, {1, 1, 0, 100}},
      {1, 101, 0, {1, 0, 0, 101}}, {1, 255, 9, {1, 0, 9, 255}},
  };
  for (const PowerCase &Case : Cases) {
    SCOPED_TRACE(int(Case.DcLife));
    Start([&](PlatformConfig &P) {
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

struct BiosCheckCase {
  bool Present;
  UINT32 Offset, Size;
  UINT8 CheckBvdt;
  UINT8 Skip;
  bool SizeTraced;
};

TEST_F(PlatformQueryTest, BiosCheckCountsOnlyAtOffsetThirteen) {
  const BiosCheckCase Cases[] = {
      {true, 13, 13, 0, 1, true},    {true, 13, 0x40, 0, 1, true}, {true, 13, 12, 0, 0, true},
      {true, 13, 13, 1, 0, true},    {true, 14, 13, 0, 0, false},  {true, 100, 13, 0, 0, false},
      {false, 13, 13, 0, 0, false},
  };
  for (const BiosCheckCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Offset << " size " << Case.Size << " flag " << int(Case.CheckBvdt));
    Start([&](PlatformConfig &P) {
      P.BiosCheck.Present = Case.Present;
      P.BiosCheck.Offset = Case.Offset;
      P.BiosCheck.Size = Case.Size;
      P.BiosCheck.CheckBvdt = Case.CheckBvdt;
    });
    ASSERT_TRUE(SMI_IsSupport());
    EXPECT_EQ(Case.Skip, mPlatformQuery.PlatformStatus.SkipBvdtCheck);
    char Line[64];
    std::snprintf(Line, sizeof(Line), " BIOS Check Structure Size: 0x%X\r\n", Case.Size);
    EXPECT_EQ(Case.SizeTraced, Logged(Line));
    EXPECT_EQ(Case.Skip != 0, Logged("        Signature | $BIOSCHK\r\n"));
  }
}

TEST_F(PlatformQueryTest, PlatformInformationTableInTheLog) {
  Start([](PlatformConfig &P) {
    P.InterfaceVersion = 0x1504;
    P.AcPlug = 1;
    P.DcLife = 87;
    P.DcBound = 2;
    P.Help1 = 0xDEADBEEF;
    P.Help2 = 0x12;
    P.VendorId = 0x1028;
    P.BiosCheck.Present = true;
    P.BiosCheck.Size = 13;
  });
  ASSERT_TRUE(SMI_IsSupport());
  EXPECT_EQ(
      " Platform Information\r\n"
      "       Permission | 1\r\n"
      "      Return Code | 0x00\r\n"
      "    FWSMI Version | 0x1504\r\n"
      "  Skip BVDT Check | 1\r\n"
      "   Command Filter | 0\r\n"
      "          AC Plug | 1\r\n"
      "          DC Life | 87\r\n"
      "         DC Bound | 2\r\n"
      "           Help 1 | 0xDEADBEEF\r\n"
      "           Help 2 | 0x00000012\r\n"
      "        Vendor ID | 0x1028\r\n"
      "        Signature | $BIOSCHK\r\n"
      "      Struct Size | 13\r\n"
      "       Check BVDT | 0\r\n"
      "<=== FuncIsSupport\r\n",
      LogBlock(" Platform Information", "<=== FuncIsSupport"));
  EXPECT_TRUE(Logged("===== Tool Information =====\r\n"));
  EXPECT_TRUE(Logged("===== Platform Status =====\r\n"));
  EXPECT_TRUE(IsVendorId(0x1028));
}

struct FilterCase {
  const char *Name;
  UINT32 Offset, Size;
  std::vector<UINT8> Bitmap;  // what the BIOS is given
  UINT32 Length;
  std::vector<UINT8> Table;   // the 16 bytes the utility keeps
};

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
  const FilterCase Cases[] = {
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
  for (const FilterCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Start([&](PlatformConfig &P) {
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
  }
}

TEST_F(PlatformQueryTest, CommandFilterStructureReplacesRecordBytesThirtyOn) {
  Start([](PlatformConfig &P) {
    P.CommandFilter.Present = true;
    P.CommandFilter.Offset = 300;
    P.CommandFilter.Size = 28;
    P.CommandFilter.Bitmap = Counting(16, 0x40);
  });
  ASSERT_TRUE(SMI_IsSupport());
  std::vector<UINT8> Expected = {'$', 'C', 'M', 'D', 'F', 'I', 'L', 'T', 28, 0, 0, 0};
  std::vector<UINT8> Bitmap = Counting(16, 0x40);
  Expected.insert(Expected.end(), Bitmap.begin(), Bitmap.end());
  const UINT8 *Record = (const UINT8 *)&mPlatformQuery.PlatformStatus;
  EXPECT_EQ(Expected, std::vector<UINT8>(Record + 30, Record + 58));
  EXPECT_EQ(0, mPlatformQuery.PlatformStatus.SkipBvdtCheck);
  EXPECT_EQ(1, Record[59]);

  // Without one the table stays empty and the filter off.
  Start();
  ASSERT_TRUE(SMI_IsSupport());
  EXPECT_EQ(0, IsCommandFilterEnabled());
  EXPECT_EQ(0u, mPlatformQuery.CommandFilter.Length);
  EXPECT_FALSE(GetCommandFilterTable(nullptr));
}

TEST(CommandFilterBits, LengthAndBitmapBoundTheLookUp) {
  COMMAND_FILTER_TABLE Table = {};
  Table.Length = 20;
  std::memset(Table.Bitmap, 0xFF, sizeof(Table.Bitmap));
  EXPECT_TRUE(IsCommandFilterBitSet(&Table, 15, 7));
  EXPECT_FALSE(IsCommandFilterBitSet(&Table, 16, 0));  // past the 16-byte bitmap
  EXPECT_FALSE(IsCommandFilterBitSet(&Table, 0, 8));
  Table.Length = 2;
  EXPECT_TRUE(IsCommandFilterBitSet(&Table, 1, 0));
  EXPECT_FALSE(IsCommandFilterBitSet(&Table, 2, 0));  // past the reported length
}

struct VendorCase {
  UINT16 Reported;
  const char *OemId;
  UINT16 Kept;
  bool Revised;
};

TEST_F(PlatformQueryTest, AcerOemVendorIdIsRevisedOnlyOnAnAcerDsdt) {
  const VendorCase Cases[] = {
      {0x1656, "ACRSYS", 0x1025, true},
      {0x1656, "VYRPC ", 0x1656, false},
      {0x1656, "ACRSYZ", 0x1656, false},
      {0x1025, "VYRPC ", 0x1025, false},
      {0x1028, "ACRSYS", 0x1028, false},
  };
  for (const VendorCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << Case.Reported << " " << Case.OemId);
    Start([&](PlatformConfig &P) { P.VendorId = Case.Reported; }, {}, Case.OemId);
    ASSERT_TRUE(SMI_IsSupport());
    EXPECT_TRUE(IsVendorId(Case.Kept));
    EXPECT_EQ(Case.Kept, UINT16(mPlatformQuery.PlatformStatus.VendorId));
    EXPECT_EQ(Case.Revised, Logged(" Revise Vendor ID from 0x1656 to 0x1025 for OEM\r\n"));
  }
}

// ---- 11h ---------------------------------------------------------------------

std::u16string Wide(const CHAR16 *Text) { return std::u16string(Text); }

TEST_F(PlatformQueryTest, PlatformInformationBuffersAsTheBiosSeesThem) {
  Start([](PlatformConfig &P) {
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
  const SMI_REGISTERS &In = M().SmiTranscript().back().In;
  EXPECT_EQ(0x11EFu, In.Eax & 0xFFFF);
  EXPECT_EQ(mFwsmi.Buffer[0].Address, In.Edi);
  EXPECT_EQ(mFwsmi.Buffer[1].Address, In.Esi);
  EXPECT_EQ(0u, In.Ecx);
  EXPECT_TRUE(Logged("===== Platform Info =====\r\n"));
}

TEST_F(PlatformQueryTest, EmptyNamesBecomeNotAvailable) {
  struct {
    const char *Name, *Version;
    const char16_t *KeptName, *KeptVersion;
  } Cases[] = {
      {"", "V1.0", u"N/A", u"V1.0"},
      {"Box", "", u"Box", u"N/A"},
      {"", "", u"N/A", u"N/A"},
      // A name that fills its 64 bytes is ended by the zero bytes after it.
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "V9", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", u"V9"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Start([&](PlatformConfig &P) {
      P.ModelName = Case.Name;
      P.Version = Case.Version;
    });
    PLATFORM_INFO Info;
    ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
    EXPECT_EQ(Case.KeptName, Wide(Info.ModelName));
    EXPECT_EQ(Case.KeptVersion, Wide(Info.Version));
  }
}

struct SwitchCase {
  UINT8 S;
  UINT32 E;
  BIOS_CONTROL_SWITCHES Expected;  // name, version, display name/version, same, compare, checksum, ALP
};

TEST_F(PlatformQueryTest, ControlSwitchesDecode) {
  const SwitchCase Cases[] = {
      {0x00, 0, {0, 0, 1, 1, 0, 1, 0, 0}},
      {0x40, 0, {0, 0, 1, 1, 0, 0, 0, 0}},
      {0x80, 0, {0, 0, 1, 1, 0, 1, 0, 0}},
      {0x80, 1, {0, 0, 1, 1, 0, 1, 0, 1}},
      {0x80, 0xFFFFFFFE, {0, 0, 1, 1, 0, 1, 0, 0}},
      {0x00, 1, {0, 0, 1, 1, 0, 1, 0, 0}},
      {0x3F, 0, {1, 1, 0, 0, 1, 1, 1, 0}},
      {0x01, 0, {1, 0, 1, 1, 0, 1, 0, 0}},
      {0x0A, 0, {0, 1, 1, 1, 0, 1, 1, 0}},
      {0xFF, 0xFFFFFFFF, {1, 1, 0, 0, 1, 0, 1, 1}},
  };
  for (const SwitchCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(Case.S) << " " << Case.E);
    Start([&](PlatformConfig &P) {
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
}

TEST_F(PlatformQueryTest, ControlSwitchTableInTheLog) {
  Start([](PlatformConfig &P) {
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
  Start([](PlatformConfig &P) { P.ModelName = "Once"; });
  PLATFORM_INFO First, Second;
  ASSERT_TRUE(SMI_GetPlatformInfo(&First));
  ASSERT_TRUE(SMI_GetPlatformInfo(&Second));
  EXPECT_EQ(1u, CallsOf(0x11));
  EXPECT_EQ(0, std::memcmp(&First, &Second, sizeof(First)));

  Start(nullptr, {Always(0x11, 0x24)});
  EXPECT_FALSE(SMI_GetPlatformInfo(&First));
  EXPECT_EQ("", Console());
  EXPECT_TRUE(Logged("<=== Fwsmi_11h (BIOS return not success)\r\n"));
  EXPECT_TRUE(Logged("<=== FuncGetPlatformInfo (FWSMI failed)\r\n"));
  // The later call answers from the record the failed query left: no SMI.
  std::memset(&Second, 0xCC, sizeof(Second));
  EXPECT_TRUE(SMI_GetPlatformInfo(&Second));
  EXPECT_EQ(1u, CallsOf(0x11));
  EXPECT_EQ(std::vector<UINT8>(sizeof(Second), 0), std::vector<UINT8>((UINT8 *)&Second, (UINT8 *)&Second + sizeof(Second)));
}

TEST_F(PlatformQueryTest, ExtendedBufferAllocationFailure) {
  Profile P = Profile::Default();
  vyr::emu::AllocFaultConfig Fail;
  Fail.Size = EXTENDED_BUFFER_SIZE;
  P.PoolFaults = {Fail};
  Boot(P);
  InitialIniConfig();
  mTrace.DebugFlag = 1;
  mTrace.DebugLevel = 4;
  ASSERT_TRUE(AllocateFwsmiBuffers());
  ASSERT_TRUE(InitialSmi());
  PLATFORM_INFO Info;
  EXPECT_FALSE(SMI_GetPlatformInfo(&Info));
  EXPECT_EQ(0u, CallsOf(0x11));
  EXPECT_TRUE(Logged("<=== FuncGetPlatformInfo (Allocate Memory Fail)\r\n"));
}

// ---- 1Ch ---------------------------------------------------------------------

struct AntiTheftCase {
  UINT8 T;
  bool Result;
  UINT8 Present;
  const char *Console;
};

TEST_F(PlatformQueryTest, AntiTheftStatusDecidesWithItsMessages) {
  const AntiTheftCase Cases[] = {
      {0x00, true, 0, ""},      {0x80, true, 1, ""},        {0x81, false, 0, kStolen},
      {0x83, false, 0, kProtected}, {0xC3, false, 0, kTimer}, {0xC7, true, 1, ""},
      {0x01, true, 0, ""},      {0x85, false, 0, kStolen},  {0x87, false, 0, kProtected},
  };
  for (const AntiTheftCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(Case.T));
    Start([&](PlatformConfig &P) { P.AntiTheft = Case.T; });
    EXPECT_EQ(Case.Result, SMI_CheckATpStatus() != 0);
    EXPECT_EQ(Case.Present, IsAntiTheftPresent());
    EXPECT_EQ(Case.Console, Console());
    EXPECT_EQ(!Case.Result, Logged("<=== FuncCheckATpStatus (AT is enrolled, not allow flash.)\r\n"));
    const SMI_REGISTERS &In = M().SmiTranscript().back().In;
    EXPECT_EQ(0x1CEFu, In.Eax & 0xFFFF);
    EXPECT_EQ(0u, In.Ecx | In.Esi | In.Edi);
  }
}

TEST_F(PlatformQueryTest, FailedAntiTheftCallReportsKeepsItsFlagsAndIsNotRepeated) {
  BiosFaultConfig Fault = Always(0x1C, 0xEF);
  Fault.Ecx = 0x81;  // T left in CL by the failing handler
  Start(nullptr, {Fault});
  EXPECT_FALSE(SMI_CheckATpStatus());
  EXPECT_EQ("\r\n\r\nError: FWSMI 1Ch failed.\r\nInternal Error Code 0xEF.\r\nFunction not supported.\r\n", Console());
  EXPECT_TRUE(Logged("<=== FuncCheckATpStatus (FWSMI 1Ch failed)\r\n"));
  EXPECT_EQ(0xEF, mPlatformQuery.AntiTheft.ReturnCode);
  EXPECT_EQ(1, mPlatformQuery.AntiTheft.Supported);
  EXPECT_EQ(1, mPlatformQuery.AntiTheft.Enrolled);
  EXPECT_EQ(1, mPlatformQuery.AntiTheft.Stolen);
  EXPECT_EQ(0, IsAntiTheftPresent());
  EXPECT_FALSE(SMI_CheckATpStatus());
  EXPECT_EQ(1u, CallsOf(0x1C));

  Start([](PlatformConfig &P) { P.AntiTheft = 0x81; });
  EXPECT_FALSE(SMI_CheckATpStatus());
  EXPECT_FALSE(SMI_CheckATpStatus());
  EXPECT_EQ(1u, CallsOf(0x1C));
  EXPECT_EQ(kStolen, Console());  // printed once
}

TEST_F(PlatformQueryTest, ResetReturnsEveryQueryToItsLoadState) {
  Start([](PlatformConfig &P) {
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
