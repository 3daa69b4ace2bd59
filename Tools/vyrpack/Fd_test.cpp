// Whole FDs for a machine: the BVDT lands where the emulated BIOS reads the
// identity, changes stay inside the image and away from the BVDT.
#include "vyrpack/Fd.h"

#include <gtest/gtest.h>

namespace vyr::pack {
namespace {

BvdtStamp Stamp(const std::string &Version) {
  BvdtStamp S;
  S.model = "VyrPC";
  S.version = Version;
  return S;
}

TEST(ProfileFd, TheBvdtGoesToTheProfilesBvdtRegionAndChangesStayInside) {
  const emu::Profile Profile = emu::Profile::Default();
  EXPECT_EQ(0x250000u, ProfileBvdtOffset(Profile));
  Bytes Image = BuildProfileFd(Profile, nullptr, Stamp("V2.00"), ParseFdChanges("0x300000:0x10000"));
  ASSERT_EQ(size_t(Profile.Flash.Size), Image.size());
  EXPECT_EQ(std::string("VyrFFT VyrPC V2.00 "), std::string(Image.begin() + 0x300000, Image.begin() + 0x300013));
  EXPECT_EQ(0xFF, Image[0x310000]);  // outside the change: erased
  // That the machine's BIOS names the identity stamped there is the smoke
  // run's "the machine now reports V1.01" (Tests/vyrfft-smoke.sh).
  EXPECT_EQ(FindBvdt(Image), std::optional<size_t>(0x250000));

  // From a base image: its bytes stay, the BVDT is renewed in place.
  Image[0x100] = 0x42;
  Bytes Next = BuildProfileFd(Profile, &Image, Stamp("V2.01"), {});
  EXPECT_EQ(0x42, Next[0x100]);
  EXPECT_EQ(Image[0x300000], Next[0x300000]);
  EXPECT_EQ(FindBvdt(Next), std::optional<size_t>(0x250000));
}

TEST(ProfileFd, Refusals) {
  emu::Profile Profile = emu::Profile::Default();
  const Bytes Short(0x1000, 0xFF);
  EXPECT_THROW(BuildProfileFd(Profile, &Short, Stamp("V1"), {}), std::runtime_error);
  EXPECT_THROW(BuildProfileFd(Profile, nullptr, Stamp("V1"), {{0x7FF000, 0x2000}}), std::runtime_error);
  EXPECT_THROW(BuildProfileFd(Profile, nullptr, Stamp("V1"), {{0x24FFF0, 0x20}}), std::runtime_error);  // BVDT
  EXPECT_THROW(BuildProfileFd(Profile, nullptr, Stamp("V1"), {{0x1000, 0}}), std::runtime_error);
  EXPECT_THROW(ParseFdChanges("0x1000"), std::runtime_error);
  EXPECT_THROW(ParseFdChanges("0x1000:-1"), std::runtime_error);
  Profile.Flash.WholeMap.clear();
  EXPECT_THROW(ProfileBvdtOffset(Profile), std::runtime_error);
}

}  // namespace
}  // namespace vyr::pack
