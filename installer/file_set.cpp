#include "file_set.hpp"

#include <algorithm>
#include <ranges>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "run_record.hpp"
#include "win/files.hpp"
#include "win/payload_resource.hpp"

namespace brq_install {

namespace {

// "Restoring \"name\"... " and `undo`'s outcome: "ok" or an error block.
bool report_restore(const char* action, std::wstring_view name, DWORD error) {
  print({action, " \"", name, "\"... "});
  if (error != ERROR_SUCCESS) {
    report_error({"failed\n"}, error);
    return false;
  }
  print_text("ok\n");
  return true;
}

}  // namespace

void restore_files(install_plan& plan) {
  for (const auto& replaced : std::views::reverse(plan.replaced)) {
    bool restored = replaced.kept_old
                        ? report_restore("Restoring", replaced.file->name,
                                         win::move_file(win::backup_path(replaced.path), replaced.path))
                        : report_restore("Removing", replaced.file->name, win::delete_file(replaced.path));
    if (!restored) plan.keep_record = true;
  }
  plan.replaced.clear();
}

bool keep_new_files(install_plan& plan) {
  plan.files_in_place = true;
  bool any_backup = std::ranges::any_of(plan.replaced, [](const auto& replaced) { return replaced.kept_old; });
  if (!any_backup) return true;
  // Once the record says so, a run that dies from here on is completed by
  // the next one, not undone: the backups can go.
  if (!save_record(plan)) {
    plan.files_in_place = false;
    return false;
  }
  for (const auto& replaced : plan.replaced) {
    if (replaced.kept_old && win::delete_file(win::backup_path(replaced.path)) != ERROR_SUCCESS) {
      plan.keep_record = true;  // the next run deletes it
    }
  }
  return true;
}

bool recover_files(install_plan& plan, bool new_files_in_place) {
  for (const auto& file : plan.files) {
    const std::wstring& path = file.path;
    // A staging file is overwritten by the next copy anyway; deleting it
    // only keeps the directory clean.
    (void)win::delete_file(win::staging_path(path));
    std::wstring backup = win::backup_path(path);
    if (!win::is_existing_file(backup)) continue;
    if (new_files_in_place) {
      if (win::delete_file(backup) != ERROR_SUCCESS) plan.keep_record = true;
    } else if (!report_restore("Restoring", file.name, win::move_file(backup, path))) {
      return false;
    }
  }
  return true;
}

}  // namespace brq_install
