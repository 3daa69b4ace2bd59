#include "vyrpack/Package.h"

#include <gtest/gtest.h>

#include <cstring>

#include "vyrpack/Bvdt.h"

namespace vyr::pack {
namespace {

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b, size_t at, size_t n) { return std::string(b.begin() + at, b.begin() + at + n); }
uint32_t U32(const Bytes& b, size_t at) { return ReadU32(b, at); }

// A BIOS image whose BVDT names `model`.
Bytes SkuImage(const std::string& model, uint8_t fill, size_t size = 0x300) {
  BvdtStamp stamp;
  stamp.model = model;
  stamp.version = "V1.00";
  return StampBvdt(Bytes(size, fill), 0x40, stamp);
}

// The stub application (448 bytes, so the ROM pack header starts at 0x1C0),
// three images of 100, 33 and 7 bytes, an INI text, options, a filter and two
// resources.
PackageInput ThreeImages() {
  PackageInput in;
  in.application = BuildStubDriverImage(Arch::Ia32);
  in.images = {{"model-a.fd", Bytes(100, 0xA1)}, {"model-b.fd", Bytes(33, 0xB2)}, {"model-c.fd", Bytes(7, 0xC3)}};
  in.ini = B("[MULTI_FD]\r\nFlag=1\r\n\x80\x81");
  in.options = "/b";
  in.filter = "/b /ec /u";
  in.resources = {{"FwUpdLcl.efi", B("tool")}, {"me.bin", Bytes(20, 0x4D)}};
  return in;
}

// The offsets below are the contract with the utility's reader: headers back
// to back after the application padded to 16, then each piece of data at a
// 16-byte boundary, every offset counted from the signature that holds it.
TEST(VyrpackPackage, LayoutIsByteExact) {
  const Bytes p = BuildPackage(ThreeImages());
  ASSERT_EQ(448u, BuildStubDriverImage(Arch::Ia32).size());
  // ROM pack header at 0x1C0: first image at 0x1C0 + 322 + 78 + 2 * 81 + 17 = 0x403, rounded to 0x410.
  EXPECT_EQ("$ROM_PACK", S(p, 0x1C0, 9));
  EXPECT_EQ(0x410u - 0x1C0, U32(p, 0x1C9));
  EXPECT_EQ(100u, U32(p, 0x1CD));
  EXPECT_EQ(std::string("/b\0", 3), S(p, 0x1D1, 3));
  EXPECT_EQ(std::string("/b /ec /u\0", 10), S(p, 0x202, 10));
  EXPECT_EQ(Bytes(49 - 2, 0), Bytes(p.begin() + 0x1D3, p.begin() + 0x202));
  // Extra pack header right after it.
  EXPECT_EQ(std::string("$EXT_PACK\0\0\0\0\x03", 14), S(p, 0x302, 14));
  EXPECT_EQ(std::string("model-a.fd\0", 11), S(p, 0x310, 11));
  // Further ROM headers: image 1 at 0x410 + 100 -> 0x480, image 2 at 0x480 + 33 -> 0x4B0.
  EXPECT_EQ("$ROM_P01_", S(p, 0x350, 9));
  EXPECT_EQ(0x480u - 0x350, U32(p, 0x359));
  EXPECT_EQ(33u, U32(p, 0x35D));
  EXPECT_EQ(std::string("model-b.fd\0", 11), S(p, 0x361, 11));
  EXPECT_EQ("$ROM_P02_", S(p, 0x3A1, 9));
  EXPECT_EQ(0x4B0u - 0x3A1, U32(p, 0x3AA));
  EXPECT_EQ(7u, U32(p, 0x3AE));
  EXPECT_EQ("model-c.fd", S(p, 0x3B2, 10));
  // INI pack header; the text at 0x4B0 + 7 -> 0x4C0, rotated left by one bit.
  EXPECT_EQ("$INI_PACK", S(p, 0x3F2, 9));
  EXPECT_EQ(0x4C0u - 0x3F2, U32(p, 0x3FB));
  EXPECT_EQ(22u, U32(p, 0x3FF));
  EXPECT_EQ(Bytes(p.begin() + 0x410, p.begin() + 0x474), Bytes(100, 0xA1));
  EXPECT_EQ(0xB6, p[0x4C0]);  // '[' (0x5B)
  EXPECT_EQ(0x01, p[0x4C0 + 20]);  // 0x80
  EXPECT_EQ(0x03, p[0x4C0 + 21]);  // 0x81
  // Resources: at 0x4C0 + 22 -> 0x4E0, and 0x4E0 + 64 + 4 -> 0x530.
  EXPECT_EQ(std::string("$EXT_RESRC\xAA\x55\x04\0\0\0FwUpdLcl.efi\0", 29), S(p, 0x4E0, 29));
  EXPECT_EQ("tool", S(p, 0x4E0 + 64, 4));
  EXPECT_EQ(std::string("$EXT_RESRC\xAA\x55\x14\0\0\0me.bin\0", 23), S(p, 0x530, 23));
  EXPECT_EQ(0x530u + 64 + 20, p.size());
  EXPECT_EQ(Bytes({0x00, 0x02, 0x03, 0xFE, 0x81}), ScrambleIni(Bytes({0x00, 0x01, 0x81, 0x7F, 0xC0})));
  EXPECT_EQ(Bytes({0x00, 0x01, 0x81, 0x7F, 0xC0}), UnscrambleIni(ScrambleIni(Bytes({0x00, 0x01, 0x81, 0x7F, 0xC0}))));
}

// Data lies after every header, so only the application, the names and the
// option texts could hide a header; data may hold any signature except the
// resource record's, which the utility searches one after another.
TEST(VyrpackPackage, RefusesWhatTheUtilityWouldMisread) {
  using Edit = void (*)(PackageInput&);
  const struct {
    const char* name;
    Edit edit;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"no image", [](PackageInput& in) { in.images.clear(); }, "a package holds 1 to 99 images, not 0"},
      {"100 images",
       [](PackageInput& in) {
         in.images.clear();
         for (int i = 0; i < 100; ++i) in.images.push_back({"m" + std::to_string(i), Bytes(1, 1)});
       },
       "a package holds 1 to 99 images, not 100"},
      {"99 images",
       [](PackageInput& in) {
         in.images.clear();
         for (int i = 0; i < 99; ++i) in.images.push_back({"m" + std::to_string(i), Bytes(1, 1)});
       },
       nullptr},
      {"empty name", [](PackageInput& in) { in.images[1].name = ""; }, "image name '' must have 1 to 47 characters"},
      {"48 characters", [](PackageInput& in) { in.images[0].name = std::string(48, 'n'); }, "must have 1 to 47"},
      {"47 characters", [](PackageInput& in) { in.images[0].name = std::string(47, 'n'); }, nullptr},
      {"slash", [](PackageInput& in) { in.images[2].name = "a/b.fd"; }, "image name 'a/b.fd': only printable"},
      {"backslash", [](PackageInput& in) { in.resources[0].name = "a\\b"; }, "resource name 'a\\b': only printable"},
      {"control byte", [](PackageInput& in) { in.images[0].name = "a\tb"; }, "only printable ASCII without"},
      {"same image name in other case", [](PackageInput& in) { in.images[2].name = "MODEL-A.fd"; },
       "image name 'MODEL-A.fd' is given twice (names are compared without case)"},
      {"empty image", [](PackageInput& in) { in.images[1].data.clear(); }, "image 'model-b.fd' is empty"},
      {"options of 49", [](PackageInput& in) { in.options = std::string(49, 'o'); },
       "the built-in option text is 49 characters long; at most 48 fit"},
      {"options of 48", [](PackageInput& in) { in.options = std::string(48, 'o'); }, nullptr},
      {"filter of 256", [](PackageInput& in) { in.filter = std::string(256, 'f'); },
       "the command filter is 256 characters long; at most 255 fit"},
      {"filter of 255", [](PackageInput& in) { in.filter = std::string(255, 'f'); }, nullptr},
      {"control byte in the options", [](PackageInput& in) { in.options = "/b\n/u"; },
       "the built-in option text may hold only printable ASCII"},
      {"application not PE", [](PackageInput& in) { in.application = Bytes(600, 'x'); }, "MZ"},
      {"application holding a header", [](PackageInput& in) { std::copy_n("$EXT_PACK", 9, &in.application[0x170]); },
       "the application image holds \"$EXT_PACK\" at offset 0x00000170: the utility would read it as a package header"},
      {"application holding a resource",
       [](PackageInput& in) { std::copy_n("$EXT_RESRC", 10, &in.application[0x170]); }, "holds \"$EXT_RESRC\""},
      {"application holding a further header",
       [](PackageInput& in) { std::copy_n("$ROM_P07_", 9, &in.application[0x170]); }, "holds \"$ROM_P\" at"},
      {"image name hides the INI pack header", [](PackageInput& in) { in.images[1].name = "$INI_PACK"; },
       "\"$INI_PACK\" occurs in the header of image '$INI_PACK' at offset 0x00000361, before the package's own "
       "header at 0x000003F2: the utility would read that one"},
      {"first name hides a further header", [](PackageInput& in) { in.images[0].name = "$ROM_P02_.fd"; },
       "\"$ROM_P02_\" occurs in the extra pack header at offset 0x00000310"},
      {"filter hides the extra pack header", [](PackageInput& in) { in.filter = "/b $EXT_PACK"; },
       "\"$EXT_PACK\" occurs in the command filter at offset 0x00000205"},
      {"image data holding a resource signature",
       [](PackageInput& in) { std::memcpy(in.images[1].data.data() + 3, "$EXT_RESRC", 10); },
       "\"$EXT_RESRC\" occurs in image 'model-b.fd' at offset 0x00000483: the utility would take it for a resource"},
      {"image data holding header signatures",
       [](PackageInput& in) {
         in.images[2].data = B("$ROM_PACK$EXT_PACK$INI_PACK$ROM_P01_$ROM_P02_");
         in.resources[0].name = "$ROM_P01_";
       },
       nullptr},
      {"INI text holding header signatures", [](PackageInput& in) { in.ini = UnscrambleIni(B("$ROM_P01_$EXT_PACK")); },
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackageInput in = ThreeImages();
    c.edit(in);
    try {
      const Bytes file = BuildPackage(in);
      EXPECT_EQ(nullptr, c.error);
      EXPECT_TRUE(ReadPackage(file).errors.empty());
    } catch (const std::exception& e) {
      ASSERT_NE(nullptr, c.error) << e.what();
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << e.what();
    }
  }
}

// Damaged files: the reader names what is wrong, reads nothing past the file
// and still lists the parts that are whole.
TEST(VyrpackPackage, ReaderReportsDamage) {
  const Bytes good = BuildPackage(ThreeImages());
  using Edit = void (*)(Bytes&);
  const struct {
    const char* name;
    Edit edit;
    const char* error;
    size_t images;
    size_t resources;
  } cases[] = {
      {"first image past the end", [](Bytes& f) { WriteU32(f, 0x1C9, static_cast<uint32_t>(f.size())); },
       "image 0: offset 0x00000584 from its header at 0x000001C0 and size 100 run past the end of the file", 2, 2},
      {"offset that wraps", [](Bytes& f) { WriteU32(f, 0x359, 0xFFFFFFF0u); }, "image 1: offset 0xFFFFFFF0", 2, 2},
      {"further header missing in the middle", [](Bytes& f) { f[0x350] = '#'; },
       "image 1: its header \"$ROM_P01_\" is missing", 2, 2},
      {"unterminated image name", [](Bytes& f) { std::fill(f.begin() + 0x361, f.begin() + 0x361 + 64, 'x'); },
       "image 1: the 64-byte name field at 0x00000361 is not NUL-terminated", 2, 2},
      {"image count 0", [](Bytes& f) { f[0x30F] = 0; }, "counts 0 images (1 to 99 expected)", 1, 2},
      {"image count 100", [](Bytes& f) { f[0x30F] = 100; }, "counts 100 images (1 to 99 expected)", 1, 2},
      {"unterminated options", [](Bytes& f) { std::fill(f.begin() + 0x1D1, f.begin() + 0x1D1 + 49, 'o'); },
       "the built-in options (49 bytes at 0x000001D1) are not NUL-terminated", 3, 2},
      {"INI text past the end", [](Bytes& f) { WriteU32(f, 0x3FF, 0x1000); }, "the INI text: offset 0x000000CE", 3, 2},
      {"resource size past the end", [](Bytes& f) { WriteU32(f, 0x530 + 12, 21); },
       "the resource record at 0x00000530 ('me.bin'): its 21 bytes of data run past the end of the file", 3, 1},
      {"wrong verify code", [](Bytes& f) { f[0x4E0 + 10] = 0x55; },
       "the resource record at 0x000004E0 ('FwUpdLcl.efi'): verify code 0x5555 is not 0x55AA", 3, 2},
      {"unterminated resource name", [](Bytes& f) { std::fill(f.begin() + 0x4E0 + 16, f.begin() + 0x4E0 + 64, 'r'); },
       "the 48-byte name field at 0x000004F0 is not NUL-terminated", 3, 1},
      {"resource header cut off", [](Bytes& f) { f.resize(0x530 + 40); },
       "the resource record at 0x00000530 is cut off by the end of the file (64 bytes needed, 40 left)", 3, 1},
      {"ROM pack header cut off", [](Bytes& f) { f.resize(0x1C0 + 100); },
       "the ROM pack header at 0x000001C0 is cut off by the end of the file (322 bytes needed, 100 left)", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = good;
    c.edit(file);
    // An exact-size copy: a read past it is caught by the sanitizers.
    const PackageView v = ReadPackage(Bytes(file.begin(), file.end()));
    ASSERT_EQ(1u, v.errors.size()) << (v.errors.empty() ? "" : v.errors.back());
    EXPECT_NE(std::string::npos, v.errors[0].find(c.error)) << v.errors[0];
    EXPECT_EQ(c.images, v.images.size());
    EXPECT_EQ(c.resources, v.resources.size());
  }
  // Without an extra pack header the utility takes the first image, unnamed.
  Bytes noExt = good;
  noExt[0x302] = '#';
  const PackageView v = ReadPackage(noExt);
  EXPECT_TRUE(v.errors.empty());
  EXPECT_FALSE(v.extPackOffset.has_value());
  ASSERT_EQ(1u, v.images.size());
  EXPECT_EQ("", v.images[0].name);
  EXPECT_FALSE(ReadPackage(Bytes(good.begin(), good.begin() + 0x1C0)).isPackage);
}

TEST(VyrpackMultiSku, LayoutAndRefusals) {
  const Bytes a = SkuImage("VyrPC-A", 0xA1, 0x123), b = SkuImage("VyrPC-B", 0xB2, 0x200);
  const Bytes m = BuildMultiSku({{"a.fd", a}, {"b.fd", b}});
  EXPECT_EQ(std::string("$MULTISC\0\0\0\0\x02\0\0\0", 16), S(m, 0, 16));
  EXPECT_EQ(0x20u, U32(m, 16));  // 16 + 2 * 8, already at a 16-byte boundary
  EXPECT_EQ(0x123u, U32(m, 20));
  EXPECT_EQ(0x150u, U32(m, 24));  // 0x20 + 0x123 rounded up to 16
  EXPECT_EQ(0x200u, U32(m, 28));
  EXPECT_EQ(a, Bytes(m.begin() + 0x20, m.begin() + 0x20 + 0x123));
  EXPECT_EQ(b, Bytes(m.begin() + 0x150, m.end()));
  const Bytes three = BuildMultiSku({{"a", a}, {"b", b}, {"c", SkuImage("VyrPC-C", 0xC3)}});
  EXPECT_EQ(0x30u, U32(three, 16));  // 16 + 3 * 8 = 40, rounded up to 48

  Bytes cut = a;
  cut.resize(0x40 + 63);
  const struct {
    const char* name;
    std::vector<NamedFile> images;
    const char* error;
  } cases[] = {
      {"one image", {{"a.fd", a}}, "a multi-SKU image needs at least two images"},
      {"no BVDT", {{"a.fd", a}, {"plain.fd", Bytes(0x100, 0xFF)}},
       "'plain.fd' has no BVDT (\"$BVDT\"): its model name cannot be read"},
      {"BVDT cut off", {{"cut.fd", cut}, {"b.fd", b}}, "'cut.fd': its BVDT at 0x00000040 is cut off by the end"},
      {"empty model", {{"a.fd", a}, {"e.fd", SkuImage("", 0)}}, "'e.fd': its BVDT has an empty model name"},
      {"same model", {{"a.fd", a}, {"b.fd", b}, {"a2.fd", SkuImage("VyrPC-A", 0x22)}},
       "'a.fd' and 'a2.fd' have the same model name 'VyrPC-A': the utility would always take the first"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      BuildMultiSku(c.images);
      ADD_FAILURE();
    } catch (const PackageError& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << e.what();
    }
  }
}

TEST(VyrpackMultiSku, ReaderReportsDamage) {
  const Bytes good = BuildMultiSku({{"a", SkuImage("VyrPC-A", 0xA1)}, {"b", SkuImage("VyrPC-B", 0xB2)}});
  using Edit = void (*)(Bytes&);
  const struct {
    const char* name;
    Edit edit;
    const char* error;
    int entries;  // -1: not checked
  } cases[] = {
      {"count past the table", [](Bytes& f) { WriteU32(f, 12, 0x7FFFFFFF); },
       "the multi-SKU entry table (2147483647 entries) runs past the end of the file; 194 entries fit", -1},
      {"no images", [](Bytes& f) { WriteU32(f, 12, 0); }, "counts no images", 0},
      {"entry past the end", [](Bytes& f) { WriteU32(f, 28, 0x301); }, "multi-SKU image 1: offset 0x00000320", 1},
      {"header cut off", [](Bytes& f) { f.resize(12); }, "the multi-SKU header at 0x00000000 is cut off", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = good;
    c.edit(file);
    const MultiSkuView v = ReadMultiSku(Bytes(file.begin(), file.end()));
    EXPECT_TRUE(v.isMultiSku);
    ASSERT_FALSE(v.errors.empty());
    EXPECT_NE(std::string::npos, v.errors[0].find(c.error)) << v.errors[0];
    if (c.entries >= 0) {
      EXPECT_EQ(static_cast<size_t>(c.entries), v.entries.size());
    }
  }
  // A count that makes garbage of the table names a few bad entries, not hundreds.
  Bytes table(16 + 20 * 8, 0xF0);
  std::copy_n("$MULTISC\0\0\0\0\x14\0\0\0", 16, table.begin());
  const MultiSkuView garbage = ReadMultiSku(table);
  ASSERT_EQ(9u, garbage.errors.size());
  EXPECT_EQ("multi-SKU image 7: offset 0xF0F0F0F0 from its header at 0x00000000 and size 4042322160 run past the end "
            "of the file",
            garbage.errors[7]);
  EXPECT_EQ("and 12 more multi-SKU images run past the end of the file", garbage.errors[8]);

  Bytes blank = good;
  std::fill(blank.begin() + 0x20, blank.begin() + 0x320, 0);  // the first image loses its BVDT
  const MultiSkuView v = ReadMultiSku(blank);
  EXPECT_TRUE(v.errors.empty());
  EXPECT_FALSE(v.entries[0].model.has_value());
  EXPECT_EQ(std::optional<std::string>("VyrPC-B"), v.entries[1].model);
}

}  // namespace
}  // namespace vyr::pack
