#include "destination.hpp"

#include "console/console.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "win/directory.hpp"
#include "win/environment.hpp"
#include "win/files.hpp"

namespace brq_install {

namespace {

// Under the program-files directory, before the variant's own directory.
constexpr std::wstring_view product_parents = L"Quorvanta\\QZV.UA\\";
constexpr int product_levels = 3;  // the two parents and the variant's
// The record of an unfinished run, beside the installed files, and the
// fact that its new files are all in place.
constexpr std::wstring_view record_file_name = L"qzv.ua.brq.run";
constexpr std::wstring_view commit_file_name = L"qzv.ua.brq.done";

}  // namespace

bool settle_destination(install_plan& plan) {
  if (DWORD code = win::get_program_files(plan.destination); code != 0) {
    report_error({"Failed to get \"Program Files\"\n"}, code);
    return false;
  }
  if (!plan.destination.empty() && plan.destination.back() != L'\\') plan.destination += L'\\';
  plan.destination += product_parents;
  plan.destination += plan.variant;
  place_files(plan);
  print({"Destination: ", plan.destination, "\n"});
  return true;
}

void place_files(install_plan& plan) {
  std::erase_if(plan.files, [&](const payload_file& file) { return !applies_to_os(file, plan); });
  for (payload_file& file : plan.files) file.path = plan.destination + L'\\' + std::wstring(file.name);
}

std::vector<std::wstring> product_directories(const install_plan& plan) {
  std::vector<std::wstring> levels{plan.destination};
  while (levels.size() < product_levels) levels.push_back(levels.back().substr(0, levels.back().rfind(L'\\')));
  return levels;
}

std::wstring record_path(const install_plan& plan) { return plan.destination + L"\\" + std::wstring(record_file_name); }
std::wstring record_staging_path(const install_plan& plan) { return record_path(plan) + L".new"; }
std::wstring commit_path(const install_plan& plan) { return plan.destination + L"\\" + std::wstring(commit_file_name); }

std::vector<std::wstring> product_files(const install_plan& plan) {
  std::vector<std::wstring> paths;
  for (const payload_file& file : plan.files) {
    paths.push_back(file.path);
    paths.push_back(win::staging_path(file.path));
    paths.push_back(win::backup_path(file.path));
    paths.push_back(win::added_path(file.path));
  }
  paths.push_back(commit_path(plan));
  paths.push_back(record_path(plan));
  paths.push_back(record_staging_path(plan));
  return paths;
}

DWORD find_installed_program(const payload_file& file, bool& installed) {
  installed = false;
  if (!is_executable_name(file.name)) return ERROR_SUCCESS;
  DWORD attributes = 0;
  DWORD error = win::get_file_attributes(file.path, attributes);
  installed = error == ERROR_SUCCESS && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool create_directories(std::wstring_view path) {
  // The part before the first backslash (the drive) is never created, and
  // neither is the part after the last one (the file name).
  size_t first = path.find(L'\\');
  if (first == std::wstring_view::npos) return true;
  for (size_t k = path.find(L'\\', first + 1); k != std::wstring_view::npos; k = path.find(L'\\', k + 1)) {
    std::wstring prefix(path.substr(0, k));
    DWORD code = win::create_directory(prefix);
    if (code != 0 && code != ERROR_ALREADY_EXISTS) {
      report_error({"Failed to create dir \"", std::wstring_view(prefix), "\"\n"}, code);
      return false;
    }
  }
  return true;
}

}  // namespace brq_install
