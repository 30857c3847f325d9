# A 32-bit Linux build on a 64-bit host (Debian's g++-multilib). The product
# is a 32-bit library: this build runs the portable code and its tests with
# 32-bit pointers, size_t and long. The host runs the programs itself, so
# this is not a cross build; the compiler's -m32 answer picks the i386
# library folders.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Debian's multiarch libusb for i386 is not installed here; the 64-bit build
# tests the libusb backend.
set(VELA2_WITH_LIBUSB OFF CACHE BOOL "")
