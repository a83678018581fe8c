// Removals in-process on the shared fakes: the whole output on the machines
// an administrator meets, then every platform call of a removal failing in
// turn, killed there, or Ctrl+C pressed there. A removal that exits 0 leaves
// nothing of the product; one that fails before it deletes anything leaves
// the installation running; whatever one leaves, the next removal takes, and
// after a killed one the installer puts the product back whole.
#include <memory>

#include "sweep_runner.hpp"

namespace brq_install {
namespace {

using test::disruption;
using test::outcome;
using test::sweep_case;

std::string destination() { return wide_to_utf8(sweep_case::destination()); }
std::string parent(const std::string& path) { return path.substr(0, path.rfind('\\')); }
std::wstring in_destination(const wchar_t* name) { return sweep_case::destination() + L"\\" + name; }
bool has_error_block(const outcome& r) {
  return std::any_of(r.runs.begin(), r.runs.end(), [](const auto& run) { return run.attribute == color_error; });
}

std::string whole_removal() {
  return "Destination: " + destination() +
         "\n"
         "Discovering services for \"qzv.ua.brq.exe\"...\n"
         "  QZVOPCUA.BRQ -> running\n"
         "Discovering services for \"qzv.ua.brq.ctrl.exe\"...\n"
         "Discovering services for \"qzv.ua.brq.dev.exe\"...\n"
         "  QZV.Idle -> stopped\n"
         "Discovering services for \"qzv.ua.brq.uninstall.exe\"...\n"
         "Will stop services...\n"
         "  service \"QZVOPCUA.BRQ\"... ok\n"
         "Checking processes for \"qzv.ua.brq.exe\"... \n"
         "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \n"
         "  will kill process 4242... ok\n"
         "Checking processes for \"qzv.ua.brq.dev.exe\"... \n"
         "Checking processes for \"qzv.ua.brq.uninstall.exe\"... \n"
         "Leaving service \"QZV.Idle\" registered: the installer did not register it\n"
         "Deleting service \"QZVOPCUA.BRQ\"... ok\n"
         "Removing firewall exception for \"qzv.ua.brq.exe\"... ok\n"
         "Deleting \"qzv.ua.brq.exe\"... ok\n"
         "Deleting \"qzv.ua.brq.ctrl.exe\"... ok\n"
         "Deleting \"qzv.ua.brq.dev.exe\"... ok\n"
         "Deleting \"qzv.ua.brq.run\"... ok\n"
         "Deleting \"qzv.ua.brq.uninstall.exe\"... moved to \"C:\\Program Files (sweep)\\Windows\\Temp\\brq1.tmp\", "
         "deleted at the next restart\n"
         "Removing directory \"" +
         destination() + "\"... ok\nRemoving directory \"" + parent(destination()) + "\"... ok\nRemoving directory \"" +
         parent(parent(destination())) + "\"... ok\nDeleting uninstall entry \"Quorvanta.QZV.UA.brq\"... ok\n";
}

// What a case changes on the installed machine before the removal; what it
// returns lives until the removal has ended.
using setup = std::function<std::shared_ptr<void>(sweep_case&)>;

// The destination, or the level `up` directories above it.
std::wstring level_of(int up) {
  std::wstring level = sweep_case::destination();
  for (int i = 0; i < up; ++i) level.resize(level.rfind(L'\\'));
  return level;
}
setup junction_at(int up) {
  return [up](sweep_case& machine) {
    machine.files().nodes[level_of(up)].attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    return nullptr;
  };
}
std::string stopped_at(int up) {
  return "Removal stopped: \"" + wide_to_utf8(level_of(up)) + "\" is a junction or symbolic link\n";
}
const std::string installed =
    "the Quorvanta directory; the service QZVOPCUA.BRQ; the firewall exception; the uninstall entry; ";

TEST(removal, each_machine_an_administrator_meets) {
  const std::string stop_lines = "Will stop services...\n  service \"QZVOPCUA.BRQ\"... ok\n";
  struct {
    const char* what;
    bool installed;
    setup change;
    int exit_code;
    std::vector<std::string> parts;  // in the output, in this order
    std::string remains;             // of the product afterwards
    bool still_running = false;      // the installation as it was, its server running
    size_t cancel_at = 0;            // Ctrl+C as this call of the removal is made
  } cases[] = {
      {"a clean machine", false, nullptr, 0, {"Destination: " + destination() + "\nNothing to remove\n"}, ""},
      // Without a record they belong to no replacement: only deleted, first.
      {"leftovers without a record",
       true,
       [](sweep_case& machine) {
         for (const wchar_t* name : {L"qzv.ua.brq.new", L"qzv.ua.brq.ctrl.old", L"qzv.ua.brq.dev.add"}) {
           machine.files().write(in_destination(name), "left");
         }
         return nullptr;
       },
       0,
       {"Destination: " + destination() + "\nDiscovering", "Deleting \"qzv.ua.brq.new\"... ok\n"},
       ""},
      {"every file read-only",
       true,
       [](sweep_case& machine) {
         machine.files().write(in_destination(L"qzv.ua.brq.dev.old"), "left");
         for (auto& [path, node] : machine.files().nodes) node.attributes |= FILE_ATTRIBUTE_READONLY;
         return nullptr;
       },
       0,
       {"Deleting \"qzv.ua.brq.dev.exe\"... ok\n"},
       ""},
      {"a file of someone else's in brq",
       true,
       [](sweep_case& machine) {
         machine.files().write(in_destination(L"notes.txt"), "mine");
         return nullptr;
       },
       0,
       {"Keeping directory \"" + destination() + "\": it holds files the installer did not put there\n"},
       "the Quorvanta directory; "},
      {"a service of another name runs the server",
       true,
       [](sweep_case& machine) {
         machine.services().add({.name = L"ByHand",
                                 .command_line = L"\"" + in_destination(L"qzv.ua.brq.exe") + L"\" -x",
                                 .state = SERVICE_RUNNING});
         return nullptr;
       },
       0,
       {"  service \"ByHand\"... ok\n", "Deleting service \"QZVOPCUA.BRQ\"... ok\n",
        "Leaving service \"ByHand\" registered: the installer did not register it\n"},
       ""},
      {"the files deleted by hand, the service left",
       true,
       [](sweep_case& machine) {
         machine.files().remove_all(sweep_case::destination());
         return nullptr;
       },
       0,
       {stop_lines, "Deleting service \"QZVOPCUA.BRQ\"... ok\n"},
       ""},
      {"the control tool held open",
       true,
       [](sweep_case& machine) {
         machine.files().nodes[in_destination(L"qzv.ua.brq.ctrl.exe")].held = true;
         return nullptr;
       },
       1,
       {"Cannot remove \"qzv.ua.brq.ctrl.exe\": it is in use\n" + test::text_of(ERROR_SHARING_VIOLATION) + "\n",
        "Will start services...\n  service \"QZVOPCUA.BRQ\"... ok\n"},
       installed,
       true},
      {"brq a junction", true, junction_at(0), 1, {stopped_at(0)}, installed, true},
      {"QZV.UA a junction", true, junction_at(1), 1, {stopped_at(1)}, installed, true},
      {"Quorvanta a junction", true, junction_at(2), 1, {stopped_at(2)}, installed, true},
      {"the services cannot be listed",
       true,
       [](sweep_case& machine) {
         machine.services().enum_error = ERROR_ACCESS_DENIED;
         return nullptr;
       },
       1,
       {"failed to enum services\n", "Removal stopped: the services of the installed files are unknown\n"},
       installed,
       true},
      // Not the product's: it runs another program.
      {"QZVOPCUA.BRQ of another program, the files gone",
       true,
       [](sweep_case& machine) {
         machine.files().remove_all(sweep_case::destination());
         machine.services().at(L"QZVOPCUA.BRQ").command_line = L"\"C:\\Other\\qzv.ua.brq.exe\"";
         return nullptr;
       },
       0,
       {"Removing firewall exception"},
       "the service QZVOPCUA.BRQ; "},
      // Refused before any process is ended.
      {"the server does not stop",
       true,
       [](sweep_case& machine) {
         machine.services().at(L"QZVOPCUA.BRQ").controls_accepted = 0;
         machine.processes().add(test::fake_service_manager::default_process_id, in_destination(L"qzv.ua.brq.exe"));
         return nullptr;
       },
       1,
       {"Cannot remove \"qzv.ua.brq.exe\": service \"QZVOPCUA.BRQ\" did not stop\n"},
       installed,
       true},
      {"Ctrl+C before the stop",
       true,
       nullptr,
       1,
       {"Removal cancelled\n" + test::text_of(ERROR_CANCELLED) + "\n"},
       installed,
       true,
       2},  // the first call is the one that takes Ctrl+C
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sweep_case machine(c.installed);
    outcome r;
    {
      std::shared_ptr<void> keep = c.change ? c.change(machine) : nullptr;
      r = c.cancel_at != 0 ? machine.remove(disruption::cancel, c.cancel_at) : machine.remove();
    }
    EXPECT_EQ(r.exit_code, c.exit_code) << r.output;
    EXPECT_EQ(has_error_block(r), c.exit_code != 0) << r.output;
    size_t at = 0;
    for (const std::string& part : c.parts) {
      size_t found = r.output.find(part, at);
      EXPECT_NE(found, std::string::npos) << "missing or out of order: " << part << "\nin:\n" << r.output;
      if (found != std::string::npos) at = found + part.size();
    }
    EXPECT_EQ(machine.remains(), c.remains);
    if (c.still_running) {
      bool before_processes = r.output.find("did not stop") != r.output.npos || c.cancel_at != 0;
      EXPECT_TRUE(!before_processes || machine.processes().terminated.empty()) << "a process ended, then refused";
      EXPECT_EQ(machine.installed_version(), 0);
      EXPECT_TRUE(machine.server_running());
      EXPECT_EQ(machine.others(), std::vector<std::wstring>{}) << "a refused removal leaves its record";
    }
    if (!c.installed) {
      EXPECT_EQ(r.output, c.parts.front());
    }
  }
  sweep_case machine(true);
  outcome whole = machine.remove();
  EXPECT_EQ(whole.output, whole_removal());
  EXPECT_EQ(whole.exit_code, 0);
  EXPECT_EQ(machine.remains(), "");
  EXPECT_EQ(machine.processes().terminated, (std::vector<std::pair<DWORD, UINT>>{{4242, 0}}));
}

// The run after a disrupted removal: another removal takes what is left; or,
// after a killed one, the installer puts the product back whole.
void sweep(disruption what, const char* name) {
  std::vector<test::fault_driver::call> clean_calls = sweep_case(true).remove().calls;
  test::sweep_calls(clean_calls, what, name, [&](size_t n, DWORD error) {
    sweep_case machine(true);
    outcome r = machine.remove(what, n, error);
    EXPECT_FALSE(r.threw);
    if (what != disruption::kill) {
      EXPECT_EQ(r.exit_code, has_error_block(r) ? 1 : 0) << r.output;
      if (r.exit_code == 0) {
        EXPECT_EQ(machine.remains(), "") << r.output;
      }
      bool deleted = r.output.find("Deleting") != std::string::npos;
      if (r.exit_code != 0 && !deleted) {
        EXPECT_EQ(machine.installed_version(), 0) << r.output;
        EXPECT_TRUE(machine.server_running()) << r.output;
      }
    }
    if (r.failed_at != 0 && !test::ignored_by_design(r.calls, r.failed_at)) test::expect_failure_not_reported_as_ok(r);
    if (what == disruption::kill) {
      test::expect_completed_by_next_run(machine);
    } else {
      outcome next = machine.remove();
      EXPECT_EQ(next.exit_code, 0) << next.output;
      EXPECT_EQ(machine.remains(), "") << next.output;
    }
    return r;
  });
}

TEST(removal_sweep, every_call_failing) { sweep(disruption::fault, "removal, a call failing"); }
TEST(removal_sweep, killed_at_every_call) { sweep(disruption::kill, "removal killed"); }
TEST(removal_sweep, cancelled_at_every_call) { sweep(disruption::cancel, "removal cancelled"); }

}  // namespace
}  // namespace brq_install
