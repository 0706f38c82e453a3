# Cross-builds for 64-bit ARM Linux (Debian's arm64) with Debian's cross toolchain
# (crossbuild-essential-arm64) and the arm64 libraries installed next to the host's through
# multiarch (libnl-3-dev:arm64, ...): their headers are shared in /usr/include, their libraries
# are in /usr/lib/aarch64-linux-gnu.
#
# What the build makes runs on this machine under qemu's user-mode emulator, called directly
# with the cross toolchain's runtime as its library prefix: no binfmt registration is needed.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(NODLETFLASH_CROSS_TRIPLET aarch64-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${NODLETFLASH_CROSS_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${NODLETFLASH_CROSS_TRIPLET}-g++ REQUIRED)

# Only the target's own libraries and packages: a host library of the same name must never be
# linked by mistake. Headers are architecture-independent except those in the multiarch folder,
# which the cross compiler searches first by itself.
set(CMAKE_FIND_ROOT_PATH /usr/${NODLETFLASH_CROSS_TRIPLET})
set(CMAKE_SYSTEM_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

find_program(NODLETFLASH_QEMU_USER NAMES qemu-aarch64-static qemu-aarch64)
if(NODLETFLASH_QEMU_USER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NODLETFLASH_QEMU_USER} -L /usr/${NODLETFLASH_CROSS_TRIPLET})
endif()
