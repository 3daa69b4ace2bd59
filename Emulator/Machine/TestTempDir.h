// Kept for the tests that include this name: the scratch directory is Tests/TempDir.h.
#ifndef VYR_EMU_TEST_TEMP_DIR_H_
#define VYR_EMU_TEST_TEMP_DIR_H_

#include "TempDir.h"

namespace vyr::emu::testing {
using vyr::testing::TempDir;
}  // namespace vyr::emu::testing

#endif  // VYR_EMU_TEST_TEMP_DIR_H_
