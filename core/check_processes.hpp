#pragma once

namespace brq_install {

struct install_plan;

// Step: ends the processes that still run from an installed payload file, so
// that the copy can replace it; not those of a file whose services could not
// be discovered. Failures are warnings.
void check_processes(install_plan& plan);

}  // namespace brq_install
