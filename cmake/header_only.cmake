# CLI11, nlohmann-json and toml++ are header-only (toml++ as Debian's package ships it, unless
# told otherwise); a cross build reaches Debian's copies through a
# directory of its own that holds only them, never the rest of the host's /usr/include. Linked as
# nodletflash_header_only.
set(header_only ${CMAKE_BINARY_DIR}/header-only)
foreach(header CLI/CLI.hpp nlohmann/json.hpp toml++/toml.h)
  string(MAKE_C_IDENTIFIER ${header} variable)
  find_path(NODLETFLASH_${variable}_DIR ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  get_filename_component(directory ${header} DIRECTORY)
  file(MAKE_DIRECTORY ${header_only})
  file(CREATE_LINK ${NODLETFLASH_${variable}_DIR}/${directory} ${header_only}/${directory} SYMBOLIC)
endforeach()
add_library(nodletflash_header_only INTERFACE)
target_include_directories(nodletflash_header_only SYSTEM INTERFACE ${header_only})
