#pragma once
#include <string>

namespace brq_install {

struct install_plan;
struct payload_file;

// The command line a service of `file` is registered with: the quoted
// installed path, then a blank and the file's service arguments if it has
// any.
std::wstring service_command_line(const payload_file& file);

// Step: registers the service of each payload program that has one, unless
// discovery found a service for that program already (a warning then), and
// records the created names in plan.registered. False, after the error
// block, when a service cannot be created.
[[nodiscard]] bool register_services(install_plan& plan);

}  // namespace brq_install
