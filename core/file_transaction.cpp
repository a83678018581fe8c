#include "file_transaction.hpp"

#include <algorithm>
#include <ranges>
#include <string>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "run_record.hpp"
#include "win/files.hpp"
#include "win/payload_resource.hpp"

namespace brq_install {

namespace {

// "Restoring \"name\"... ", the file put back by `operation`, and its
// outcome: "ok" or an error block.
template <typename Operation>
bool put_back(const char* action, std::wstring_view name, Operation operation) {
  print({action, " \"", name, "\"... "});
  return end_line(operation(), failure_block::error) == ERROR_SUCCESS;
}

// Deletes `path` and then its empty backup: a file that was not there.
DWORD remove_with_backup(const std::wstring& path) {
  DWORD error = win::delete_file(path);
  return error != ERROR_SUCCESS ? error : win::delete_file(win::backup_path(path));
}

// What is on disk for one file: whether it is there, whether it has a
// backup and whether that is empty (it had no file). False, after an error
// block, when that cannot be told.
struct on_disk {
  bool file = false, backup = false, none_before = false;
};
bool look(const payload_file& file, on_disk& found) {
  uint64_t size = 0, backup_size = 0;
  DWORD error = win::find_file(win::backup_path(file.path), found.backup, backup_size);
  if (error == ERROR_SUCCESS) error = win::find_file(file.path, found.file, size);
  found.none_before = found.backup && backup_size == 0;
  return error == ERROR_SUCCESS || put_back("Restoring", file.name, [error] { return error; });
}

// Puts one file in order as the journal says. With `defer`, a file that a
// program holds open, or a backup that cannot be deleted, is left for
// later (`pending`); without, it is an error.
bool put_file_in_order(const run_journal& journal, const payload_file& file, bool defer, bool& pending) {
  // A staging file is overwritten by the next copy anyway; deleting it only
  // keeps the directory clean.
  (void)win::delete_file(win::staging_path(file.path));
  on_disk found;
  if (!look(file, found)) return false;
  if (!found.backup) return true;
  std::wstring backup = win::backup_path(file.path);
  if (journal.files_in_place && (found.file || found.none_before)) {
    // The new file is in its place for good: its backup only goes.
    DWORD error = win::delete_file(backup);
    if (error == ERROR_SUCCESS) return true;
    if (defer) return pending = true;
    print({"Deleting \"", std::wstring_view(backup).substr(backup.rfind(L'\\') + 1), "\"... "});
    end_line(error, failure_block::error);
    return false;
  }
  // Otherwise the backup goes back in its place, also over a file in place
  // and whatever the record says of a file that is missing; a file that had
  // none goes.
  if (found.file && defer && win::check_not_held(file.path) == ERROR_SHARING_VIOLATION) return pending = true;
  if (found.none_before) return put_back("Removing", file.name, [&] { return remove_with_backup(file.path); });
  return put_back("Restoring", file.name, [&] { return win::move_file(backup, file.path); });
}

// Sets `under_way` when the backups on disk are those of a commit under
// way, for a record that cannot be read: a run swaps the files in their
// order and deletes their backups in the same order, so a file in place
// without a backup before one with a backup shows that the deletions had
// begun; and `any` when there is a backup at all. False, after an error
// block, when that cannot be told: nothing is then put back or deleted.
bool read_backups(const install_plan& plan, bool& under_way, bool& any) {
  bool without_backup = false;
  under_way = any = false;
  for (const payload_file& file : plan.files) {
    on_disk found;
    if (!look(file, found)) return false;
    under_way = under_way || (found.backup && without_backup);
    without_backup = without_backup || (found.file && !found.backup);
    any = any || found.backup;
  }
  return true;
}

// For a record that cannot be read, decides from the backups how far its
// files got, and writes that down before anything is done on the strength
// of it: the record may be read again later (once another program has let
// go of it) and must not then undo it. False after an error block.
bool decide_from_backups(install_plan& plan) {
  run_journal& journal = plan.journal;
  bool any = false;
  if (!read_backups(plan, journal.files_in_place, any) || (any && !save_record(plan))) return false;
  journal.files_unknown = false;
  return true;
}

// Every file in order, as recover_files says; once they are, the journal
// no longer speaks of the dead run's files. Backups are deleted in the
// files' order and put back newest first, as a run does, so that what a
// recovery cut off leaves the backups as a run would have.
bool put_in_order(install_plan& plan, bool defer) {
  run_journal& journal = plan.journal;
  if (journal.files_unknown && !decide_from_backups(plan)) return false;
  bool pending = false;
  for (size_t i = 0, count = plan.files.size(); i < count; ++i) {
    const payload_file& file = plan.files[journal.files_in_place ? i : count - 1 - i];
    if (!put_file_in_order(journal, file, defer, pending)) return false;
  }
  journal.recovery_pending = pending;
  if (!pending) journal.files_in_place = false;
  return true;
}

}  // namespace

bool recover_files(install_plan& plan) { return put_in_order(plan, true); }

bool finish_recovery(install_plan& plan) { return !plan.journal.recovery_pending || put_in_order(plan, false); }

bool files_whole(install_plan& plan) {
  return finish_recovery(plan) && std::ranges::all_of(plan.files, [](const payload_file& file) {
           return file.state == file_state::untouched || file.state == file_state::committed;
         });
}

bool begin_replacement(install_plan& plan) { return finish_recovery(plan) && save_record(plan); }

DWORD advance_file(payload_file& file, std::span<uint8_t> buffer) {
  std::wstring staging = win::staging_path(file.path), backup = win::backup_path(file.path);
  if (file.state == file_state::untouched) {
    if (DWORD error = win::extract_resource_to_file(file.resource_id, staging, buffer)) return error;
    file.state = file_state::staged;
  }
  if (file.state == file_state::staged) {
    // Never moved from under a program that has it open: it is to end first.
    if (DWORD error = win::check_not_held(file.path)) return error;
    DWORD error = win::move_file(file.path, backup);
    if (error == ERROR_FILE_NOT_FOUND) {
      // No file there: its backup says so, for a recovery to delete the new.
      if ((error = win::create_empty_file(backup))) return error;
      file.state = file_state::marked;
    } else if (error != ERROR_SUCCESS) {
      return error;
    } else {
      file.state = file_state::moved_aside;
    }
  }
  if (file.state == file_state::moved_aside || file.state == file_state::marked) {
    if (DWORD error = win::move_file(staging, file.path)) return error;
    file.state = file.state == file_state::marked ? file_state::created : file_state::replaced;
  }
  return ERROR_SUCCESS;
}

bool commit_files(install_plan& plan) {
  // Once the record says so, a run that dies from here on is completed by
  // the next one, not undone: the backups can go.
  plan.journal.files_in_place = true;
  if (!save_record(plan)) {
    plan.journal.files_in_place = false;
    return false;
  }
  for (payload_file& file : plan.files) {
    if (win::delete_file(win::backup_path(file.path)) != ERROR_SUCCESS) {
      plan.journal.work_left = true;  // the next run deletes it
    }
    file.state = file_state::committed;
  }
  return true;
}

void roll_back_files(install_plan& plan) {
  for (payload_file& file : std::views::reverse(plan.files)) {
    bool back = true;
    if (file.state == file_state::replaced || file.state == file_state::moved_aside) {
      back = put_back("Restoring", file.name, [&] { return win::move_file(win::backup_path(file.path), file.path); });
    } else if (file.state == file_state::created || file.state == file_state::marked) {
      back = put_back("Removing", file.name, [&] { return remove_with_backup(file.path); });
    }
    (void)win::delete_file(win::staging_path(file.path));  // a leftover is deleted by the next run
    if (back) {
      file.state = file_state::untouched;
    } else {
      plan.journal.work_left = true;  // the record tells the next run
    }
  }
  plan.journal.files_in_place = false;
}

}  // namespace brq_install
