# CLI11 is header-only and comes from the host's libcli11-dev. The cross
# compiler gets only its CLI/ folder, through a build-local include directory
# holding a link to it: the host's /usr/include never joins a cross build.
find_path(BRQ_CLI11_DIR CLI/CLI.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(BRQ_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${BRQ_CLI11_INCLUDE})
file(CREATE_LINK ${BRQ_CLI11_DIR}/CLI ${BRQ_CLI11_INCLUDE}/CLI SYMBOLIC)

add_library(brq_cli11 INTERFACE)
target_include_directories(brq_cli11 SYSTEM INTERFACE ${BRQ_CLI11_INCLUDE})
