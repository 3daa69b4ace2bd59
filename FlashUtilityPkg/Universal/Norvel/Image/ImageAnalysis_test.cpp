// The one-pass scan answers what a search of the same image answers: first
// occurrences, occurrences that overlap or end at the last byte, and payload
// records passed over while their size runs past the image.
#include "Image/ImageAnalysis.h"

#include <string>
#include <vector>

#include "BaseLib.h"
#include "UtilityFixture.h"

namespace {

using vyr::testing::UtilityTest;

class ImageAnalysisTest : public UtilityTest {};

std::vector<UINT8> Bytes(const std::string &Text) { return std::vector<UINT8>(Text.begin(), Text.end()); }

std::vector<UINT8> Signature(IMAGE_SIGNATURE Which) {
  CHAR8 Needle[32];
  UINTN Length = 0;
  GetImageSignature(Which, Needle, &Length);
  return std::vector<UINT8>(Needle, Needle + Length);
}

std::vector<UINT8> Record(PAYLOAD_TAG_ID Tag, UINT32 DataSize, UINT32 Present) {
  std::vector<UINT8> R(PAYLOAD_HEADER_LENGTH + Present, 0x5A);
  GetPayloadTag(Tag, reinterpret_cast<CHAR8 *>(R.data()));
  WriteUnaligned32(R.data() + 20, DataSize);
  return R;
}

std::vector<UINT8> Join(std::initializer_list<std::vector<UINT8>> Parts) {
  std::vector<UINT8> Out;
  for (auto &P : Parts) Out.insert(Out.end(), P.begin(), P.end());
  return Out;
}

TEST_F(ImageAnalysisTest, ScanFindsWhatASearchFinds) {
  auto Bvdt = Signature(ImageSignatureBvdt);
  auto Sku = Signature(ImageSignatureMultiSku);
  struct Case {
    const char *Name;
    std::vector<UINT8> Image;
  } Cases[] = {
      {"empty", {}},
      {"none", Bytes("$$$$~~~~QQQQ")},
      {"two, the first counts", Join({Bytes("xx"), Bvdt, Bytes("y"), Bvdt})},
      {"overlapping starts", Join({Bytes("$"), Bvdt, Sku})},
      {"at the last byte", Join({Bytes("abc"), Sku})},
      {"cut at the end", Join({Bytes("abc"), std::vector<UINT8>(Sku.begin(), Sku.end() - 1)})},
      {"cut record, then a whole one", Join({Record(PayloadBios, 0x100, 4), Record(PayloadBios, 4, 4)})},
      {"record running one byte past", Record(PayloadIni, 5, 4)},
      {"record ending at the last byte", Join({Bvdt, Record(PayloadEc, 8, 8)})},
  };
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    const UINT8 *Image = C.Image.empty() ? reinterpret_cast<const UINT8 *>("") : C.Image.data();
    UINT32 Size = static_cast<UINT32>(C.Image.size());
    AnalyzeImage(Image, Size);
    for (int W = 0; W < ImageSignatureCount; W++) {
      auto S = Signature(static_cast<IMAGE_SIGNATURE>(W));
      EXPECT_EQ(FindImageSignature(static_cast<IMAGE_SIGNATURE>(W), Image, Size),
                FindBytes(Image, Size, S.data(), S.size()))
          << "signature " << W;
    }
    for (int T = 0; T < PayloadTagCount; T++) {
      UINT32 Scanned = 0, Searched = 0;
      EXPECT_EQ(FindImageRecord(static_cast<PAYLOAD_TAG_ID>(T), Image, Size, &Scanned),
                FindPayloadRecordInBuffer(static_cast<PAYLOAD_TAG_ID>(T), Image, Size, &Searched))
          << "tag " << T;
      EXPECT_EQ(Scanned, Searched) << "tag " << T;
    }
  }
}

// A part of the analysed image, or another buffer, is searched, not answered
// from the scan.
TEST_F(ImageAnalysisTest, OtherBuffersAreSearched) {
  auto Image = Join({Signature(ImageSignatureBvdt), Bytes("...."), Signature(ImageSignatureBvdt)});
  AnalyzeImage(Image.data(), static_cast<UINT32>(Image.size()));
  EXPECT_EQ(0, FindImageSignature(ImageSignatureBvdt, Image.data(), Image.size()));
  EXPECT_EQ(4, FindImageSignature(ImageSignatureBvdt, Image.data() + 5, Image.size() - 5));
  EXPECT_EQ(-1, FindImageSignature(ImageSignatureBvdt, Image.data(), 4));
  AnalyzeImage(nullptr, 0);
  EXPECT_EQ(0, FindImageSignature(ImageSignatureBvdt, Image.data(), Image.size()));
}

}  // namespace
