#include "Image/PackageCommands.h"

#include "CommandLineFixture.h"
#include "Base/RunState.h"

namespace {

using vyr::testing::CommandLineTest;

struct PrePassCase {
  std::vector<std::u16string> Args;
  bool Result;
  const char *OemCus;  // nullptr: not given
  bool ExtrFd;
  const char *Directory;
  std::vector<std::u16string> Left;  // the work list afterwards, argument 0 excluded
};

TEST_F(CommandLineTest, PrePassesConsumeTheirWords) {
  const std::u16string LongDir(128, u'd');
  const PrePassCase Cases[] = {
      {{u"-OemCus", u"ABC", u"-pq"}, true, "ABC", false, "", {u"", u"", u"-pq"}},
      {{u"bios.fd", u"/oemcus", u"-x-"}, true, "-x-", false, "", {u"bios.fd", u"", u""}},
      {{u"-OemCus", u"A", u"-OemCus", u"B"}, true, "B", false, "", {u"", u"", u"", u""}},
      {{u"-pq", u"-OemCus"}, false, nullptr, false, "", {u"-pq", u"-OemCus"}},
      {{u"-OemCus", u""}, false, nullptr, false, "", {u"-OemCus", u""}},
      {{u"-OemCus", std::u16string(256, u'v')}, false, nullptr, false, "", {u"-OemCus", std::u16string(256, u'v')}},
      {{u"-OemCus", u"-extrFD", u"out"}, true, "-extrFD", false, "", {u"", u"", u"out"}},
      {{u"-extrFD"}, true, nullptr, true, "", {u""}},
      {{u"-EXTRFD", u"out", u"-pq"}, true, nullptr, true, "out", {u"", u"", u"-pq"}},
      {{u"-extrFD", u"-pq"}, true, nullptr, true, "", {u"", u"-pq"}},
      {{u"-extrFD", u"/out"}, true, nullptr, true, "", {u"", u"/out"}},
      {{u"-extrFD", LongDir}, true, nullptr, true, "", {u"", LongDir}},
      {{u"-extrFD", u"-OemCus", u"V"}, true, "V", true, "", {u"", u"", u""}},
      {{u"-extrFDx", u"out"}, true, nullptr, false, "", {u"-extrFDx", u"out"}},
  };
  for (const PrePassCase &Case : Cases) {
    SCOPED_TRACE(A(Case.Args[0].c_str()) + " " + (Case.Args.size() > 1 ? A(Case.Args[1].c_str()) : ""));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    SetArgs(Case.Args);
    bool Result = OemCusPrePass();
    EXPECT_EQ(Case.Result, Result);
    if (Result) {
      EXPECT_TRUE(ExtrFdPrePass());
    }
    EXPECT_EQ(Case.OemCus != nullptr, IsOemCusGiven());
    if (Case.OemCus) {
      EXPECT_EQ(Case.OemCus, A(GetOemCusValue()));
    }
    EXPECT_EQ(Case.ExtrFd, IsExtrFdSet());
    EXPECT_EQ(Case.Directory, A(GetExtrFdDirectory()));
    ASSERT_EQ(Case.Left.size() + 1, GetWorkArgumentCount());
    for (size_t I = 0; I < Case.Left.size(); I++) EXPECT_EQ(Case.Left[I], GetWorkArgument((UINT32)I + 1)) << I;
    // The launcher's strings are never written.
    for (size_t I = 0; I < Case.Args.size(); I++) EXPECT_EQ(Case.Args[I], GetArgument((UINT32)I + 1));
  }
}

}  // namespace
