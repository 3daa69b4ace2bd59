#include "Image/PackageCommands.h"

#include "Base/RunState.h"
#include "CommandLineFixture.h"
#include "Image/OemCustom.h"
#include "Image/Package.h"

namespace {

using vyr::testing::CommandLineTest;

struct PrePassCase {
  std::vector<std::u16string> Args;
  bool Result;
  std::string List;  // the finished 19h list
  bool ExtrFd;
  const char *Directory;
  std::vector<std::u16string> Left;  // the work list afterwards, argument 0 excluded
};

TEST_F(CommandLineTest, PrePassesConsumeTheirWords) {
  const std::u16string LongDir(128, u'd');
  const std::string Empty("\0\xFF", 2);
  const PrePassCase Cases[] = {
      {{u"-OemCus", u"cus_test", u"-pq"}, true, std::string("CUS_TEST\0\xFF", 10), false, "", {u"-OemCus", u"", u"-pq"}},
      {{u"bios.fd", u"/oemcus", u"CUSx", u"-OemCus", u"Cus2"}, true, std::string("CUSX\0CUS2\0\xFF", 11), false, "",
       {u"bios.fd", u"/oemcus", u"", u"-OemCus", u""}},
      // A value without the prefix, or none, refuses the command line.
      {{u"-pq", u"-OemCus"}, false, Empty, false, "", {u"-pq", u"-OemCus"}},
      {{u"-OemCus", u"-extrFD"}, false, Empty, false, "", {u"-OemCus", u"-extrFD"}},
      {{u"-OemCus", u"CU"}, false, Empty, false, "", {u"-OemCus", u"CU"}},
      {{u"-OemCus", u"CUS" + std::u16string(250, u'v')}, false, Empty, false, "",
       {u"-OemCus", u"CUS" + std::u16string(250, u'v')}},
      {{u"-extrFD"}, true, Empty, true, "Flash_FD", {u""}},
      {{u"-EXTRFD", u"out\\", u"-pq"}, true, Empty, true, "out", {u"", u"", u"-pq"}},
      {{u"-extrFD", u"-pq"}, true, Empty, true, "Flash_FD", {u"", u"-pq"}},
      {{u"-extrFD", u"/out"}, true, Empty, true, "Flash_FD", {u"", u"/out"}},
      {{u"-extrFD", LongDir}, true, Empty, true, "Flash_FD", {u"", LongDir}},
      {{u"-extrFDx", u"out"}, true, Empty, false, "", {u"-extrFDx", u"out"}},
  };
  for (const PrePassCase &Case : Cases) {
    SCOPED_TRACE(A(Case.Args[0].c_str()) + " " + (Case.Args.size() > 1 ? A(Case.Args[1].c_str()) : ""));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    SetApplication(u"fs0:\\Tools\\Flash.efi");
    SetArgs(Case.Args);
    bool Result = OemCusPrePass();
    EXPECT_EQ(Case.Result, Result);
    if (Result) {
      EXPECT_TRUE(ExtrFdPrePass());
    } else {
      EXPECT_NE(std::string::npos, Console().find("    Error:\r\n    ")) << Console();
    }
    UINT8 List[OEM_CUSTOM_LIST_SIZE];
    FinishOemCustomList(List);
    EXPECT_EQ(Case.List, std::string(reinterpret_cast<char *>(List), Case.List.size()));
    EXPECT_EQ(Case.ExtrFd, IsExtrFdSet());
    EXPECT_EQ(Case.Directory, A(GetExtrFdDirectory()));
    ASSERT_EQ(Case.Left.size() + 1, GetWorkArgumentCount());
    for (size_t I = 0; I < Case.Left.size(); I++) EXPECT_EQ(Case.Left[I], GetWorkArgument((UINT32)I + 1)) << I;
    // The launcher's strings are never written.
    for (size_t I = 0; I < Case.Args.size(); I++) EXPECT_EQ(Case.Args[I], GetArgument((UINT32)I + 1));
  }
}

}  // namespace
