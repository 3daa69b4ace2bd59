// Whole updates on machines whose regions do not follow the erase blocks:
// private, protected, NV and BVDT areas that start or end inside a block, on
// 64 KiB and 4 KiB block maps. A block is erased whole when written, so one
// that holds a byte to keep is never written; the BVDT block is the last
// write, and a power cut before it leaves the machine reporting the old BIOS.
#include <functional>

#include "UpdateScenarioFixture.h"

namespace {

using vyr::testing::UpdateScenario;

constexpr uint32_t kSize = 0x100000;  // a 1 MiB part keeps every run short
constexpr uint32_t kBase = 0xFFF00000;
constexpr uint32_t kBvdt = 0x54000;   // a 4 KiB BVDT area inside the 64 KiB block 0x50000

struct Range {
  uint32_t Offset, Size;
};

struct Case {
  const char *Name;
  std::function<void(vyr::emu::Profile &)> Edit;
  std::vector<std::string> Options;
  std::vector<Range> Kept;     // must hold the old bytes after the run
  std::vector<Range> Written;  // must hold the new image's bytes
  int Exit;
  const char *Printed;         // on the console, or null
  bool CutAtEveryWrite;        // also cut the power after each write but the last
};

class UnalignedMaps : public UpdateScenario {
 protected:
  static Bytes Rom(uint8_t Fill, const std::string &Version) {
    Bytes Data(kSize, Fill);
    vyr::pack::BvdtStamp Stamp;
    Stamp.model = "VyrPC";
    Stamp.version = Version;
    return vyr::pack::StampBvdt(Data, kBvdt, Stamp);
  }
  // A small machine with nothing kept but what a case adds.
  void Machine(const Case &C) {
    Profile_ = vyr::emu::Profile::Default();
    Profile_.Flash.Size = kSize;
    Profile_.Flash.BlockMap.clear();
    Profile_.Flash.ProtectMap.clear();
    Profile_.Flash.PrivateMap.clear();
    Profile_.Flash.WholeMap = {{0x0A, kBase + kBvdt, 0x1000, 1}};
    Profile_.Flash.ExternalRegions = {{0x01, 0, kSize, 0x0F}};
    if (C.Edit) C.Edit(Profile_);
  }
  uint32_t Number(const nlohmann::json &Hex) const { return (uint32_t)std::stoul(Hex.get<std::string>(), nullptr, 16); }

  const Bytes Old_ = Rom(0x11, "V1.00");
  const Bytes New_ = Rom(0x22, "V1.01");
  const std::string kIni = "[Others]\r\nSMIErrorRetry=0\r\n";
};

TEST_F(UnalignedMaps, KeptBytesStayAndTheBvdtBlockIsWrittenLast) {
  const Case Cases[] = {
      {"private region from the middle of a block",
       [](auto &P) { P.Flash.PrivateMap = {{kBase + 0x68000, 0x10000}}; },
       {}, {{0x68000, 0x10000}}, {{0x00000, 0x50000}, {0x80000, 0x10000}}, 0, "Update BIOS completed.", false},
      {"NV storage from the middle of a block",
       [](auto &P) { P.Flash.ProtectMap = {{0x06, kBase + 0x08000, 0x20000}}; },
       {}, {{0x08000, 0x20000}}, {{0x30000, 0x10000}}, 0, "Update BIOS completed.", false},
      {"-all opens the protect map, not the private regions",
       [](auto &P) {
         P.Flash.ProtectMap = {{0x06, kBase + 0x08000, 0x20000}};
         P.Flash.PrivateMap = {{kBase + 0x68000, 0x10000}};
       },
       {"-all"}, {{0x68000, 0x10000}}, {{0x00000, 0x50000}}, 0, "Update BIOS completed.", false},
      {"-unvs opens the NV storage, not a private region in its last block",
       [](auto &P) {
         P.Flash.ProtectMap = {{0x06, kBase, 0x30000}};
         P.Flash.WholeMap.push_back({0x06, kBase, 0x30000, 1});
         P.Flash.PrivateMap = {{kBase + 0x2F000, 0x1000}};
       },
       {"-unvs"}, {{0x2F000, 0x1000}}, {{0x00000, 0x20000}}, 0, "Update BIOS completed.", false},
      {"4 KiB blocks around a private region",
       [](auto &P) {
         P.Flash.BlockMap = {{0x1000, 0x40}, {0x10000, 0xC}};
         P.Flash.PrivateMap = {{kBase + 0x3000, 0x2000}};
       },
       {}, {{0x3000, 0x2000}}, {{0x0000, 0x3000}, {0x5000, 0x3B000}}, 0, "Update BIOS completed.", false},
      {"BVDT area inside a 64 KiB block", nullptr, {}, {}, {{0, kSize}}, 0, "Update BIOS completed.", true},
      {"no whole ROM map (0xEF): the BVDT from the new image",
       [](auto &P) { P.BiosFaults = {{0x1E, 0xEF, 1, 0}}; },
       {}, {}, {{0, kSize}}, 0, "Update BIOS completed.", true},
      {"an OEM data region said to run past the ROM: the BVDT from the new image",
       [](auto &P) { P.Flash.WholeMap = {{0x0A, kBase + kBvdt, 0x7FFF0000, 1}}; },
       {}, {}, {{0, kSize}}, 0, "Update BIOS completed.", false},
      {"-gbe where the GbE region shares the first block",
       [](auto &P) {
         P.Flash.ExternalRegions = {
             {0x00, 0x0000, 0x1000, 0x0B}, {0x03, 0x1000, 0x2000, 0x0F}, {0x02, 0x3000, 0x7D000, 0x0D},
             {0x01, 0x80000, 0x80000, 0x0F}};
       },
       {"-gbe"}, {{0, kSize}}, {}, 1,
       "Error: The GBE region cannot be updated alone: flash block 0xFFF00000 also holds bytes that must be kept.",
       false},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Machine(C);
    Prepare(Old_, New_, kIni);
    std::vector<std::string> Args = {"new.fd"};
    Args.insert(Args.end(), C.Options.begin(), C.Options.end());
    ASSERT_EQ(C.Exit, Run(Args)) << Out_ << Err_;
    Bytes After = Flash();
    for (const Range &R : C.Kept) EXPECT_TRUE(SameRange(After, Old_, R.Offset, R.Size)) << std::hex << R.Offset;
    for (const Range &R : C.Written) EXPECT_TRUE(SameRange(After, New_, R.Offset, R.Size)) << std::hex << R.Offset;
    EXPECT_TRUE(C.Printed == nullptr || Printed(C.Printed)) << Out_;
    const auto Writes = Report()["bios"]["blockWrites"]["blocks"];
    if (C.Exit != 0) {
      EXPECT_TRUE(Writes.empty()) << Writes;
      EXPECT_EQ(0, Report()["completionRequest"]["status"]);
      continue;
    }
    ASSERT_FALSE(Writes.empty());
    EXPECT_EQ(kBase + 0x50000, Number(Writes.back()["address"])) << Writes.back();
    if (!C.CutAtEveryWrite) continue;
    // A cut after any write but the last leaves the old BVDT, so the machine
    // still names the old BIOS and the update can simply be run again.
    const uint32_t Total = (uint32_t)Writes.size();
    for (uint32_t Cut = 1; Cut < Total; Cut++) {
      SCOPED_TRACE(Cut);
      Profile_.PowerCutAfterWrites = Cut;
      Prepare(Old_, New_, kIni);
      ASSERT_EQ(5, Run(Args)) << Out_;
      EXPECT_TRUE(SameRange(Flash(), Old_, kBvdt, 0x1000));
    }
    Profile_.PowerCutAfterWrites = 0;
  }
}

TEST_F(UnalignedMaps, FailedSaveLeavesNoFile) {
  Machine(Case{});
  // The third 14h read of -g fails; an existing file of that name is left as it was.
  Profile_.BiosFaults = {{0x14, 0x22, 3, 0}};
  Prepare(Old_, {}, kIni);
  WriteText(FsPath("old.rom"), "kept");
  for (const char *Name : {"fresh.rom", "old.rom"}) {
    SCOPED_TRACE(Name);
    EXPECT_EQ(1, Run({Name, "-g"})) << Out_;
    EXPECT_TRUE(Printed("Error: command -g fail. (Fwsmi fail)")) << Out_;
  }
  EXPECT_FALSE(std::filesystem::exists(FsPath("fresh.rom")));
  Bytes Old = ReadFile(FsPath("old.rom"));
  EXPECT_EQ("kept", std::string(Old.begin(), Old.end()));
}

}  // namespace
