#pragma once
#include <string>

namespace brq_install::win {

// Whether `path` names an existing file (not a directory) whose attributes
// can be read.
bool is_existing_file(const std::wstring& path);

}  // namespace brq_install::win
