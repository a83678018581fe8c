#pragma once
// The steps of a removal, in the order the uninstaller runs them. Each takes
// the plan that the installer's own steps (destination, discovery, stop,
// process check) have filled in.

#include <windows.h>

#include <string>

#include "console/console.hpp"

namespace brq_install {

struct install_plan;

// What a removal has taken off the machine so far: none at all on a machine
// without the product.
struct removal_tally {
  int removed = 0;
};

// Ends the line of one thing to remove: "ok", counted, or the error block
// of `error`. False for the error.
[[nodiscard]] inline bool end_removal_line(DWORD error, removal_tally& tally) {
  if (end_line(error, failure_block::error) != ERROR_SUCCESS) return false;
  ++tally.removed;
  return true;
}

// Step: refuses, in red, a destination that a junction or symbolic link
// leads to (Quorvanta, QZV.UA or brq): what lies behind it is not the
// installer's to delete. False when one is.
[[nodiscard]] bool check_no_links(const install_plan& plan);

// The product's own service (QZVOPCUA.BRQ) when discovery could not match
// it by its file, which is gone: it counts as found when its command line
// names the installed server's path.
void find_orphaned_services(install_plan& plan);

// Step: whether every service has stopped, before any process is ended.
// False, after an error block for the first that has not.
[[nodiscard]] bool services_stopped(const install_plan& plan);

// The product file that is this program's own running image (the installed
// removal program, started from the destination); empty when it runs from
// elsewhere.
std::wstring own_product_file(const install_plan& plan);

// Step: whether every file of the product that is there can be deleted:
// none held open by another process (a read-only one is made writable).
// `self`, this program's own file, is moved out, not deleted. False, after
// an error block for the first that cannot.
[[nodiscard]] bool files_removable(const install_plan& plan, const std::wstring& self);

// Step: deletes the services the installer registers; a service of
// another name that runs an installed file was registered by hand and is
// left registered, with a warning. False when a deletion failed.
[[nodiscard]] bool delete_services(const install_plan& plan, removal_tally& tally);

// Step: removes the firewall exception of each file that has one. False
// when one could not be read or removed.
[[nodiscard]] bool remove_firewall_exceptions(const install_plan& plan, removal_tally& tally);

// Step: deletes the installed files, their temporary files and the run's
// record, only those names. `self`, this program's own file, which Windows
// does not let it delete while it runs, goes last and only when every other
// file went: it is moved to the system's temporary directory and deleted at
// the next restart. False when one could not be deleted.
[[nodiscard]] bool delete_files(const install_plan& plan, const std::wstring& self, removal_tally& tally);

// Step: deletes the product's entry in Programs and Features, when it is
// there. False when it could not be deleted.
[[nodiscard]] bool delete_uninstall_entry(removal_tally& tally);

// Step: removes brq, QZV.UA and Quorvanta where they are empty; one that
// holds files of others is kept, and so are those above it. False when one
// could not be removed for another reason.
[[nodiscard]] bool remove_directories(const install_plan& plan, removal_tally& tally);

}  // namespace brq_install
