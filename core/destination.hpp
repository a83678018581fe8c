#pragma once
// The destination directory and the paths built on it.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace brq_install {

struct install_plan;
struct payload_file;

// Step: sets the plan's `destination` under the program-files directory,
// places the files there (place_files) and prints it. False, after an error block, when that directory is unknown.
[[nodiscard]] bool settle_destination(install_plan& plan);

// The destination's directories that are the product's, innermost first:
// the destination itself (named after the variant), QZV.UA and Quorvanta;
// never the program-files directory above them.
std::vector<std::wstring> product_directories(const install_plan& plan);

// The record of an unfinished run, and the file it is first written to.
std::wstring record_path(const install_plan& plan);
std::wstring record_staging_path(const install_plan& plan);
// The commit point of a replacement of the files, an empty file: there
// while the record is, the new files are all in place for good.
std::wstring commit_path(const install_plan& plan);

// Every file the product writes in the destination: each installed file
// with its staging file, its backup and its marker of a file added, then
// the commit point, and last the record with its staging file.
std::vector<std::wstring> product_files(const install_plan& plan);

// Drops the payload files not meant for this Windows and gives each of the
// others its path under the plan's destination, so that no step filters or
// builds a path again.
void place_files(install_plan& plan);

// Sets `installed` when `file` is a program (".exe") and is at its path
// now, as a file and not a directory: only such files can run as services
// or processes. 0, or the code when its presence cannot be told.
[[nodiscard]] DWORD find_installed_program(const payload_file& file, bool& installed);

// Creates every directory on `path` up to its last backslash; the part
// before the first backslash (the drive) is never created. False, after an
// error block naming the level that failed, when one cannot be created.
[[nodiscard]] bool create_directories(std::wstring_view path);

}  // namespace brq_install
