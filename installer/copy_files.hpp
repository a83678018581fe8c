#pragma once

namespace brq_install {

struct install_plan;

// Step: writes every applicable payload file into the destination, creating
// missing directories and retrying while a file is held by another process.
// The files change as one set (file_transaction.hpp): at the first file
// that cannot be written (after an error block), or when the run is
// cancelled, every file this run changed is put back and the step returns
// false.
[[nodiscard]] bool copy_files(install_plan& plan);

}  // namespace brq_install
