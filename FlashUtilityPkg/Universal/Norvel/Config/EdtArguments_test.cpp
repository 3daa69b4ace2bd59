#include "Config/EdtArguments.h"

#include "CommandLineFixture.h"
#include "ArgumentCheck.h"

namespace {

using vyr::testing::CommandLineTest;

struct EdtCase {
  std::u16string Argument;
  const char *Stored;   // nullptr: refused
  const char *Printed;  // console
};

TEST_F(CommandLineTest, EdtArgumentForms) {
  const EdtCase Cases[] = {
      {u"edt4f:logo.jpg", "edt4f:logo.jpg", ""},
      {u"EDT4F:Logo.JPG", "edt4f:Logo.JPG", ""},
      {u"edt5s:\"Input string.\"", "edt5s:\"Input string.\"", ""},
      {u"edt9w:0x1234", "edt9w:0x1234", ""},
      {u"edtCDW:0x12345678", "edtcdw:0x12345678", ""},
      {u"edtbs:", "edtbs:", ""},  // an empty value is refused when the data is read
      {u"edtds:x", nullptr, "Warning - Type code error. (0x4-0xC)\r\n"},
      {u"edt3f:a", nullptr, "Warning - Type code error. (0x4-0xC)\r\n"},
      {u"edtdf:a", nullptr, "Warning - Type code error. (0x4-0xC)\r\n"},
      {u"edt4x:1", nullptr, "Warning - Format code error.\r\n"},
      {u"edt4d:1", nullptr, "Warning - Format code error.\r\n"},
      {u"edt4fx", nullptr, "Warning - Format code error.\r\n"},
      {u"edt4dwx", nullptr, "Warning - Format code error.\r\n"},
      {u"edt4f", nullptr, ""},
      {u"edt", nullptr, ""},
      {u"edt4f:" + std::u16string(121, u'a'), "edt4f:" "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", ""},
      {u"edt4f:" + std::u16string(122, u'a'), nullptr, ""},
  };
  for (const EdtCase &Case : Cases) {
    SCOPED_TRACE(A(Case.Argument.c_str()));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    EnableLog();
    EXPECT_EQ(Case.Stored != nullptr, AddEdtArgument(Case.Argument.c_str()));
    EXPECT_EQ(Case.Stored ? 1u : 0u, GetEdtArgumentCount());
    if (Case.Stored) {
      EXPECT_EQ(Case.Stored, A(GetEdtArgument(0)));
    }
    EXPECT_EQ(Case.Printed, Console());
    EXPECT_EQ(std::vector<std::string>{"raw command (" + A(Case.Argument.c_str()) + ")"}, LogLines("raw command"));
  }
}

TEST_F(CommandLineTest, EdtTableHoldsNineArguments) {
  for (int I = 0; I < 9; I++) {
    std::u16string Word = u"-edt4s:" + W(std::to_string(I));
    ASSERT_TRUE(ProcessArgument(Word.c_str())) << I;
  }
  EXPECT_FALSE(ProcessArgument(u"-edt4s:9"));
  EXPECT_EQ(9u, GetEdtArgumentCount());
  EXPECT_EQ("edt4s:0", A(GetEdtArgument(0)));
  EXPECT_EQ("edt4s:8", A(GetEdtArgument(8)));
  EXPECT_EQ(nullptr, GetEdtArgument(9));
  EXPECT_EQ(1, IsOptionSet(OPT_EDT));
}

TEST_F(CommandLineTest, RefusedEdtFailsTheArgumentCheck) {
  SetArgs({u"-edt4f:a.bin", u"/edtds:x"});
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  EXPECT_FALSE(ArgumentCheck(FileName, Options));
  std::string Printed = Console();
  EXPECT_EQ("Warning - Type code error. (0x4-0xC)\r\n" + Banner() + "Error command: /edtds:x (Invalid command)\r\n",
            Printed);
  EXPECT_EQ(1u, GetEdtArgumentCount());
  EXPECT_FALSE(AddEdtArgument(nullptr));
}

}  // namespace
