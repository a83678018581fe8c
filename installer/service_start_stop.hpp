#pragma once

namespace brq_install {

struct install_plan;

// The stop loop: stops every discovered service that was active (running,
// paused or pending), and waits for one that was stopping already, one line
// each. Failures are warnings.
void stop_services(const install_plan& plan);

// Step: starts again the discovered services that were active, whether or
// not their stop succeeded, then the services registered in this run, one
// line each. Failures are warnings; nothing at all is printed when there is
// nothing to start. Always true.
bool start_services(install_plan& plan);

}  // namespace brq_install
