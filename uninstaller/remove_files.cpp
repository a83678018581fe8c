// The files the installer writes, its directories where they are empty, and
// its entry in Programs and Features.
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "removal.hpp"
#include "uninstall_key.hpp"
#include "win/directory.hpp"
#include "win/environment.hpp"
#include "win/file_identity.hpp"
#include "win/files.hpp"
#include "win/registry.hpp"

namespace brq_install {

namespace {

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::wstring_view name_in(const install_plan& plan, const std::wstring& path) {
  return std::wstring_view(path).substr(plan.destination.size() + 1);
}

}  // namespace

std::wstring own_product_file(const install_plan& plan) {
  std::wstring self = win::own_image_path();
  if (self.empty()) return {};
  std::vector<std::wstring> paths;
  for (const payload_file& file : plan.files) paths.push_back(file.path);
  size_t found = win::file_identities(paths).match(self);
  return found != win::file_identities::none ? paths[found] : std::wstring();
}

bool delete_files(const install_plan& plan, const std::wstring& self, removal_tally& tally) {
  bool ok = true;
  // The record goes last, so that a removal that dies before the end still
  // leaves it for the installer's next run.
  for (const std::wstring& path : product_files(plan)) {
    // Only files: a directory of that name is not the installer's.
    DWORD attributes = 0;
    DWORD error = win::get_file_attributes(path, attributes);
    if (path == self || is_missing(error) || (error == ERROR_SUCCESS && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
      continue;
    }
    print({"Deleting \"", name_in(plan, path), "\"... "});
    if (error == ERROR_SUCCESS) error = win::delete_file(path);
    ok &= end_removal_line(error, tally);
  }
  // This program's own file stays while anything else does, so that the
  // removal can be started again from Programs and Features.
  if (self.empty() || !ok) return ok;
  print({"Deleting \"", name_in(plan, self), "\"... "});
  std::wstring moved_to;
  DWORD error = win::move_out_until_restart(self, win::system_temp_directory(), moved_to);
  if (error != ERROR_SUCCESS) return end_removal_line(error, tally);
  print({"moved to \"", moved_to, "\", deleted at the next restart\n"});
  ++tally.removed;
  return true;
}

bool delete_uninstall_entry(removal_tally& tally) {
  DWORD error = win::delete_machine_key(uninstall_key_path);
  if (error == ERROR_FILE_NOT_FOUND) return true;
  print({"Deleting uninstall entry \"", uninstall_key_name, "\"... "});
  return end_removal_line(error, tally);
}

bool remove_directories(const install_plan& plan, removal_tally& tally) {
  for (const std::wstring& level : product_directories(plan)) {
    DWORD attributes = 0;
    DWORD error = win::get_file_attributes(level, attributes);
    if (is_missing(error)) continue;
    if (error == ERROR_SUCCESS) error = win::remove_empty_directory(level);
    if (error == ERROR_DIR_NOT_EMPTY) {
      print({"Keeping directory \"", level, "\": it holds files the installer did not put there\n"});
      return true;
    }
    print({"Removing directory \"", level, "\"... "});
    if (!end_removal_line(error, tally)) return false;
  }
  return true;
}

}  // namespace brq_install
