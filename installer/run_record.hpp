#pragma once
// The record of a run in progress: which services it must start again and
// whether its new files are all in place. It is written to disk, durably,
// before the run stops a service or registers one, and deleted when nothing
// is left to complete, so that a run that dies (killed, power lost) leaves
// the next one what it needs to finish the work. It lies in the destination
// directory, which only administrators can write. It is a hint, never an
// authority: only services that discovery finds for the installed files are
// ever started, and a record that cannot be read is ignored.
#include <string_view>

namespace brq_install {

struct install_plan;

// The record's file name in the destination directory.
inline constexpr std::wstring_view record_file_name = L"qzv.ua.brq.run";

// Step: reads the record that an interrupted run left and says in one line
// that this run resumes it (also when the lock was abandoned: its holder
// died), then puts the files in order: each one that run had replaced is
// put back, unless all its new files were in place, and its temporary files
// are removed. A record that cannot be read is a warning. False, after an
// error block, when a file cannot be put back.
bool resume_interrupted_run(install_plan& plan, bool lock_abandoned);

// Marks the discovered services that the record names as services to start
// again.
void mark_resumed_services(install_plan& plan);

// Whether the record of an interrupted run names the service `name`.
bool is_resumed(const install_plan& plan, std::wstring_view name);

// Writes the record of this run: the services marked to start again, the
// services named by an earlier record, the services registered, and whether
// the new files are all in place. False, after an error block, when it
// cannot be written; true without a record when the destination directory
// is not there.
bool save_record(const install_plan& plan);

// Deletes the record: the run has nothing left for another to complete. A
// record that cannot be deleted stays a harmless hint.
void remove_record(const install_plan& plan);

}  // namespace brq_install
