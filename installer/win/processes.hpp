#pragma once
// Processes of the system and the files they run from.
#include <windows.h>

#include <string_view>
#include <vector>

namespace brq_install::win {

// Replaces `ids` by the ids of all processes. Returns 0 or the code of the
// failed enumeration.
DWORD enum_process_ids(std::vector<DWORD>& ids);

// Appends the ids of the processes whose main module is the file `path`
// (compared by file identity). Processes that cannot be opened or read are
// passed over. Returns 0, or the code of a failed enumeration with nothing
// appended.
DWORD find_image_processes(std::wstring_view path, std::vector<DWORD>& ids);

// Ends process `id` with exit code 0, but only while its main module is
// still the file `path`. An id that now names another program (or one whose
// module cannot be read) is left alone and `other_program` set. Returns 0 or
// the code of the failed open or termination.
DWORD terminate_image_process(DWORD id, std::wstring_view path, bool& other_program);

}  // namespace brq_install::win
