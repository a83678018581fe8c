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

// Whether a service configured as `config` runs the file `path`.
bool runs_file(const service_config& config, std::wstring_view path) {
  std::wstring program = service_program(config.command_line);
  return !program.empty() && same_file(program, path);
}

// One batch of the enumeration into `buffer`: 0 when it was the last,
// ERROR_MORE_DATA when more follow, or the code of the failed call.
DWORD enum_batch(SC_HANDLE scm, std::unique_ptr<std::byte[]>& buffer, DWORD size, DWORD& needed,
                 DWORD& count, DWORD& resume) {
  needed = count = 0;
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.get());
  if (api.EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, entries, size, &needed, &count,
                              &resume)) {
    return ERROR_SUCCESS;
  }
  return last_error();
}

}  // namespace

DWORD query_service_config(SC_HANDLE scm, std::wstring_view name, service_config& config) {
  unique_sc_handle service(
      api.OpenServiceW(scm, std::wstring(name).c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  if (!service) return last_error();

  // The size first. Only "buffer too small" lets the query go on.
  DWORD needed = 0;
  if (api.QueryServiceConfigW(service.get(), nullptr, 0, &needed)) return error_unexplained_failure;
  if (DWORD error = last_error(); error != ERROR_INSUFFICIENT_BUFFER) return error;
  // Operator new's alignment suits QUERY_SERVICE_CONFIGW.
  auto buffer = std::make_unique<std::byte[]>(needed);
  auto* queried = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
  if (!api.QueryServiceConfigW(service.get(), queried, needed, &needed)) return last_error();

  config.service_type = queried->dwServiceType;
  config.start_type = queried->dwStartType;
  config.error_control = queried->dwErrorControl;
  config.command_line = owned(queried->lpBinaryPathName);
  config.load_order_group = owned(queried->lpLoadOrderGroup);
  config.tag_id = queried->dwTagId;
  config.dependencies = owned(queried->lpDependencies);  // up to the first null: the first name
  config.service_start_name = owned(queried->lpServiceStartName);
  config.display_name = owned(queried->lpDisplayName);
  return ERROR_SUCCESS;
}

DWORD find_image_services(SC_HANDLE scm, std::wstring_view path, std::vector<service_record>& records) {
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
      const ENUM_SERVICE_STATUSW& entry = entries[i];
      service_config config;
      DWORD failed = query_service_config(scm, owned(entry.lpServiceName), config);
      // Deleted, or marked for deletion, since it was listed: it runs nothing.
      if (failed == ERROR_SERVICE_DOES_NOT_EXIST || failed == ERROR_SERVICE_MARKED_FOR_DELETE) continue;
      if (failed != ERROR_SUCCESS) return failed;
      if (!runs_file(config, path)) continue;
      records.push_back(service_record{owned(entry.lpServiceName), owned(entry.lpDisplayName),
                                       entry.ServiceStatus, std::move(config)});
    }
    if (error != ERROR_MORE_DATA) return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

}  // namespace brq_install::win
