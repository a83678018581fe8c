#include "service_start_stop.hpp"

#include <algorithm>
#include <string>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "run_record.hpp"
#include "win/service_control.hpp"
#include "win/service_manager.hpp"

namespace brq_install {

namespace {

using service_action = DWORD (*)(SC_HANDLE, std::wstring_view);

// "  service \"name\"... " then "ok" or a warning block; every service gets
// a connection of its own. 0 for "ok", or the code of the warning.
DWORD report_service(const std::wstring& name, service_action action) {
  print({"  service \"", name, "\"... "});
  win::unique_sc_handle scm;
  DWORD error = win::connect_service_manager(SC_MANAGER_CONNECT, scm);
  if (error == ERROR_SUCCESS) error = action(scm.get(), name);
  return end_line(error, failure_block::warning);
}

// Every discovered record, in the map's order and each list's order.
template <typename Plan, typename Visit>
void for_each_record(Plan& plan, Visit visit) {
  for (auto& [file, records] : plan.services) {
    for (auto& record : records) visit(record);
  }
}

// The state of the service `name` now; `known` when it cannot be read.
DWORD state_now(const std::wstring& name, DWORD known) {
  win::unique_sc_handle scm;
  if (win::connect_service_manager(SC_MANAGER_CONNECT, scm) == ERROR_SUCCESS) {
    (void)win::query_service_state(scm.get(), name, known);  // failing, what was known stands
  }
  return known;
}

struct dependent {
  std::wstring name;
  DWORD state;
};

// The services that depend on the service `name` and are to be started
// again with it, in the order to stop them: those active now, and those
// that an interrupted run stopped. Windows refuses to stop a service while
// an active one depends on it. None when they cannot be listed: the stop
// then reports the refusal.
std::vector<dependent> dependents_of(const install_plan& plan, const std::wstring& name) {
  std::vector<std::wstring> names;
  win::unique_sc_handle scm;
  if (win::connect_service_manager(SC_MANAGER_CONNECT, scm) == ERROR_SUCCESS) {
    (void)win::list_dependents(scm.get(), name, SERVICE_STATE_ALL, names);  // failing, there are none
  }
  std::vector<dependent> dependents;
  for (std::wstring& other : names) {
    DWORD state = state_now(other, SERVICE_STOPPED);
    if (win::is_active_state(state) || is_resumed(plan, other)) dependents.push_back({std::move(other), state});
  }
  return dependents;
}

// Whether the service `name` is no longer there to be started: deleted, or
// marked for deletion. One that cannot be looked at counts as there.
bool service_gone(const std::wstring& name) {
  win::unique_sc_handle scm;
  DWORD state = 0;
  DWORD error = win::connect_service_manager(SC_MANAGER_CONNECT, scm);
  if (error == ERROR_SUCCESS) error = win::query_service_state(scm.get(), name, state);
  return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}

// Whether the service `name` is one this run starts again: a discovered
// service marked so, one that depends on it, or one it registered.
bool started_again(install_plan& plan, std::wstring_view name) {
  bool found = std::ranges::any_of(plan.registered, [&](const std::wstring& r) { return same_service_name(r, name); });
  for_each_record(plan, [&](const service_record& record) {
    if (!record.restart) return;
    found = found || same_service_name(record.name, name) ||
            std::ranges::any_of(record.dependents, [&](const std::wstring& d) { return same_service_name(d, name); });
  });
  return found;
}

// The services that the record of an interrupted run names but that this
// run does not start: one that still exists is not a service of the
// installed files as far as discovery can tell, and only those are ever
// started. Each is a warning, and the record stays for a run that finds
// it; so do the services of a file that could not be discovered when the
// record could not be read. True when there is none.
bool report_services_not_found(install_plan& plan) {
  bool none = true;
  auto warn = [&none](std::initializer_list<piece> line, const char* why) {
    print(line);
    report_warning({why});
    none = false;
  };
  for (const std::wstring& name : plan.journal.services) {
    if (started_again(plan, name) || service_gone(name)) continue;
    warn({"  service \"", name, "\"... "}, "not found among the services of the installed files\n");
  }
  if (plan.journal.every_automatic_service) {
    for (const std::wstring& file : plan.undiscovered) {
      warn({"  services of \"", file, "\"... "}, "unknown: they could not be discovered\n");
    }
  }
  return none;
}

}  // namespace

bool stop_services(install_plan& plan) {
  if (plan.services.empty()) return true;
  print_text("Will stop services...\n");
  bool recorded = true;
  for_each_record(plan, [&](service_record& record) {
    if (!recorded) return;
    DWORD found = record.state;
    DWORD now = state_now(record.name, found);
    bool stop = win::is_active_state(now) || win::is_active_state(found);
    if (stop || record.restart) {
      // To be started again at the end with what depends on it: written
      // down before anything is stopped. When it cannot be, the service is
      // left as it is.
      std::vector<dependent> dependents = dependents_of(plan, record.name);
      bool restart = record.restart;
      record.restart = true;
      for (const dependent& d : dependents) record.dependents.push_back(d.name);
      recorded = save_record(plan);
      if (!recorded) {
        record.restart = restart;
        record.dependents.clear();
        return;
      }
      for (const dependent& d : dependents) {
        if (win::is_active_state(d.state)) report_service(d.name, &win::stop_service);
      }
    }
    if (stop) {
      record.stop_error = report_service(record.name, &win::stop_service);
    } else if (now == SERVICE_STOP_PENDING) {
      // Someone else is stopping it: it is awaited, so that its file is free,
      // and left stopped as that someone intended.
      record.stop_error = report_service(record.name, &win::wait_for_stop);
    }
  });
  return recorded;
}

bool has_services_to_start(const install_plan& plan) {
  bool marked = false;
  for_each_record(plan, [&marked](const service_record& record) { marked = marked || record.restart; });
  return marked || !plan.journal.services.empty() || plan.journal.every_automatic_service;
}

bool start_services(install_plan& plan) {
  if (plan.services.empty() && plan.registered.empty() && !has_services_to_start(plan)) return true;
  print_text("Will start services...\n");
  // Every service is tried, whatever happened to the one before; but a run
  // that leaves one of them down has not done its job.
  bool all_running = true;
  for_each_record(plan, [&all_running](const service_record& record) {
    if (!record.restart) return;
    all_running &= report_service(record.name, &win::start_service) == ERROR_SUCCESS;
    for (auto d = record.dependents.rbegin(); d != record.dependents.rend(); ++d) {
      all_running &= report_service(*d, &win::start_service) == ERROR_SUCCESS;
    }
  });
  for (const std::wstring& name : plan.registered) {
    all_running &= report_service(name, &win::start_service) == ERROR_SUCCESS;
  }
  return report_services_not_found(plan) && all_running;
}

}  // namespace brq_install
