#pragma once

namespace brq_install {

struct install_plan;

// Step: writes the product's entry in Programs and Features, naming this
// version and the installed removal program. Run once the files are all in
// place for good, so that the entry never names files that are not. False,
// after an error block, when it cannot be written.
[[nodiscard]] bool write_uninstall_entry(install_plan& plan);

}  // namespace brq_install
