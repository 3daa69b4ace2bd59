// The launcher application is built only for the firmware; its pure helpers
// are compiled into the host tests from source.
#include "Launcher/Uefi/LauncherArgs.cpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Utf16Bytes(const std::u16string &Text, bool WithNul) {
  std::vector<uint8_t> Bytes;
  for (char16_t C : Text) {
    Bytes.push_back(static_cast<uint8_t>(C & 0xFF));
    Bytes.push_back(static_cast<uint8_t>(C >> 8));
  }
  if (WithNul) {
    Bytes.push_back(0);
    Bytes.push_back(0);
  }
  return Bytes;
}

// A device path from (type, subtype, payload) nodes plus the end node.
struct Node {
  uint8_t Type;
  uint8_t SubType;
  std::vector<uint8_t> Payload;
};

std::vector<uint8_t> Path(const std::vector<Node> &Nodes) {
  std::vector<uint8_t> Out;
  for (const Node &N : Nodes) {
    size_t Length = 4 + N.Payload.size();
    Out.insert(Out.end(), {N.Type, N.SubType, static_cast<uint8_t>(Length), static_cast<uint8_t>(Length >> 8)});
    Out.insert(Out.end(), N.Payload.begin(), N.Payload.end());
  }
  Out.insert(Out.end(), {0x7F, 0xFF, 4, 0});
  return Out;
}

Node File(const std::u16string &Text) { return {0x04, 0x04, Utf16Bytes(Text, true)}; }
Node Pci() { return {0x01, 0x01, {0x00, 0x1F}}; }

const EFI_DEVICE_PATH_PROTOCOL *AsPath(const std::vector<uint8_t> &Bytes) {
  return reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Bytes.data());
}

TEST(LauncherArgs, LoadOptionsAreACommandLineOnlyWhenTheyAreText) {
  struct Case {
    const char *What;
    std::vector<uint8_t> Options;
    bool IsLine;
    std::u16string Line;
  };
  // A boot manager's auto-created option carries a GUID, not text.
  const std::vector<uint8_t> Guid = {0x4E, 0xAC, 0x08, 0x81, 0x11, 0x9F, 0x59, 0x4D,
                                     0x85, 0x0E, 0xE2, 0x1A, 0x52, 0x2C, 0x59, 0xB2};
  std::vector<uint8_t> Odd = Utf16Bytes(u"A.EFI -dbg", false);
  Odd.push_back('x');
  std::vector<uint8_t> EmbeddedNul = Utf16Bytes(u"A.EFI -dbg", true);
  auto Tail = Utf16Bytes(u"\x01garbage", false);
  EmbeddedNul.insert(EmbeddedNul.end(), Tail.begin(), Tail.end());
  const std::vector<Case> Cases = {
      {"shell command line", Utf16Bytes(u"BOOTX64.EFI -dbg\t-pb", true), true, u"BOOTX64.EFI -dbg\t-pb"},
      {"no terminator", Utf16Bytes(u"A.EFI x", false), true, u"A.EFI x"},
      {"text ends at the first NUL", EmbeddedNul, true, u"A.EFI -dbg"},
      {"GUID of an auto-created boot option", Guid, false, u""},
      {"odd size", Odd, false, u""},
      {"only a NUL", Utf16Bytes(u"", true), false, u""},
      {"control character", Utf16Bytes(u"A.EFI\x07", true), false, u""},
      {"empty", {}, false, u""},
  };
  for (const Case &C : Cases) {
    CHAR16 Line[64] = {u'?'};
    EXPECT_EQ(LoadOptionsToLine(C.Options.data(), static_cast<UINT32>(C.Options.size()), Line, 64), C.IsLine)
        << C.What;
    EXPECT_EQ(std::u16string(Line), C.Line) << C.What;
  }
  // Longer than the line: cut.
  std::vector<uint8_t> Options = Utf16Bytes(u"ABCDEFGH", true);
  CHAR16 Line[5];
  ASSERT_TRUE(LoadOptionsToLine(Options.data(), static_cast<UINT32>(Options.size()), Line, 5));
  EXPECT_EQ(std::u16string(Line), u"ABCD");
}

TEST(LauncherArgs, ArgsFileGivesItsFirstLine) {
  struct Case {
    std::string Data;
    std::u16string Line;
  };
  const std::vector<Case> Cases = {
      {"-dbg\r\n", u"-dbg"},
      {"-dbg -pb\nsecond line\n", u"-dbg -pb"},
      {"\xEF\xBB\xBF-dbg", u"-dbg"},
      {"", u""},
      {"\r\n-dbg", u""},
      {std::string("-a\0-b", 5), u"-a"},
  };
  for (const Case &C : Cases) {
    CHAR16 Line[32];
    ArgsFileToLine(reinterpret_cast<const UINT8 *>(C.Data.data()), C.Data.size(), Line, 32);
    EXPECT_EQ(std::u16string(Line), C.Line) << C.Data;
  }
  CHAR16 Short[4];
  ArgsFileToLine(reinterpret_cast<const UINT8 *>("-dbg"), 4, Short, 4);
  EXPECT_EQ(std::u16string(Short), u"-db");
}

TEST(LauncherArgs, SplitLineIntoWords) {
  struct Case {
    std::u16string Line;
    UINT32 MaxArgs;
    std::vector<std::u16string> Words;
  };
  const std::vector<Case> Cases = {
      {u"BOOTX64.EFI -dbg", 8, {u"BOOTX64.EFI", u"-dbg"}},
      {u"  a \t b   c  ", 8, {u"a", u"b", u"c"}},
      {u"-f \"my bios.fd\" -dbg", 8, {u"-f", u"my bios.fd", u"-dbg"}},
      {u"x\"y z\"w", 8, {u"xy zw"}},
      {u"\"\" a", 8, {u"", u"a"}},
      {u"a b c d", 2, {u"a", u"b"}},
      {u"", 8, {}},
      {u"   ", 8, {}},
  };
  for (const Case &C : Cases) {
    std::u16string Buffer = C.Line;
    CHAR16 *Argv[8] = {};
    UINT32 Count = SplitLine(Buffer.data(), Argv, C.MaxArgs);
    ASSERT_EQ(Count, C.Words.size()) << std::string(C.Line.begin(), C.Line.end());
    for (UINT32 I = 0; I < Count; I++) {
      EXPECT_EQ(std::u16string(Argv[I]), C.Words[I]);
    }
  }
}

TEST(LauncherArgs, DirectoryAndNameOfTheLaunchersFilePath) {
  struct Case {
    const char *What;
    std::vector<uint8_t> FilePath;
    bool Ok;
    std::u16string Directory;
    std::u16string Name;
  };
  const std::vector<Case> Cases = {
      {"boot file", Path({File(u"\\EFI\\BOOT\\BOOTX64.EFI")}), true, u"\\EFI\\BOOT\\", u"BOOTX64.EFI"},
      {"root", Path({File(u"\\Launcher.efi")}), true, u"\\", u"Launcher.efi"},
      {"directory node then file node", Path({File(u"\\EFI\\BOOT"), File(u"BOOTIA32.EFI")}), true, u"\\EFI\\BOOT\\",
       u"BOOTIA32.EFI"},
      {"separators on both sides", Path({File(u"\\Tools\\"), File(u"\\A.efi")}), true, u"\\Tools\\", u"A.efi"},
      {"device nodes are skipped", Path({Pci(), File(u"\\X\\Y.efi")}), true, u"\\X\\", u"Y.efi"},
      {"no file node", Path({Pci()}), false, u"", u""},
  };
  for (const Case &C : Cases) {
    CHAR16 Directory[64] = {};
    CHAR16 Name[64] = {};
    EXPECT_EQ(FilePathDirectory(AsPath(C.FilePath), Directory, 64), C.Ok) << C.What;
    EXPECT_EQ(FilePathName(AsPath(C.FilePath), Name, 64), C.Ok) << C.What;
    if (C.Ok) {
      EXPECT_EQ(std::u16string(Directory), C.Directory) << C.What;
      EXPECT_EQ(std::u16string(Name), C.Name) << C.What;
    }
  }
}

TEST(LauncherArgs, MalformedDevicePathsAreRefused) {
  // A node shorter than its own header would loop for ever.
  std::vector<uint8_t> Short = {0x04, 0x04, 0x02, 0x00, 0x7F, 0xFF, 0x04, 0x00};
  CHAR16 Directory[16];
  EXPECT_FALSE(FilePathDirectory(AsPath(Short), Directory, 16));
  EXPECT_EQ(DevicePathSize(AsPath(Short), 4096), 0u);
  // No end node within the bound.
  std::vector<uint8_t> Endless(64, 0);
  for (size_t I = 0; I < Endless.size(); I += 8) {
    Endless[I] = 0x01;
    Endless[I + 2] = 8;
  }
  EXPECT_EQ(DevicePathSize(AsPath(Endless), Endless.size()), 0u);
  EXPECT_EQ(DevicePathSize(AsPath(Path({Pci(), Pci()})), 4096), 12u);
}

TEST(LauncherArgs, AppendFilePathNodeBuildsTheDriversDevicePath) {
  std::vector<uint8_t> Device = Path({Pci()});
  uint8_t Buffer[128];
  EFI_DEVICE_PATH_PROTOCOL *Result = AppendFilePathNode(AsPath(Device), u"\\EFI\\A.efi", Buffer, sizeof(Buffer));
  ASSERT_NE(Result, nullptr);
  std::vector<uint8_t> Expected = Path({Pci(), File(u"\\EFI\\A.efi")});
  EXPECT_EQ(std::vector<uint8_t>(Buffer, Buffer + Expected.size()), Expected);

  // The file node alone after a device path that is only its end node.
  std::vector<uint8_t> EndOnly = Path({});
  ASSERT_NE(AppendFilePathNode(AsPath(EndOnly), u"B", Buffer, sizeof(Buffer)), nullptr);
  Expected = Path({File(u"B")});
  EXPECT_EQ(std::vector<uint8_t>(Buffer, Buffer + Expected.size()), Expected);

  // Exactly the size needed fits; one byte less does not.
  Expected = Path({Pci(), File(u"\\EFI\\A.efi")});
  EXPECT_NE(AppendFilePathNode(AsPath(Device), u"\\EFI\\A.efi", Buffer, Expected.size()), nullptr);
  EXPECT_EQ(AppendFilePathNode(AsPath(Device), u"\\EFI\\A.efi", Buffer, Expected.size() - 1), nullptr);
}

}  // namespace
