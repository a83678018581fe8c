#pragma once
// The installed files change as one set, like a database's pages under its
// rollback journal (the run's record, run_record.hpp). Each new file is
// staged beside its target and flushed, then swapped in with the old file
// kept as its backup (an empty backup where there was none); once every
// file is in, the record says so and the backups go (commit); until then a
// failure puts every old file back (roll back). Each file's state
// (file_state) is carried from attempt to attempt.
// A run that dies leaves the record, and the next run puts the files in
// order from the record and from what is on disk: it finishes the commit,
// or it rolls back.
#include <cstdint>
#include <span>

#include <windows.h>

namespace brq_install {

struct install_plan;
struct payload_file;

// Step: puts in order what a run that died left beside the files, as the
// record read into the plan's journal says: its staging files are deleted;
// its backups are deleted when all its new files were in place, otherwise
// put back, and a file whose backup is empty deleted, one line each
// ("Restoring \"name\"... ", "Removing \"name\"... ", then "ok" or an
// error block). A backup whose file is missing is always put back. A file that a program
// holds open (a service started again since, say) is left until the
// services are stopped: finished before the copy. False, after an error
// block, when a file cannot be put in order: the run must not go on.
[[nodiscard]] bool recover_files(install_plan& plan);

// What recovery left because a file was held, done now that the services
// are stopped: false, after an error block, when a file cannot be put in
// order.
[[nodiscard]] bool finish_recovery(install_plan& plan);

// Whether the files are one whole set, old or new, once what recovery left
// is finished: nothing may be started on them otherwise. False, after an
// error block, when a file could not be put in order or back.
[[nodiscard]] bool files_whole(install_plan& plan);

// The start of this run's replacement, before the first file is swapped:
// finishes what recovery left, and writes into the record that the files
// are being replaced. False after an error block.
[[nodiscard]] bool begin_replacement(install_plan& plan);

// One attempt to put the new `file` in its place, from where the last one
// stopped: staged (inflated into its staging file and flushed), then moved
// in, the old file moved to its backup first (or an empty backup written
// where there was none). 32 while a program holds the file; 0 or the code
// of the call that failed.
[[nodiscard]] DWORD advance_file(payload_file& file, std::span<uint8_t> buffer);

// Every new file is in place: the record says so, then the backups go.
// False, after an error block, when the record cannot be written; the
// files are then to be rolled back.
[[nodiscard]] bool commit_files(install_plan& plan);

// Puts back, newest first, every file this run changed: "Restoring
// \"name\"... " for a file that had old bytes, "Removing \"name\"... " for
// one that was not there before, each closed by "ok" or an error block;
// staging files are deleted. A file that cannot be put back is left to the
// next run, through the record.
void roll_back_files(install_plan& plan);

}  // namespace brq_install
