#include "Machine/Profile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"

namespace vyr::emu {
namespace {

using nlohmann::json;
using std::make_tuple;

std::string ErrorOf(const std::string &Text) {
  try {
    Profile::FromJson(json::parse(Text), "m/profile.json");
  } catch (const ProfileError &Error) {
    return Error.what();
  }
  return "";
}

// The profile read back from its own JSON is the same profile.
void ExpectRoundTrip(const Profile &P) { EXPECT_EQ(P.ToJson(), Profile::FromJson(P.ToJson()).ToJson()); }

TEST(Profile, TyposAndBadValuesAreErrorsThatNameTheField) {
  const std::string Long(200, 'A');
  const struct {
    std::string Json;
    const char *Message;
  } Cases[] = {
      {R"({"nmae": "x"})", "m/profile.json: unknown key \"nmae\" in profile"},
      {R"({"acpi": {"smiCMD": 178}})", "unknown key \"smiCMD\" in profile.acpi"},
      {R"({"volumes": [{"name": "a", "knd": "usb"}]})", "unknown key \"knd\" in profile.volumes[0]"},
      {R"({"volumes": [{"name": "a", "kind": "floppy"}]})", "profile.volumes[0].kind must be one of"},
      {R"({"volumes": [{"name": "a"}, {"name": "a"}]})", "profile.volumes[1].name must be present and unique"},
      {R"({"acpi": {"smiCmd": "0x1FFFFFFFF"}})", "profile.acpi.smiCmd is out of range"},
      {R"({"acpi": {"smiCmd": "B2"}})", "profile.acpi.smiCmd is not a number"},
      {R"({"acpi": {"smiCmd": -1}})", "profile.acpi.smiCmd must be a non-negative number"},
      {R"({"acpi": {"rsdp": ["3.0"]}})", "profile.acpi.rsdp entries must be"},
      {R"({"acpi": {"dsdtOemId": "TOOLONGID"}})", "dsdtOemId must be at most 6 characters"},
      {R"({"fsegment": {"signatureAddress": "0xFFFFA"}})", "signatureAddress must leave"},
      {R"({"fsegment": {"signatureAddress": "0xDFFF0"}})", "signatureAddress must leave"},
      {R"({"bios": {"faults": [{"function": 21}]}})", "needs \"function\" and \"status\""},
      {R"({"bios": {"mainFunction": 256}})", "profile.bios.mainFunction is out of range"},
      {R"({"bios": {"powerCutAfterWrites": -1}})", "profile.bios.powerCutAfterWrites must be a non-negative"},
      {R"({"pages": {"faults": [{"result": "maybe"}]}})", "result must be \"fail\" or \"zero\""},
      {R"({"clock": {"start": "2026-13-01 00:00:00"}})", "is not a time"},
      {R"({"memory": {"patches": [{"address": 1024, "bytes": "ABC"}]}})", "odd number of hex digits"},
      {R"({"console": {"columns": 0}})", "needs at least one column"},
      {R"([1, 2])", "profile must be an object"},
      {R"({"platform": {"vendorID": 1}})", "unknown key \"vendorID\" in profile.platform"},
      {R"({"platform": {"biosCheck": {"flag": 1}}})", "unknown key \"flag\" in profile.platform.biosCheck"},
      {R"({"platform": {"commandFilter": {"offset": 1017}}})", "profile.platform.commandFilter.offset is out of range"},
      {R"({"platform": {"vendorId": "0x10000"}})", "profile.platform.vendorId is out of range"},
      {R"({"platform": {"modelName": "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456"}})", "modelName must be at most 32"},
      {R"({"checks": {"pasword": "x"}})", "unknown key \"pasword\" in profile.checks"},
      {R"({"checks": {"oemStrings": "OK"}})", "profile.checks.oemStrings must be a list of strings"},
      {R"({"checks": {"oemStrings": [1]}})", "profile.checks.oemStrings must be a list of strings"},
      {R"({"checks": {"oemStrings": ["A\u0000B"]}})", "oemStrings entries must not contain NUL"},
      {R"({"checks": {"oemStrings": [")" + Long + R"(", "123456789012345678901234567890123456789012345678901234"]}})",
       "oemStrings do not fit the 256-byte list"},
      {R"({"checks": {"password": ")" + std::string(256, 'p') + R"("}})", "password must be at most 255 bytes"},
      {R"({"checks": {"ecPartSizes": [1,2,3,4,5,6,7,8,9,10,11]}})", "ecPartSizes has more than 10 parts"},
      {R"({"checks": {"ecPartSizes": [0]}})", "ecPartSizes entries must not be 0"},
      {R"({"checks": {"commonFlash": {"permit": 65536}}})", "profile.checks.commonFlash.permit is out of range"},
      {R"({"checks": {"secureCapsule": {"esp": 1}}})", "profile.checks.secureCapsule.esp must be true or false"},
      {R"({"flash": {"sise": 1}})", "unknown key \"sise\" in profile.flash"},
      {R"({"flash": {"blockMap": [{"size": 4096, "times": 2}]}})", "unknown key \"times\" in profile.flash.blockMap[0]"},
      {R"({"flash": {"size": 0}})", "profile.flash.size must not be 0"},
      {R"({"flash": {"size": "0x10000001"}})", "profile.flash.size is out of range"},
      {R"({"flash": {"blockMap": [{"size": 300, "count": 1}]}})", "blockMap[0].size must be a non-zero multiple of 256"},
      {R"({"flash": {"blockMap": [{"size": "0x1000000", "count": 1}]}})", "blockMap[0].size is out of range"},
      {R"({"flash": {"blockMap": [{"size": 4096, "count": 65536}]}})", "blockMap[0].count is out of range"},
      {R"({"flash": {"vendor": "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456"}})", "profile.flash.vendor must be at most 31 bytes"},
      {R"({"flash": {"lockedRanges": [{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}]}})",
       "profile.flash.lockedRanges has more than 16 entries"},
      {R"({"flash": {"externalRegions": [{"type": 1, "access": 256}]}})", "externalRegions[0].access is out of range"},
      {R"({"flash": {"protectMap": [{"type": 1, "attribute": 1}]}})",
       "unknown key \"attribute\" in profile.flash.protectMap[0]"},
  };
  for (const auto &Case : Cases) {
    const std::string Error = ErrorOf(Case.Json);
    EXPECT_NE(std::string::npos, Error.find(Case.Message)) << Case.Json << " gave: " << Error;
  }
  // 200 + 1 + 53 + 1 + 1 = 256: exactly full is allowed.
  EXPECT_EQ("", ErrorOf(R"({"checks": {"oemStrings": [")" + Long +
                        R"(", "12345678901234567890123456789012345678901234567890123"]}})"));
}

TEST(Profile, FieldsAreReadAndRoundTrip) {
  const Profile P = Profile::FromJson(json::parse(R"({
    "name": "acer-like",
    "acpi": {"rsdp": ["2.0"], "smiCmd": "0x100B2", "dsdtOemId": "ACRSYS",
             "fwsm": {"present": true, "address": "0x0FE00000", "size": "0x30000"}},
    "fsegment": {"signatureAddress": "0xF0000", "mainFunction": "0xD0"},
    "bios": {"mainFunction": "0xD0", "faults": [{"function": "0x15", "status": "0x29", "call": 3, "count": 0, "ah": 1}]},
    "volumes": [{"name": "disk", "kind": "nvme", "dir": "/tmp/x", "readOnly": true}],
    "console": {"columns": 100, "rows": 31},
    "keys": {"script": ["Enter", "y"], "idlePolls": 9},
    "clock": {"start": "2030-01-02 03:04:05", "timerPeriodFs": 1000, "rtcBinary": true},
    "pool": {"faults": [{"call": 2, "size": 64}]},
    "pages": {"faults": [{"result": "zero", "pages": 32}]},
    "pci": [{"bus": 0, "device": 31, "function": 2, "register": "0x80", "value": "0x7007"}],
    "ioPorts": [{"port": "0x80", "value": 5}],
    "memory": {"patches": [{"address": "0x400", "bytes": "DEAD"}]}
  })"));
  EXPECT_EQ("acer-like", P.Name);
  EXPECT_EQ(make_tuple(false, true, 0x100B2u, true, 0x30000u),
            make_tuple(P.Acpi.Rsdp10, P.Acpi.Rsdp20, P.Acpi.SmiCmd, P.Acpi.Fwsm, P.Acpi.FwsmSize));
  EXPECT_EQ(0xF0000u, *P.Fsegment.SignatureAddress);
  EXPECT_EQ(0xD0, P.BiosMainFunction);
  ASSERT_EQ(1u, P.BiosFaults.size());
  const BiosFaultConfig &F = P.BiosFaults[0];
  EXPECT_EQ(make_tuple(0x29, 0u, std::optional<uint8_t>(1), false),
            make_tuple(F.Status, F.Count, F.Ah, F.Ecx.has_value()));
  ASSERT_EQ(1u, P.Volumes.size());
  EXPECT_EQ(VolumeKind::Nvme, P.Volumes[0].Kind);
  EXPECT_TRUE(P.Volumes[0].ReadOnly);
  EXPECT_EQ((std::vector<std::string>{"Enter", "y"}), P.Keys);
  EXPECT_TRUE(P.RtcBinary);
  EXPECT_EQ(64u, *P.PoolFaults[0].Size);
  EXPECT_TRUE(P.PageFaults[0].ZeroAddress);
  EXPECT_EQ(0x7007u, P.Pci[0].Value);
  EXPECT_EQ((std::vector<uint8_t>{0xDE, 0xAD}), P.MemoryPatches[0].Bytes);
  ExpectRoundTrip(P);
}

TEST(Profile, PlatformAnswersAreReadAndRoundTrip) {
  const Profile P = Profile::FromJson(json::parse(R"({"platform": {
    "permission": 0, "interfaceVersion": "0x1503", "acPlug": 0, "dcLife": 101, "dcBound": 2,
    "help1": "0xDEADBEEF", "help2": 7, "vendorId": "0x1656",
    "biosCheck": {"present": true, "offset": 14, "size": 40, "checkBvdt": 1},
    "commandFilter": {"present": true, "offset": "0x200", "size": 12, "bitmap": "FF 01"},
    "modelName": "Vyr 14", "version": "V9.99", "switches": "0x80", "extendedSwitches": 1, "antiTheft": "0xC3"
  }})"));
  const PlatformConfig &Pf = P.Platform;
  EXPECT_EQ(make_tuple(0, 0x1503, 0, 101, 2, 0xDEADBEEFu, 7u, 0x1656),
            make_tuple(Pf.Permission, Pf.InterfaceVersion, Pf.AcPlug, Pf.DcLife, Pf.DcBound, Pf.Help1, Pf.Help2,
                       Pf.VendorId));
  EXPECT_EQ(make_tuple(true, 14u, 40u, 1), make_tuple(Pf.BiosCheck.Present, Pf.BiosCheck.Offset, Pf.BiosCheck.Size,
                                                      Pf.BiosCheck.CheckBvdt));
  EXPECT_EQ(make_tuple(true, 0x200u, 12u, std::vector<uint8_t>{0xFF, 0x01}),
            make_tuple(Pf.CommandFilter.Present, Pf.CommandFilter.Offset, Pf.CommandFilter.Size,
                       Pf.CommandFilter.Bitmap));
  EXPECT_EQ(make_tuple(std::string("Vyr 14"), std::string("V9.99"), 0x80, 1u, 0xC3),
            make_tuple(Pf.ModelName, Pf.Version, Pf.Switches, Pf.ExtendedSwitches, Pf.AntiTheft));
  ExpectRoundTrip(P);
}

TEST(Profile, CheckAnswersAreReadAndRoundTrip) {
  const Profile P = Profile::FromJson(json::parse(R"({"bios": {"powerCutAfterWrites": 12}, "checks": {
    "oemStrings": ["OK", "CUS_X"], "notifyStatus": 1, "skipModelCheckStatus": "0x28", "iniStatus": 2,
    "conditionalData": {"supported": true, "result": 0}, "factoryCopyRestore": {"status": 0, "word": "0x8000"},
    "password": "pa ss", "commonFlash": {"supported": true, "permit": 0, "message": "0x19", "action": 2},
    "secureCapsule": {"supported": true, "esp": true, "status": 0, "action": 3},
    "oemSecure": true, "pfat": true, "ecPartSizes": ["0x10000", 131072]
  }})"));
  const ChecksConfig &C = P.Checks;
  EXPECT_EQ(12u, P.PowerCutAfterWrites);
  EXPECT_EQ((std::vector<std::string>{"OK", "CUS_X"}), C.OemStrings);
  EXPECT_EQ(make_tuple(1, 0x28, 2, true, 0, 0x8000, std::string("pa ss")),
            make_tuple(C.NotifyStatus, C.SkipModelCheckStatus, C.IniStatus, C.ConditionalDataSupported,
                       C.ConditionalDataResult, C.RestoreWord, C.Password));
  EXPECT_EQ(make_tuple(true, 0, 0x19, 2), make_tuple(C.CommonFlash.Supported, C.CommonFlash.Permit,
                                                     C.CommonFlash.Message, C.CommonFlash.Action));
  EXPECT_EQ(make_tuple(true, true, 0, 3, true, true), make_tuple(C.SecureCapsule.Supported, C.SecureCapsule.Esp,
                                                                 C.SecureCapsule.Status, C.SecureCapsule.Action,
                                                                 C.OemSecure, C.Pfat));
  EXPECT_EQ((std::vector<uint32_t>{0x10000, 0x20000}), C.EcPartSizes);
  ExpectRoundTrip(P);
  // An empty list is kept as such: a machine without EC.
  EXPECT_TRUE(Profile::FromJson(json::parse(R"({"checks": {"ecPartSizes": []}})")).Checks.EcPartSizes.empty());
}

// A plain machine: one USB volume, the SMI on port B2h with main function
// EFh and no F-segment signature, the model's platform answers and no checks.
TEST(Profile, DefaultIsAPlainMachineAndSurvivesAFile) {
  const Profile P = Profile::Default();
  ASSERT_EQ(1u, P.Volumes.size());
  EXPECT_EQ(make_tuple(std::string("fs0"), VolumeKind::Usb), make_tuple(P.Volumes[0].Name, P.Volumes[0].Kind));
  EXPECT_EQ(make_tuple(0xB2u, 0xEF, false, false, 0u),
            make_tuple(P.Acpi.SmiCmd, P.BiosMainFunction, P.Fsegment.SignatureAddress.has_value(), P.RtcBinary,
                       P.PowerCutAfterWrites));
  const PlatformConfig &Pf = P.Platform;
  EXPECT_EQ(make_tuple(1, 100, false, false),
            make_tuple(Pf.Permission, Pf.DcLife, Pf.BiosCheck.Present, Pf.CommandFilter.Present));
  EXPECT_GE(Pf.InterfaceVersion, 0x1504);
  const ChecksConfig &C = P.Checks;
  EXPECT_EQ(make_tuple(true, false, false, false, 0, std::vector<uint32_t>{0x20000}),
            make_tuple(C.OemStrings.empty(), C.ConditionalDataSupported, C.CommonFlash.Supported,
                       C.SecureCapsule.Supported, C.SecureCapsule.Status, C.EcPartSizes));

  testing::TempDir Dir;
  P.Save(Dir / "p.json");
  EXPECT_EQ(P.ToJson(), Profile::Load(Dir / "p.json").ToJson());
  std::ofstream(Dir / "bad.json") << "{ not json";
  EXPECT_THROW(Profile::Load(Dir / "bad.json"), ProfileError);
  EXPECT_THROW(Profile::Load(Dir / "missing.json"), ProfileError);
  // An empty volume list is allowed (a machine without file systems).
  EXPECT_TRUE(Profile::FromJson(json::parse(R"({"volumes": []})")).Volumes.empty());
}

}  // namespace
}  // namespace vyr::emu
