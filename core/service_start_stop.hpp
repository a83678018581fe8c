#pragma once

namespace brq_install {

struct install_plan;

// Step: marks the discovered services that the record of an interrupted
// run names to be started again (mark_resumed_services), each with the
// dependents of it that the record names.
void resume_services(install_plan& plan);

// The stop loop: after "Will stop services...", and only when services were
// discovered, stops every discovered service that was active (running,
// paused or pending), and waits for one that was stopping already, one line
// each. Failures are warnings. Each service to stop is marked to be started
// again and written into the run's record before it is stopped; false,
// after an error block, when the record cannot be written.
[[nodiscard]] bool stop_services(install_plan& plan);

// Step: starts again the discovered services marked so (active ones, and
// those an interrupted run stopped), whether or not their stop succeeded,
// then the services registered in this run, one line each; then reports
// each service that the record of an interrupted run names but discovery
// did not find. A failure is a warning and the next service follows;
// nothing at all is printed when there is nothing to start or report. A
// disabled service is not started: a yellow line says so. False when a
// service could not be started, or may be the product's but was not found,
// so that the run does not end as a success with a service down.
[[nodiscard]] bool start_services(install_plan& plan);

// Whether start_services has a service to start again, or to report as not
// found, whatever else the run did.
[[nodiscard]] bool has_services_to_start(const install_plan& plan);

}  // namespace brq_install
