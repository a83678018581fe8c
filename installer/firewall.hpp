#pragma once
// The firewall step: an enabled exception in the current firewall profile
// for every payload file that asks for one.
#include <string_view>

namespace brq_install {

struct install_plan;

// The name of every exception that the installer adds.
inline constexpr std::wstring_view firewall_exception_name = L"qzv OPCUA";

// Step: enters COM for its duration (single-threaded apartment, OLE1 DDE
// disabled) and runs add_firewall_exceptions. Failures are warnings, so that
// the services are started whatever happened here.
void configure_firewall(install_plan& plan);

// Opens the current firewall profile and ensures the exception of every
// flagged file of the plan, one progress line each.
void add_firewall_exceptions(install_plan& plan);

}  // namespace brq_install
