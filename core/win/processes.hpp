#pragma once
// Processes of the system and the files they run from.
#include <windows.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brq_install::win {

// Replaces `ids` by the ids of all processes. Returns 0 or the code of the
// failed enumeration.
[[nodiscard]] DWORD enum_process_ids(std::vector<DWORD>& ids);

// One pass over the processes: `ids[i]` gets the ids of those whose main
// module is the file `paths[i]` (compared by file identity). Each process is
// opened once and each of `paths` once; processes that cannot be opened or
// read are passed over. Returns 0, or the code of a failed enumeration with
// nothing found.
[[nodiscard]] DWORD find_image_processes(std::span<const std::wstring> paths, std::vector<std::vector<DWORD>>& ids);

// Ends process `id` with exit code 0, but only while its main module is
// still the file `path`. An id that now names another program (or one whose
// module cannot be read) is left alone and `other_program` set. Returns 0 or
// the code of the failed open or termination.
[[nodiscard]] DWORD terminate_image_process(DWORD id, std::wstring_view path, bool& other_program);

}  // namespace brq_install::win
