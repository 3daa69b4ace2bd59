# Shared part of the UEFI toolchains: clang-14 compiles for the Microsoft
# target triple, lld-link-14 links PE images. No C runtime, no system headers.
# VYR_UEFI_TRIPLE is set by the including toolchain file.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET ${VYR_UEFI_TRIPLE})
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
# The compiler check cannot link a program without a runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_OUTPUT_EXTENSION .obj)
# Images are linked by lld-link directly; the target's LINK_OPTIONS pick the subsystem and entry.
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_LINKER> /nologo <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
set(CMAKE_EXECUTABLE_SUFFIX .efi)
