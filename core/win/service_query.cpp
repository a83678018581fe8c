#include "win/service_query.hpp"

#include <memory>
#include <string>

#include "win/command_line.hpp"
#include "win/file_identity.hpp"
#include "win/files.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

namespace {

// The enumeration starts with one fixed buffer, filled batch by batch.
constexpr DWORD enum_buffer_size = 16384;
// A batch that made no progress is asked again with the size it reported,
// up to this much; a service manager asking for more is not believed.
constexpr DWORD enum_buffer_limit = 64u << 20;
// The largest configuration there is: a command line and a group, names
// and dependencies of their documented maximum lengths.
constexpr DWORD config_buffer_size = 8192;
// Each batch advances the resume handle, so the batches end; this bounds a
// service manager that keeps moving its resume handle without ending.
constexpr int enum_batch_limit = 65536;

std::wstring owned(const wchar_t* text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The command line with its environment variables expanded, as the service
// manager expands a REG_EXPAND_SZ image path; the line as it stands when
// expansion fails.
std::wstring expand_environment(const std::wstring& command_line) {
  DWORD size = api.ExpandEnvironmentStringsW(command_line.c_str(), nullptr, 0);
  if (size == 0) return command_line;
  std::wstring expanded(size, L'\0');
  DWORD length = api.ExpandEnvironmentStringsW(command_line.c_str(), expanded.data(), size);
  if (length == 0 || length > size) return command_line;
  expanded.resize(length - 1);  // the count includes the terminating null
  return expanded;
}

// Whether the last component of `path` has an extension.
bool has_extension(std::wstring_view path) {
  size_t dot = path.rfind(L'.');
  return dot != std::wstring_view::npos && path.find(L'\\', dot) == std::wstring_view::npos;
}

// The program that CreateProcessW starts for an unquoted command line with
// blanks in it: the prefixes that end before a blank, from the shortest on,
// and the whole line last; ".exe" appended to one without an extension; the
// first that is an existing file. A real image path has a few blanks; the
// tries are bounded for one that is all blanks.
std::wstring resolve_unquoted(std::wstring_view command_line) {
  constexpr int max_tries = 32;
  int tries = 0;
  for (size_t end = 1; end <= command_line.size() && tries < max_tries; ++end) {
    bool ends_word = end == command_line.size() || is_blank(command_line[end]);
    if (!ends_word || is_blank(command_line[end - 1])) continue;
    ++tries;
    std::wstring candidate(command_line.substr(0, end));
    if (!has_extension(candidate)) candidate += L".exe";
    if (is_existing_file(candidate)) return candidate;
  }
  return {};
}

// The program that the service manager starts for `command_line`.
std::wstring service_program(const std::wstring& command_line) {
  std::wstring expanded = expand_environment(command_line);
  std::wstring program = first_argument(expanded);
  if (program.empty() || is_existing_file(program)) return program;
  size_t first = expanded.find_first_not_of(L" \t");
  if (first == std::wstring::npos || expanded[first] == L'"') return program;
  std::wstring resolved = resolve_unquoted(std::wstring_view(expanded).substr(first));
  return resolved.empty() ? program : resolved;
}

// One batch of the enumeration into `buffer`: 0 when it was the last,
// ERROR_MORE_DATA when more follow, or the code of the failed call.
DWORD enum_batch(SC_HANDLE scm, std::unique_ptr<std::byte[]>& buffer, DWORD size, DWORD& needed, DWORD& count,
                 DWORD& resume) {
  needed = count = 0;
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.get());
  if (api.EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, entries, size, &needed, &count, &resume)) {
    return ERROR_SUCCESS;
  }
  return last_error();
}

// The command line and the start type that the service `name` is
// registered with: one query
// into a buffer of the largest size a configuration takes, another only
// when the service manager asks for more. 1060 and 1072 for a service
// deleted, or marked for deletion, since it was listed.
DWORD registered_command_line(SC_HANDLE scm, std::wstring_view name, std::wstring& command_line, DWORD& start_type) {
  unique_sc_handle service(api.OpenServiceW(scm, std::wstring(name).c_str(), SERVICE_QUERY_CONFIG));
  if (!service) return last_error();
  DWORD size = config_buffer_size;
  auto buffer = std::make_unique_for_overwrite<std::byte[]>(size);
  DWORD needed = 0;
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
  if (!api.QueryServiceConfigW(service.get(), config, size, &needed)) {
    DWORD error = last_error();
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size) return error;
    size = needed;
    buffer = std::make_unique_for_overwrite<std::byte[]>(size);
    config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
    if (!api.QueryServiceConfigW(service.get(), config, size, &needed)) return last_error();
  }
  command_line = owned(config->lpBinaryPathName);
  start_type = config->dwStartType;
  return ERROR_SUCCESS;
}

bool vanished(DWORD error) { return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE; }

}  // namespace

DWORD find_image_services(SC_HANDLE scm, std::span<const std::wstring> paths,
                          std::vector<std::vector<found_service>>& found) {
  found.assign(paths.size(), {});
  const file_identities files(paths);
  // A file whose identity cannot be read would match no service at all.
  if (DWORD error = files.error()) return error;
  DWORD size = enum_buffer_size;
  auto buffer = std::make_unique<std::byte[]>(size);
  DWORD resume = 0;
  for (int batch = 0; batch < enum_batch_limit; ++batch) {
    DWORD needed = 0, count = 0, before = resume;
    DWORD error = enum_batch(scm, buffer, size, needed, count, resume);
    if (error == ERROR_MORE_DATA && resume == before) {
      // No progress (Wine keeps its resume handle at 0 and answers with the
      // same first entries): once more, with all the room it asked for.
      if (needed <= size || needed > enum_buffer_limit) return ERROR_MORE_DATA;
      size = needed;
      buffer = std::make_unique<std::byte[]>(size);
      error = enum_batch(scm, buffer, size, needed, count, resume);
      if (error == ERROR_MORE_DATA && resume == before) return ERROR_MORE_DATA;
    }
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return error;

    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer.get());
    for (DWORD i = 0; i < count; ++i) {
      std::wstring name = owned(entries[i].lpServiceName);
      std::wstring command_line;
      DWORD start_type = 0;
      if (DWORD failed = registered_command_line(scm, name, command_line, start_type)) {
        if (vanished(failed)) continue;  // deleted since it was listed: it runs nothing
        return failed;
      }
      std::wstring program = service_program(command_line);
      size_t file = program.empty() ? file_identities::none : files.match(program);
      if (file != file_identities::none)
        found[file].push_back({std::move(name), entries[i].ServiceStatus.dwCurrentState, start_type});
    }
    if (error != ERROR_MORE_DATA) return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

DWORD query_service_program(SC_HANDLE scm, std::wstring_view name, std::wstring& program) {
  std::wstring command_line;
  DWORD start_type = 0;
  if (DWORD error = registered_command_line(scm, name, command_line, start_type)) return error;
  program = service_program(command_line);
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
