#pragma once
// Stopping and starting a service, waiting for it by polling. They print
// nothing and return a Windows error code, 0 for success.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace brq_install::win {

// The code for a service that did not reach the awaited state.
inline constexpr DWORD error_state_not_reached = ERROR_UNIDENTIFIED_ERROR;  // 1287

// Whether a service in `state` is active: running, paused, or on its way
// into or out of either (start, pause or continue pending). An update stops
// an active service and starts it again afterwards.
bool is_active_state(DWORD state);

// Asks the service `name` to stop and waits until it has stopped: 0, or
// 1287 when it has not stopped at the first poll that ends more than 30 s
// after the stop was accepted, or the code of the failed call. A service
// that takes no control for now (1061: starting, pausing or continuing, or
// just done with it) is asked again every poll interval, in whatever state
// other than stopping or stopped it then reports, and given up with 1061 at
// the first refusal more than 30 s after the first request; one that is
// stopping already is awaited.
[[nodiscard]] DWORD stop_service(SC_HANDLE scm, std::wstring_view name);

// Waits, as stop_service does after its request, for the service `name` to
// finish stopping on its own (someone else asked it to stop).
[[nodiscard]] DWORD wait_for_stop(SC_HANDLE scm, std::wstring_view name);

// Starts the service `name` and waits while it reports start-pending: 0 when
// it runs then, 1287 when it ended in another state or its check point did
// not advance within its wait hint, 1053 when it still reports start-pending
// at the first poll that ends more than 10 minutes after the first status
// query (however its check point advanced), or the code of the failed call.
// A service that runs already (1056) counts as started while the process it
// reports exists (asked with SYNCHRONIZE); 1067 when it reports no process
// or one that has ended.
[[nodiscard]] DWORD start_service(SC_HANDLE scm, std::wstring_view name);

// Replaces `names` by the names of the services that depend on the service
// `name`, directly or through others, and are in `state` (SERVICE_ACTIVE,
// SERVICE_INACTIVE or SERVICE_STATE_ALL), in the order the service manager
// lists them: the reverse of their start order, which is the order to stop
// them in. Returns 0, or the code of the failed call; ERROR_MORE_DATA when
// the list grew between the size query and the query itself. `names` is
// empty after a failure. Windows refuses to stop a service while an active
// one depends on it (1051); Wine stops it and lists no dependents at all.
[[nodiscard]] DWORD list_dependents(SC_HANDLE scm, std::wstring_view name, DWORD state,
                                    std::vector<std::wstring>& names);

// Sets `state` to the current state of the service `name` (SERVICE_RUNNING,
// ...). Returns 0 or the code of the failed call, `state` then unchanged.
[[nodiscard]] DWORD query_service_state(SC_HANDLE scm, std::wstring_view name, DWORD& state);

}  // namespace brq_install::win
