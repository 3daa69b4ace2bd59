#include "vyrpack/Payload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace vyr::pack {
namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

std::vector<PayloadRecord> BiosAndIni() {
  return {{RecordKind::Bios, Pattern(5000, 1)}, {RecordKind::Ini, Text("[Main]\r\nFlag=1\r\n")}};
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Payload, Crc32MatchesTheStandardCheckValue) {
  const Bytes b = Text("123456789");
  EXPECT_EQ(0xCBF43926u, Crc32(b.data(), b.size()));
  EXPECT_EQ(0u, Crc32(nullptr, 0));
}

class AppendToStub : public ::testing::TestWithParam<Arch> {};

TEST_P(AppendToStub, RecordsLandAlignedInTheGrownLastSectionWhereTheDriverLooks) {
  const Bytes stub = BuildStubDriverImage(GetParam());
  const PeInfo before = ParsePe(stub);
  std::vector<PayloadRecord> records = BiosAndIni();
  records.push_back({RecordKind::BiosCer, Pattern(33, 9)});
  records.push_back({RecordKind::Ec, Pattern(777, 5)});
  const AppendResult r = AppendPayload(stub, records);
  const PeInfo after = ParsePe(r.image);
  const PeSection& s = after.sections.back();

  // Written in tag-table order, whatever order they were given in.
  std::vector<RecordKind> order;
  for (const PlacedRecord& p : r.placed) order.push_back(p.kind);
  ASSERT_EQ((std::vector<RecordKind>{RecordKind::Bios, RecordKind::Ini, RecordKind::Ec, RecordKind::BiosCer}), order);
  // The stub's marker is kept and the first record follows its raw data.
  EXPECT_EQ(before.sections.back().pointerToRawData + before.sections.back().sizeOfRawData,
            r.placed[0].fileOffset);
  EXPECT_TRUE(std::equal(stub.begin() + s.pointerToRawData, stub.end(), r.image.begin() + s.pointerToRawData));

  const Bytes mem = MapImage(r.image, after);
  for (const PlacedRecord& p : r.placed) {
    EXPECT_EQ(0u, p.fileOffset % 32);
    EXPECT_GE(p.fileOffset, s.pointerToRawData);
    EXPECT_LE(p.fileOffset + 24 + p.dataSize, uint64_t{s.pointerToRawData} + s.virtualSize);
    EXPECT_EQ(s.virtualAddress + (p.fileOffset - s.pointerToRawData), p.rva);
    // The loaded image holds the whole record at its RVA.
    const Bytes rec = EncodeRecord(p.kind, records[p.kind == RecordKind::Bios ? 0
                                                   : p.kind == RecordKind::Ini ? 1
                                                   : p.kind == RecordKind::BiosCer ? 2 : 3].data);
    ASSERT_LE(p.rva + rec.size(), mem.size());
    EXPECT_TRUE(std::equal(rec.begin(), rec.end(), mem.begin() + p.rva)) << TagOf(p.kind).tag;
  }
  const PlacedRecord& lastRec = r.placed.back();
  EXPECT_EQ(lastRec.fileOffset + 24 + 33 - s.pointerToRawData, s.virtualSize);
  EXPECT_EQ(0u, s.sizeOfRawData % after.fileAlignment);
  EXPECT_EQ(r.image.size(), s.pointerToRawData + s.sizeOfRawData);
  EXPECT_EQ(AlignUp(s.virtualAddress + s.virtualSize, after.sectionAlignment), after.sizeOfImage);
  EXPECT_EQ(0u, after.checkSum);
  EXPECT_EQ(ReadU32(stub, before.SizeOfInitializedDataOffset()) + s.sizeOfRawData -
                before.sections.back().sizeOfRawData,
            ReadU32(r.image, after.SizeOfInitializedDataOffset()));

  // The driver sees the three searched records and steps over the certificate.
  const std::vector<FoundRecord> seen = DriverView(r.image);
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(std::make_tuple(uint64_t{r.placed[0].rva}, 5000u, RecordKind::Ec, 777u),
            std::make_tuple(uint64_t{seen[0].offset}, seen[0].dataSize, seen[2].kind, seen[2].dataSize));
}

INSTANTIATE_TEST_SUITE_P(BothArches, AppendToStub, ::testing::Values(Arch::Ia32, Arch::X64));

// Linker-style layouts: 0x200 file and 0x1000 section alignment.
ImageLayout LinkerLayout() {
  ImageLayout layout;
  layout.arch = Arch::X64;
  layout.fileAlignment = 0x200;
  layout.sectionAlignment = 0x1000;
  layout.sections.push_back({".text", 0x1000, 0x123, 0x400, Pattern(0x123, 3)});
  return layout;
}

TEST(Payload, UninitialisedTailOfTheLastSectionIsNeverOverlaid) {
  ImageLayout layout = LinkerLayout();
  layout.sections.push_back({".data", 0x2000, 0x1800, 0x600, Pattern(0x80, 4)});  // 0x1780 bytes of zero tail
  const Bytes image = BuildPeImage(layout);
  const AppendResult r = AppendPayload(image, BiosAndIni());
  EXPECT_EQ(0x2000u + 0x1800u, r.placed[0].rva);
  const PeInfo pe = ParsePe(r.image);
  const Bytes mem = MapImage(r.image, pe);
  for (size_t i = 0x2080; i < 0x3800; ++i) ASSERT_EQ(0, mem[i]) << i;
  EXPECT_EQ(2u, DriverView(r.image).size());
}

TEST(Payload, LastSectionWithoutFileDataGetsRawDataAtTheEndOfTheFile) {
  ImageLayout layout = LinkerLayout();
  layout.sections.push_back({".bss", 0x2000, 0x1388, 0, {}, 0xC0000080});
  const Bytes image = BuildPeImage(layout);
  ASSERT_EQ(0x600u, image.size());
  const AppendResult r = AppendPayload(image, BiosAndIni());
  const PeInfo pe = ParsePe(r.image);
  EXPECT_EQ(0x600u, pe.sections.back().pointerToRawData);
  EXPECT_EQ(0x600u + AlignUp(0x1388, 32), r.placed[0].fileOffset);
  EXPECT_EQ(0x2000u + AlignUp(0x1388, 32), r.placed[0].rva);
  EXPECT_EQ(2u, DriverView(r.image).size());
}

TEST(Payload, RefusalsExplainWhatIsWrong) {
  const Bytes stub = BuildStubDriverImage(Arch::Ia32);
  const PeInfo pe = ParsePe(stub);
  const auto appendTo = [](const Bytes& image) { return [image] { AppendPayload(image, BiosAndIni()); }; };
  const auto appendRecords = [&](std::vector<PayloadRecord> recs, bool emptyBios = false) {
    return [&stub, recs, emptyBios] { AppendPayload(stub, recs, AppendOptions{emptyBios}); };
  };

  Bytes overlay = stub;
  overlay.resize(overlay.size() + 16, 0x55);
  Bytes signedImage = stub;
  WriteU32(signedImage, pe.optionalHeaderOffset + 96 + 4 * 8, 0x200);
  WriteU32(signedImage, pe.optionalHeaderOffset + 96 + 4 * 8 + 4, 0x10);
  ImageLayout lowVa;
  lowVa.sections.push_back({".data", 0x180, 0x40, 0x400, Pattern(0x40, 1)});
  ImageLayout notHighest = LinkerLayout();
  notHighest.sections.insert(notHighest.sections.begin(), {".late", 0x3000, 0x10, 0x800, Pattern(0x10, 2)});
  ImageLayout noSections = LinkerLayout();
  noSections.sections.clear();
  const Bytes packed = AppendPayload(stub, BiosAndIni()).image;
  std::vector<PayloadRecord> tagInCert = BiosAndIni();
  Bytes cert = Pattern(64, 1);
  std::memcpy(&cert[10], "$_NORVEL_EC_IMG_", 16);
  tagInCert.push_back({RecordKind::BiosCer, cert});

  const struct {
    const char* what;
    std::function<void()> run;
    const char* expected;
  } cases[] = {
      {"not a PE", appendTo(Text("just some bytes, certainly no DOS header here ...... padding ....")), "not a PE"},
      {"truncated headers", appendTo(Bytes(stub.begin(), stub.begin() + 0x80)), "truncated"},
      {"section table past end", appendTo(Bytes(stub.begin(), stub.begin() + 0x140)), "section table"},
      {"overlay data", appendTo(overlay), "16 bytes of trailing data"},
      {"certificate table", appendTo(signedImage), "signed"},
      {"VA below raw pointer", appendTo(BuildPeImage(lowVa)), "outside the scanned range"},
      {"last section not highest", appendTo(BuildPeImage(notHighest)), "not the highest"},
      {"no sections", appendTo(BuildPeImage(noSections)), "no sections"},
      {"already packed", appendTo(packed), "already holds"},
      {"no BIOS", appendRecords({{RecordKind::Ini, Text("x")}}), "BIOS record is required"},
      {"no INI", appendRecords({{RecordKind::Bios, Text("x")}}), "INI record"},
      {"no INI with empty BIOS", appendRecords({}, true), "INI record"},
      {"BIOS and empty BIOS", appendRecords(BiosAndIni(), true), "empty BIOS"},
      {"duplicate", appendRecords({{RecordKind::Bios, {}}, {RecordKind::Ini, {}}, {RecordKind::Ini, {}}}),
       "two records tagged $_NORVEL_INI_IMG"},
      {"tag inside certificate", appendRecords(tagInCert), "would find"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(std::string::npos, ErrorOf(c.run).find(c.expected)) << c.what << ": " << ErrorOf(c.run);
  }
}

TEST(Payload, OptionalRecordsAppearInTheDriverViewExactlyWhenGiven) {
  const std::vector<std::vector<RecordKind>> sets = {
      {},
      {RecordKind::Ec},
      {RecordKind::Me, RecordKind::OemId, RecordKind::Ish, RecordKind::Pdt},
      {RecordKind::PfatCer, RecordKind::PfatHdr},
      {RecordKind::DeviceFw, RecordKind::BiosCr2, RecordKind::BiosCer, RecordKind::Ec},
  };
  for (const auto& set : sets) {
    std::vector<PayloadRecord> recs = BiosAndIni();
    for (RecordKind k : set) recs.push_back({k, Pattern(40 + static_cast<size_t>(k), static_cast<uint8_t>(k))});
    const Bytes image = AppendPayload(BuildStubDriverImage(Arch::Ia32), recs).image;
    std::vector<RecordKind> want = {RecordKind::Bios, RecordKind::Ini};
    for (size_t k = 2; k < 10; ++k) {
      for (RecordKind g : set) {
        if (static_cast<size_t>(g) == k) want.push_back(g);
      }
    }
    std::vector<RecordKind> got;
    for (const FoundRecord& f : DriverView(image)) {
      got.push_back(f.kind);
      EXPECT_EQ(f.kind == RecordKind::Bios ? 5000u : f.kind == RecordKind::Ini ? 16u : 40u + static_cast<uint32_t>(f.kind),
                f.dataSize);
    }
    EXPECT_EQ(want, got) << "set of " << set.size();
    // The whole-file scan also lists the certificates the driver skips.
    EXPECT_EQ(recs.size(), ScanRecords(image).records.size());
  }
}

TEST(Payload, DriverViewStopsAtARecordClaimingMoreThanTheImageHolds) {
  Bytes image = AppendPayload(BuildStubDriverImage(Arch::Ia32), BiosAndIni()).image;
  const size_t bios = ParsePe(image).sections.back().pointerToRawData + 0x60;
  ASSERT_EQ(0, std::memcmp(&image[bios], "$_NORVEL_BIOSIMG", 16));
  WriteU32(image, bios + 20, 0x7FFFFFFF);
  const std::vector<FoundRecord> seen = DriverView(image);
  ASSERT_EQ(1u, seen.size());  // the driver jumps past the end: the INI record is never reached
  EXPECT_TRUE(seen[0].truncated);
  // The whole-file scan goes on a byte at a time and still lists the INI record.
  EXPECT_EQ(2u, ScanRecords(image).records.size());
}

TEST(Payload, ScanOfARawFileFindsRecordsAtAnyOffsetAndCopesWithTruncation) {
  Bytes file = Text("xyz");                                       // odd offset before the first record
  const Bytes ec = EncodeRecord(RecordKind::Ec, Pattern(10, 1));  // at 3
  file.insert(file.end(), ec.begin(), ec.end());
  Bytes huge = EncodeRecord(RecordKind::Bios, {});  // at 37, claims almost 4 GiB
  WriteU32(huge, 20, 0xFFFFFFF0);
  file.insert(file.end(), huge.begin(), huge.end());
  const Bytes ini = EncodeRecord(RecordKind::Ini, Text("abc"));  // at 61: found after the truncated one
  file.insert(file.end(), ini.begin(), ini.end());
  file.insert(file.end(), {'$', '_', 'P', 'F', 'A', 'T', '_', 'H', 'D', 'R', '_', 'I', 'M', 'G', '_', '_', 1, 0});

  const ScanReport rep = ScanRecords(file);
  EXPECT_FALSE(rep.isPe);
  EXPECT_EQ(0u, rep.start);
  ASSERT_EQ(4u, rep.records.size());
  const struct {
    RecordKind kind;
    uint64_t offset;
    bool complete;
    uint32_t size;
    bool truncated;
  } want[] = {
      {RecordKind::Ec, 3, true, 10, false},
      {RecordKind::Bios, 37, true, 0xFFFFFFF0, true},
      {RecordKind::Ini, 61, true, 3, false},
      {RecordKind::PfatHdr, 88, false, 0, true},  // the file ends inside the header
  };
  for (size_t i = 0; i < 4; ++i) {
    const FoundRecord& f = rep.records[i];
    EXPECT_EQ(std::make_tuple(want[i].kind, want[i].offset, want[i].complete, want[i].size, want[i].truncated),
              std::make_tuple(f.kind, f.offset, f.headerComplete, f.dataSize, f.truncated))
        << i;
  }
  // A tag cut by the end of the file is not a record.
  EXPECT_TRUE(ScanRecords(Text("..$_NORVEL_BIOSIM")).records.empty());
}

TEST(Payload, ScanOfAPeSkipsItsHeadersAndEveryPrefixIsSafe) {
  ImageLayout layout;
  layout.sizeOfHeaders = 0x200;
  layout.sections.push_back({".data", 0x200, 0x20, 0x200, Pattern(0x20, 1)});
  Bytes image = BuildPeImage(layout);
  std::memcpy(&image[0x1A0], "$_NORVEL_BIOSIMG", 16);  // header padding: not scanned
  const Bytes packed = AppendPayload(image, BiosAndIni()).image;
  const ScanReport rep = ScanRecords(packed);
  ASSERT_EQ(2u, rep.records.size());
  EXPECT_EQ(std::make_tuple(true, uint64_t{0x200}, uint64_t{0x220}),
            std::make_tuple(rep.isPe, uint64_t{rep.start}, uint64_t{rep.records[0].offset}));

  // Cut files stop being PEs and are scanned whole; no read leaves the buffer.
  for (size_t n = 2; n < packed.size(); n += 7) {
    const ScanReport cut = ScanRecords(Bytes(packed.begin(), packed.begin() + n));
    EXPECT_FALSE(cut.isPe);
    EXPECT_FALSE(cut.peError.empty());
    for (const FoundRecord& f : cut.records) {
      EXPECT_EQ(f.offset + 24 + f.dataSize > n || !f.headerComplete, f.truncated);
    }
  }
}

}  // namespace
}  // namespace vyr::pack
