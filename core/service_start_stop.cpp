#include "service_start_stop.hpp"

#include <algorithm>
#include <string>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "run_record.hpp"
#include "win/service_control.hpp"
#include "win/service_manager.hpp"
#include "win/service_query.hpp"

namespace brq_install {

namespace {

using service_action = DWORD (*)(SC_HANDLE, std::wstring_view);

// `action` on the service `name`, through a connection of its own.
DWORD act_on_service(const std::wstring& name, service_action action) {
  win::unique_sc_handle scm;
  DWORD error = win::connect_service_manager(SC_MANAGER_CONNECT, scm);
  return error == ERROR_SUCCESS ? action(scm.get(), name) : error;
}

// "  service \"name\"... " then "ok" or a warning block. 0 for "ok", or the
// code of the warning.
DWORD report_service(const std::wstring& name, service_action action) {
  print({"  service \"", name, "\"... "});
  return end_line(act_on_service(name, action), failure_block::warning);
}

// The same line for a start. A service that an administrator disabled
// stays stopped: his decision, said in a yellow line, not a failure. False
// for a warning.
bool report_start(const std::wstring& name) {
  print({"  service \"", name, "\"... "});
  DWORD error = act_on_service(name, &win::start_service);
  if (error != ERROR_SERVICE_DISABLED) return end_line(error, failure_block::warning) == ERROR_SUCCESS;
  report_notice({"disabled: not started\n"});
  return true;
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

void add_dependent(service_record& record, const std::wstring& name) {
  auto same = [&](const std::wstring& other) { return same_service_name(other, name); };
  if (std::ranges::none_of(record.dependents, same)) record.dependents.push_back(name);
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

// Whether the service `name` may run an installed file although discovery
// did not find it: its program cannot be read, or it is spelt as an
// installed file's path (a file missing while discovery looked).
bool may_run_installed_file(const install_plan& plan, const std::wstring& name) {
  std::wstring program;
  win::unique_sc_handle scm;
  DWORD error = win::connect_service_manager(SC_MANAGER_CONNECT, scm);
  if (error == ERROR_SUCCESS) error = win::query_service_program(scm.get(), name, program);
  return error != ERROR_SUCCESS || std::ranges::any_of(plan.files, [&](const payload_file& file) {
           return same_service_name(file.path, program);  // compared as the file system does: without case
         });
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
// started. When discovery saw every installed file, it runs another
// program now and is no longer the product's: a yellow line, and the
// record drops it. Otherwise it is a warning, and the record stays for a
// run that finds it; so do the services of a file that could not be
// discovered when the record could not be read. True when there is none
// of the latter kind.
bool report_services_not_found(install_plan& plan) {
  bool none = true;
  auto warn = [&none](std::initializer_list<piece> line, const char* why) {
    print(line);
    report_warning({why});
    none = false;
  };
  for (const std::wstring& name : plan.journal.services) {
    if (started_again(plan, name) || service_gone(name)) continue;
    if (plan.undiscovered.empty() && !may_run_installed_file(plan, name)) {
      print({"  service \"", name, "\"... "});
      report_notice({"runs no installed file now: left as it is\n"});
      continue;
    }
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

void resume_services(install_plan& plan) {
  mark_resumed_services(plan);
  // The dependents that the dead run stopped with a resumed service are
  // started with it, whatever this run gets to do.
  for_each_record(plan, [&plan](service_record& record) {
    if (!record.restart) return;
    for (const dependent& d : dependents_of(plan, record.name)) {
      if (is_resumed(plan, d.name)) add_dependent(record, d.name);
    }
  });
}

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
      size_t attached = record.dependents.size();
      record.restart = true;
      for (const dependent& d : dependents) add_dependent(record, d.name);
      recorded = save_record(plan);
      if (!recorded) {
        record.restart = restart;
        record.dependents.resize(attached);
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
    all_running &= report_start(record.name);
    for (auto d = record.dependents.rbegin(); d != record.dependents.rend(); ++d) all_running &= report_start(*d);
  });
  for (const std::wstring& name : plan.registered) all_running &= report_start(name);
  return report_services_not_found(plan) && all_running;
}

}  // namespace brq_install
