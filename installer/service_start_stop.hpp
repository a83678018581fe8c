#pragma once

namespace brq_install {

struct install_plan;

// The stop loop: stops every discovered service that was active (running,
// paused or pending), and waits for one that was stopping already, one line
// each. Failures are warnings.
void stop_services(const install_plan& plan);

// Step: starts again the discovered services that were active, whether or
// not their stop succeeded, then the services registered in this run, one
// line each. A failure is a warning and the next service follows; nothing at
// all is printed when there is nothing to start. False when a service could
// not be started, so that the run does not end as a success with a service
// down.
bool start_services(install_plan& plan);

}  // namespace brq_install
