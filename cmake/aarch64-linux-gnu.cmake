# Cross-builds the Linux tools for 64-bit ARM (Raspberry Pi OS 64-bit) with
# Debian's aarch64 toolchain. libpng comes from the arm64 architecture added
# to dpkg (multiarch: libpng-dev:arm64), so the tools link the same shared
# libpng the Pi's own packages use instead of a copy of it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries from /usr/lib/aarch64-linux-gnu, never the build machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
