#pragma once
// Telling whether two paths name the very same file: the same volume serial
// number and file index. Another letter case, a short name or another path
// to the file all match; a copy of it does not. Nothing here reports an
// error: a path that cannot be opened matches nothing.
#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "win/unique.hpp"

namespace brq_install::win {

// A few files, each opened once and held open while others are matched
// against them, so that none can be replaced by another file that reuses
// its index in between.
class file_identities {
 public:
  static constexpr size_t none = static_cast<size_t>(-1);

  explicit file_identities(std::span<const std::wstring> paths);

  // The position among them of the file that `path` names; `none` when it
  // names none of them. Opens `path` once; one that cannot be opened or
  // read names a file of them only when it is spelt as that file's path
  // is (in any letter case), so that a failure to look does not hide it.
  size_t match(std::wstring_view path) const;

  // The same for a path that another process chose, such as its image's
  // path (X:\... or \\?\X:\... only): opened without following a junction,
  // mount point or symbolic link anywhere along it. One that passes through
  // any counts as one that cannot be opened.
  size_t match_unfollowed(std::wstring_view path) const;

  // 0, or the code of the first of them whose identity could not be read.
  DWORD error() const { return error_; }

 private:
  struct known {
    std::wstring path;
    unique_file_handle handle;
    BY_HANDLE_FILE_INFORMATION info{};
    bool valid = false;
  };
  size_t match_read(std::wstring_view path, const BY_HANDLE_FILE_INFORMATION* info) const;

  std::vector<known> files_;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace brq_install::win
