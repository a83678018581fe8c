#pragma once
#include <windows.h>

#include <string_view>

namespace brq_install {

struct install_plan;

// The printed name of a service state: "stopped" to "paused", "unknown" for
// any value outside 1 to 7.
std::string_view service_state_name(DWORD state);

// Step: finds the services that run an installed payload program and records
// them in plan.services, one line each. Failures are warnings.
void discover_services(install_plan& plan);

}  // namespace brq_install
