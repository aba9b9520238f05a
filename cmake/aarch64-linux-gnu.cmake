# SPDX-License-Identifier: ISC
# Cross-compiles for 64-bit Arm Linux with Debian's cross compilers
# (g++-aarch64-linux-gnu).  Libraries such as GoogleTest come from Debian's
# multiarch packages (libgtest-dev:arm64), which CMake finds by the
# compiler's library architecture.  The built programs and tests run here
# through qemu-user and binfmt_misc:
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_STRIP aarch64-linux-gnu-strip)
# pkg-config, which FindOpenSSL asks first, would give the build machine's
# libraries; only the arm64 ones are looked at.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
