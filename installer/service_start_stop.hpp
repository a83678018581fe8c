#pragma once

namespace brq_install {

struct install_plan;

// The stop loop: stops every discovered service that was running, one line
// each. Failures are warnings.
void stop_services(const install_plan& plan);

// Step: starts again the discovered services that were running, then the
// services registered in this run, one line each. Failures are warnings;
// nothing at all is printed when there is nothing to start. Always true.
bool start_services(install_plan& plan);

}  // namespace brq_install
