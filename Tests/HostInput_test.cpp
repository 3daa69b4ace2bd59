// Whole runs meeting what the host hands them: machine files that cannot be
// saved or hold more than one JSON value, entries of a volume folder that are
// not files, names beyond ASCII, and text from an image that carries terminal
// control bytes.
#include <sys/stat.h>

#include "UpdateScenarioFixture.h"

namespace {

using vyr::testing::UpdateScenario;

const std::string kFlashCommand =
    R"([{"name": "FlashCommand", "guid": "382AF2BB-FFFF-ABCD-AAEE-CCE099338877", "attributes": 7, )"
    R"("data": "2D0062000000"}])";

std::string Text(const std::vector<uint8_t> &Bytes) { return std::string(Bytes.begin(), Bytes.end()); }

TEST_F(UpdateScenario, VariablesThatCannotBeSavedFailTheDeleteNotTheRun) {
  Prepare(Image("V1.00"), {}, "");
  WriteText(MachineDir() + "/variables.json", kFlashCommand);
  // The store is rewritten through a temporary file beside it; a folder in
  // its place makes every save fail, whoever runs the test.
  std::filesystem::create_directories(MachineDir() + "/variables.json.tmp");
  EXPECT_EQ(0, Run({"-pq", "-dbg"})) << Err_;
  EXPECT_TRUE(Printed("Start Addr |  End Addr")) << Out_;
  EXPECT_TRUE(Logged("<=== ClearOverrideVariable (Clear variable failed)\r\n"));
  EXPECT_EQ(kFlashCommand, Text(ReadFile(MachineDir() + "/variables.json")));
  // The variable the BIOS could not delete is still there for the next boot.
  const auto Variables = Report()["variables"];
  ASSERT_EQ(1u, Variables.size()) << Variables;
  EXPECT_EQ("FlashCommand", Variables[0]["name"]);
}

TEST_F(UpdateScenario, ControlBytesFromAnImageOrAWordAreShownNotObeyed) {
  // A model name that would retitle the terminal and ring its bell.
  Prepare(Image("V1.00", 0xFF, "Vyr\x1B]0;x\x07PC"), Image("V1.01", 0xFF, "Other\x9B" "2JPC"), kModelAndVersionChecksIni);
  const std::string Current = "Current BIOS Model Name: Vyr^[]0;x^GPC\r\n";
  const std::string New = "New     BIOS Model Name: Other^[[2JPC\r\n";  // 9Bh: the one-byte CSI
  ASSERT_EQ(1, Run({"new.fd"}));
  EXPECT_TRUE(Printed(Current)) << Out_;
  EXPECT_TRUE(Printed(New));
  EXPECT_EQ(std::string::npos, Out_.find_first_of("\x1B\x07")) << Out_;
  EXPECT_NE(std::string::npos, Report()["console"]["transcript"].get<std::string>().find(Current));

  // On a live terminal only the console's own sequences (CSI) are escapes.
  ASSERT_EQ(1, Run({"new.fd", "-\x1B" "c"}, {"--terminal"}));
  EXPECT_EQ(std::string::npos, Out_.find('\x07'));
  for (size_t At = Out_.find('\x1B'); At != std::string::npos; At = Out_.find('\x1B', At + 1)) {
    ASSERT_EQ('[', Out_[At + 1]) << "a raw escape at " << At;
  }
  EXPECT_TRUE(Printed("Error command: -^[c (Invalid command)")) << Out_;

  ASSERT_EQ(0, Run({}, {"--identity"}));
  EXPECT_EQ("vyrfft: the BIOS reports model Vyr^[]0;x^GPC, version V1.00, from the BVDT in its flash\n", Out_);
}

TEST_F(UpdateScenario, NamesBeyondAsciiAreFoundAndSavedAsGiven) {
  Prepare(Image("V1.00"), Image("V1.01"), kOpenBvdtIni, "\xC3\xA9.fd");  // é.fd
  ASSERT_EQ(0, Run({"\xC3\xA9.fd"})) << Out_;
  EXPECT_TRUE(Printed("Update BIOS completed.")) << Out_;
  // é and U+1D53D (a surrogate pair in UTF-16)
  const std::string Saved = "\xC3\xA9\xF0\x9D\x94\xBD.rom";
  ASSERT_EQ(0, Run({Saved, "-g"})) << Out_;
  EXPECT_TRUE(ReadFile(FsPath(Saved)) == Flash());

  // A Latin-1 é names no UTF-8 file: refused before the machine is touched.
  EXPECT_EQ(2, Run({"\xE9.fd"}));
  EXPECT_EQ("vyrfft: argument \"\\xE9.fd\" is not valid UTF-8 text\n", Err_);
  // A host path that is not UTF-8 still gets its report, with U+FFFD for the byte.
  const std::string Driver = MachineDir() + "/\xE9.efi";
  std::filesystem::copy_file(MachineDir() + "/../VyrFFT.efi", Driver);
  ASSERT_EQ(0, Run({"-pq"}, {"--driver", Driver})) << Err_;
  EXPECT_EQ(MachineDir() + "/\xEF\xBF\xBD.efi", Report()["driver"]);
}

TEST_F(UpdateScenario, MachineFilesWithTrailingJsonAreRefusedByName) {
  struct Case {
    const char *File, *Text;
  } Cases[] = {
      {"profile.json", "{\"name\": \"trailing\"}\n{}\n"},
      {"variables.json", "[]\n[]\n"},
      {"variables.json", "[] x"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Text);
    Prepare(Image("V1.00"), {}, "");
    std::filesystem::remove(MachineDir() + "/variables.json");
    WriteText(MachineDir() + "/" + C.File, C.Text);
    EXPECT_EQ(4, Run({"-pq"}));
    const std::string Start = "vyrfft: machine " + MachineDir() + ": " + MachineDir() + "/" + C.File + ": not valid JSON: ";
    EXPECT_EQ(0u, Err_.rfind(Start, 0)) << Err_;
    EXPECT_NE(std::string::npos, Err_.find("expected end of input")) << Err_;
  }
}

TEST_F(UpdateScenario, VolumeEntriesThatAreNotFilesAreNeverRead) {
  struct Case {
    const char *Name;
    bool IniFifo;  // platform.ini is a FIFO too
    std::vector<std::string> Args;
    const char *Message;
  } Cases[] = {
      // platform.ini is read before the FD file: a FIFO there would hold the
      // run, and taking it for no platform.ini would drop its settings.
      {"a platform.ini that is a FIFO", true, {"fifo.fd"}, "\r\nError: platform.ini cannot be read (Access Denied).\r\n"},
      {"an FD file that is a FIFO", false, {"fifo.fd"}, "\r\n    Error:\r\n    the FD file not found. (fifo.fd)\r\n"},
      {"an FD file that is a device", false, {"zero.fd"}, "\r\n    Error:\r\n    the FD file not found. (zero.fd)\r\n"},
      {"a FIFO to save to", true, {"fifo.fd", "-g"}, "Error: Save ROM to file (fifo.fd) failed!"},
  };
  Prepare(Image("V1.00"), {}, "");
  ASSERT_EQ(0, mkfifo(FsPath("fifo.fd").c_str(), 0644));
  std::filesystem::create_symlink("/dev/zero", FsPath("zero.fd"));
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    std::filesystem::remove(FsPath("platform.ini"));
    ASSERT_TRUE(!C.IniFifo || mkfifo(FsPath("platform.ini").c_str(), 0644) == 0);
    EXPECT_EQ(1, Run(C.Args));
    EXPECT_TRUE(Printed(C.Message)) << Out_;
  }
}

}  // namespace
