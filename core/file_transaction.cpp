#include "file_transaction.hpp"

#include <algorithm>
#include <ranges>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
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

std::wstring_view name_of(const std::wstring& path) { return std::wstring_view(path).substr(path.rfind(L'\\') + 1); }

// Deletes `path` and then its marker: a file that was not there.
DWORD remove_added(const std::wstring& path) {
  DWORD error = win::delete_file(path);
  return error != ERROR_SUCCESS ? error : win::delete_file(win::added_path(path));
}

DWORD is_there(const std::wstring& path, bool& there) {
  uint64_t size = 0;
  return win::find_file(path, there, size);
}

// After the commit point a file that cannot be deleted is work left to a
// later run, never a reason to undo: a warning that names it. False then.
bool delete_committed(const std::wstring& path) {
  DWORD error = win::delete_file(path);
  if (error == ERROR_SUCCESS) return true;
  print({"Deleting \"", name_of(path), "\"... "});
  end_line(error, failure_block::warning);
  return false;
}

// How far a dead run's replacement got, from the disk: whether its commit
// point is there. False, after an error block, when that cannot be told.
bool read_commit_point(const install_plan& plan, bool& committed) {
  DWORD error = is_there(commit_path(plan), committed);
  if (error == ERROR_SUCCESS && !committed && plan.journal.committed_earlier) {
    // An earlier build kept its commit point in the record: it becomes the
    // fact on disk before anything is done on the strength of it.
    error = win::create_empty_file(commit_path(plan));
    committed = error == ERROR_SUCCESS;
  }
  if (error == ERROR_SUCCESS) return true;
  print({"Reading \"", name_of(commit_path(plan)), "\"... "});
  end_line(error, failure_block::error);
  return false;
}

// What a dead run left of one file, as the disk says.
struct on_disk {
  bool file = false, backup = false, added = false;
};

// Puts one file of a dead run's replacement in order. Committed, its
// backup and marker only go. Otherwise its backup goes back in its place
// (its marker first, which would say there was none), or, with only a
// marker, the file goes. With `defer`, a file that a program holds open is
// left for later (`deferred`); without, a committed file that cannot be
// deleted is left over (`left_over`), any other an error block and false.
bool put_file_in_order(const payload_file& file, bool committed, bool defer, bool& deferred, bool& left_over) {
  // A staging file is overwritten by the next copy anyway; deleting it only
  // keeps the directory clean.
  (void)win::delete_file(win::staging_path(file.path));
  std::wstring backup = win::backup_path(file.path), added = win::added_path(file.path);
  on_disk found;
  DWORD error = is_there(backup, found.backup);
  if (error == ERROR_SUCCESS) error = is_there(added, found.added);
  if (error == ERROR_SUCCESS && (found.backup || found.added)) error = is_there(file.path, found.file);
  if (error != ERROR_SUCCESS) return put_back("Restoring", file.name, [error] { return error; });
  if (committed) {
    for (const std::wstring& path : {backup, added}) {
      if (defer && win::delete_file(path) != ERROR_SUCCESS) {
        deferred = true;
      } else if (!defer && !delete_committed(path)) {
        left_over = true;
      }
    }
    return true;
  }
  if (!found.backup && !found.added) return true;
  // A file that is not there is held by no one: put back at once, so that
  // discovery sees the whole set.
  if (found.file && defer && win::check_not_held(file.path) == ERROR_SHARING_VIOLATION) return deferred = true;
  if (!found.backup) return put_back("Removing", file.name, [&] { return remove_added(file.path); });
  return put_back("Restoring", file.name, [&] {
    DWORD marker = win::delete_file(added);
    return marker != ERROR_SUCCESS ? marker : win::move_file(backup, file.path);
  });
}

// Every file of a dead run's replacement in order, as recover_files says,
// and its commit point deleted once nothing of it is left.
bool put_in_order(install_plan& plan, bool defer) {
  run_journal& journal = plan.journal;
  bool committed = false, deferred = false, left_over = false;
  if (!read_commit_point(plan, committed)) return false;
  for (size_t i = 0, count = plan.files.size(); i < count; ++i) {
    const payload_file& file = plan.files[committed ? i : count - 1 - i];
    if (!put_file_in_order(file, committed, defer, deferred, left_over)) return false;
  }
  if (committed && !deferred && !left_over) {
    if (defer) {
      deferred = win::delete_file(commit_path(plan)) != ERROR_SUCCESS;
    } else {
      left_over = !delete_committed(commit_path(plan));
    }
  }
  journal.recovery_deferred = deferred;
  journal.recovery_left_over = left_over;
  return true;
}

// Without a record no replacement is open: a backup, marker or commit point
// there is nobody's, and goes before this run writes a record that would
// make it look like its own. False, after an error block, when one cannot.
bool delete_strays(const install_plan& plan) {
  std::vector<std::wstring> strays{commit_path(plan)};
  for (const payload_file& file : plan.files) {
    strays.push_back(win::backup_path(file.path));
    strays.push_back(win::added_path(file.path));
  }
  for (const std::wstring& path : strays) {
    DWORD error = win::delete_file(path);
    if (error != ERROR_SUCCESS && error != ERROR_PATH_NOT_FOUND) {  // 3: no directory, nothing there
      print({"Deleting \"", name_of(path), "\"... "});
      end_line(error, failure_block::error);
      return false;
    }
  }
  return true;
}

}  // namespace

bool recover_files(install_plan& plan) { return plan.journal.found ? put_in_order(plan, true) : delete_strays(plan); }

bool finish_recovery(install_plan& plan) { return !plan.journal.recovery_deferred || put_in_order(plan, false); }

bool files_whole(install_plan& plan) {
  return finish_recovery(plan) && std::ranges::all_of(plan.files, [](const payload_file& file) {
           return file.state == file_state::untouched || file.state == file_state::committed;
         });
}

bool begin_replacement(install_plan& plan) { return save_record(plan); }

DWORD advance_file(payload_file& file, std::span<uint8_t> buffer) {
  std::wstring staging = win::staging_path(file.path), backup = win::backup_path(file.path),
               added = win::added_path(file.path);
  if (file.state == file_state::untouched) {
    if (DWORD error = win::extract_resource_to_file(file.resource_id, staging, buffer)) return error;
    file.state = file_state::staged;
  }
  if (file.state == file_state::staged) {
    // Never moved from under a program that has it open: it is to end first.
    if (DWORD error = win::check_not_held(file.path)) return error;
    // Recovery has left no backup or marker here: the ones written now are
    // this run's alone.
    DWORD error = win::move_file(file.path, backup);
    if (error == ERROR_FILE_NOT_FOUND) {
      // No file there: its marker says so, for a recovery to delete the new.
      if ((error = win::create_empty_file(added))) return error;
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
  // The commit point: once it is on disk, a run that dies is completed by
  // the next one, not undone.
  std::wstring commit = commit_path(plan);
  if (DWORD error = win::create_empty_file(commit)) {
    report_error({"Failed to write \"", commit, "\"\n"}, error);
    return false;
  }
  plan.journal.entry_due = true;
  bool gone = true;
  for (payload_file& file : plan.files) {
    file.state = file_state::committed;
    gone &= delete_committed(win::backup_path(file.path));
    gone &= delete_committed(win::added_path(file.path));
  }
  // Deleted last: while any backup is left the record and it stay, and the
  // next run deletes what is left.
  if (!gone || !delete_committed(commit)) plan.journal.work_left = true;
  return true;
}

void roll_back_files(install_plan& plan) {
  for (payload_file& file : std::views::reverse(plan.files)) {
    bool back = true;
    if (file.state == file_state::replaced || file.state == file_state::moved_aside) {
      back = put_back("Restoring", file.name, [&] { return win::move_file(win::backup_path(file.path), file.path); });
    } else if (file.state == file_state::created || file.state == file_state::marked) {
      back = put_back("Removing", file.name, [&] { return remove_added(file.path); });
    }
    (void)win::delete_file(win::staging_path(file.path));  // a leftover is deleted by the next run
    if (back) {
      file.state = file_state::untouched;
    } else {
      plan.journal.work_left = true;  // the record tells the next run
    }
  }
}

}  // namespace brq_install
