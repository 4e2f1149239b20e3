# Cross build for 64-bit Arm Linux (aarch64) with Debian's cross compiler
# (g++-aarch64-linux-gnu). Google Test comes from Debian's arm64 package
# through multiarch (libgtest-dev:arm64, in /usr/lib/aarch64-linux-gnu),
# and the programs built here run on this machine under qemu-user: CTest
# starts each test program through the emulator, and the tests start the
# tool through it as well (tests/CMakeLists.txt hands it to them), so no
# binfmt handler is needed. scripts/setup.sh installs all of it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TALVEX_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${TALVEX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TALVEX_CROSS_TRIPLET}-g++)
# Where find_package looks for arm64 packages installed through multiarch.
set(CMAKE_LIBRARY_ARCHITECTURE ${TALVEX_CROSS_TRIPLET})

# The static emulator where there is one: it needs no host library, so it
# also runs inside an empty root (tests/package_checks.sh). The arm64 C
# library comes from multiarch (libc6:arm64), so no -L sysroot is given.
find_program(TALVEX_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(TALVEX_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TALVEX_QEMU_AARCH64}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${TALVEX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Libraries and packages: the cross sysroot first, then the multiarch
# folders of the host (/usr/lib/aarch64-linux-gnu), which hold arm64 files.
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
