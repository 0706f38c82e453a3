# The arm64 build's one boot of an emulated arm64 machine (qemu's "virt", Debian's arm64 kernel,
# can0 as a vcan interface): the tool's full download against the virtual hand's node, a run
# ended by SIGTERM whose interface must be put back, and a rehearsal of the guide. Included by
# CMakeLists.txt in a cross build for Linux; everything that runs in the guest is linked
# statically, as for the amd64 guest.

set(guest_programs)
foreach(program nodletflash nodletflash-guide nodletflash-sim)
  get_target_property(sources ${program} SOURCES)
  get_target_property(directory ${program} SOURCE_DIR)
  get_target_property(libraries ${program} LINK_LIBRARIES)
  list(TRANSFORM sources PREPEND ${directory}/ REGEX "^[^/]")
  add_executable(${program}-static ${sources})
  target_link_options(${program}-static PRIVATE -static)
  target_link_libraries(${program}-static PRIVATE ${libraries})
  list(APPEND guest_programs $<TARGET_FILE:${program}-static>)
endforeach()
add_executable(virtual-hand ${PROJECT_SOURCE_DIR}/sim/virtual_hand_main.cpp)
target_link_options(virtual-hand PRIVATE -static)
# The tool's node-number rule from its core.
target_link_libraries(virtual-hand PRIVATE nodletflash_hand nodletflash_core)

set(VCAN_ARM64_CACHE ${CMAKE_BINARY_DIR}/vcan-cache CACHE PATH "Kernel and initramfs of the arm64 guest")

# Fetches the arm64 kernel and busybox, builds the initramfs.
add_test(NAME vcan_arm64_prepare
  COMMAND bash ${PROJECT_SOURCE_DIR}/tools/qemu-vcan/prepare-arm64.sh ${VCAN_ARM64_CACHE})
set_tests_properties(vcan_arm64_prepare PROPERTIES FIXTURES_SETUP vcan_arm64 LABELS vcan TIMEOUT 1800)

# Runs alone: the guest's two virtual CPUs take both cores.
add_test(NAME vcan_arm64
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/arm64-test.sh ${CMAKE_CURRENT_BINARY_DIR}/arm64-run
          ${VCAN_ARM64_CACHE} ${guest_programs} $<TARGET_FILE:virtual-hand>
          ${PROJECT_SOURCE_DIR}/examples/firmware-100k.hex ${PROJECT_SOURCE_DIR}/examples/tiny.hex)
set_tests_properties(vcan_arm64 PROPERTIES
  FIXTURES_REQUIRED vcan_arm64 LABELS vcan TIMEOUT 1800 RUN_SERIAL TRUE)
