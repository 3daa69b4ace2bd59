// A Dell multi-SKU capsule as arbitrary bytes: whatever its count and its
// entries say, the selection must read only inside the image, and the image
// it hands back must be a whole copy of a piece of it (or the image itself).
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Base/Trace.h"
#include "Image/ConfigLoader.h"
#include "Image/Payload.h"
#include "Machine/Machine.h"
#include "NamedFunction.h"
#include "../FlashUtilityPkg/Platform/Host/HostPlatform.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"
#include "Base/Settings.h"
#include "DriverEntry.h"

namespace {

// One Dell machine for the whole run, its 10h and 11h answers taken once: the
// selection keeps no state of its own, and a machine per input would cost
// most of the run.
bool Boot() {
  static vyr::emu::Machine *Machine = nullptr;
  static bool Ready = false;
  if (Machine != nullptr) return Ready;
  ResetModuleState();
  vyr::emu::Profile P = vyr::emu::Profile::Default();
  P.Flash.Size = 0x20000;
  P.Platform.VendorId = 0x1028;
  P.Platform.ModelName = "VyrPC";  // Fuzz/MultiSku.dict carries it
  static const std::string Dir = (std::filesystem::temp_directory_path() / "vyr-fuzz-multisku").string();
  Machine = new vyr::emu::Machine(P, Dir);
  HostPlatformAttach(Machine);
  InitialIniConfig();
  mIniSettings.Others.SMIErrorRetry = 0;
  mIniSettings.Others.SMIErrorRetryDelay = 0;
  mTrace.DebugFlag = 0;
  PLATFORM_INFO Info;
  Ready = AllocateFwsmiBuffers() && InitialSmi() && SMI_IsSupport() && SMI_GetPlatformInfo(&Info);
  return Ready;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (!Boot()) __builtin_trap();
  // Pool memory of the exact size (the selection frees the image it
  // replaces), so that any read past the end is caught.
  UINT8 *Image = static_cast<UINT8 *>(AllocateCopyPool(Size, Data));
  UINT32 Length = static_cast<UINT32>(Size);
  if (Image == nullptr) return 0;
  UINT8 *Before = Image;
  CheckAndSetMultiSkuPackage(&Image, &Length);
  if (Image != Before) {
    // A chosen image is a copy of bytes of the input.
    if (Length > Size || FindBytes(Data, Size, Image, Length) < 0) __builtin_trap();
  } else if (Length != Size) {
    __builtin_trap();
  }
  // What the shell flow does next with the image: its INI record.
  CONST UINT8 *Ini = nullptr;
  UINT32 IniSize = 0;
  if (GetPayloadRecordInBuffer(PayloadIni, Image, Length, &Ini, &IniSize)) {
    uint32_t Sum = 0;
    for (UINT32 I = 0; I < IniSize; I++) Sum += Ini[I];
    if (Sum == 0xFFFFFFFFu) std::memset(Image, 0, Length);
  }
  FreePool(Image);
  return 0;
}
