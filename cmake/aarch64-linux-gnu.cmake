# Cross-building for 64-bit ARM Linux (a robot's Raspberry Pi or other arm64 board) with Debian's cross
# toolchain and the :arm64 multiarch libraries; the programs and tests run here under QEMU's user mode.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_STRIP aarch64-linux-gnu-strip CACHE FILEPATH "")
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Headers and libraries from the multiarch directories of this very system; programs (moc, python) are the
# build machine's own.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Test discovery, the manuals (written from --help) and ctest run the arm64 programs through QEMU. They find
# the multiarch loader and libraries (libc6:arm64, libstdc++6:arm64) where an arm64 system keeps them; the
# cross toolchain's own copies (QEMU's -L /usr/aarch64-linux-gnu) pair a loader with another release's C
# library, and threads then hang at their start.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

# GCC 12 warns of overlapping copies inside std::string's own operator+ at -O2 (a known false positive of that
# release); with warnings as errors it would stop the build over library code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
