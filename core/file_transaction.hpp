#pragma once
// The installed files change as one set, like a database's pages under its
// rollback journal. Each new file is staged beside its target and flushed,
// then swapped in with the old file kept as its backup (a marker, another
// name, where there was none). The replacement is open while the run's
// record (run_record.hpp) is on disk; once every file is in, an empty
// file, the commit point, is written, and only then do the backups go;
// the commit point goes last. Until it is written a failure puts every old
// file back (roll back). Nothing is read from the record's content or
// inferred from the backups' sizes or order: a dead run's replacement is
// completed when its commit point is there and undone when it is not, and
// with no record there is none (a backup without one is never acted on;
// the next swap replaces it). Each file's state (file_state) is carried
// from attempt to attempt.
#include <cstdint>
#include <span>

#include <windows.h>

namespace brq_install {

struct install_plan;
struct payload_file;

// Step: with a record on disk, puts in order what a run that died left
// beside the files: its staging files are deleted; with its commit point
// there its backups and markers are deleted, otherwise every backup is put
// back (over the file or not) and a file with a marker deleted, one line
// each ("Restoring \"name\"... ", "Removing \"name\"... ", then "ok" or an
// error block). A file that a program holds open (a service started again
// since, say), and a committed backup that cannot be deleted, are left
// until the services are stopped. False, after an error block, when a file
// cannot be put in order: the run must not go on.
[[nodiscard]] bool recover_files(install_plan& plan);

// What recovery left, done now that the services are stopped, on lines of
// its own: false, after an error block, when a file cannot be put back. A
// committed backup that still cannot be deleted is a warning naming it,
// and stays with the record and the commit point.
[[nodiscard]] bool finish_recovery(install_plan& plan);

// Whether the files are one whole set, old or new, once what recovery left
// is finished: nothing may be started on them otherwise. False, after an
// error block, when a file could not be put in order or back.
[[nodiscard]] bool files_whole(install_plan& plan);

// The start of this run's replacement, before the first file is swapped,
// once recovery is finished: the record is written. False after an error
// block.
[[nodiscard]] bool begin_replacement(install_plan& plan);

// One attempt to put the new `file` in its place, from where the last one
// stopped: staged (inflated into its staging file and flushed), then moved
// in, the old file moved to its backup first (or its marker written where
// there was none). 32 while a program holds the file; 0 or the code of the
// call that failed.
[[nodiscard]] DWORD advance_file(payload_file& file, std::span<uint8_t> buffer);

// Every new file is in place: the commit point is written, then the
// backups and markers go, and the commit point last. One that cannot be
// deleted is a warning naming it and work left to the next run. False,
// after an error block, when the commit point cannot be written; the
// files are then to be rolled back.
[[nodiscard]] bool commit_files(install_plan& plan);

// Puts back, newest first, every file this run changed: "Restoring
// \"name\"... " for a file that had old bytes, "Removing \"name\"... " for
// one that was not there before, each closed by "ok" or an error block;
// staging files are deleted. A file that cannot be put back is left to the
// next run, through the record.
void roll_back_files(install_plan& plan);

}  // namespace brq_install
