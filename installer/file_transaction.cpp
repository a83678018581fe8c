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

// "Restoring \"name\"... " and the outcome: "ok" or an error block.
bool report_file(const char* action, std::wstring_view name, DWORD error) {
  print({action, " \"", name, "\"... "});
  if (error != ERROR_SUCCESS) {
    report_error({"failed\n"}, error);
    return false;
  }
  print_text("ok\n");
  return true;
}

// Sets `there` when a file (not a directory) is at `path`: 0, or the code
// when that cannot be told.
DWORD file_there(const std::wstring& path, bool& there) {
  DWORD attributes = 0;
  DWORD error = win::get_file_attributes(path, attributes);
  there = error == ERROR_SUCCESS && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool is_created(const run_journal& journal, const payload_file& file) {
  return std::ranges::find(journal.created, file.name) != journal.created.end();
}

// Puts one file in order as the journal says. With `defer`, a file that a
// program holds open, or a backup that cannot be deleted, is left for
// later (`pending`); without, it is an error.
bool put_file_in_order(run_journal& journal, const payload_file& file, bool defer, bool& pending) {
  // A staging file is overwritten by the next copy anyway; deleting it only
  // keeps the directory clean.
  (void)win::delete_file(win::staging_path(file.path));
  std::wstring backup = win::backup_path(file.path);
  bool has_backup = false, has_file = false;
  DWORD error = file_there(backup, has_backup);
  if (error == ERROR_SUCCESS) error = file_there(file.path, has_file);
  if (error != ERROR_SUCCESS) return report_file("Restoring", file.name, error);

  if (has_backup && has_file && journal.files_in_place) {
    // The new file is in its place for good: its backup only goes.
    if ((error = win::delete_file(backup)) == ERROR_SUCCESS) return true;
    if (defer) return pending = true;
    print({"Deleting \"", std::wstring_view(backup).substr(backup.rfind(L'\\') + 1), "\"... "});
    report_error({"failed\n"}, error);
    return false;
  }
  // Otherwise a backup goes back in its place, also over a file in place,
  // and a file the dead run created goes.
  bool remove = !has_backup && has_file && !journal.files_in_place && is_created(journal, file);
  if (!has_backup && !remove) return true;
  if (has_file && defer && win::check_not_held(file.path) == ERROR_SHARING_VIOLATION) return pending = true;
  if (remove) return report_file("Removing", file.name, win::delete_file(file.path));
  return report_file("Restoring", file.name, win::move_file(backup, file.path));
}

// Every file in order, as recover_files says; once they are, the journal
// no longer speaks of the dead run's files.
bool put_in_order(install_plan& plan, bool defer) {
  run_journal& journal = plan.journal;
  bool pending = false;
  for (const payload_file& file : plan.files) {
    if (!put_file_in_order(journal, file, defer, pending)) return false;
  }
  journal.recovery_pending = pending;
  if (!pending) {
    journal.files_in_place = false;
    journal.created.clear();
  }
  return true;
}

}  // namespace

bool recover_files(install_plan& plan) { return put_in_order(plan, true); }

bool begin_replacement(install_plan& plan) {
  if (plan.journal.recovery_pending && !put_in_order(plan, false)) return false;
  plan.journal.created.clear();
  for (const payload_file& file : plan.files) {
    // A file that may hold old bytes is never one that a recovery deletes:
    // when that cannot be told, nothing is replaced.
    bool there = false;
    if (DWORD error = file_there(file.path, there)) {
      report_error({"failed\n"}, error);
      return false;
    }
    if (!there) plan.journal.created.emplace_back(file.name);
  }
  return save_record(plan);
}

DWORD advance_file(payload_file& file, std::span<uint8_t> buffer) {
  std::wstring staging = win::staging_path(file.path);
  if (file.state == file_state::untouched) {
    if (DWORD error = win::extract_resource_to_file(file.resource_id, staging, buffer)) return error;
    file.state = file_state::staged;
  }
  if (file.state == file_state::staged) {
    // Never moved from under a program that has it open: it is to end first.
    if (DWORD error = win::check_not_held(file.path)) return error;
    DWORD error = win::move_file(file.path, win::backup_path(file.path));
    if (error == ERROR_FILE_NOT_FOUND) {
      if ((error = win::move_file(staging, file.path)) == ERROR_SUCCESS) file.state = file_state::created;
      return error;
    }
    if (error != ERROR_SUCCESS) return error;
    file.state = file_state::moved_aside;
  }
  if (file.state == file_state::moved_aside) {
    if (DWORD error = win::move_file(staging, file.path)) return error;
    file.state = file_state::replaced;
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
    if (file.state == file_state::replaced && win::delete_file(win::backup_path(file.path)) != ERROR_SUCCESS) {
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
      back = report_file("Restoring", file.name, win::move_file(win::backup_path(file.path), file.path));
    } else if (file.state == file_state::created) {
      back = report_file("Removing", file.name, win::delete_file(file.path));
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
