#pragma once
// The step that detects the Windows version and its generation class, and
// which payload files apply on it.
#include "install_plan.hpp"

namespace brq_install {

// Fills the plan's `os` and `crt`. An unreadable version is not reported:
// it counts as 0.0.0.0, and the run goes on.
void read_os(install_plan& plan);

// Step: read_os, then the line that shows them.
void detect_os(install_plan& plan);

// Whether `file` is to be handled on the system recorded in `plan`.
[[nodiscard]] bool applies_to_os(const payload_file& file, const install_plan& plan);

}  // namespace brq_install
