#include "win/processes.hpp"

#include <string>

#include "win/file_identity.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

namespace {

// Enough to read the image path of any process but the protected ones, with
// no right to its memory.
constexpr DWORD query_access = PROCESS_QUERY_LIMITED_INFORMATION;

// Whether `path` names a file on a local drive (X:\... or \\?\X:\...). Any
// user's program may run from a share, a WebDAV folder or a device; opening
// such a path as an administrator would hand the account's credentials to
// whoever serves it, or wait on a host that does not answer.
bool on_local_drive(std::wstring_view path) {
  if (path.starts_with(LR"(\\?\)")) path.remove_prefix(4);
  return path.size() >= 3 && ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') && path[1] == L':' &&
         path[2] == L'\\';
}

// The path of the image file of the process behind `process`, as the kernel
// keeps it (the process cannot change it); empty when it cannot be read or
// is not on a local drive. The buffer holds the longest path there is.
std::wstring main_module(HANDLE process) {
  DWORD size = 32768;
  std::wstring module(size, L'\0');
  if (!api.QueryFullProcessImageNameW(process, 0, module.data(), &size) || size >= module.size()) return {};
  module.resize(size);
  return on_local_drive(module) ? module : std::wstring();
}

// Whether the main module of the process behind `process` is the file `path`.
bool runs_image(HANDLE process, std::wstring_view path) {
  std::wstring module = main_module(process), installed(path);
  return !module.empty() && file_identities(std::span(&installed, 1)).match_unfollowed(module) == 0;
}

}  // namespace

// Far more processes than any system runs; a list that still seems cut off
// at this size is not believed.
constexpr size_t max_process_ids = size_t{1} << 20;

DWORD enum_process_ids(std::vector<DWORD>& ids) {
  std::vector<DWORD> all(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(all.size() * sizeof(DWORD));
    DWORD returned = 0;
    if (!api.K32EnumProcesses(all.data(), size, &returned)) return last_error();
    if (returned < size) {
      all.resize(returned / sizeof(DWORD));
      ids = std::move(all);
      return ERROR_SUCCESS;
    }
    if (all.size() >= max_process_ids) return ERROR_MORE_DATA;
    all.assign(all.size() * 2, 0);  // may have been too small: ask again
  }
}

DWORD find_image_processes(std::span<const std::wstring> paths, std::vector<std::vector<DWORD>>& ids) {
  ids.assign(paths.size(), {});
  std::vector<DWORD> all;
  if (DWORD error = enum_process_ids(all)) return error;
  const file_identities files(paths);
  const DWORD self = api.GetCurrentProcessId();  // never ends itself: a removal may run from there
  for (DWORD id : all) {
    if (id == self) continue;
    unique_handle process(api.OpenProcess(query_access, FALSE, id));
    if (!process) continue;
    std::wstring module = main_module(process.get());
    size_t file = module.empty() ? file_identities::none : files.match_unfollowed(module);
    if (file != file_identities::none) ids[file].push_back(id);
  }
  return ERROR_SUCCESS;
}

DWORD terminate_image_process(DWORD id, std::wstring_view path, bool& other_program) {
  // Confirmed through the very handle that ends it, so that an id reused by
  // another program since the search is never ended.
  other_program = false;
  unique_handle process(api.OpenProcess(PROCESS_TERMINATE | query_access, FALSE, id));
  if (!process) return last_error();
  other_program = !runs_image(process.get(), path);
  if (other_program) return ERROR_SUCCESS;
  if (!api.TerminateProcess(process.get(), 0)) return last_error();
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
