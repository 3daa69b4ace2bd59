// The multi-FD conditions against one machine whose ports, PCI dwords,
// memory and model name are known: which entry is selected, with which
// names, and what the log and the console say on the way.
#include "Image/MultiFd.h"

#include <map>
#include <string>
#include <vector>

#include "FlashFixture.h"

namespace {

using vyr::testing::FlashTest;

class MultiFdTest : public FlashTest {
 protected:
  void SetUp() override {
    FlashTest::SetUp();
    Start([](vyr::emu::Profile &P) {
      P.Platform.ModelName = "Vyr Board A";
      P.IoPorts = {{0xC0, 0x1234FE03}, {0x1F6, 0xE4}, {0x538, 0x0200}};
      P.Pci = {{0, 0x1F, 2, 0x80, 0x00007007}, {0, 0x1F, 0, 0x00, 0x3B098086}, {1, 0, 0, 0x10, 0xFEDC0000}};
      P.MemoryPatches = {{0x20000000, {0x78, 0x56, 0x34, 0x12}}};
    });
  }
  // Only the given entries, then the selection; the console text it printed.
  std::string Select(const std::map<int, std::string> &Entries, bool *Result) {
    for (auto &Entry : mIniSettings.MULTI_FD.Fd) Entry[0] = 0;
    for (const auto &[Index, Text] : Entries)
      AsciiStrCpyS(mIniSettings.MULTI_FD.Fd[Index], INI_TEXT_SIZE, Text.c_str());
    std::error_code Ignored;
    std::filesystem::remove(VolumePath("VyrFFT-Secure.Log"), Ignored);
    const size_t Before = Console().size();
    *Result = SelectMultiFd();
    return Console().substr(Before);
  }
  static std::string FdName() {
    CHAR16 Name[MULTI_FD_NAME_CHARS + 1];
    GetMultiFdFileName(Name, ARRAY_SIZE(Name));
    return std::string(Name, Name + StrLen(Name));
  }
};

const std::string k39 = std::string(36, 'n') + ".fd";
const std::string k40 = "x" + k39;
// An I/O sub-condition of Length characters that holds (its mask is padded).
std::string SubCondition(size_t Length) { return "IO-C0-" + std::string(Length - 11, '0') + "FF-03"; }

std::string FormatError(const std::string &Entry) {
  return "Configure type format error\r\nFD file setting NOT found\r\n\r\n\r\n[Multi_FD]\r\n" + Entry + "\r\n";
}

TEST_F(MultiFdTest, ConditionsSelectTheFirstEntryThatHolds) {
  struct Case {
    const char *Name;
    std::map<int, std::string> Entries;
    std::string Fd, Me, Ini;  // Fd "": nothing selected
    std::vector<std::string> Logged = {}, NotLogged = {};
    std::string Console = {};
  } Cases[] = {
      // I/O: the value field's length is the access width.
      {"IO word", {{1, "IO,C0,FE03,FE03,7.fd"}}, "7.fd", "", "",
       {"IsCondi_match() # (01) IO,C0,FE03,FE03,7.fd\r\n", " FD#XX=IO (C0)\r\n FD#XX=IO (FE03)\r\n FD#XX=IO (FE03)\r\n",
        " Offset(0xC0) Mask(0xFE03) Value(0xFE03)\r\n CpuIoRead Address [C0] Size [2]\r\nIO Data |0xFE03\r\n",
        " M-FD matched\r\n-------+-----------------\r\n   FD   7.fd\r\n   ME   \r\n  Cfg   \r\n"}},
      {"IO byte", {{1, "IO,1F6,E7,E4,7.fd"}}, "7.fd", "", "",
       {" CpuIoRead Address [1F6] Size [1]\r\nIO Data |0xE4\r\n"}},
      {"IO three digits read a word", {{1, "IO,C0,FFF,E03,w.fd"}}, "w.fd", "", "",
       {" CpuIoRead Address [C0] Size [2]\r\nIO Data |0xFE03\r\n"}},
      {"IO five digits read a dword, three names", {{1, "IO,C0,FFFFF,4FE03,d.fd,me.bin,d.ini"}}, "d.fd", "me.bin",
       "d.ini", {" CpuIoRead Address [C0] Size [4]\r\nIO Data |0x1234FE03\r\n"}},
      {"IO no match, then the next entry", {{1, "IO,C0,FFFF,FE04,x.fd"}, {2, "io,c0,ff,03,y.fd"}}, "y.fd", "", "",
       {"<=== IsMatch_IO (not match)\r\n", "IsCondi_match() # (02) io,c0,ff,03,y.fd\r\n"}},
      {"IO five-digit offset falls through", {{1, "IO,1F600,E7,E4,a.fd"}, {2, "IO,1F6,E7,E4,b.fd"}}, "b.fd", "", "",
       {"IsMatch_IO() [Offset] | invalid (1F600)\r\n"}},
      {"IO invalid mask, value, missing field",
       {{1, "IO,C0,FG,3,a.fd"}, {2, "IO,C0,FF,123456789,a.fd"}, {3, "IO,C0,FF"}, {4, "IO"}, {5, "IO,,FF,3,a.fd"}},
       "", "", "",
       {"IsMatch_IO() [mask] | invalid (FG)\r\n", "IsMatch_IO() [value] | invalid (123456789)\r\n",
        "IsMatch_IO() configure format | error | IO,C0,FF\r\n", "IsMatch_IO() configure format | error | IO\r\n",
        "IsMatch_IO() [Offset] | invalid ()\r\n"}},
      // '-' separates as ',' does, in the whole entry: also in a file name.
      {"IO dashes split the file name", {{1, "IO,C0-FF-03,my-file.fd"}}, "my", "file.fd", ""},
      {"FD file missing", {{1, "IO,C0,FE03,FE03"}, {2, "IO,C0,FE03,FE03,"}, {3, "IO,C0,FE03,FE03,,me.bin"}}, "", "",
       "", {}, {" M-FD matched"},
       FormatError("IO,C0,FE03,FE03") + FormatError("IO,C0,FE03,FE03,") + FormatError("IO,C0,FE03,FE03,,me.bin")},
      {"file names of 39 characters, not 40",
       {{1, "IO,C0,FF,03," + k40}, {2, "IO,C0,FF,03,a.fd," + k40}, {3, "IO,C0,FF,03,a.fd,,x" + k39},
        {4, "IO,C0,FF,03," + k39 + "," + k39 + "," + k39}},
       k39, k39, k39,
       {" M-FD FD file name longer than 39 characters | " + k40 + "\r\n",
        " M-FD ME file name longer than 39 characters | " + k40 + "\r\n",
        " M-FD INI file name longer than 39 characters | x" + k39 + "\r\n"},
       {}, FormatError("IO,C0,FF,03," + k40)},
      // PCI: always a dword; the address as the root bridge takes it.
      {"PCI with an ME file", {{1, "PCI,0,1F,2,80,FFFFFFFF,00007007,9.fd,ME.fd"}}, "9.fd", "ME.fd", "",
       {" FD#XX=PCI (1F)\r\n",
        " Bus(0x00) Device(0x1F) Function(0x02)\r\n Offset(0x80) Mask(0xFFFFFFFF) Value(0x7007)\r\n"
        " Bus(0x00) Device(0x1F) Function(0x02) Offset(0x80)\r\n Address = 0x1F0280\r\nPCI Data |0x7007\r\n",
        "   FD   9.fd\r\n   ME   ME.fd\r\n  Cfg   \r\n"}},
      {"PCI masked, bus 1", {{1, "PCI,1,0,0,10,FFFF0000,FEDC0000,bar.fd"}}, "bar.fd", "", "",
       {" Address = 0x1000010\r\n"}},
      {"PCI no match", {{1, "PCI,0,1F,2,80,FFFFFFFF,7008,9.fd"}}, "", "", "", {"PCI Data |0x7007\r\n"}},
      {"PCI invalid fields, one by one",
       {{1, "PCI,100,1F,2,80,FF,07,a.fd"}, {2, "PCI,0,1G,2,80,FF,07,a.fd"}, {3, "PCI,0,1F,002,80,FF,07,a.fd"},
        {4, "PCI,0,1F,2,180,FF,07,a.fd"}, {5, "PCI,0,1F,2,80,FZ,07,a.fd"}, {6, "PCI,0,1F,2,80,FF,0x07,a.fd"},
        {7, "PCI,0,1F,2,80,FF"}, {8, "PCI,0,1F,2,80,FF,07,ok.fd"}},
       "ok.fd", "", "",
       {"IsMatch_PCI() [Bus] | invalid (100)\r\n", "IsMatch_PCI() [Device] | invalid (1G)\r\n",
        "IsMatch_PCI() [Function] | invalid (002)\r\n", "IsMatch_PCI() [Offset] | invalid (180)\r\n",
        "IsMatch_PCI() [mask] | invalid (FZ)\r\n", "IsMatch_PCI() [value] | invalid (0x07)\r\n",
        "IsMatch_PCI() configure format | error | PCI,0,1F,2,80,FF\r\n"}},
      {"PCI device the bus cannot address", {{1, "PCI,0,20,0,00,FF,FF,a.fd"}}, "", "", "",
       {"IsMatch_PCI() PCI read | error (Invalid Parameter)\r\n"}},
      // MPCIIO: any sub-condition, in order; all must be written out.
      {"MPCIIO second holds", {{1, "MPCIIO,2,PCI-0-1F-0-00-FFFFFFFF-3B0B8086,IO-538-0100-0000,9.fd,ME.fd"}}, "9.fd",
       "ME.fd", "",
       {"[Condition Number] | 2\r\n", "PCI Data |0x3B098086\r\n<=== IsMatch_PCI (not match)\r\n",
        "IO Data |0x200\r\n<=== IsMatch_IO\r\n<=== IsMatch_MPCIIO\r\n"}},
      {"MPCIIO first holds, lower case", {{1, "mpciio,2,pci-0-1f-0-00-ffffffff-3b098086,io-xyz,9.fd"}}, "9.fd", "", "",
       {"PCI Data |0x3B098086\r\n<=== IsMatch_PCI\r\n<=== IsMatch_MPCIIO\r\n"}, {"IsMatch_IO"}},
      {"MPCIIO none holds", {{1, "MPCIIO,3,PCI-0-1F-0-00-FFFF-1234,IO-538-0200-0000,OS-1,9.fd"}}, "", "", "",
       {"<=== IsMatch_MPCIIO (not match)\r\n"}},
      {"MPCIIO format errors",
       {{1, "MPCIIO,3,IO-538-0100-0000,IO-1F6-FF-E4"}, {2, "MPCIIO"}, {3, "MPCIIO,Z,IO-1F6-FF-E4,a.fd"},
        {4, "MPCIIO,1," + SubCondition(80) + ",a.fd"}, {5, "MPCIIO,0,a.fd"}},
       "", "", "",
       {"IsMatch_MPCIIO() configure format | error\r\n", "IsMatch_MPCIIO() [Condition Number] | invalid (MPCIIO)\r\n",
        "IsMatch_MPCIIO() [Condition Number] | invalid (Z)\r\n", "[Condition Number] | 0\r\n"},
       {" M-FD matched"}},
      {"MPCIIO sub-condition of 79 characters", {{1, "MPCIIO,1," + SubCondition(79) + ",a.fd"}}, "a.fd", "", ""},
      // ID: the BIOS's model name, any case.
      {"ID", {{1, "ID,Other,x.fd"}, {2, "ID,vyr board a,a.fd,,a.ini"}}, "a.fd", "", "a.ini",
       {" Model Name (Ini)     [Other]\r\n Model Name (Onboard) [Vyr Board A]\r\n<=== IsMatch_ID (not match)\r\n",
        " Model Name (Ini)     [vyr board a]\r\n"}},
      {"ID format errors", {{1, "ID"}, {2, "ID,,x.fd"}}, "", "", "", {"IsMatch_ID() configure format | error\r\n"}},
      // MEMORY: the width from the value field, as for I/O.
      {"MEMORY byte", {{1, "MEMORY,20000000,FF,77,a.fd"}, {2, "MEMORY,20000000,FF,78,b.fd"}}, "b.fd", "", "",
       {" FD#XX=MEMORY\r\n-------+-----------------\r\nPhyAddr   20000000\r\n   mask   FF\r\n  value   78\r\n"
        "MEMORY Data |0x78\r\n"}},
      {"MEMORY word", {{1, "MEMORY,20000001,FFFF,3456,w.fd"}}, "w.fd", "", "", {"MEMORY Data |0x3456\r\n"}},
      {"MEMORY dword", {{1, "MEMORY,20000000,FFFFFFFF,12345678,d.fd"}}, "d.fd", "", "",
       {"MEMORY Data |0x12345678\r\n"}},
      {"MEMORY not there, invalid fields",
       {{1, "MEMORY,30000000,FF,00,x.fd"}, {2, "MEMORY,123456789,FF,00,x.fd"}, {3, "MEMORY,20000000,,00,x.fd"},
        {4, "MEMORY,20000000,FF,0G,x.fd"}, {5, "MEMORY,20000000"}},
       "", "", "",
       {"IsMatch_MEMORY() [Phy Addr] | not backed by memory (0x30000000)\r\n",
        "IsMatch_MEMORY() [Phy Addr] | invalid (123456789)\r\n", "IsMatch_MEMORY() [mask] | invalid ()\r\n",
        "IsMatch_MEMORY() [value] | invalid (0G)\r\n", "IsMatch_MEMORY() configure format | error\r\n"}},
      // Other types, FD#00 and the type word's fixed length.
      {"OS never matches", {{1, "OS,32,32bios.bin,,32.ini"}}, "", "", "", {"IsCondi_match() # (01) OS"}},
      {"FD#00 is never tried", {{0, "ID,Vyr Board A,zero.fd"}}, "", "", "", {}, {"IsCondi_match() # (00)"}},
      {"FD#00 beside a later entry", {{0, "ID,Vyr Board A,zero.fd"}, {42, "ID,Vyr Board A,late.fd"}}, "late.fd", "",
       "", {"IsCondi_match() # (42)"}, {"zero.fd"}},
      {"FD#99 is the last", {{99, "IO,1F6,FF,E4,last.fd"}}, "last.fd", "", "", {"IsCondi_match() # (99)"}},
      {"type word with a blank", {{1, "IO ,1F6,FF,E4,a.fd"}, {2, " IO,1F6,FF,E4,a.fd"}}, "", "", "", {},
       {"IsMatch_IO"}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    bool Result = false;
    const std::string Printed = Select(C.Entries, &Result);
    EXPECT_EQ(!C.Fd.empty(), Result);
    EXPECT_EQ(C.Fd, FdName());
    EXPECT_EQ(C.Me, GetMultiFdMeFileName());
    EXPECT_EQ(C.Ini, GetMultiFdIniFileName());
    EXPECT_EQ(C.Console, Printed);
    for (const std::string &L : C.Logged) EXPECT_TRUE(Logged(L)) << L << "\n" << Log();
    for (const std::string &L : C.NotLogged) EXPECT_FALSE(Logged(L)) << L;
    // The settings record keeps what platform.ini said.
    for (const auto &[Index, Text] : C.Entries) EXPECT_EQ(Text, mIniSettings.MULTI_FD.Fd[Index]);
  }
}

TEST_F(MultiFdTest, NextSelectionForgetsTheLastAndNamesAreCut) {
  bool Result = false;
  Select({{1, "IO,1F6,FF,E4,a.fd,a.me,a.ini"}}, &Result);
  ASSERT_TRUE(Result);
  CHAR16 Short[3];
  GetMultiFdFileName(Short, ARRAY_SIZE(Short));
  EXPECT_EQ(std::u16string(u"a."), Short);
  Select({{1, "IO,1F6,FF,E5,b.fd"}}, &Result);
  EXPECT_FALSE(Result);
  EXPECT_EQ("", FdName());
  EXPECT_STREQ("", GetMultiFdMeFileName());
  EXPECT_STREQ("", GetMultiFdIniFileName());
}

}  // namespace
