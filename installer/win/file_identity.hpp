#pragma once
#include <string_view>

namespace brq_install::win {

// Whether both paths can be opened and name the very same file: the same
// volume serial number and file index. Another letter case, a short name or
// another path to the file all match; a copy of it does not. Never reports an
// error: a path that cannot be opened matches nothing.
bool same_file(std::wstring_view path_a, std::wstring_view path_b);

}  // namespace brq_install::win
