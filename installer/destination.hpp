#pragma once
// The destination directory and the paths built on it.
#include <optional>
#include <string>
#include <string_view>

namespace brq_install {

struct install_plan;
struct payload_file;

// Step: sets the plan's `destination` under the program-files directory and
// prints it. False, after an error block, when that directory is unknown.
bool settle_destination(install_plan& plan);

// The destination directory, a backslash and the file's name.
std::wstring target_path(const install_plan& plan, const payload_file& file);

// The installed path of `file` when it is a program (".exe") meant for this
// system and is at the destination now, as a file and not a directory;
// nothing otherwise. Only such files can run as services or processes.
std::optional<std::wstring> installed_program(const install_plan& plan, const payload_file& file);

// Creates every directory on `path` up to its last backslash; the part
// before the first backslash (the drive) is never created. False, after an
// error block naming the level that failed, when one cannot be created.
bool create_directories(std::wstring_view path);

}  // namespace brq_install
