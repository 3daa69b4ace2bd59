// Whole runs with [MULTI_FD]: the machine's hardware picks the FD file that
// is flashed, or the run stops before anything is written.
#include "UpdateScenarioFixture.h"

namespace {

using vyr::testing::UpdateScenario;

constexpr uint32_t kBiosBlock = 0x300000;  // a plain BIOS block of the default map

std::string MultiFdIni(const std::vector<std::string> &Entries) {
  std::string Ini = "[MULTI_FD]\r\nFlag=1\r\n";
  for (size_t I = 0; I < Entries.size(); I++) {
    Ini += "FD#" + std::string(I + 1 < 10 ? "0" : "") + std::to_string(I + 1) + "=" + Entries[I] + "\r\n";
  }
  return Ini;
}

class UpdateMultiFd : public UpdateScenario {
 protected:
  // Two candidate images on the volume, each with its own mark.
  void PrepareCandidates(const Bytes &Current, const std::string &Ini, const std::string &First,
                         const std::string &Second) {
    Prepare(Current, {}, Ini);
    WriteFile(FsPath(First), Candidate(1));
    WriteFile(FsPath(Second), Candidate(2));
  }
  static Bytes Candidate(uint8_t Seed) {
    Bytes Data = Image("V1.01");
    Mark(Data, kBiosBlock, Seed);
    return Data;
  }
};

TEST_F(UpdateMultiFd, EachConditionKindSelectsOrStops) {
  Profile_.IoPorts = {{0x538, 0x0100}};
  Profile_.Pci = {{0, 0x1F, 2, 0x80, 0x00007007}};
  Profile_.MemoryPatches = {{0x20000000, {0x41, 0x0A}}};
  const std::string NoMatch = "No match file in Multi-FD.\r\n";
  struct Case {
    const char *Name;
    std::vector<std::string> Entries;
    std::vector<std::string> Args;
    const char *Flashed;  // nullptr: nothing is written
    std::string Message;
  } Cases[] = {
      {"IO", {"IO,538,0100,0100,a.fd"}, {}, "a.fd", "Update BIOS completed."},
      {"IO, no match", {"IO,538,0100,0000,a.fd"}, {}, nullptr, NoMatch},
      {"PCI", {"PCI,0,1F,2,80,FFFFFFFF,00007007,a.fd,ME.fd"}, {}, "a.fd", "Update BIOS completed."},
      {"PCI, no match", {"PCI,0,1F,2,80,FFFFFFFF,00007008,a.fd"}, {}, nullptr, NoMatch},
      {"MPCIIO", {"MPCIIO,2,PCI-0-1F-2-80-FFFF-7008,IO-538-0100-0100,a.fd"}, {}, "a.fd", "Update BIOS completed."},
      {"MPCIIO, no match", {"MPCIIO,2,PCI-0-1F-2-80-FFFF-7008,IO-538-0100-0000,a.fd"}, {}, nullptr, NoMatch},
      {"ID (the flash's BVDT names the model)", {"ID,vyrpc,a.fd"}, {}, "a.fd", "Update BIOS completed."},
      {"ID, no match", {"ID,VyrPD,a.fd"}, {}, nullptr, NoMatch},
      {"MEMORY", {"MEMORY,20000000,FFFF,0A41,a.fd"}, {}, "a.fd", "Update BIOS completed."},
      {"MEMORY, no match", {"MEMORY,20000000,FF,42,a.fd"}, {}, nullptr, NoMatch},
      // The first entry that holds wins, and replaces the name on the command line.
      {"first match over the command line's file",
       {"ID,VyrPD,a.fd", "IO,538,FF00,0100,b.fd", "ID,VyrPC,a.fd"},
       {"a.fd"},
       "b.fd",
       "Update BIOS completed."},
      {"selected file absent",
       {"IO,538,0100,0100,gone.fd"},
       {},
       nullptr,
       "\r\n    Error:\r\n    the FD file not found. (gone.fd)\r\n\r\n"},
      {"FD file field missing",
       {"IO,538,0100,0100"},
       {},
       nullptr,
       "Configure type format error\r\nFD file setting NOT found\r\n\r\n\r\n[Multi_FD]\r\nIO,538,0100,0100\r\n"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes Current = Image("V1.00");
    PrepareCandidates(Current, MultiFdIni(C.Entries), "a.fd", "b.fd");
    EXPECT_EQ(C.Flashed != nullptr ? 0 : 1, Run(C.Args));
    EXPECT_TRUE(Printed(C.Message)) << Out_;
    const Bytes After = Flash();
    if (C.Flashed == nullptr) {
      EXPECT_TRUE(After == Current);
      EXPECT_EQ(0, Report()["bios"]["blockWrites"]["counts"]["written"]);
    } else {
      EXPECT_TRUE(SameRange(After, ReadFile(FsPath(C.Flashed)), kBiosBlock, 0x10000));
    }
  }
}

// Two models of one family, one platform.ini and one set of images: each
// machine takes its own. (The names have no '-': in an IO or PCI entry it
// splits a name as ',' does.)
TEST_F(UpdateMultiFd, FamilyModelsTakeTheirOwnImage) {
  const std::string Ini =
      MultiFdIni({"PCI,0,1F,0,00,FFFFFFFF,3B0B8086,model_a.fd,me_a.bin,a.ini", "IO,538,0100,0000,model_b.fd,me_b.bin"});
  const std::string Profiles = std::string(VYR_SOURCE_DIR) + "/Emulator/Profiles/";
  const struct {
    const char *Profile, *Flashed, *Matched;
  } Models[] = {
      {"family-model-a.json", "model_a.fd", "   FD   model_a.fd\r\n   ME   me_a.bin\r\n  Cfg   a.ini\r\n"},
      {"family-model-b.json", "model_b.fd", "   FD   model_b.fd\r\n   ME   me_b.bin\r\n  Cfg   \r\n"},
  };
  for (const auto &M : Models) {
    SCOPED_TRACE(M.Profile);
    Profile_ = vyr::emu::Profile::Load(Profiles + M.Profile);
    const Bytes Current = Image("V1.00");
    std::filesystem::remove(FsPath("VyrFFT-Secure.Log"));
    PrepareCandidates(Current, Ini, "model_a.fd", "model_b.fd");
    ASSERT_EQ(0, Run({"-dbg"})) << Out_;
    EXPECT_TRUE(SameRange(Flash(), ReadFile(FsPath(M.Flashed)), kBiosBlock, 0x10000));
    EXPECT_EQ(std::string(" M-FD matched\r\n-------+-----------------\r\n") + M.Matched,
              LogBlock(" M-FD matched", "  Cfg"));
  }
}

}  // namespace
