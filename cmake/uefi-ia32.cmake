# IA32 UEFI images: cmake -S cmake/uefi -B build/uefi-ia32 -DCMAKE_TOOLCHAIN_FILE=cmake/uefi-ia32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VYR_UEFI_TRIPLE i686-unknown-windows-msvc)
set(VYR_UEFI_ARCH IA32)
set(VYR_UEFI_MACHINE X86)
include(${CMAKE_CURRENT_LIST_DIR}/uefi-toolchain.cmake)
