// Whole runs of the installer ended at every call N of the platform table:
// the process killed there (it gives back what a dead process gives back,
// its mutex is abandoned, files and services stay as they are), or Ctrl+C
// pressed there. A killed run is followed by another that must complete the
// installation; a cancelled one must leave the previous installation
// running, or complete if the key came after its last step.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <span>
#include <utility>

#include "sweep_runner.hpp"

namespace brq_install {
namespace {

using test::disruption;
using test::outcome;

const std::string cancelled_block = "Installation cancelled\n" + test::text_of(ERROR_CANCELLED) + "\n";

// A cancelled run ends with the cancellation as its last words and exit 1,
// the machine as it was or, after the copy, with the new files; or, when the
// key came after the last step, it completed.
void check_cancelled(bool update, const outcome& r, test::sweep_case& machine) {
  EXPECT_FALSE(r.threw);
  int version = machine.installed_version();
  if (r.exit_code == 0) {
    EXPECT_EQ(r.output.find("Installation cancelled"), std::string::npos) << r.output;
    EXPECT_EQ(version, 1);
    EXPECT_TRUE(machine.server_running());
  } else {
    EXPECT_EQ(r.exit_code, 1);
    ASSERT_FALSE(r.runs.empty());
    EXPECT_EQ(r.runs.back().text, cancelled_block) << r.output;
    EXPECT_EQ(r.runs.back().attribute, color_error);
    EXPECT_TRUE(version == 1 || version == (update ? 0 : -1)) << "files of version " << version;
    if (update) {
      EXPECT_TRUE(machine.server_running()) << r.output;
    }
  }
  // New files whose entry was not written keep the record, so that
  // detection sees the update unfinished.
  bool entry_due = version == 1 && r.exit_code != 0 && r.output.find("Writing uninstall entry") == std::string::npos;
  EXPECT_EQ(machine.has_record(), entry_due) << r.output;
  for (const std::wstring& name : machine.others()) {
    if (!entry_due || name != L"qzv.ua.brq.run") ADD_FAILURE() << "left behind: " << wide_to_utf8(name);
  }
}

void sweep(bool update, disruption what, const char* name) {
  std::vector<test::fault_driver::call> clean_calls = test::sweep_case(update).run(1).calls;
  test::sweep_calls(clean_calls, what, name, [&](size_t n, DWORD) {
    test::sweep_case machine(update);
    outcome r = machine.run(1, what, n);
    if (what == disruption::kill) {
      test::expect_completed_by_next_run(machine);
    } else if (what == disruption::logoff) {
      EXPECT_EQ(r.exit_code, 0) << r.output;
      test::expect_ended_well(r, machine, 1);
    } else {
      check_cancelled(update, r, machine);
    }
    return r;
  });
}

const char* const disruption_names[] = {"none", "failing", "killed", "cancelled", "logged off"};

// The program that held a file open has ended by the time a run has.
void release_holds(test::sweep_case& machine) {
  for (auto& [path, node] : machine.files().nodes) node.held = false;
}

using service = test::fake_service_manager::service;
service* server_of(test::machine_state& state) {
  auto it = std::ranges::find(state.services, std::wstring(L"QZVOPCUA.BRQ"), &service::name);
  return it != state.services.end() ? &*it : nullptr;
}

constexpr size_t acts_on_any_state = 3;

// What happens to a machine between two runs, besides a disruption: the
// record damaged or held open by another program, and an administrator's
// acts. Each takes a state and the record's path.
const std::pair<const char*, void (*)(test::machine_state&, const std::wstring&)> administrator_acts[] = {
    // Acts on any state.
    {"copies of the administrator's beside the files",
     [](test::machine_state& m, const std::wstring& r) {
       std::wstring destination = r.substr(0, r.rfind(L'\\'));
       if (m.files.contains(r) || !m.files.contains(destination)) return;
       m.files[destination + L"\\qzv.ua.brq.old"].bytes = "the administrator's copy";
       m.files[destination + L"\\qzv.ua.brq.ctrl.add"].bytes = "";
     }},
    {"every file read-only",
     [](test::machine_state& m, const std::wstring&) {
       for (auto& [path, node] : m.files) node.attributes |= node.directory ? 0 : FILE_ATTRIBUTE_READONLY;
     }},
    {"server disabled",
     [](test::machine_state& m, const std::wstring&) {
       if (service* s = server_of(m)) s->start_type = SERVICE_DISABLED;
     }},
    // Acts on the states a record is in, from here on.
    {"backups held",
     [](test::machine_state& m, const std::wstring&) {
       for (auto& [path, node] : m.files) node.held = node.held || path.ends_with(L".old");
     }},
    {"record damaged",
     [](test::machine_state& m, const std::wstring& r) { m.files[r].bytes = "\xFF\xFEnot a record"; }},
    {"record held", [](test::machine_state& m, const std::wstring& r) { m.files[r].held = true; }},
    {"machine restarted",
     [](test::machine_state& m, const std::wstring&) {
       for (auto& p : m.processes) p.ended = true;
       for (service& s : m.services) s.state = s.start_type == SERVICE_AUTO_START ? SERVICE_RUNNING : SERVICE_STOPPED;
     }},
    {"server deleted",
     [](test::machine_state& m, const std::wstring&) {
       if (service* s = server_of(m)) m.services.erase(m.services.begin() + (s - m.services.data()));
     }},
};

// The states that disruptions leave, explored breadth first. Level 1: the
// update, or the first installation (payloads 1), killed at each call. Level 2: from each state that
// leaves, and from it after each of the administrator's acts, the next run (payloads 2) killed,
// failing with its usual code, and cancelled at each call. Each further
// level, up to `levels`, starts from the new states that the one before
// left. Every run that is not killed must end well, and from every new
// state the next run must complete the installation.
void explore(bool update, size_t levels) {
  using states = std::vector<test::machine_state>;
  const std::wstring record = test::sweep_case::destination() + L"\\qzv.ua.brq.run";
  std::set<std::string> seen;
  size_t runs = 0, failing_runs = 0;

  // A state not seen before: the next run must complete the installation
  // from it, and the next level starts from it.
  auto visit = [&](test::machine_state state, states& next) {
    if (!seen.insert(state.key()).second) return;
    test::sweep_case machine(true);
    machine.load(state);
    release_holds(machine);
    test::expect_completed_by_next_run(machine);
    next.push_back(std::move(state));
  };
  // One run from `start`, disrupted at call `n`, that must end well; its
  // output and what it left, to tell runs apart. `each_call` sees the
  // machine as each call is made.
  auto ending = [&](const test::machine_state& start, int version, disruption what, size_t n, states& next,
                    const std::function<void(test::sweep_case&)>& each_call = {},
                    std::vector<test::fault_driver::call>* calls = nullptr) {
    DWORD error = what == disruption::fault ? test::fault_driver::usual_error((*calls)[n - 1].function) : 0;
    SCOPED_TRACE("at call " + std::to_string(n) + ", " + disruption_names[static_cast<int>(what)] + ", from:\n" +
                 start.key());
    int parts_before = test::failure_count();
    std::string end;
    test::machine_state after;
    {
      test::sweep_case machine(true);  // one machine at a time: each lies over the platform table
      machine.load(start);
      auto observe = [&](size_t) { each_call(machine); };
      outcome r = machine.run(version, what, n, error, each_call ? observe : std::function<void(size_t)>());
      ++runs;
      test::expect_ended_well(r, machine, version);
      release_holds(machine);
      after = machine.save();
      end = r.output + after.key();
      if (what == disruption::none) *calls = std::move(r.calls);
    }
    visit(std::move(after), next);
    if (test::failure_count() != parts_before) ++failing_runs;
    return end;
  };
  // From `start`, the run of payloads `version` killed at each call: the
  // machine as it is before that call, since a dead process changes nothing
  // more. Unless `kill_only`, also failing at each call, and cancelled at
  // each call: Ctrl+C takes effect at the next safe point, so runs
  // cancelled at neighbouring calls end alike, and each distinct ending is
  // found once, by halving.
  auto disrupt = [&](const test::machine_state& start, int version, bool kill_only, states& next) {
    std::vector<test::fault_driver::call> calls;
    states killed;
    ending(
        start, version, disruption::none, 0, next, [&](test::sweep_case& m) { killed.push_back(m.save()); }, &calls);
    for (test::machine_state& state : killed) visit(std::move(state), next);
    for (size_t n = 1; !kill_only && n <= calls.size() && failing_runs <= 40; ++n) {
      if (calls[n - 1].can_fail) ending(start, version, disruption::fault, n, next, {}, &calls);
    }
    std::map<size_t, std::string> cancelled;
    auto cancelled_at = [&](size_t n) -> const std::string& {
      auto it = cancelled.find(n);
      return it != cancelled.end()
                 ? it->second
                 : cancelled.emplace(n, ending(start, version, disruption::cancel, n, next)).first->second;
    };
    std::vector<std::pair<size_t, size_t>> spans;
    if (!kill_only) spans.emplace_back(1, calls.size());
    while (!spans.empty() && failing_runs <= 40) {
      auto [first, last] = spans.back();
      spans.pop_back();
      if (last - first < 2 || cancelled_at(first) == cancelled_at(last)) continue;
      spans.emplace_back(first, (first + last) / 2);
      spans.emplace_back((first + last) / 2, last);
    }
  };

  states frontier;
  {
    test::sweep_case machine(update);
    frontier.push_back(machine.save());
  }
  for (size_t level = 1; level <= levels && !frontier.empty(); ++level) {
    states starts = std::exchange(frontier, {});
    for (size_t i = 0, count = starts.size(); level == 2 && i < count; ++i) {
      bool recorded = starts[i].files.contains(record);
      auto acts = std::span(administrator_acts).first(recorded ? std::size(administrator_acts) : acts_on_any_state);
      for (const auto& [what, act] : acts) {
        test::machine_state changed = starts[i];
        act(changed, record);
        visit(std::move(changed), starts);
      }
    }
    std::printf("level %zu starts from %zu states (%zu runs so far)\n", level, starts.size(), runs);
    for (const test::machine_state& start : starts) disrupt(start, level == 1 ? 1 : 2, level == 1, frontier);
  }
  std::printf("%zu states, %zu runs\n", seen.size(), runs);
}

TEST(interrupt_sweep, second_disruption_of_an_update) { explore(true, 2); }
TEST(interrupt_sweep, second_disruption_of_a_first_installation) { explore(false, 2); }
// Until no new state appears: every state that any sequence of
// disruptions reaches ends well. Long; a CTest entry of its own runs it.
TEST(interrupt_sweep, closure_of_disruptions) {
  explore(true, SIZE_MAX);
  explore(false, SIZE_MAX);
}

TEST(interrupt_sweep, first_installation_killed) { sweep(false, disruption::kill, "first installation killed"); }
TEST(interrupt_sweep, update_killed) { sweep(true, disruption::kill, "update killed"); }
TEST(interrupt_sweep, first_installation_cancelled) {
  sweep(false, disruption::cancel, "first installation cancelled");
}
TEST(interrupt_sweep, update_cancelled) { sweep(true, disruption::cancel, "update cancelled"); }
// A deployment agent's run sees every user's logoff, at any point: it goes on.
TEST(interrupt_sweep, update_through_a_logoff) { sweep(true, disruption::logoff, "update through a logoff"); }

}  // namespace
}  // namespace brq_install
