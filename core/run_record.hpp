#pragma once
// The record of a run in progress, `qzv.ua.brq.run` in the destination
// directory (which only administrators can write): the journal of the run's
// changes, as a database keeps a rollback journal. Its presence says that a
// replacement of the files may be open (file_transaction.hpp says how it
// ends); its content names the services the run must start again. It is
// written durably before every change that the next run must know about
// (before a service is stopped or registered, before the first file is
// swapped) and deleted only when its duty is done. A run that dies (killed,
// power lost) leaves it, and the next run completes the work from it and
// from what is on disk. It is a hint, not an authority: only services that
// discovery finds for the installed files are ever started.
#include <string_view>

namespace brq_install {

struct install_plan;


// Step: reads the record that an interrupted run left into the plan's
// journal, and says in one line that this run resumes it (also when the lock
// was abandoned: its holder died). A record that cannot be read or
// understood is a warning: its services are then every automatic service of
// the installed files.
void read_record(install_plan& plan, bool lock_abandoned);

// Marks the discovered services to be started again that the record names,
// or, for a record that could not be read, those that start automatically;
// the latter only until discovery has seen every installed file.
void mark_resumed_services(install_plan& plan);

// Whether the record of an interrupted run names the service `name`.
[[nodiscard]] bool is_resumed(const install_plan& plan, std::wstring_view name);

// Writes the record of this run: the services marked to start again with
// their dependents, the services named by an earlier record and the
// services registered. False, after an error block, when it cannot be
// written; true without a record when the destination directory is not
// there.
[[nodiscard]] bool save_record(const install_plan& plan);

// After a resume: the record rewritten before anything else changes, with
// the services this run knows of now. False, after an error block, when it
// cannot be written.
[[nodiscard]] bool save_resumed_record(const install_plan& plan);

// The run's end: deletes the record when its duty is done, that is when
// `services_started` (every service it names found and started again,
// disabled, or no longer the product's) and the files are one set with
// nothing left over. A record that cannot be deleted stays a harmless hint.
void close_record(const install_plan& plan, bool services_started);

}  // namespace brq_install
