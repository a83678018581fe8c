// The firewall step against a fake firewall: which calls it makes in which
// order, what it adds, its exact output with colours, and that every COM
// reference and every BSTR is given back (checked by the fake at its end).
#include "unit_prelude.hpp"

#include "fake_firewall.hpp"
#include "firewall.hpp"

namespace brq_install {
namespace {

using test::fake_firewall;
using calls = std::vector<std::string>;

const std::wstring destination = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq";
const std::wstring server_path = destination + L"\\qzv.ua.brq.exe";
const std::string server_path_utf8 = wide_to_utf8(server_path);

const std::string will_configure = "Will configure firewall...\n";
const std::string server_line = "exception for \"qzv.ua.brq.exe\"...";

install_plan product_plan() { return test::product_plan(destination); }

std::string warning(const std::string& headline, HRESULT hr) {
  return headline + wide_to_utf8(error_text(static_cast<DWORD>(hr))) + "\nWill attempt to continue...\n";
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

// What the step finds, and what it does: an absent or disabled entry is added
// anew (path, name, enabled); an enabled one is left alone whatever its name
// (any non-zero value is enabled); COM entered already (S_FALSE) counts as
// entered and is left once.
TEST(firewall, an_exception_is_added_unless_an_enabled_one_exists) {
  struct {
    const char* what;
    fake_firewall::entry existing;
    VARIANT_BOOL enabled_value;
    HRESULT co_initialize;
    calls expected;
    bool adds;
  } cases[] = {
      {"absent", fake_firewall::entry::absent, VARIANT_TRUE, S_OK, open_profile + look_up + add_entry, true},
      {"disabled", fake_firewall::entry::disabled, VARIANT_TRUE, S_OK,
       open_profile + look_up + calls{"get_Enabled"} + add_entry, true},
      {"enabled", fake_firewall::entry::enabled, VARIANT_TRUE, S_OK, open_profile + look_up + calls{"get_Enabled"},
       false},
      {"enabled as 1", fake_firewall::entry::enabled, VARIANT_BOOL(1), S_OK,
       open_profile + look_up + calls{"get_Enabled"}, false},
      {"absent, COM entered already", fake_firewall::entry::absent, VARIANT_TRUE, S_FALSE,
       open_profile + look_up + add_entry, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    console_recorder console;
    fake_firewall fw;
    fw.existing = c.existing;
    fw.enabled_value = c.enabled_value;
    fw.existing_entry.name = L"Someone else's name";
    fw.co_initialize_result = c.co_initialize;
    install_plan plan = product_plan();

    configure_firewall(plan);

    EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure + server_line + " ok\n", plain}}));
    EXPECT_EQ(fw.calls, c.expected);
    EXPECT_EQ(fw.added, c.adds ? std::vector{server_entry} : std::vector<test::added_application>{});
    EXPECT_EQ(fw.co_initialize_flags, 6u);  // apartment-threaded, OLE1 DDE disabled
    EXPECT_EQ(fw.co_uninitialize_calls, 1);
  }
}

// Fails each firewall call of a whole step in turn: the manager, the policy
// and the profile give "firewall init failed"; the lookup (with an HRESULT
// other than "not found"), reading the state, creating the entry, each
// property and Add give the entry's warning block, with the text of the
// failed call's own result (the codes differ from call to call). No call
// follows the failing one and nothing is added.
TEST(firewall, each_failing_call_stops_the_entry_with_a_warning) {
  const HRESULT codes[] = {REGDB_E_CLASSNOTREG, E_ACCESSDENIED, E_OUTOFMEMORY};
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
      const HRESULT failure = codes[n % 3];
      fw.fail_call = static_cast<int>(n);
      fw.fail_result = failure;
      install_plan plan = product_plan();

      configure_firewall(plan);

      std::vector<run> expected =
          n <= open_profile.size()
              ? std::vector<run>{{will_configure, plain}, {warning("firewall init failed\n", failure), color_warning}}
              : std::vector<run>{{will_configure + server_line, plain}, {warning("failed\n", failure), color_warning}};
      EXPECT_EQ(console.runs(), expected);
      EXPECT_EQ(fw.calls, calls(scenario.all.begin(), scenario.all.begin() + n));
      EXPECT_TRUE(fw.added.empty());
      EXPECT_EQ(fw.co_uninitialize_calls, 1);
    }
  }
}

TEST(firewall, a_bstr_that_cannot_be_allocated_fails_the_entry_with_out_of_memory) {
  // The n-th string and the calls made before the one that needed it.
  struct {
    int allocation;
    size_t calls_made;
  } cases[] = {
      {1, open_profile.size() + 1},                   // lookup path: no Item
      {2, open_profile.size() + look_up.size() + 2},  // entry path: no put_ProcessImageFileName
      {3, open_profile.size() + look_up.size() + 3},  // name: no put_Name
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

TEST(firewall, without_an_applicable_flagged_entry_only_the_profile_is_opened) {
  install_plan unflagged = product_plan();
  unflagged.files[0].firewall = false;
  console_recorder console;
  fake_firewall fw;

  configure_firewall(unflagged);

  EXPECT_EQ(console.runs(), (std::vector<run>{{will_configure, plain}}));
  EXPECT_EQ(fw.calls, open_profile);
  EXPECT_EQ(fw.co_uninitialize_calls, 1);
}

TEST(firewall, a_failed_entry_does_not_stop_the_next_and_names_are_bare_file_names) {
  console_recorder console;
  fake_firewall fw;
  install_plan plan = product_plan();
  plan.files[1].firewall = true;                                          // the control tool as well
  fw.fail_call = static_cast<int>(open_profile.size() + look_up.size());  // the server's Item
  fw.fail_result = E_FAIL;

  configure_firewall(plan);

  const std::wstring tool_path = destination + L"\\qzv.ua.brq.ctrl.exe";
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {will_configure + server_line, plain},
                                {warning("failed\n", E_FAIL), color_warning},
                                {"exception for \"qzv.ua.brq.ctrl.exe\"... ok\n", plain},
                            }));
  EXPECT_EQ(fw.added, (std::vector<test::added_application>{{tool_path, L"qzv OPCUA", VARIANT_TRUE}}));
}

}  // namespace
}  // namespace brq_install
