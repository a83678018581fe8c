// The firewall step against a fake firewall: which calls it makes in which
// order, what it adds, its exact output with colours, and that every COM
// reference and every BSTR is given back (checked by the fake at its end).
#include <gtest/gtest.h>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "fake_firewall.hpp"
#include "firewall.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/firewall.hpp"

namespace brq_install {
namespace {

using test::console_recorder;
using test::fake_firewall;
using run = console_recorder::run;
using calls = std::vector<std::string>;
constexpr WORD plain = console_recorder::plain;

const std::wstring destination = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq";
const std::wstring server_path = destination + L"\\qzv.ua.brq.exe";
const std::string server_path_utf8 = wide_to_utf8(server_path);

const std::string will_configure = "Will configure firewall...\n";
const std::string server_line = "exception for \"qzv.ua.brq.exe\"...";

// The product's plan on Windows 10, with its destination settled.
install_plan product_plan() {
  install_plan plan = build_install_plan();
  plan.destination = destination;
  plan.os = {10, 0, 19045, 3803};
  place_files(plan);
  return plan;
}

std::string warning(const std::string& headline, HRESULT hr) {
  return headline + wide_to_utf8(error_text(static_cast<DWORD>(hr))) +
         "\nWill attempt to continue...\n";
}

calls operator+(calls a, const calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const calls open_profile = {"CoCreateInstance NetFwMgr 23", "get_LocalPolicy", "get_CurrentProfile"};
const calls look_up = {"get_AuthorizedApplications", "Item " + server_path_utf8};
const calls add_entry = {
    "get_AuthorizedApplications",
    "CoCreateInstance NetFwAuthorizedApplication 1",
    "put_ProcessImageFileName " + server_path_utf8,
    "put_Name qzv OPCUA",
    "put_Enabled -1",
    "Add",
};
const test::added_application server_entry = {server_path, L"qzv OPCUA", VARIANT_TRUE};

TEST(firewall, absent_exception_is_added_with_path_name_and_enabled) {
  console_recorder console;
  fake_firewall fw;
  install_plan plan = product_plan();

  configure_firewall(plan);

  EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure + server_line + " ok\n", plain}}));
  EXPECT_EQ(fw.calls, open_profile + look_up + add_entry);
  EXPECT_EQ(fw.added, std::vector{server_entry});
  EXPECT_EQ(fw.co_initialize_calls, 1);
  EXPECT_EQ(fw.co_initialize_flags, 6u);  // apartment-threaded, OLE1 DDE disabled
  EXPECT_EQ(fw.co_uninitialize_calls, 1);
  EXPECT_EQ(fw.allocations, 3);  // lookup path, entry path, name
}

TEST(firewall, enabled_exception_is_left_alone_whatever_its_name) {
  for (VARIANT_BOOL value : {VARIANT_TRUE, VARIANT_BOOL(1)}) {  // any non-zero value is enabled
    SCOPED_TRACE(value);
    console_recorder console;
    fake_firewall fw;
    fw.existing = fake_firewall::entry::enabled;
    fw.enabled_value = value;
    fw.existing_entry.name = L"Someone else's name";
    install_plan plan = product_plan();

    configure_firewall(plan);

    EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure + server_line + " ok\n", plain}}));
    EXPECT_EQ(fw.calls, open_profile + look_up + calls{"get_Enabled"});
    EXPECT_TRUE(fw.added.empty());
    EXPECT_EQ(fw.existing_entry.name, L"Someone else's name");
  }
}

TEST(firewall, disabled_exception_is_added_anew_enabled_and_named) {
  console_recorder console;
  fake_firewall fw;
  fw.existing = fake_firewall::entry::disabled;
  install_plan plan = product_plan();

  configure_firewall(plan);

  EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure + server_line + " ok\n", plain}}));
  EXPECT_EQ(fw.calls, open_profile + look_up + calls{"get_Enabled"} + add_entry);
  EXPECT_EQ(fw.added, std::vector{server_entry});
}

// Fails each firewall call of a whole step in turn: the manager, the policy
// and the profile give "firewall init failed"; the lookup (with an HRESULT
// other than "not found"), reading the state, creating the entry, each
// property and Add give the entry's warning block. No call follows the
// failing one and nothing is added.
TEST(firewall, each_failing_call_stops_the_entry_with_a_warning) {
  const HRESULT failure = E_ACCESSDENIED;
  struct {
    fake_firewall::entry existing;
    calls all;
  } scenarios[] = {
      {fake_firewall::entry::absent, open_profile + look_up + add_entry},
      {fake_firewall::entry::disabled, open_profile + look_up + calls{"get_Enabled"} + add_entry},
  };
  for (const auto& scenario : scenarios) {
    for (size_t n = 1; n <= scenario.all.size(); ++n) {
      SCOPED_TRACE(scenario.all[n - 1]);
      console_recorder console;
      fake_firewall fw;
      fw.existing = scenario.existing;
      fw.fail_call = static_cast<int>(n);
      fw.fail_result = failure;
      install_plan plan = product_plan();

      configure_firewall(plan);

      std::vector<run> expected =
          n <= open_profile.size()
              ? std::vector<run>{{will_configure, plain},
                                 {warning("firewall init failed\n", failure), color_warning}}
              : std::vector<run>{{will_configure + server_line, plain},
                                 {warning("failed\n", failure), color_warning}};
      EXPECT_EQ(console.runs(), expected);
      EXPECT_EQ(fw.calls, calls(scenario.all.begin(), scenario.all.begin() + n));
      EXPECT_TRUE(fw.added.empty());
      EXPECT_EQ(fw.co_uninitialize_calls, 1);
    }
  }
}

TEST(firewall, init_failure_reports_the_hresult_of_the_call_that_failed) {
  // Distinct codes, so that the text shows which call's result was reported.
  const HRESULT codes[] = {REGDB_E_CLASSNOTREG, E_ACCESSDENIED, E_OUTOFMEMORY};
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    console_recorder console;
    fake_firewall fw;
    fw.fail_call = n;
    fw.fail_result = codes[n - 1];
    install_plan plan = product_plan();

    configure_firewall(plan);

    EXPECT_EQ(console.runs(),
              (std::vector<run>{{will_configure, plain},
                                {warning("firewall init failed\n", codes[n - 1]), color_warning}}));
  }
}

TEST(firewall, a_bstr_that_cannot_be_allocated_fails_the_entry_with_out_of_memory) {
  // The n-th string and the calls made before the one that needed it.
  struct {
    int allocation;
    size_t calls_made;
  } cases[] = {
      {1, open_profile.size() + 1},                    // lookup path: no Item
      {2, open_profile.size() + look_up.size() + 2},   // entry path: no put_ProcessImageFileName
      {3, open_profile.size() + look_up.size() + 3},   // name: no put_Name
  };
  const calls all = open_profile + look_up + add_entry;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.allocation);
    console_recorder console;
    fake_firewall fw;
    fw.fail_allocation = c.allocation;
    install_plan plan = product_plan();

    configure_firewall(plan);

    EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure + server_line, plain},
                                                {warning("failed\n", E_OUTOFMEMORY), color_warning}}));
    EXPECT_EQ(fw.calls, calls(all.begin(), all.begin() + c.calls_made));
    EXPECT_TRUE(fw.added.empty());
  }
}

TEST(firewall, failing_to_enter_com_makes_no_firewall_call_and_leaves_nothing) {
  console_recorder console;
  fake_firewall fw;
  fw.co_initialize_result = RPC_E_CHANGED_MODE;
  install_plan plan = product_plan();

  configure_firewall(plan);

  EXPECT_EQ(console.runs(),
            (std::vector<run>{{will_configure, plain},
                              {warning("CoInitializeEx failed\n", RPC_E_CHANGED_MODE), color_warning}}));
  EXPECT_TRUE(fw.calls.empty());
  EXPECT_EQ(fw.co_initialize_calls, 1);
  EXPECT_EQ(fw.co_uninitialize_calls, 0);
}

TEST(firewall, com_already_entered_counts_as_entered_and_is_left_once) {
  console_recorder console;
  fake_firewall fw;
  fw.co_initialize_result = S_FALSE;
  install_plan plan = product_plan();

  configure_firewall(plan);

  EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure + server_line + " ok\n", plain}}));
  EXPECT_EQ(fw.added, std::vector{server_entry});
  EXPECT_EQ(fw.co_uninitialize_calls, 1);
}

TEST(firewall, without_an_applicable_flagged_entry_only_the_profile_is_opened) {
  install_plan unflagged = product_plan();
  unflagged.files[0].firewall = false;
  install_plan elsewhere = product_plan();
  elsewhere.files[0].crt = crt_flavour::xpsp3;  // not Windows 10
  place_files(elsewhere);

  for (install_plan* plan : {&unflagged, &elsewhere}) {
    console_recorder console;
    fake_firewall fw;

    configure_firewall(*plan);

    EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure, plain}}));
    EXPECT_EQ(fw.calls, open_profile);
    EXPECT_EQ(fw.co_initialize_calls, 1);
    EXPECT_EQ(fw.co_uninitialize_calls, 1);
  }

  // Opening the profile can still fail, and says so.
  console_recorder console;
  fake_firewall fw;
  fw.fail_call = 1;
  fw.fail_result = REGDB_E_CLASSNOTREG;
  configure_firewall(unflagged);
  EXPECT_EQ(console.runs(),
            (std::vector<run>{{will_configure, plain},
                              {warning("firewall init failed\n", REGDB_E_CLASSNOTREG), color_warning}}));
}

TEST(firewall, a_failed_entry_does_not_stop_the_next_and_names_are_bare_file_names) {
  console_recorder console;
  fake_firewall fw;
  install_plan plan = product_plan();
  plan.files[1].firewall = true;  // the control tool as well
  plan.files[2].firewall = true;  // the developer tool, for another system only
  plan.files[2].crt = crt_flavour::nt4;
  place_files(plan);
  fw.fail_call = static_cast<int>(open_profile.size() + look_up.size());  // the server's Item
  fw.fail_result = E_FAIL;

  configure_firewall(plan);

  const std::wstring tool_path = destination + L"\\qzv.ua.brq.ctrl.exe";
  EXPECT_EQ(console.runs(),
            (std::vector<run>{
                {will_configure + server_line, plain},
                {warning("failed\n", E_FAIL), color_warning},
                {"exception for \"qzv.ua.brq.ctrl.exe\"... ok\n", plain},
            }));
  EXPECT_EQ(fw.added, (std::vector<test::added_application>{{tool_path, L"qzv OPCUA", VARIANT_TRUE}}));
}

TEST(firewall, exception_enabled_reports_the_three_states_of_an_entry) {
  struct {
    fake_firewall::entry existing;
    bool enabled;
  } rows[] = {
      {fake_firewall::entry::absent, false},
      {fake_firewall::entry::enabled, true},
      {fake_firewall::entry::disabled, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.existing));
    fake_firewall fw;
    fw.existing = row.existing;
    bool enabled = !row.enabled;
    EXPECT_EQ(win::firewall_exception_enabled(&fw.profile, server_path, enabled), S_OK);
    EXPECT_EQ(enabled, row.enabled);
  }
}

}  // namespace
}  // namespace brq_install
