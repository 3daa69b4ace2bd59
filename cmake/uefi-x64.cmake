# X64 UEFI images: cmake -S cmake/uefi -B build/uefi-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/uefi-x64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VYR_UEFI_TRIPLE x86_64-unknown-windows-msvc)
set(VYR_UEFI_ARCH X64)
set(VYR_UEFI_MACHINE X64)
include(${CMAKE_CURRENT_LIST_DIR}/uefi-toolchain.cmake)
