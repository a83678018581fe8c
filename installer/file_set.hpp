#pragma once
// The installed files change as one set: each file replaced keeps its old
// bytes in its backup file until every new file is in place, and a run that
// cannot place them all puts every old file back.
namespace brq_install {

struct install_plan;

// Puts back, newest first, every file this run replaced: "Restoring
// \"name\"... " for a file that had old bytes, "Removing \"name\"... " for one
// that was not there before, each closed by "ok" or an error block. A file
// that cannot be put back keeps the run's record on disk, so that the next
// run does it. Leaves the plan with no replaced file.
void restore_files(install_plan& plan);

// Every new file is in place: records that, then deletes the backups. False,
// after an error block, when the record cannot be written; the files are
// then to be restored.
bool keep_new_files(install_plan& plan);

// What an interrupted run left beside the files: its staging files are
// deleted; its backups are deleted when `new_files_in_place`, otherwise put
// back, one line each as restore_files prints them. False, after an error
// block, when a backup cannot be put back.
bool recover_files(install_plan& plan, bool new_files_in_place);

}  // namespace brq_install
