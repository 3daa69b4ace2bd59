// Whole FD images for an emulated machine: the size of its flash part and a
// BVDT where its BIOS keeps one (the first OEM data region of the whole map).
#ifndef VYRPACK_FD_H_
#define VYRPACK_FD_H_

#include <string>
#include <vector>

#include "Machine/Profile.h"
#include "vyrpack/Bvdt.h"

namespace vyr::pack {

struct FdChange {
  uint32_t offset = 0;  // from the start of the image (the ROM base)
  uint32_t size = 0;
};

// Offset of the BVDT in an image for this machine: the first whole-map
// region of type 0Ah. Throws std::runtime_error when the map has none or it
// lies outside the flash.
size_t ProfileBvdtOffset(const emu::Profile& profile);

// The image: `base` (which must have the flash's size) or the profile's
// erased flash, each change filled with a text naming the model and version,
// then the BVDT stamped at ProfileBvdtOffset. Throws on a change outside the
// image or one that would cover the BVDT.
Bytes BuildProfileFd(const emu::Profile& profile, const Bytes* base, const BvdtStamp& stamp,
                     const std::vector<FdChange>& changes);

// "OFFSET:SIZE,..." with numbers in C notation (0x for hex).
std::vector<FdChange> ParseFdChanges(const std::string& text);

}  // namespace vyr::pack

#endif  // VYRPACK_FD_H_
