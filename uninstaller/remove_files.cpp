// The files the installer writes, and its directories where they are empty.
#include <string>
#include <vector>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "removal.hpp"
#include "run_record.hpp"
#include "win/directory.hpp"
#include "win/files.hpp"

namespace brq_install {

namespace {

// Every name the installer writes in the destination: each file, the
// temporary files it stages and keeps beside it, and last the run's record
// with its own staging file, so that a removal that dies before the end
// still leaves the record for the installer's next run.
std::vector<std::wstring> installer_files(const install_plan& plan) {
  std::vector<std::wstring> paths;
  for (const payload_file& file : plan.files) {
    paths.push_back(file.path);
    paths.push_back(win::staging_path(file.path));
    paths.push_back(win::backup_path(file.path));
  }
  std::wstring record = plan.destination + L"\\" + std::wstring(record_file_name);
  paths.push_back(record);
  paths.push_back(record + L".new");
  return paths;
}

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

bool delete_files(const install_plan& plan, removal_tally& tally) {
  bool ok = true;
  for (const std::wstring& path : installer_files(plan)) {
    // Only files: a directory of that name is not the installer's.
    DWORD attributes = 0;
    DWORD error = win::get_file_attributes(path, attributes);
    if (is_missing(error) || (error == ERROR_SUCCESS && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) continue;
    print({"Deleting \"", std::wstring_view(path).substr(plan.destination.size() + 1), "\"... "});
    if (error == ERROR_SUCCESS) error = win::delete_file(path);
    ok &= end_removal_line(error, tally);
  }
  return ok;
}

bool remove_directories(const install_plan& plan, removal_tally& tally) {
  // brq, QZV.UA and Quorvanta, never the program-files directory above.
  std::wstring level = plan.destination;
  for (int up = 0; up < 3; ++up, level.resize(level.rfind(L'\\'))) {
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
