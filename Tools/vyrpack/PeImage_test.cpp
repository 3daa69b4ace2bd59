#include "vyrpack/PeImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace vyr::pack {
namespace {

struct StubCase {
  Arch arch;
  uint16_t machine;
  uint16_t magic;
};

class StubImage : public ::testing::TestWithParam<StubCase> {};

TEST_P(StubImage, ParsesBackAsAMinimalBootServiceDriver) {
  const StubCase c = GetParam();
  const Bytes image = BuildStubDriverImage(c.arch);
  const PeInfo pe = ParsePe(image);
  EXPECT_EQ(std::make_tuple(c.machine, c.magic, 11, 0, 0x20u, 0x20u, 0u),
            std::make_tuple(pe.machine, pe.magic, pe.subsystem, pe.dllCharacteristics, pe.fileAlignment,
                            pe.sectionAlignment, pe.certificateTableSize));
  ASSERT_EQ(1u, pe.sections.size());
  const PeSection& s = pe.sections[0];
  EXPECT_EQ(".data", s.name);
  EXPECT_EQ(s.virtualAddress, s.pointerToRawData);  // file position == VA
  EXPECT_EQ(pe.sizeOfHeaders, s.pointerToRawData);
  EXPECT_EQ(image.size(), s.pointerToRawData + s.sizeOfRawData);
  EXPECT_EQ(0u, s.sizeOfRawData % 0x20);
  EXPECT_EQ(AlignUp(s.virtualAddress + s.virtualSize, 0x20), pe.sizeOfImage);

  const std::string marker = StubMarkerText(c.arch);
  EXPECT_EQ(marker.size(), s.virtualSize);
  EXPECT_EQ(0, std::memcmp(&image[s.pointerToRawData], marker.data(), marker.size()));
  // With equal alignments the loaded image is the file itself.
  const Bytes mem = MapImage(image, pe);
  ASSERT_EQ(pe.sizeOfImage, mem.size());
  EXPECT_TRUE(std::equal(mem.begin(), mem.end(), image.begin()));
}

INSTANTIATE_TEST_SUITE_P(BothArches, StubImage,
                         ::testing::Values(StubCase{Arch::Ia32, 0x14C, 0x10B},
                                           StubCase{Arch::X64, 0x8664, 0x20B}));

TEST(PeImage, MapImagePlacesSectionsAtTheirAddressesAndZeroFillsTails) {
  ImageLayout layout;
  layout.fileAlignment = 0x200;
  layout.sectionAlignment = 0x1000;
  layout.sections.push_back({".text", 0x1000, 0x10, 0x400, Bytes(0x10, 0xAA)});
  // VirtualSize below the raw size: only VirtualSize bytes are loaded.
  layout.sections.push_back({".data", 0x2000, 0x300, 0x600, Bytes(0x400, 0xBB)});
  const Bytes image = BuildPeImage(layout);
  const PeInfo pe = ParsePe(image);
  EXPECT_EQ(0x3000u, pe.sizeOfImage);
  const Bytes mem = MapImage(image, pe);
  ASSERT_EQ(0x3000u, mem.size());
  EXPECT_EQ((Bytes{'M', 0xAA, 0x00, 0xBB, 0x00}), (Bytes{mem[0], mem[0x100F], mem[0x1010], mem[0x22FF], mem[0x2300]}));
}

// Each case damages a valid IA32 stub and names a word the error must contain.
struct Damage {
  const char* what;
  std::function<void(Bytes&)> apply;
  const char* expected;
};

TEST(PeImage, MalformedHeadersAreRefusedWithAReason) {
  const Bytes good = BuildStubDriverImage(Arch::Ia32);
  const PeInfo pe = ParsePe(good);
  const size_t coff = pe.peOffset + 4;
  const size_t opt = pe.optionalHeaderOffset;
  const size_t sec = pe.sectionTableOffset;
  const std::vector<Damage> cases = {
      {"empty", [](Bytes& b) { b.clear(); }, "too small"},
      {"short", [](Bytes& b) { b.resize(63); }, "too small"},
      {"no MZ", [](Bytes& b) { b[0] = 'Z'; }, "'MZ'"},
      {"e_lfanew past end", [](Bytes& b) { WriteU32(b, 0x3C, 0xFFFFFFF0); }, "e_lfanew"},
      {"e_lfanew near end", [](Bytes& b) { WriteU32(b, 0x3C, static_cast<uint32_t>(b.size() - 8)); }, "e_lfanew"},
      {"no PE signature", [&](Bytes& b) { b[pe.peOffset + 2] = 'X'; }, "PE\\0\\0"},
      {"cut in optional header", [&](Bytes& b) { b.resize(opt + 40); }, "optional header"},
      {"bad magic", [&](Bytes& b) { WriteU16(b, opt, 0x107); }, "magic"},
      {"optional header too small", [&](Bytes& b) { WriteU16(b, coff + 16, 60); }, "too small"},
      {"too many data directories", [&](Bytes& b) { WriteU32(b, opt + 92, 17); }, "NumberOfRvaAndSizes"},
      {"section table past end", [&](Bytes& b) { WriteU16(b, coff + 2, 200); }, "section table"},
      {"file alignment not power of two", [&](Bytes& b) { WriteU32(b, opt + 36, 0x30); }, "alignment"},
      {"section alignment zero", [&](Bytes& b) { WriteU32(b, opt + 32, 0); }, "alignment"},
      {"SizeOfHeaders past end", [&](Bytes& b) { WriteU32(b, opt + 60, 0x10000); }, "SizeOfHeaders"},
      {"SizeOfHeaders inside table", [&](Bytes& b) { WriteU32(b, opt + 60, 0x40); }, "SizeOfHeaders"},
      {"raw data past end", [&](Bytes& b) { WriteU32(b, sec + 16, 0x10000); }, "raw data"},
      {"raw pointer overflow", [&](Bytes& b) { WriteU32(b, sec + 20, 0xFFFFFFF0); }, "raw data"},
      {"section past SizeOfImage", [&](Bytes& b) { WriteU32(b, sec + 12, 0xFFFFFF00); }, "SizeOfImage"},
      {"truncated section data", [&](Bytes& b) { b.resize(b.size() - 1); }, "past the end"},
  };
  for (const Damage& d : cases) {
    Bytes b = good;
    d.apply(b);
    std::string error = "accepted";
    try {
      ParsePe(b);
    } catch (const PeError& e) {
      error = e.what();
    }
    EXPECT_NE(std::string::npos, error.find(d.expected)) << d.what << ": " << error;
  }
}

// Whatever parses must also map: the VyrpackPe fuzz target checks that on
// damaged headers; here every cut stub is refused.
TEST(PeImage, EveryPrefixOfAStubIsRefused) {
  for (Arch arch : {Arch::Ia32, Arch::X64}) {
    const Bytes good = BuildStubDriverImage(arch);
    for (size_t n = 0; n < good.size(); ++n) {
      EXPECT_THROW(ParsePe(Bytes(good.begin(), good.begin() + n)), PeError) << "prefix " << n;
    }
  }
}

}  // namespace
}  // namespace vyr::pack
