# NODLETFLASH_DEB_ARCHITECTURE: the Debian architecture of the programs this build makes, the
# one its package is for. A cross build names its target; a native one asks dpkg.
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(NODLETFLASH_DEB_ARCHITECTURE arm64)
  else()
    message(FATAL_ERROR "No Debian architecture is known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
else()
  find_program(NODLETFLASH_DPKG dpkg)
  if(NODLETFLASH_DPKG)
    execute_process(COMMAND ${NODLETFLASH_DPKG} --print-architecture
                    OUTPUT_VARIABLE NODLETFLASH_DEB_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
  else()
    set(NODLETFLASH_DEB_ARCHITECTURE amd64)
  endif()
endif()
