#pragma once

namespace brq_install {

struct install_plan;

// Step: writes every applicable payload file into the destination, creating
// missing directories and retrying while a file is held by another process.
// False, after an error block, at the first file that cannot be written.
bool copy_files(install_plan& plan);

}  // namespace brq_install
