// The files the installer writes, and its directories where they are empty.
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "removal.hpp"
#include "win/directory.hpp"
#include "win/files.hpp"

namespace brq_install {

namespace {

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

bool delete_files(const install_plan& plan, removal_tally& tally) {
  bool ok = true;
  // The record goes last, so that a removal that dies before the end still
  // leaves it for the installer's next run.
  for (const std::wstring& path : product_files(plan)) {
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
