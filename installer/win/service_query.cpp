#include "win/service_query.hpp"

#include <memory>
#include <string>

#include "win/file_identity.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

namespace {

// One fixed buffer for the enumeration, filled batch by batch.
constexpr DWORD enum_buffer_size = 16384;

std::wstring owned(const wchar_t* text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

// The program that a service command line starts, split as Windows splits a
// command line: quotes removed, an unquoted path cut at its first blank.
// An empty command line has no program: CommandLineToArgvW would answer with
// the path of the installer itself.
std::wstring first_argument(const std::wstring& command_line) {
  if (command_line.empty()) return {};
  int count = 0;
  unique_hlocal arguments(api.CommandLineToArgvW(command_line.c_str(), &count));
  if (!arguments || count < 1) return {};
  return static_cast<wchar_t**>(arguments.get())[0];
}

// Whether a service configured as `config` runs the file `path`.
bool runs_file(const service_config& config, std::wstring_view path) {
  std::wstring program = first_argument(config.command_line);
  return !program.empty() && same_file(program, path);
}

}  // namespace

DWORD query_service_config(SC_HANDLE scm, std::wstring_view name, service_config& config) {
  unique_sc_handle service(
      api.OpenServiceW(scm, std::wstring(name).c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  if (!service) return api.GetLastError();

  // The size first. Only "buffer too small" lets the query go on; a query
  // that succeeds without a buffer leaves the configuration empty.
  DWORD needed = 0;
  if (api.QueryServiceConfigW(service.get(), nullptr, 0, &needed) ||
      api.GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return api.GetLastError();
  }
  // Operator new's alignment suits QUERY_SERVICE_CONFIGW.
  auto buffer = std::make_unique<std::byte[]>(needed);
  auto* queried = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
  if (!api.QueryServiceConfigW(service.get(), queried, needed, &needed)) return api.GetLastError();

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
  auto buffer = std::make_unique<std::byte[]>(enum_buffer_size);
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.get());
  DWORD resume = 0;
  for (;;) {
    DWORD needed = 0, count = 0;
    DWORD error = ERROR_SUCCESS;
    if (!api.EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, entries, enum_buffer_size, &needed,
                                 &count, &resume)) {
      error = api.GetLastError();
      if (error != ERROR_MORE_DATA && error != ERROR_SUCCESS) return error;
    }
    for (DWORD i = 0; i < count; ++i) {
      const ENUM_SERVICE_STATUSW& entry = entries[i];
      service_config config;
      if (DWORD failed = query_service_config(scm, entry.lpServiceName, config)) return failed;
      if (!runs_file(config, path)) continue;
      records.push_back(service_record{owned(entry.lpServiceName), owned(entry.lpDisplayName),
                                       entry.ServiceStatus, std::move(config)});
    }
    if (error != ERROR_MORE_DATA) return ERROR_SUCCESS;
  }
}

}  // namespace brq_install::win
