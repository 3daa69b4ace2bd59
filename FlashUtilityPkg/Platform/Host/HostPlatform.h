// The host backend of the facade runs the utility against an emulated PC.
#ifndef VYR_HOST_PLATFORM_H_
#define VYR_HOST_PLATFORM_H_

namespace vyr::emu {
class Machine;
}

// Every facade call goes to this machine; nullptr detaches (calls then fail
// safely: EFI_NOT_READY, FALSE, no output). Pool memory works either way.
void HostPlatformAttach(vyr::emu::Machine *Machine);
vyr::emu::Machine *HostPlatformMachine();

#endif  // VYR_HOST_PLATFORM_H_
