#include "Machine/Variables.h"

#include <gtest/gtest.h>

#include <fstream>

#include "Machine/Machine.h"
#include "TempDir.h"

namespace vyr::emu {
namespace {

using testing::TempDir;

const EFI_GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
const EFI_GUID kOther = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 9}};
constexpr uint32_t kNv = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr uint32_t kVolatile = EFI_VARIABLE_BOOTSERVICE_ACCESS;

TEST(Variables, GetFollowsFirmwareSizeProtocol) {
  VariableStore Store;
  ASSERT_EQ(EFI_SUCCESS, Store.Set(u"FlashCommand", &kGuid, kNv, 6, "-a -b "));
  uintptr_t Size = 0;
  uint32_t Attributes = 0;
  EXPECT_EQ(EFI_BUFFER_TOO_SMALL, Store.Get(u"FlashCommand", &kGuid, &Attributes, &Size, nullptr));
  EXPECT_EQ(6u, Size);
  char Buffer[8] = {};
  Size = sizeof(Buffer);
  EXPECT_EQ(EFI_SUCCESS, Store.Get(u"FlashCommand", &kGuid, &Attributes, &Size, Buffer));
  EXPECT_EQ(std::make_tuple(6u, kNv, std::string("-a -b ")), std::make_tuple(Size, Attributes, std::string(Buffer, 6)));
  EXPECT_EQ(EFI_NOT_FOUND, Store.Get(u"FlashCommand", &kOther, nullptr, &Size, Buffer)) << "the GUID is part of the name";
  EXPECT_EQ(EFI_NOT_FOUND, Store.Get(u"flashcommand", &kGuid, nullptr, &Size, Buffer));
  EXPECT_EQ(EFI_INVALID_PARAMETER, Store.Get(u"FlashCommand", &kGuid, nullptr, nullptr, Buffer));
}

TEST(Variables, SetDeletesRejectsAttributeChangesAndBadArguments) {
  VariableStore Store;
  EXPECT_EQ(EFI_NOT_FOUND, Store.Set(u"X", &kGuid, kNv, 0, nullptr));
  ASSERT_EQ(EFI_SUCCESS, Store.Set(u"X", &kGuid, kNv, 1, "a"));
  EXPECT_EQ(EFI_INVALID_PARAMETER, Store.Set(u"X", &kGuid, kVolatile, 1, "b"));
  EXPECT_EQ(EFI_SUCCESS, Store.Set(u"X", &kGuid, kNv, 2, "bc"));
  EXPECT_EQ(EFI_SUCCESS, Store.Set(u"X", &kGuid, kNv, 0, nullptr));
  uintptr_t Size = 0;
  EXPECT_EQ(EFI_NOT_FOUND, Store.Get(u"X", &kGuid, nullptr, &Size, nullptr));
  EXPECT_EQ(EFI_INVALID_PARAMETER, Store.Set(u"", &kGuid, kNv, 1, "a"));
  EXPECT_EQ(EFI_INVALID_PARAMETER, Store.Set(u"Y", &kGuid, EFI_VARIABLE_RUNTIME_ACCESS, 1, "a"));
  EXPECT_EQ(EFI_INVALID_PARAMETER, Store.Set(u"Y", &kGuid, kNv, 1, nullptr));
}

TEST(Variables, NonVolatileOnesSurviveANewMachineOnTheSameDirectory) {
  TempDir Dir;
  {
    auto M = Machine::OpenDirectory(Dir.Path());
    ASSERT_EQ(EFI_SUCCESS, M->Variables().Set(u"FlashINISettings", &kGuid, kNv, 3, "\x00\x01\xFF"));
    ASSERT_EQ(EFI_SUCCESS, M->Variables().Set(u"Gone", &kGuid, kNv, 1, "g"));
    ASSERT_EQ(EFI_SUCCESS, M->Variables().Set(u"Gone", &kGuid, kNv, 0, nullptr));
    ASSERT_EQ(EFI_SUCCESS, M->Variables().Set(u"Boot", &kOther, kVolatile, 1, "v"));
  }
  EXPECT_TRUE(std::filesystem::exists(Dir / "profile.json"));
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "fs0"));
  auto M = Machine::OpenDirectory(Dir.Path());
  uint8_t Buffer[4] = {};
  uintptr_t Size = sizeof(Buffer);
  ASSERT_EQ(EFI_SUCCESS, M->Variables().Get(u"FlashINISettings", &kGuid, nullptr, &Size, Buffer));
  EXPECT_EQ(std::make_tuple(3u, 0xFF), std::make_tuple(Size, Buffer[2]));
  EXPECT_EQ(EFI_NOT_FOUND, M->Variables().Get(u"Gone", &kGuid, nullptr, &Size, Buffer));
  EXPECT_EQ(EFI_NOT_FOUND, M->Variables().Get(u"Boot", &kOther, nullptr, &Size, Buffer)) << "volatile ones vanish";
}

TEST(Variables, DamagedFileIsReportedNotIgnored) {
  TempDir Dir;
  std::ofstream(Dir / "variables.json") << R"([{"name": "X", "guid": "not-a-guid", "attributes": 7, "data": ""}])";
  EXPECT_THROW(Machine::OpenDirectory(Dir.Path()), std::runtime_error);
}

TEST(Variables, GuidTextRoundTrips) {
  EXPECT_EQ("12345678-9ABC-DEF0-0102-030405060708", GuidToString(kGuid));
  EFI_GUID Back = {};
  ASSERT_TRUE(ParseGuid(GuidToString(kGuid), &Back));
  EXPECT_TRUE(SameGuid(kGuid, Back));
  EXPECT_FALSE(ParseGuid("12345678-9ABC-DEF0-0102-03040506070", &Back));
}

}  // namespace
}  // namespace vyr::emu
